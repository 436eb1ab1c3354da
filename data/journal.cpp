#include "journal.h"

#include "dbkey.h"
#include "schema.h"
#include "sqlite.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <cstring>

namespace Journal {

namespace {

// The rollback journal as SQLite writes it: segments, each a header padded to the sector
// size and then records of a page number, the page as it was before the write, and a
// checksum.
const uchar kMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
const char kDatabaseMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};

quint32 bigEndian(const char* bytes) {
    const auto* b = reinterpret_cast<const uchar*>(bytes);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

quint32 pageSizeOf(const QByteArray& page1) {
    const quint32 size = (quint32(uchar(page1.at(16))) << 8) | quint32(uchar(page1.at(17)));
    return size == 1 ? 65536 : size;
}

// Fields of a database's first page.
struct Header {
    quint32 changeCounter;
    quint32 pageCount;
    quint32 validFor; // the change counter the page count is valid for
    bool pageCountValid() const { return validFor == changeCounter && pageCount > 0; }
};

Header headerOf(const QByteArray& page1) {
    return {bigEndian(page1.constData() + 24), bigEndian(page1.constData() + 28),
            bigEndian(page1.constData() + 92)};
}

bool isPowerOfTwo(quint32 value) {
    return value != 0 && (value & (value - 1)) == 0;
}

QString unreadable(const QString& file, const QString& why) {
    return QStringLiteral("读不了 %1：%2").arg(QDir::toNativeSeparators(file), why);
}

} // namespace

QString fileOf(const QString& database) {
    return database + QStringLiteral("-journal");
}

bool isHot(const QString& database) {
    if (!QFileInfo::exists(fileOf(database)) && !Platform::isSymLink(fileOf(database)))
        return false;
    // Read only, SQLite says so instead of playing it.
    Sqlite::Database db;
    int rc = db.open(database, Sqlite::OpenMode::ReadOnly);
    if (rc == SQLITE_OK) {
        Sqlite::Statement st;
        rc = st.prepare(db.get(), "SELECT count(*) FROM sqlite_master");
        if (rc == SQLITE_OK)
            rc = st.step();
    }
    return rc == SQLITE_READONLY_ROLLBACK;
}

QString foreignProblem(const QString& database, const QString& journalFile) {
    QFile db(database);
    if (!db.open(QIODevice::ReadOnly))
        return unreadable(database, db.errorString());
    QFile journal;
    QString why;
    if (!Platform::openWithoutLinks(journal, journalFile, &why))
        return why;

    const QByteArray dbHeader = db.read(100);
    if (dbHeader.size() < 100 || !dbHeader.startsWith(QByteArray(kDatabaseMagic, 16)))
        return QStringLiteral("数据库文件头已损坏");
    const quint32 pageSize = pageSizeOf(dbHeader);

    const qint64 journalSize = journal.size();
    QByteArray header = journal.read(28);
    // Without the mark at its start SQLite plays nothing back and only removes the file.
    if (header.size() < 28 || memcmp(header.constData(), kMagic, 8) != 0)
        return QString();
    const quint32 sectorSize = bigEndian(header.constData() + 20);
    const quint32 journalPageSize = bigEndian(header.constData() + 24);
    const quint32 originalPages = bigEndian(header.constData() + 16);
    if (!isPowerOfTwo(sectorSize) || sectorSize < 32 || sectorSize > 65536 ||
        !isPowerOfTwo(journalPageSize) || journalPageSize < 512 || journalPageSize > 65536)
        return QStringLiteral("日志文件头已损坏");
    if (journalPageSize != pageSize)
        return QStringLiteral("日志的页大小（%1）与数据库的（%2）不同")
            .arg(journalPageSize)
            .arg(pageSize);
    if (originalPages == 0)
        return QStringLiteral("日志会把数据库清空");

    // The records SQLite would play, segment by segment, as it reads them.
    const quint32 pendingBytePage = quint32(0x40000000 / pageSize) + 1;
    const qint64 recordSize = qint64(pageSize) + 8;
    QByteArray original1; // page 1 as the journal keeps it
    QSet<quint32> seen;
    qint64 segment = 0;
    bool firstSegment = true;
    bool done = false;
    while (!done) {
        if (!firstSegment) {
            if (segment + qint64(sectorSize) > journalSize || !journal.seek(segment))
                break;
            header = journal.read(28);
            if (header.size() < 28 || memcmp(header.constData(), kMagic, 8) != 0)
                break;
        }
        const quint32 nonce = bigEndian(header.constData() + 12);
        qint64 records = bigEndian(header.constData() + 8);
        const qint64 first = segment + sectorSize;
        if (records == 0xffffffff)
            records = firstSegment ? (journalSize - first) / recordSize : 0;
        firstSegment = false;
        if (!journal.seek(first))
            break;
        qint64 offset = first;
        for (qint64 i = 0; i < records; ++i) {
            const QByteArray record = journal.read(recordSize);
            if (record.size() < recordSize) {
                done = true;
                break;
            }
            offset += recordSize;
            const quint32 page = bigEndian(record.constData());
            const char* data = record.constData() + 4;
            quint32 sum = nonce;
            for (qint64 at = qint64(pageSize) - 200; at > 0; at -= 200)
                sum += uchar(data[at]);
            if (page == 0 || page == pendingBytePage ||
                sum != bigEndian(record.constData() + 4 + pageSize)) {
                done = true;
                break;
            }
            // A write sets each page aside once, and only pages the file had before it.
            if (page > originalPages)
                return QStringLiteral("日志里有数据库原来没有的第 %1 页").arg(page);
            if (seen.contains(page))
                return QStringLiteral("日志里第 %1 页出现了两次").arg(page);
            seen.insert(page);
            if (page == 1)
                original1 = QByteArray(data, int(pageSize));
        }
        // The next segment starts at the next sector boundary.
        segment = (offset + sectorSize - 1) / sectorSize * sectorSize;
        if (segment <= first - sectorSize)
            break;
    }

    if (!db.seek(0))
        return unreadable(database, db.errorString());
    const QByteArray current1 = db.read(pageSize);
    if (current1.size() < int(pageSize))
        return QStringLiteral("数据库文件不完整");
    const Header now = headerOf(current1);
    if (original1.isEmpty()) {
        // Page 1 is set aside before anything else is committed; without it in the journal
        // the file's first page is still as the write found it.
        if (now.pageCountValid() && now.pageCount != originalPages)
            return QStringLiteral("日志记载的数据库原有 %1 页，数据库文件头记载的是 %2 页")
                .arg(originalPages)
                .arg(now.pageCount);
        return QString();
    }
    if (!original1.startsWith(QByteArray(kDatabaseMagic, 16)) || pageSizeOf(original1) != pageSize)
        return QStringLiteral("日志里的第 1 页不是数据库的第 1 页");
    const Header before = headerOf(original1);
    if (before.pageCountValid() && before.pageCount != originalPages)
        return QStringLiteral("日志里的第 1 页与日志自身不符");
    if (current1 == original1)
        return QString();
    // Written back by the commit, which counts one change more and nothing else in the header.
    if (now.changeCounter == before.changeCounter + 1 && now.validFor == now.changeCounter &&
        current1.left(18) == original1.left(18) && current1.mid(20, 4) == original1.mid(20, 4) &&
        current1.mid(60, 4) == original1.mid(60, 4))
        return QString();
    return QStringLiteral("日志里的第 1 页（修改计数 %1）不是这个数据库的（修改计数 %2）")
        .arg(before.changeCounter)
        .arg(now.changeCounter);
}

namespace {

bool copyInto(const QString& from, const QString& to, QString* reason, bool* noRoom) {
    QFile in;
    if (!Platform::openWithoutLinks(in, from, reason))
        return false;
    return Platform::copyFileReplacing(in, to, reason, noRoom);
}

QString checkRecovered(const QString& copy, const QString& databasePassword) {
    Sqlite::Database db;
    int rc = db.open(copy, Sqlite::OpenMode::ReadWrite);
    if (rc != SQLITE_OK)
        return Sqlite::technicalText(db.get(), rc);
    // The first read plays the journal back.
    const QString problem = Schema::schemaProblem(db.get(), Schema::Strictness::OwnTables, &rc);
    if (rc != SQLITE_OK)
        return Sqlite::technicalText(db.get(), rc);
    if (!problem.isEmpty())
        return problem;
    switch (DbKey::check(db.get(), databasePassword, &rc)) {
    case DbKey::Check::Match:
        break;
    case DbKey::Check::Mismatch:
    case DbKey::Check::NoRecord:
        return QStringLiteral("数据库密码记录不对");
    case DbKey::Check::Failed:
        return Sqlite::technicalText(db.get(), rc);
    }
    const QStringList result = Sqlite::firstColumn(db.get(), "PRAGMA quick_check", &rc);
    if (rc != SQLITE_OK)
        return Sqlite::technicalText(db.get(), rc);
    if (result != QStringList{QStringLiteral("ok")})
        return result.value(0);
    return QString();
}

} // namespace

QString trialProblem(const QString& database, const QString& journal,
                     const QString& databasePassword, bool* noRoom) {
    *noRoom = false;
    // In the system's scratch folder first; beside the database when that one has no room.
    const QStringList places = {QDir::tempPath() + QStringLiteral("/velmora-check-XXXXXX"),
                                QFileInfo(database).absolutePath() +
                                    QStringLiteral("/.velmora-check-XXXXXX")};
    QString reason;
    for (const QString& place : places) {
        QTemporaryDir scratch(place);
        if (!scratch.isValid())
            continue;
        const QString copy = scratch.filePath(QFileInfo(database).fileName());
        bool full = false;
        if (!copyInto(database, copy, &reason, &full) ||
            !copyInto(journal, fileOf(copy), &reason, &full)) {
            *noRoom = full;
            if (full)
                continue;
            return reason;
        }
        *noRoom = false;
        return checkRecovered(copy, databasePassword);
    }
    return reason.isEmpty() ? QStringLiteral("找不到可以写入的临时文件夹") : reason;
}

} // namespace Journal

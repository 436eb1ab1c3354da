#include "transfer.h"

#include "cardwriter.h"
#include "readahead.h"
#include "workbook.h"

#include "core/error.h"
#include "data/cardpicture.h"
#include "data/cardstore.h"
#include "data/carduid.h"
#include "data/dberror.h"
#include "data/history.h"
#include "data/sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

namespace Exchange {

namespace {

// Moving the bar for every card would cost more than the cards.
const int kProgressEvery = 256;
// Cards read from the database at a time when exporting.
const int kExportChunk = 500;
const int kExportUidChunk = 16 * kExportChunk;

using Sqlite::native;

// Where a path leads: symbolic links followed, also to a file that does not exist yet.
QString resolved(const QString& path, int depth = 0) {
    const QFileInfo info(path);
    if (info.exists())
        return info.canonicalFilePath();
    if (info.isSymLink() && depth < 16)
        return resolved(info.symLinkTarget(), depth + 1);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

bool sameFile(const QString& a, const QString& b) {
    if (resolved(a) == resolved(b))
        return true;
    // A hard link has a name of its own.
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// An export onto the database, its journal or its backup would replace every card with the
// exported text.
void refuseDatabaseTarget(const QString& path, const QString& databaseFile) {
    if (databaseFile.isEmpty())
        return;
    const QString folder = QFileInfo(databaseFile).absolutePath();
    const QStringList guarded = {databaseFile, databaseFile + QStringLiteral("-journal"),
                                 databaseFile + QStringLiteral("-wal"),
                                 folder + QStringLiteral("/velmora.bak")};
    for (const QString& file : guarded) {
        if (sameFile(path, file))
            throw EError(QStringLiteral("不能导出到这个文件：\n%1\n它是名片数据库%2，导出会覆盖全部"
                                        "名片。请换一个文件名或文件夹后再导出。")
                             .arg(native(path), file == databaseFile ? QString()
                                                : file.endsWith(QLatin1String(".bak"))
                                                    ? QStringLiteral("的备份文件")
                                                    : QStringLiteral("的日志文件")));
    }
}

// The cards already in the database, by a hash of their 24 fields, to pass over the ones a
// file brings again. Read once, at the first card of the import.
class KnownCards {
public:
    KnownCards(const Sqlite::Database& db, const ImportOptions& options)
        : m_db(db)
        , m_options(options)
        , m_hash(options.hash && options.same ? options.hash : plainHash) {}

    /// How a card's hash is made; it may run on another thread.
    const std::function<quint64(const Card& card)>& hasher() const { return m_hash; }
    /// Whether the card, whose hasher() gave `h`, is here already; its hash is kept for add().
    bool contains(const Card& card, quint64 h) {
        if (!m_read) {
            m_read = true;
            CardStore::forEachCard(m_db, QStringLiteral("SELECT * FROM \"zl\""), {},
                                   [&](qint64 id, const Card& c) {
                                       m_sorted.push_back({m_hash(c), id});
                                   });
            std::sort(m_sorted.begin(), m_sorted.end());
        }
        m_last = h;
        auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), std::make_pair(h, qint64(0)));
        for (; it != m_sorted.end() && it->first == h; ++it) {
            if (same(stored(it->second), card))
                return true;
        }
        const auto added = m_added.equal_range(h);
        for (auto a = added.first; a != added.second; ++a) {
            if (same(stored(a->second), card))
                return true;
        }
        return false;
    }
    /// The card contains() was last asked about, added as `id` by this import, so that the
    /// file's own repeats are passed over too. Read back from zl when needed: a million
    /// cards kept here would take gigabytes.
    void addLast(qint64 id) { m_added.emplace(m_last, id); }

private:
    bool same(const Card& a, const Card& b) const {
        return a == b || (m_options.same && m_options.same(a, b));
    }
    static quint64 plainHash(const Card& card) {
        size_t h = 0;
        for (const QString& value : card.values)
            h = qHash(value, h) ^ (h << 1);
        return h;
    }
    Card stored(qint64 id) {
        Card card;
        CardStore::forEachCard(m_db, QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\"=?"), {id},
                               [&](qint64, const Card& c) { card = c; });
        return card;
    }

    const Sqlite::Database& m_db;
    const ImportOptions& m_options;
    const std::function<quint64(const Card& card)> m_hash;
    bool m_read = false;
    quint64 m_last = 0;
    std::vector<std::pair<quint64, qint64>> m_sorted;
    std::unordered_multimap<quint64, qint64> m_added;
};

// The UIDs of a chunk of cards, made and stored for those that have none. A file that
// cannot be written to (read only, locked, full) gives the UIDs that would be stored.
QHash<qint64, QString> uidsOf(sqlite3* db, const QVector<qint64>& ids, bool* writable) {
    QHash<qint64, QString> uids;
    if (*writable) {
        try {
            if (Sqlite::exec(db, "BEGIN IMMEDIATE") != SQLITE_OK)
                throw EDatabaseError(QString());
            // Its statements kept for the chunk: made afresh for each card they cost more than
            // writing the card.
            CardUid::Batch batch(db);
            for (qint64 id : ids)
                uids.insert(id, batch.ensure(id));
            batch.flush();
            if (Sqlite::exec(db, "COMMIT") == SQLITE_OK)
                return uids;
            throw EDatabaseError(QString());
        } catch (const EError&) {
            if (!sqlite3_get_autocommit(db))
                Sqlite::exec(db, "ROLLBACK");
            *writable = false;
            uids.clear();
        }
    }
    for (qint64 id : ids) {
        const QString uid = CardUid::uidOf(db, id);
        uids.insert(id, uid.isEmpty() ? CardUid::madeUid(db, id) : uid);
    }
    return uids;
}

} // namespace

ImportResult importFiles(const Sqlite::Database& database, const QStringList& files,
                         const CardStore::Filing& fileCards, Core::Progress* progress,
                         const ImportOptions& options) {
    sqlite3* db = database.get();
    qint64 total = 0;
    for (const QString& file : files)
        total += QFileInfo(file).size();
    if (progress)
        progress->begin(Core::Progress::Phase::Importing, total);

    // The whole import is one operation: undone, its cards go again.
    const QString names = files.size() == 1 ? QFileInfo(files.first()).fileName()
                                            : QStringLiteral("%1 等 %2 个文件")
                                                  .arg(QFileInfo(files.value(0)).fileName())
                                                  .arg(files.size());
    History::Operation operation(db, QString());
    operation.setDescriber([names](const History::Operation::Counts& c) {
        return QStringLiteral("导入 %1：添加 %2 张名片")
            .arg(names, QLocale(QLocale::Chinese, QLocale::China).toString(c.added));
    });
    ImportResult result;
    KnownCards known(database, options);
    // Read, and the cards' hashes made, on a thread of its own while the cards are written.
    ReadAhead reading(files, known.hasher(), bool(options.keepPicture));
    qint64 bytesRead = 0;        // of the card last taken
    QString pendingName;         // the card being added
    QString pendingUid;          // and the UID its file gave it
    CardPhoto pendingPhoto;      // and its picture
    QList<Skipped> pictureNotes; // of the file being read
    // Made at the first card, in the import's transaction.
    std::optional<CardUid::Batch> uids;
    // The new cards that brought no UID: theirs are made after the last card, all together.
    std::vector<qint64> uidsToMake;
    bool filing = false;
    auto nextCard = [&](Card* card) -> bool {
        ReadAhead::Entry entry;
        for (;;) {
            if (!reading.next(&entry)) {
                // Every card is in: they are filed for the quick find now.
                filing = true;
                if (progress)
                    progress->begin(Core::Progress::Phase::Filing, total);
                return false;
            }
            bytesRead = entry.bytes;
            if (entry.kind == ReadAhead::Entry::Kind::Error)
                std::rethrow_exception(entry.error);
            if (entry.kind == ReadAhead::Entry::Kind::Card) {
                // The same card again, by its UID or all its fields, is passed over.
                if (!uids)
                    uids.emplace(db);
                if ((!entry.uid.isEmpty() && uids->idOf(entry.uid) != 0) ||
                    known.contains(entry.card, entry.hash)) {
                    ++result.duplicates;
                    continue;
                }
                *card = std::move(entry.card);
                pendingName = (*card)[Field::Name];
                pendingUid = std::move(entry.uid);
                pendingPhoto = std::move(entry.photo);
                return true;
            }
            QList<Skipped> notes = entry.notes + pictureNotes;
            pictureNotes.clear();
            std::stable_sort(notes.begin(), notes.end(),
                             [](const Skipped& a, const Skipped& b) { return a.line < b.line; });
            for (Skipped skipped : notes) {
                if (files.size() > 1)
                    skipped.reason = native(entry.file) + QStringLiteral("：") + skipped.reason;
                result.skipped << skipped;
            }
        }
    };
    auto added = [&](qint64 id) {
        known.addLast(id);
        if (pendingUid.isEmpty())
            uidsToMake.push_back(id);
        else
            uids->set(id, pendingUid);
        if (!pendingPhoto.present)
            return;
        const QByteArray jpeg =
            pendingPhoto.bytes.isEmpty() ? QByteArray() : options.keepPicture(pendingPhoto.bytes);
        if (jpeg.isEmpty())
            pictureNotes << Skipped{pendingPhoto.line,
                                    QStringLiteral("名片“%1”的照片（PHOTO）已损坏，没有导入照片；"
                                                   "这张名片的其他内容都已导入。")
                                        .arg(pendingName),
                                    true};
        else
            CardPicture::store(db, id, CardPicture::Side::Front, jpeg);
    };
    auto moved = [&](qint64 done) {
        // While the cards are filed the count stands still: each call is passed on, so the
        // dialog keeps taking events.
        if (!progress || (done % kProgressEvery != 0 && !filing))
            return true;
        const qint64 at = filing ? total : bytesRead;
        if (progress->advance(at))
            return true;
        result.cancelled = true;
        return false;
    };
    const CardStore::Filing& filingOf = options.filing ? options.filing : fileCards;
    result.ids = CardStore::addCards(
        database, nextCard, moved, added,
        [&](sqlite3* connection, const QVector<qint64>& ids, const std::function<bool()>& more) {
            // After the last card, in UID order: their index then takes them in its own order.
            if (uids)
                uids->ensureAll(uidsToMake);
            return !filingOf || filingOf(connection, ids, more);
        });
    if (result.cancelled) {
        result.skipped.clear();
        result.duplicates = 0;
    } else if (progress) {
        progress->advance(total);
    }
    return result;
}

qint64 cardCount(const Sqlite::Database& db) {
    int rc = SQLITE_OK;
    const QStringList count = Sqlite::firstColumn(db.get(), "SELECT count(*) FROM \"zl\"", &rc);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, db.file()));
    return count.value(0).toLongLong();
}

QVector<qint64> cardIds(const Sqlite::Database& db, const QString& statement,
                        const QVariantList& parameters) {
    Sqlite::Statement st;
    int rc = st.prepare(db.get(), "SELECT \"ID\" FROM (\n" + statement.toUtf8() + "\n)");
    for (int i = 0; rc == SQLITE_OK && i < parameters.size(); ++i)
        rc = st.bind(i + 1, parameters.at(i));
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, db.file()));
    QVector<qint64> ids;
    while ((rc = st.step()) == SQLITE_ROW)
        ids.append(st.int64(0));
    if (rc != SQLITE_DONE)
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, db.file()));
    return ids;
}

namespace {

// Reads the cards in the list's order, a chunk at a time, and hands each to `write` with
// its UID when `withUids` is set; false when the user cancelled.
bool eachCard(const Sqlite::Database& db, const QVector<qint64>& ids, bool withUids,
              const std::function<void(qint64 id, const Card& card, const QString& uid)>& write,
              Core::Progress* progress) {
    bool writable = true; // the UIDs made are stored
    // The UIDs of the next few thousand cards, made in one transaction: one for each chunk
    // would wait on the disk as often.
    QHash<qint64, QString> uids;
    int uidsEnd = 0;
    for (int first = 0; first < ids.size(); first += kExportChunk) {
        const QVector<qint64> chunk = ids.mid(first, kExportChunk);
        QStringList list;
        for (qint64 id : chunk)
            list << QString::number(id);
        QHash<qint64, Card> cards;
        CardStore::forEachCard(
            db, QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1)").arg(list.join(',')), {},
            [&](qint64 id, const Card& card) { cards.insert(id, card); });
        if (withUids && first >= uidsEnd) {
            uids = uidsOf(db.get(), ids.mid(first, kExportUidChunk), &writable);
            uidsEnd = first + kExportUidChunk;
        }
        // In the list's order; a card deleted meanwhile by another program is left out.
        for (qint64 id : chunk) {
            const auto it = cards.constFind(id);
            if (it != cards.constEnd())
                write(id, it.value(), uids.value(id));
        }
        if (progress && !progress->advance(first + chunk.size()))
            return false;
    }
    return true;
}

// A workbook is written under a name of its own beside the target, then renamed over it.
int exportWorkbook(const Sqlite::Database& db, const QVector<qint64>& ids, const QString& path,
                   Core::Progress* progress) {
    const QFileInfo target(path);
    const QString temp = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                         QStringLiteral(".part.xlsx");
    int written = 0;
    {
        WorkbookWriter book(temp);
        if (!eachCard(
                db, ids, false, [&](qint64, const Card& card, const QString&) { book.write(card); },
                progress))
            return 0; // the unfinished workbook leaves no file
        book.close();
        written = book.cardsWritten();
    }
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) !=
        0) {
        const int error = errno;
        QFile::remove(temp);
        throw EError(QStringLiteral("无法写成文件：\n%1\n请检查文件夹的写入权限后再导出。\n(%2)")
                         .arg(native(path), QString::fromLocal8Bit(std::strerror(error))));
    }
    return written;
}

} // namespace

bool writesPictures(Format format) {
    return format == Format::VCard30 || format == Format::VCard40;
}

int exportCards(const Sqlite::Database& db, const QVector<qint64>& ids, const QString& path,
                Format format, Core::Progress* progress, bool withPictures) {
    refuseDatabaseTarget(path, db.file());
    if (format == Format::Xlsx)
        return exportWorkbook(db, ids, path, progress);
    // Beside the target first, renamed over it at the end: a failure leaves no half file.
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        throw EError(
            QStringLiteral("无法创建文件：\n%1\n请检查文件夹是否存在、是否有写入权限。\n(%2)")
                .arg(native(path), out.errorString()));
    try {
        CardWriter writer(&out, format);
        // Read card by card as they are written: a chunk of pictures would fill the memory.
        const bool pictures =
            withPictures && writesPictures(format) && CardPicture::cardsWithPictures(db.get()) > 0;
        if (!eachCard(
                db, ids, writer.writesUid(),
                [&](qint64 id, const Card& card, const QString& uid) {
                    writer.write(card, uid,
                                 pictures
                                     ? CardPicture::read(db.get(), id, CardPicture::Side::Front)
                                     : QByteArray());
                },
                progress)) {
            out.cancelWriting();
            return 0;
        }
        writer.finish();
        if (!out.commit())
            throw EError(
                QStringLiteral("文件没有写完：%1。请检查磁盘空间和写入权限后再导出。\n(%2)")
                    .arg(native(path), out.errorString()));
        return writer.cardsWritten();
    } catch (...) {
        out.cancelWriting();
        throw;
    }
}

} // namespace Exchange

#include "transfer.h"

#include "cardwriter.h"

#include "core/error.h"
#include "data/cardstore.h"
#include "data/dberror.h"
#include "data/sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

namespace Exchange {

namespace {

// Moving the bar for every card would cost more than the cards.
const int kProgressEvery = 256;
// Cards read from the database at a time when exporting.
const int kExportChunk = 500;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

ImportResult importFiles(sqlite3* db, const QString& databaseFile, const QStringList& files,
                         const TransferProgress& progress) {
    qint64 total = 0;
    for (const QString& file : files)
        total += QFileInfo(file).size();

    ImportResult result;
    qint64 before = 0; // bytes of the files already read
    int index = 0;
    std::unique_ptr<QFile> device;
    std::unique_ptr<CardReader> reader;
    QString current;
    // The reader that failed names the line; the file is named here.
    auto nextCard = [&](Card* card) -> bool {
        for (;;) {
            if (!reader) {
                if (index >= files.size())
                    return false;
                current = files.at(index++);
                device = openForReading(current);
                reader = std::make_unique<CardReader>(device.get());
            }
            bool more = false;
            try {
                more = reader->next(card);
            } catch (const EError& e) {
                throw EError(QStringLiteral("文件无法导入，没有添加任何名片：\n%1\n%2")
                                 .arg(native(current), e.message()));
            }
            if (more)
                return true;
            for (Skipped skipped : reader->skipped()) {
                if (files.size() > 1)
                    skipped.reason = native(current) + QStringLiteral("：") + skipped.reason;
                result.skipped << skipped;
            }
            before += reader->bytesTotal();
            reader.reset();
            device.reset();
        }
    };
    qint64 lastDone = -1;
    auto moved = [&](qint64 done) {
        // Once every card is in, they are filed for the quick find and the count stands
        // still: each of those calls is passed on, so the dialog keeps taking events.
        const bool filing = done == lastDone;
        lastDone = done;
        if (!progress || (done % kProgressEvery != 0 && !filing))
            return true;
        const qint64 at = before + (reader ? reader->bytesRead() : 0);
        if (progress(at, total))
            return true;
        result.cancelled = true;
        return false;
    };
    result.ids = CardStore::addCards(db, databaseFile, nextCard, moved);
    if (result.cancelled)
        result.skipped.clear();
    else if (progress)
        progress(total, total);
    return result;
}

QVector<qint64> cardIds(sqlite3* db, const QString& databaseFile, const QString& statement,
                        const QVariantList& parameters) {
    Sqlite::Statement st;
    int rc = st.prepare(db, "SELECT \"ID\" FROM (\n" + statement.toUtf8() + "\n)");
    for (int i = 0; rc == SQLITE_OK && i < parameters.size(); ++i)
        rc = st.bind(i + 1, parameters.at(i));
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc, databaseFile));
    QVector<qint64> ids;
    while ((rc = st.step()) == SQLITE_ROW)
        ids.append(st.int64(0));
    if (rc != SQLITE_DONE)
        throw EDatabaseError(Sqlite::errorText(db, rc, databaseFile));
    return ids;
}

int exportCards(sqlite3* db, const QString& databaseFile, const QVector<qint64>& ids,
                const QString& path, Format format, const TransferProgress& progress) {
    // Beside the target first, renamed over it at the end: a failure leaves no half file.
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        throw EError(
            QStringLiteral("无法创建文件：\n%1\n请检查文件夹是否存在、是否有写入权限。\n(%2)")
                .arg(native(path), out.errorString()));
    try {
        CardWriter writer(&out, format);
        for (int first = 0; first < ids.size(); first += kExportChunk) {
            const QVector<qint64> chunk = ids.mid(first, kExportChunk);
            QStringList list;
            for (qint64 id : chunk)
                list << QString::number(id);
            QHash<qint64, Card> cards;
            CardStore::forEachCard(
                db, databaseFile,
                QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1)").arg(list.join(',')), {},
                [&](qint64 id, const Card& card) { cards.insert(id, card); });
            // In the list's order; a card deleted meanwhile by another program is left out.
            for (qint64 id : chunk) {
                const auto it = cards.constFind(id);
                if (it != cards.constEnd())
                    writer.write(it.value());
            }
            if (progress && !progress(first + chunk.size(), ids.size())) {
                out.cancelWriting();
                return 0;
            }
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

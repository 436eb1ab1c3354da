// Reading the history back: the list of operations, the deleted cards, and undoing.
#include "adoquery.h"
#include "cardpicture.h"
#include "carduid.h"
#include "dberror.h"
#include "history.h"
#include "historyformat.h"
#include "sidetable.h"
#include "sqlite.h"

#include <QHash>
#include <QMap>

#include <optional>

namespace History {

namespace {

bool hasTables(sqlite3* db) {
    int rc = SQLITE_OK;
    const QStringList found = SideTable::present(
        db, {QStringLiteral("card_history"), QStringLiteral("card_history_rows")}, &rc);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    return found.size() == 2;
}

QByteArray bytesOf(const Sqlite::Statement& st, int column) {
    const std::string_view bytes = st.blob(column);
    return QByteArray(bytes.data(), int(bytes.size()));
}

QString timeText(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

struct Recorded {
    qint64 number = 0;
    QDateTime time;
    QString description;
    qint64 undoes = 0;
    qint64 undoneBy = 0;
    // Each card it touched and what the card was before; a card it added did not exist.
    QMap<qint64, Image> before;
    // What it left each card as (Format::sum), for operations recorded with it.
    QHash<qint64, std::optional<qint32>> left;
};

bool hasLeftTable(sqlite3* db) {
    return SideTable::exists(db, "card_history_left");
}

std::optional<Recorded> load(sqlite3* db, qint64 number, bool withCards = true) {
    if (!hasTables(db))
        return std::nullopt;
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    Sqlite::Statement op(
        db,
        "SELECT \"time\", \"description\", \"added\", \"undoes\", \"undone_by\" FROM "
        "\"card_history\" WHERE \"op\"=?",
        failure);
    op.set(1, number);
    if (!op.next())
        return std::nullopt;
    Recorded r;
    r.number = number;
    r.time = QDateTime::fromSecsSinceEpoch(op.int64(0));
    r.description = op.text(1).toString();
    r.undoes = op.int64(3);
    r.undoneBy = op.int64(4);
    if (!withCards)
        return r;
    for (qint64 id : Format::decodeIds(bytesOf(op, 2)))
        r.before.insert(id, Image());
    Sqlite::Statement rows(db, "SELECT \"ID\", \"card\" FROM \"card_history_rows\" WHERE \"op\"=?",
                           failure);
    rows.set(1, number);
    while (rows.next())
        r.before.insert(rows.int64(0), Format::decodeImage(bytesOf(rows, 1)));
    if (!hasLeftTable(db))
        return r;
    Sqlite::Statement left(db, "SELECT \"ID\", \"sum\" FROM \"card_history_left\" WHERE \"op\"=?",
                           failure);
    left.set(1, number);
    while (left.next()) {
        std::optional<qint32> sum;
        if (!left.text(1).isNull())
            sum = qint32(left.int64(1));
        r.left.insert(left.int64(0), sum);
    }
    return r;
}

QString missingText(qint64 number) {
    return QStringLiteral("没有编号为 %1 的操作，可能已超过保留期限被清除。"
                          "请用“撤销...”列出还能撤销的操作。")
        .arg(number);
}

// Whether operation `m` no longer counts for a card: it was undone, or it is the undo of an
// operation after `after` that is still undone (the two cancel out).
bool cancelledOut(sqlite3* db, const Recorded& m, qint64 after) {
    if (m.undoneBy)
        return true;
    if (m.undoes <= after)
        return false;
    const std::optional<Recorded> undone = load(db, m.undoes, false);
    return undone && undone->undoneBy == m.number;
}

// The first operation after `r` that changed one of its cards and still stands, in words;
// empty when none did.
QString laterChange(sqlite3* db, const Recorded& r, qint64 onlyCard) {
    if (r.undoneBy && !onlyCard)
        return QStringLiteral("操作 %1“%2”已经撤销过了（由操作 %3 撤销）。"
                              "要恢复它做的修改，请撤销操作 %3。")
            .arg(QString::number(r.number), r.description, QString::number(r.undoneBy));
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    Sqlite::Statement later(db,
                            "SELECT \"op\" FROM \"card_history_rows\" WHERE \"ID\"=? AND "
                            "\"op\">? ORDER BY \"op\"",
                            failure);
    std::optional<ImageReader> reader;
    for (auto it = r.before.cbegin(); it != r.before.cend(); ++it) {
        if (onlyCard && it.key() != onlyCard)
            continue;
        later.set(1, it.key()).set(2, r.number);
        std::optional<Recorded> next;
        while (!next && later.next()) {
            next = load(db, later.int64(0), false);
            if (next && cancelledOut(db, *next, r.number))
                next.reset();
        }
        later.rewind();
        const auto left = r.left.constFind(it.key());
        if (!next && left != r.left.cend()) {
            // Nothing recorded since, yet the card is not as the operation left it: another
            // program wrote it.
            if (!reader)
                reader.emplace(db);
            const Image now = reader->read(it.key());
            if (Format::sum(now) != *left)
                return QStringLiteral(
                           "没有撤销，名片都没有改动：名片“%1”在操作 %2“%3”之后又被另一个程序"
                           "改过，那次修改不在历史里，撤销会把它丢掉。需要时请直接修改这张名片。")
                    .arg(cardLabel(now.exists ? now.card : it->card, it.key()),
                         QString::number(r.number), r.description);
        }
        if (!next)
            continue;
        const Image now = imageOf(db, it.key());
        const QString card = cardLabel(now.exists ? now.card : it->card, it.key());
        return QStringLiteral("没有撤销：名片“%1”在这之后又被操作 %2“%3”（%4）改过，"
                              "撤销会丢掉那次的修改。请先撤销操作 %2。")
            .arg(card, QString::number(next->number), next->description, timeText(next->time));
    }
    return QString();
}

const QString& fieldList() {
    static const QString list = [] {
        QStringList names;
        for (const FieldMapEntry& field : kFieldMap)
            names << Sqlite::quoted(QString::fromUtf8(field.column));
        return names.join(QLatin1Char(','));
    }();
    return list;
}

void restore(sqlite3* db, qint64 id, const Image& was, const Image& now, const RowHook& hook,
             Sqlite::Statement& remove) {
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    QVariantList values;
    for (const QString& value : was.card.values)
        values << (value.isNull() ? QVariant() : QVariant(value));
    if (!was.exists) {
        if (!now.exists)
            return;
        remove.set(1, id).run();
        if (hook) {
            hook(db, QStringLiteral("zl"), id, RowWrite::Deleted);
        } else {
            CardUid::cardDeleted(db, id);
            CardPicture::cardDeleted(db, id);
        }
        return;
    }
    if (now.exists) {
        QStringList sets;
        for (const FieldMapEntry& field : kFieldMap)
            sets << Sqlite::quoted(QString::fromUtf8(field.column)) + QStringLiteral("=?");
        Sqlite::Statement(db,
                          (QStringLiteral("UPDATE \"zl\" SET ") + sets.join(QLatin1Char(',')) +
                           QStringLiteral(" WHERE \"ID\"=?"))
                              .toUtf8(),
                          failure)
            .setAll(values)
            .set(int(values.size()) + 1, id)
            .run();
    } else {
        // Back under its own ID, so that whatever refers to it (sync, UIDs) finds it again.
        QString sql = QStringLiteral("INSERT INTO \"zl\" (\"ID\",") + fieldList();
        QString marks = QStringLiteral("?");
        for (int i = 0; i < values.size(); ++i)
            marks += QStringLiteral(",?");
        if (!was.addedOn.isEmpty()) {
            sql += QStringLiteral(",\"添加日期\"");
            marks += QStringLiteral(",?");
            values << was.addedOn;
        }
        sql += QStringLiteral(") VALUES (") + marks + QLatin1Char(')');
        Sqlite::Statement(db, sql.toUtf8(), failure).set(1, id).setAll(values, 2).run();
        if (!was.uid.isEmpty() && CardUid::idOf(db, was.uid) == 0)
            CardUid::set(db, id, was.uid);
    }
    if (hook)
        hook(db, QStringLiteral("zl"), id, RowWrite::Written);
    else
        CardPicture::cardWritten(db, id);
}

} // namespace

QVector<Entry> recent(sqlite3* db, int limit) {
    QVector<Entry> entries;
    if (!hasTables(db))
        return entries;
    Sqlite::Statement st(db,
                         "SELECT \"op\", \"time\", \"description\", \"undoes\", \"undone_by\" "
                         "FROM \"card_history\" ORDER BY \"op\" DESC LIMIT ?",
                         Sqlite::fileFailure({}));
    st.set(1, qint64(limit));
    while (st.next())
        entries.append({st.int64(0), QDateTime::fromSecsSinceEpoch(st.int64(1)),
                        st.text(2).toString(), st.int64(3), st.int64(4) != 0});
    return entries;
}

QVector<DeletedCard> deletedCards(sqlite3* db, int limit) {
    QVector<DeletedCard> cards;
    if (!hasTables(db))
        return cards;
    // A card whose latest record held it and that is not there now: that operation deleted it.
    Sqlite::Statement st(
        db,
        "SELECT r.\"ID\", r.\"op\", h.\"time\", r.\"card\" FROM \"card_history_rows\" r "
        "JOIN \"card_history\" h ON h.\"op\"=r.\"op\" WHERE r.\"card\" IS NOT NULL "
        "AND NOT EXISTS (SELECT 1 FROM \"zl\" WHERE \"zl\".\"ID\"=r.\"ID\") "
        "AND NOT EXISTS (SELECT 1 FROM \"card_history_rows\" l WHERE l.\"ID\"=r.\"ID\" "
        "AND l.\"op\">r.\"op\") ORDER BY r.\"op\" DESC, r.\"ID\" LIMIT ?",
        Sqlite::fileFailure({}));
    st.set(1, qint64(limit));
    while (st.next()) {
        const Image image = Format::decodeImage(bytesOf(st, 3));
        cards.append({st.int64(0), st.int64(1), QDateTime::fromSecsSinceEpoch(st.int64(2)),
                      cardLabel(image.card, st.int64(0)), image.card[Field::Company]});
    }
    return cards;
}

QString undoProblem(sqlite3* db, qint64 number) {
    const std::optional<Recorded> r = load(db, number);
    if (!r)
        return missingText(number);
    return laterChange(db, *r, 0);
}

qint64 undo(sqlite3* db, const QString& file, qint64 number, const RowHook& hook, qint64 onlyCard,
            const std::function<bool(qint64 done, qint64 total)>& progress) {
    const Sqlite::Failure failure = Sqlite::fileFailure(file);
    Sqlite::Transaction transaction(db, failure);
    const std::optional<Recorded> r = load(db, number);
    if (!r)
        throw EDatabaseError(missingText(number));
    if (onlyCard && !r->before.contains(onlyCard))
        throw EDatabaseError(QStringLiteral("操作 %1 没有改动 ID 为 %2 的名片，没有撤销。")
                                 .arg(number)
                                 .arg(onlyCard));
    const QString problem = laterChange(db, *r, onlyCard);
    if (!problem.isEmpty())
        throw EDatabaseError(problem);

    Operation operation(db, onlyCard ? QStringLiteral("恢复 %1").arg(
                                           cardLabel(r->before.value(onlyCard).card, onlyCard))
                                     : QStringLiteral("撤销：%1").arg(r->description));
    operation.setUndoes(number);
    qint64 back = 0;
    ImageReader reader(db);
    Sqlite::Statement remove(db, "DELETE FROM \"zl\" WHERE \"ID\"=?", failure);
    for (auto it = r->before.cbegin(); it != r->before.cend(); ++it) {
        if (onlyCard && it.key() != onlyCard)
            continue;
        // Stopped: rolled back with the transaction, nothing of it stays.
        if (progress && !progress(back++, r->before.size()))
            return 0;
        const Image now = reader.read(it.key());
        if (!now.exists && !it->exists)
            continue;
        operation.keep(it.key(), now, !it->exists);
        restore(db, it.key(), *it, now, hook, remove);
    }
    operation.finish();
    const qint64 done = operation.number();
    if (done && !onlyCard) {
        Sqlite::Statement mark(db, "UPDATE \"card_history\" SET \"undone_by\"=? WHERE \"op\"=?",
                               failure);
        mark.set(1, done).set(2, number).run();
        // Undoing an undo brings the first operation's changes back.
        if (r->undoes)
            mark.set(1, QVariant()).set(2, r->undoes).run();
    }
    transaction.commit();
    return done;
}

} // namespace History

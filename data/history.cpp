#include "history.h"

#include "adoquery.h"
#include "carduid.h"
#include "dberror.h"
#include "historyformat.h"
#include "sidetable.h"
#include "sqlite.h"

#include <QHash>
#include <QSet>

#include <algorithm>

#include <memory>

namespace History {

namespace {

const char kOperations[] =
    "CREATE TABLE \"card_history\" (\"op\" INTEGER PRIMARY KEY AUTOINCREMENT, "
    "\"time\" INTEGER NOT NULL, \"description\" TEXT NOT NULL, \"added\" BLOB, "
    "\"undoes\" INTEGER, \"undone_by\" INTEGER)";
const char kOperationTimes[] = "CREATE INDEX \"card_history_time\" ON \"card_history\" (\"time\")";
// "card" is the card before the operation, NULL when it did not exist.
const char kRows[] = "CREATE TABLE \"card_history_rows\" (\"op\" INTEGER NOT NULL, "
                     "\"ID\" INTEGER NOT NULL, \"card\" BLOB, PRIMARY KEY (\"op\", \"ID\")) "
                     "WITHOUT ROWID";
// Finds the later operations that touched a card, which keep an undo from going back over
// them.
const char kRowCards[] =
    "CREATE INDEX \"card_history_rows_ID\" ON \"card_history_rows\" (\"ID\", \"op\")";
// What each operation left each card it touched as: a checksum of its fields, NULL when the
// card was gone. A card found otherwise at an undo was changed by a writer the history did
// not see (another program). Operations recorded before it have no rows here.
const char kLeft[] = "CREATE TABLE \"card_history_left\" (\"op\" INTEGER NOT NULL, "
                     "\"ID\" INTEGER NOT NULL, \"sum\" INTEGER, PRIMARY KEY (\"op\", \"ID\")) "
                     "WITHOUT ROWID";
const char kSettings[] = "CREATE TABLE \"card_history_settings\" (\"key\" TEXT PRIMARY KEY NOT "
                         "NULL, \"value\" TEXT NOT NULL) WITHOUT ROWID";

// The operation open on each connection of this thread.
thread_local QHash<sqlite3*, Operation*> t_current;

} // namespace

QStringList schemaStatements() {
    return {QString::fromLatin1(kOperations), QString::fromLatin1(kOperationTimes),
            QString::fromLatin1(kRows),       QString::fromLatin1(kRowCards),
            QString::fromLatin1(kSettings),   QString::fromLatin1(kLeft)};
}

int addTables(sqlite3* db) {
    return SideTable::addMissing(db, {{"card_history", kOperations},
                                      {"card_history_time", kOperationTimes},
                                      {"card_history_rows", kRows},
                                      {"card_history_rows_ID", kRowCards},
                                      {"card_history_settings", kSettings},
                                      {"card_history_left", kLeft}});
}

Image imageOf(sqlite3* db, qint64 id) {
    return ImageReader(db).read(id);
}

ImageReader::ImageReader(sqlite3* db)
    : m_card(std::make_unique<Sqlite::Statement>(db, "SELECT * FROM \"zl\" WHERE \"ID\"=?",
                                                 Sqlite::fileFailure({}))) {
    if (SideTable::exists(db, "card_uid"))
        m_uid = std::make_unique<Sqlite::Statement>(
            db, "SELECT \"uid\" FROM \"card_uid\" WHERE \"ID\"=?", Sqlite::fileFailure({}));
}

ImageReader::~ImageReader() = default;

Image ImageReader::read(qint64 id) {
    Sqlite::Statement& st = *m_card;
    st.set(1, id);
    Image image;
    if (st.next()) {
        image.exists = true;
        for (int c = 0; c < st.columnCount(); ++c) {
            const QString name = st.columnName(c);
            const int field = Card::indexOf(name);
            if (field >= 0)
                image.card.values[std::size_t(field)] = st.text(c).toString();
            else if (name == QStringLiteral("添加日期"))
                image.addedOn = st.text(c).toString();
        }
    }
    st.rewind();
    if (image.exists && m_uid) {
        m_uid->set(1, id);
        if (m_uid->next())
            image.uid = m_uid->text(0).toString();
        m_uid->rewind();
    }
    return image;
}

QString cardLabel(const Card& card, qint64 id) {
    const QString name = card[Field::Name].trimmed();
    return name.isEmpty() ? QStringLiteral("（无姓名，ID %1）").arg(id) : name;
}

Operation::Operation(sqlite3* db, const QString& description)
    : m_outer(t_current.value(db))
    , m_db(db)
    , m_description(description) {
    if (!m_outer)
        t_current.insert(db, this);
}

Operation::~Operation() {
    if (!m_outer)
        t_current.remove(m_db);
}

Operation* Operation::current(sqlite3* db) {
    return t_current.value(db);
}

void Operation::setDescriber(std::function<QString(const Counts&)> describer) {
    if (m_outer)
        return;
    m_describer = std::move(describer);
}

void Operation::setDescription(const QString& description) {
    if (m_outer)
        return;
    m_description = description;
    if (m_number)
        store();
}

void Operation::changing(qint64 id, bool deleting) {
    if (m_outer) {
        m_pending.append(id);
        return m_outer->changing(id, deleting);
    }
    keep(id, imageOf(m_db, id), deleting);
}

void Operation::keep(qint64 id, const Image& before, bool deleting) {
    m_pending.append(id);
    if (m_outer)
        return m_outer->keep(id, before, deleting);
    ++(deleting ? m_counts.deleted : m_counts.changed);
    // The row is stored once; again only when its words follow the counts.
    if (!m_number || m_describer)
        store();
    // A card this operation added needs nothing more: undoing it deletes the card.
    if (m_added.contains(id))
        return;
    if (!m_insertRow)
        m_insertRow = std::make_unique<Sqlite::Statement>(
            m_db,
            "INSERT OR IGNORE INTO \"card_history_rows\" (\"op\", \"ID\", \"card\") VALUES (?, "
            "?, ?)",
            Sqlite::fileFailure({}));
    Sqlite::Statement& st = *m_insertRow;
    st.set(1, m_number).set(2, id);
    if (before.exists) {
        const QByteArray bytes = Format::encodeImage(before, deleting);
        st.set(3, std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    st.run();
}

void Operation::added(const QVector<qint64>& ids) {
    if (m_outer)
        return m_outer->added(ids);
    if (ids.isEmpty())
        return;
    m_added += ids;
    m_counts.added += int(ids.size());
    store();
    // They are written by now.
    noteLeft(ids);
}

void Operation::finish() {
    QVector<qint64> ids;
    ids.swap(m_pending);
    noteLeft(std::move(ids));
}

void Operation::noteLeft(QVector<qint64> ids) {
    if (m_outer)
        return m_outer->noteLeft(std::move(ids));
    if (!m_number || ids.isEmpty())
        return;
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    static const QByteArray select = [] {
        QStringList fields;
        for (const FieldMapEntry& field : kFieldMap)
            fields << Sqlite::quoted(QString::fromUtf8(field.column));
        return (QStringLiteral("SELECT \"ID\",") + fields.join(QLatin1Char(',')) +
                QStringLiteral(" FROM \"zl\" WHERE \"ID\" BETWEEN ? AND ? ORDER BY \"ID\""))
            .toUtf8();
    }();
    // Read in runs of consecutive IDs: an import's cards in one pass.
    Sqlite::Statement cards(m_db, select, failure);
    QVariantList notes; // op, ID and checksum, card after card
    const auto write = [&] {
        Sqlite::insertRows(
            m_db, "INSERT OR REPLACE INTO \"card_history_left\" (\"op\", \"ID\", \"sum\") VALUES",
            3, notes, failure);
        notes.clear();
    };
    auto note = [&](qint64 id, std::optional<qint32> sum) {
        notes << m_number << id << (sum ? QVariant(*sum) : QVariant());
        if (notes.size() >= 3 * 4096)
            write();
    };
    for (int i = 0; i < ids.size();) {
        int run = 1;
        while (i + run < ids.size() && ids[i + run] == ids[i] + run)
            ++run;
        qint64 next = ids[i];
        const qint64 last = ids[i] + run - 1;
        cards.set(1, next).set(2, last);
        while (cards.next()) {
            const qint64 id = cards.int64(0);
            for (; next < id; ++next)
                note(next, std::nullopt);
            Image image;
            image.exists = true;
            for (int f = 0; f < kFieldCount; ++f)
                image.card.values[std::size_t(f)] = cards.text(f + 1).toString();
            note(id, Format::sum(image));
            next = id + 1;
        }
        cards.rewind();
        for (; next <= last; ++next)
            note(next, std::nullopt);
        i += run;
    }
    write();
}

void Operation::setUndoes(qint64 number) {
    if (!m_outer)
        m_undoes = number;
}

qint64 Operation::number() const {
    return m_outer ? m_outer->number() : m_number;
}

const Operation::Counts& Operation::counts() const {
    return m_outer ? m_outer->counts() : m_counts;
}

void Operation::store() {
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    const QString description = m_describer ? m_describer(m_counts) : m_description;
    QByteArray added;
    if (!m_added.isEmpty())
        added = Format::encodeIds(m_added);
    const std::string_view addedBytes(added.constData(), std::size_t(added.size()));
    if (m_number) {
        Sqlite::Statement st(m_db,
                             "UPDATE \"card_history\" SET \"description\"=?, \"added\"=? "
                             "WHERE \"op\"=?",
                             failure);
        st.set(1, description);
        if (!added.isEmpty())
            st.set(2, addedBytes);
        st.set(3, m_number).run();
        if (sqlite3_changes(m_db) > 0)
            return;
        // Rolled back with the transaction that first recorded it: recorded afresh.
        m_number = 0;
    }
    const int rc = addTables(m_db);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(m_db, rc));
    trim(m_db);
    Sqlite::Statement st(m_db,
                         "INSERT INTO \"card_history\" (\"time\", \"description\", \"added\", "
                         "\"undoes\") VALUES (?, ?, ?, ?)",
                         failure);
    st.set(1, QDateTime::currentSecsSinceEpoch()).set(2, description);
    if (!added.isEmpty())
        st.set(3, addedBytes);
    if (m_undoes)
        st.set(4, m_undoes);
    st.run();
    m_number = sqlite3_last_insert_rowid(m_db);
}

void changing(sqlite3* db, qint64 id, bool deleting) {
    if (Operation* operation = Operation::current(db))
        operation->changing(id, deleting);
}

void added(sqlite3* db, const QVector<qint64>& ids) {
    if (Operation* operation = Operation::current(db))
        operation->added(ids);
}

Limits limits(sqlite3* db) {
    Limits result;
    if (!SideTable::exists(db, "card_history_settings"))
        return result;
    Sqlite::Statement st(db, "SELECT \"key\", \"value\" FROM \"card_history_settings\"",
                         Sqlite::fileFailure({}));
    while (st.next()) {
        bool ok = false;
        const int value = st.text(1).toString().toInt(&ok);
        if (!ok || value < 0)
            continue;
        // Only ever shorter than the default.
        if (st.text(0).toString() == QLatin1String("keep_days"))
            result.days = qMin(value, result.days);
        else if (st.text(0).toString() == QLatin1String("keep_count"))
            result.count = qMin(value, result.count);
    }
    return result;
}

void setLimits(sqlite3* db, const QString& file, const Limits& limits) {
    const Sqlite::Failure failure = Sqlite::fileFailure(file);
    Sqlite::Transaction transaction(db, failure);
    const int rc = addTables(db);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc, file));
    Sqlite::Statement st(db,
                         "INSERT OR REPLACE INTO \"card_history_settings\" (\"key\", \"value\") "
                         "VALUES (?, ?)",
                         failure);
    st.set(1, QStringLiteral("keep_days")).set(2, QString::number(qMax(0, limits.days))).run();
    st.set(1, QStringLiteral("keep_count")).set(2, QString::number(qMax(0, limits.count))).run();
    trim(db);
    transaction.commit();
}

void trim(sqlite3* db) {
    const Limits keep = limits(db);
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    Sqlite::Statement last(db, "SELECT max(\"op\") FROM \"card_history\"", failure);
    if (!last.next())
        return;
    // Everything up to `upTo` is both beyond the count and older than the days.
    qint64 upTo = last.int64(0) - keep.count;
    Sqlite::Statement recent(db,
                             "SELECT \"op\" FROM \"card_history\" WHERE \"time\">=? ORDER BY "
                             "\"time\", \"op\" LIMIT 1",
                             failure);
    recent.set(1, QDateTime::currentSecsSinceEpoch() - qint64(keep.days) * 86400);
    // No days: the count alone.
    if (keep.days > 0 && recent.next())
        upTo = qMin(upTo, recent.int64(0) - 1);
    if (upTo <= 0)
        return;
    Sqlite::Statement(db, "DELETE FROM \"card_history_rows\" WHERE \"op\"<=?", failure)
        .set(1, upTo)
        .run();
    Sqlite::Statement(db, "DELETE FROM \"card_history_left\" WHERE \"op\"<=?", failure)
        .set(1, upTo)
        .run();
    Sqlite::Statement(db, "DELETE FROM \"card_history\" WHERE \"op\"<=?", failure)
        .set(1, upTo)
        .run();
}

} // namespace History

namespace History {

void RowRecorder::before(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    Q_UNUSED(write);
    m_id = -1;
    if (table.compare(QLatin1String("zl"), Qt::CaseInsensitive) != 0)
        return;
    m_id = id;
    m_image = id ? imageOf(db, id) : Image();
}

void RowRecorder::after(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    if (table.compare(QLatin1String("zl"), Qt::CaseInsensitive) != 0)
        return;
    const bool deleting = write == RowWrite::Deleted;
    // Written without a word before it (another dataset's hook): a change of unknown origin.
    const bool known = m_id == id || (m_id == 0 && !deleting);
    const bool adding = known && m_id == 0;
    QString description;
    if (adding)
        description = (m_addVerb.isEmpty() ? QStringLiteral("添加") : m_addVerb) +
                      QLatin1Char(' ') + cardLabel(imageOf(db, id).card, id);
    else if (known)
        description = (deleting ? QStringLiteral("删除 %1") : QStringLiteral("修改 %1"))
                          .arg(cardLabel(m_image.card, id));
    m_id = -1;
    if (description.isEmpty())
        return;
    Operation operation(db, description);
    if (adding) {
        operation.added({id});
        if (!m_addVerb.isEmpty())
            m_addedWithVerb = id;
    } else {
        operation.keep(id, m_image, deleting);
    }
    operation.finish();
}

std::shared_ptr<RowRecorder> recordWrites(TADOQuery* dataset) {
    auto recorder = std::make_shared<RowRecorder>();
    auto written = dataset->WriteHook;
    dataset->BeforeWriteHook = [recorder](sqlite3* db, const QString& table, qint64 id,
                                          RowWrite write) {
        recorder->before(db, table, id, write);
    };
    dataset->WriteHook = [recorder, written](sqlite3* db, const QString& table, qint64 id,
                                             RowWrite write) {
        if (written)
            written(db, table, id, write);
        recorder->after(db, table, id, write);
    };
    return recorder;
}

} // namespace History

#include "merge.h"

#include "keys.h"
#include "normalize.h"

#include "data/cardpicture.h"
#include "data/cardstore.h"
#include "data/carduid.h"
#include "data/dberror.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "quickfind/cardindex.h"

#include <algorithm>

namespace Duplicates {

namespace {

void check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw EDatabaseError(Sqlite::errorText(db, rc));
}

bool isPhoneField(Field field) {
    return field == Field::WorkPhone || field == Field::Mobile || field == Field::HomePhone ||
           field == Field::Fax;
}

// What a value says, so that two ways of writing the same thing count as one.
QString meaning(Field field, const QString& value) {
    if (field == Field::Name)
        return nameKey(value);
    if (field == Field::Company)
        return companyKey(value);
    if (field == Field::Email)
        return emails(value).join(QLatin1Char(' '));
    if (isPhoneField(field)) {
        QStringList keys;
        for (const Phone& p : phones(value))
            keys << QString::fromStdString(p.key);
        if (!keys.isEmpty())
            return keys.join(QLatin1Char(' '));
    }
    return folded(value.trimmed());
}

class Savepoint {
public:
    explicit Savepoint(sqlite3* db)
        : m_db(db) {
        check(db, Sqlite::exec(db, "SAVEPOINT \"dup_merge\""));
    }
    ~Savepoint() {
        if (!m_done) {
            Sqlite::exec(m_db, "ROLLBACK TO \"dup_merge\"");
            Sqlite::exec(m_db, "RELEASE \"dup_merge\"");
        }
    }
    void release() {
        check(m_db, Sqlite::exec(m_db, "RELEASE \"dup_merge\""));
        m_done = true;
    }

private:
    sqlite3* m_db;
    bool m_done = false;
};

} // namespace

QString valueMeaning(Field field, const QString& value) {
    return meaning(field, value);
}

QVector<int> defaultChoices(const QVector<Card>& cards) {
    QVector<int> choices(int(Card().values.size()), -1);
    for (int f = 0; f < choices.size(); ++f) {
        // Later cards win ties: they are in ascending ID order.
        int& kept = choices[f];
        for (int c = 0; c < cards.size(); ++c) {
            const QString v = cards[c].values[std::size_t(f)].trimmed();
            if (v.isEmpty())
                continue;
            if (kept < 0 || v.size() >= cards[kept].values[std::size_t(f)].trimmed().size())
                kept = c;
        }
    }
    return choices;
}

Card mergedCard(const QVector<qint64>& ids, const QVector<Card>& cards) {
    Q_UNUSED(ids);
    return mergedCard(cards, defaultChoices(cards));
}

Card mergedCard(const QVector<Card>& cards, const QVector<int>& choices) {
    Card merged;
    QStringList notes;
    const int memo = indexOf(Field::Notes);
    for (int f = 0; f < int(merged.values.size()); ++f) {
        const int kept = choices.value(f, -1);
        const QString column = columnText(Field(f));
        QString value;
        if (kept >= 0 && kept < cards.size())
            value = cards[kept].values[std::size_t(f)];
        merged.values[std::size_t(f)] = value;
        QStringList seen;
        if (!value.trimmed().isEmpty())
            seen << (f == memo ? value.trimmed() : meaning(Field(f), value));
        for (int c = 0; c < cards.size(); ++c) {
            const QString other = cards[c].values[std::size_t(f)].trimmed();
            if (other.isEmpty() || c == kept)
                continue;
            const QString m = f == memo ? other : meaning(Field(f), other);
            if (seen.contains(m))
                continue;
            seen << m;
            notes << column + QStringLiteral(": ") + other;
        }
    }
    if (!notes.isEmpty()) {
        QString& text = merged.values[std::size_t(memo)];
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += notes.join(QLatin1Char('\n'));
    }
    return merged;
}

void mergeCards(sqlite3* db, QVector<qint64> ids) {
    mergeCards(db, std::move(ids), {});
}

void mergeCards(sqlite3* db, QVector<qint64> ids, const QVector<int>& choices) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (ids.size() < 2)
        return;
    Savepoint save(db);
    QStringList list;
    for (qint64 id : ids)
        list << QString::number(id);
    QVector<qint64> found;
    QVector<Card> cards;
    CardStore::forEachCard(db,
                           QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1) ORDER BY "
                                          "\"ID\"")
                               .arg(list.join(QLatin1Char(','))),
                           {}, [&](qint64 id, const Card& card) {
                               found.append(id);
                               cards.append(card);
                           });
    if (found != ids)
        throw EDatabaseError(QStringLiteral("要合并的名片有的已经不在了，没有合并。"
                                            "请重新查找重复名片。"));
    const Card merged = mergedCard(cards, choices.isEmpty() ? defaultChoices(cards) : choices);
    History::Operation operation(db, QStringLiteral("合并 %1 的 %2 张名片")
                                         .arg(History::cardLabel(merged, ids.first()))
                                         .arg(ids.size()));
    History::Image was{true, cards.first(), QString(), QString()};
    operation.keep(ids.first(), was);

    QStringList sets;
    for (const FieldMapEntry& field : kFieldMap)
        sets << Sqlite::quoted(QString::fromUtf8(field.column)) + QStringLiteral("=?");
    Sqlite::Statement update;
    check(db, update.prepare(db, (QStringLiteral("UPDATE \"zl\" SET ") +
                                  sets.join(QLatin1Char(',')) + QStringLiteral(" WHERE \"ID\"=?"))
                                     .toUtf8()));
    int p = 1;
    for (const QString& v : merged.values)
        check(db, update.bind(p++, v.isNull() ? QString(QLatin1String("")) : v));
    check(db, update.bind(p, ids.first()));
    check(db, update.step());
    CardIndex::cardWritten(db, ids.first(), merged);
    updateKeys(db, ids.first(), merged);

    Sqlite::Statement remove;
    check(db, remove.prepare(db, "DELETE FROM \"zl\" WHERE \"ID\"=?"));
    for (int i = 1; i < ids.size(); ++i) {
        operation.changing(ids[i], true);
        check(db, remove.bind(1, ids[i]));
        check(db, remove.step());
        remove.reset();
        CardIndex::cardDeleted(db, ids[i]);
        CardUid::cardDeleted(db, ids[i]);
        CardPicture::cardDeleted(db, ids[i]);
        removeKeys(db, ids[i]);
    }
    operation.finish();
    save.release();
}

QVector<Group> mergeAllCertain(sqlite3* db) {
    Savepoint save(db);
    History::Operation operation(db, QStringLiteral("合并全部有把握的重复名片"));
    QVector<Group> merged;
    for (const Group& g : findGroups(db)) {
        if (!g.certain)
            continue;
        mergeCards(db, g.ids);
        merged.append(g);
    }
    operation.setDescription(QStringLiteral("合并全部有把握的重复名片：%1 组").arg(merged.size()));
    operation.finish();
    save.release();
    return merged;
}

} // namespace Duplicates

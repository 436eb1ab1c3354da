#include "quickfindsupport.h"

#include "data/fieldmap.h"
#include "quickfind/cardtext.h"
#include "quickfind/finder.h"
#include "quickfind/quickfind.h"
#include "quickfind/spelling.h"

#include <QRandomGenerator>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>

namespace QuickFindTest {

Db::Db(const QString& file, Index index) {
    if (sqlite3_open_v2(file.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        qFatal("cannot open %s", qPrintable(file));
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    exec(QStringLiteral("PRAGMA trusted_schema=OFF"));
    if (index == KeepIndex)
        return;
    // As a file made before the quick find: new ones start with its tables.
    QStringList tables;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(m_db, "SELECT name FROM sqlite_master WHERE name LIKE 'quickfind%'", -1, &st,
                       nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    for (const QString& table : tables)
        exec(QStringLiteral("DROP TABLE \"%1\"").arg(table));
}

Db::~Db() {
    sqlite3_close(m_db);
}

void Db::exec(const QString& sql) {
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK)
        qFatal("%s: %s", qPrintable(sql), error);
}

qint64 Db::insert(const Card& card, qint64 id) {
    QString sql = QStringLiteral("INSERT INTO zl (\"ID\"");
    QString marks = QStringLiteral("?");
    for (const FieldMapEntry& e : kFieldMap) {
        sql += QStringLiteral(", \"%1\"").arg(QString::fromUtf8(e.column));
        marks += QStringLiteral(", ?");
    }
    sql += QStringLiteral(") VALUES (") + marks + QLatin1Char(')');
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr);
    if (id)
        sqlite3_bind_int64(st, 1, id);
    for (int i = 0; i < 24; ++i) {
        const QByteArray v = card.values[std::size_t(i)].toUtf8();
        sqlite3_bind_text(st, i + 2, v.constData(), int(v.size()), SQLITE_TRANSIENT);
    }
    if (sqlite3_step(st) != SQLITE_DONE)
        qFatal("insert: %s", sqlite3_errmsg(m_db));
    sqlite3_finalize(st);
    return sqlite3_last_insert_rowid(m_db);
}

QList<QPair<qint64, Card>> Db::cards() const {
    QList<QPair<qint64, Card>> all;
    sqlite3_stmt* st = nullptr;
    QString sql = QStringLiteral("SELECT \"ID\"");
    for (const FieldMapEntry& e : kFieldMap)
        sql += QStringLiteral(", \"%1\"").arg(QString::fromUtf8(e.column));
    sqlite3_prepare_v2(m_db, (sql + QStringLiteral(" FROM zl ORDER BY \"ID\"")).toUtf8(), -1, &st,
                       nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Card c;
        for (int i = 0; i < 24; ++i)
            c.values[std::size_t(i)] =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i + 1)),
                                  sqlite3_column_bytes(st, i + 1));
        all.append({sqlite3_column_int64(st, 0), c});
    }
    sqlite3_finalize(st);
    return all;
}

QString Db::text(const QString& sql) const {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr);
    QString t;
    if (sqlite3_step(st) == SQLITE_ROW)
        t = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return t;
}

qint64 Db::count(const QString& sql) const {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr);
    const qint64 n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
}

Card generated(Bench::CardGenerator& gen) {
    const auto& values = gen.next();
    Card c;
    for (int i = 0; i < Bench::kCardFields; ++i)
        c.setValue(QString::fromUtf8(Bench::cardColumns()[std::size_t(i)]),
                   QString::fromStdString(values[std::size_t(i)]));
    return c;
}

QVector<qint64> expected(const Db& db, const QString& text) {
    QVector<qint64> ids;
    for (const auto& [id, c] : db.cards()) {
        if (QuickFind::matches(c, text))
            ids << id;
    }
    return ids;
}

void fillSpread(Db& db, int count) {
    Bench::CardGenerator gen(7);
    db.exec(QStringLiteral("BEGIN"));
    db.insert(generated(gen), -5);
    db.insert(generated(gen), qint64(1) << 40);
    qint64 id = 1;
    for (int i = 0; i < count; ++i) {
        id += 1 + (i % 7 == 0 ? 400 : 0);
        db.insert(generated(gen), id);
    }
    db.exec(QStringLiteral("COMMIT"));
}

QStringList sampleWords(const Db& db, int count) {
    QRandomGenerator rng(12345);
    const auto all = db.cards();
    QStringList words;
    for (int i = 0; i < count; ++i) {
        const Card& c = all.at(int(rng.bounded(all.size()))).second;
        switch (rng.bounded(4)) {
        case 0: { // a piece of any column
            const QString v = c.values[std::size_t(rng.bounded(24))].simplified();
            if (v.isEmpty())
                continue;
            const int len = 1 + int(rng.bounded(7));
            const int at = int(rng.bounded(qMax(1, int(v.size()) - len + 1)));
            words << v.mid(at, len).split(QLatin1Char(' ')).first();
            break;
        }
        case 1: { // the start of a spelling of the name or company
            const QuickFind::Spellings s = rng.bounded(2)
                                               ? QuickFind::nameSpellings(c.values[0])
                                               : QuickFind::companySpellings(c.values[1]);
            const QStringList& list = rng.bounded(2) ? s.pinyin : s.initials;
            if (list.isEmpty())
                continue;
            const QString p = list.at(int(rng.bounded(list.size())));
            words << p.left(1 + int(rng.bounded(qMax(1, int(p.size())))));
            break;
        }
        case 2: { // phone digits
            const QStringList d = QuickFind::phoneDigits(c.value(QStringLiteral("手机")));
            if (d.isEmpty())
                continue;
            const int len = 1 + int(rng.bounded(9));
            words << d.first().mid(int(rng.bounded(qMax(1, int(d.first().size()) - len))), len);
            break;
        }
        default: // a pair of words from before
            if (words.size() >= 2)
                words << words.at(int(rng.bounded(words.size()))) + QLatin1Char(' ') +
                             words.at(int(rng.bounded(words.size())));
        }
    }
    words << QStringLiteral("张") << QStringLiteral("zs") << QStringLiteral("138")
          << QStringLiteral("科技") << QStringLiteral("信息技术") << QStringLiteral("有限公司")
          << QStringLiteral("股份有限公司") << QStringLiteral("zhangwei")
          << QStringLiteral("beijing") << QStringLiteral("hangzhoushi") << QStringLiteral("@qq.com")
          << QStringLiteral("13812345") << QStringLiteral("张 北京 138") << QStringLiteral("zzzz");
    return words;
}

void checkAgainstMatcher(const Db& db, const QStringList& words) {
    // The cards as the matcher sees them, once for all the words.
    QVector<qint64> ids;
    std::vector<QuickFind::CardText> texts;
    for (const auto& [id, c] : db.cards()) {
        ids << id;
        texts.emplace_back();
        texts.back().assign(c);
    }
    for (const QString& w : words) {
        const QVector<qint64> found = QuickFind::find(db, w);
        QVector<qint64> want;
        const std::vector<std::string> split = QuickFind::wordsOf(w);
        for (int i = 0; i < ids.size(); ++i) {
            if (std::all_of(split.begin(), split.end(), [&](const std::string& word) {
                    return texts[std::size_t(i)].matches(word);
                }))
                want << ids.at(i);
        }
        if (found != want)
            qWarning("\"%s\": found %lld, expected %lld", qPrintable(w), qint64(found.size()),
                     qint64(want.size()));
        QCOMPARE(found, want);
        // A few at a time, as a list takes them, with the index trusted and not.
        for (const bool verify : {false, true}) {
            QuickFind::Finder finder(db, w, verify);
            QVector<qint64> parts;
            qsizetype before = 0;
            while (finder.next(parts, 7)) {
                QVERIFY(parts.size() >= before + 7);
                before = parts.size();
            }
            QCOMPARE(parts, want);
        }
    }
}

QStringList tables(const Db& db) {
    QStringList sql;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT sql FROM sqlite_master WHERE name LIKE 'quickfind%' AND type = "
                       "'table' ORDER BY rowid",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW)
        sql << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return sql;
}

} // namespace QuickFindTest

// Building the quick find's index: the same index whatever the number of threads filing it,
// the same answers as a plain scan of the cards, and a file that survives a build killed
// halfway.
#include "quickfindsupport.h"
#include "testshards.h"
#include "testsupport.h"

#include "data/fieldmap.h"
#include "quickfind/builder.h"
#include "quickfind/cardtext.h"
#include "quickfind/quickfind.h"
#include "quickfind/spelling.h"
#include "quickfind/store.h"

#include <QRandomGenerator>
#include <QTest>

#include <sqlite3.h>

#include <array>
#include <csignal>
#include <map>
#include <set>
#include <tuple>

using namespace TestSupport;
using namespace QuickFindTest;

namespace {

using Keys = std::map<std::string, std::vector<std::uint32_t>>;

/// Every key of every chunk with the ranks of its cards, as the index tables hold them.
std::map<qint64, Keys> readIndex(sqlite3* db) {
    std::map<qint64, Keys> all;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT chunk, ids FROM quickfind_chunk ORDER BY chunk", -1, &st,
                       nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        const qint64 chunk = sqlite3_column_int64(st, 0);
        const std::string_view ids(static_cast<const char*>(sqlite3_column_blob(st, 1)),
                                   std::size_t(sqlite3_column_bytes(st, 1)));
        const auto universe = std::uint32_t(QuickFind::Store::decodeIds(ids).size());
        QuickFind::Store::ChunkScan scan(db, chunk, universe);
        std::string key;
        std::vector<std::uint32_t> ranks;
        Keys& keys = all[chunk];
        while (scan.next(key, ranks))
            keys[key] = ranks;
    }
    sqlite3_finalize(st);
    return all;
}

/// The same worked out card by card from the keys each card gives.
std::map<qint64, Keys> naiveIndex(const Db& db) {
    std::map<qint64, Keys> all;
    std::map<qint64, std::uint32_t> ranks;
    for (const auto& [id, card] : db.cards()) {
        const qint64 chunk = QuickFind::Store::chunkOf(id);
        const std::uint32_t rank = ranks[chunk]++;
        QuickFind::CardText text;
        text.assign(card);
        std::set<std::string> keys;
        text.forEachKey([&keys](const char* p, std::size_t n) { keys.emplace(p, n); });
        for (const std::string& k : keys)
            all[chunk][k].push_back(rank);
    }
    return all;
}

/// Builds the index with `workers` threads filing, as build() does with its own count.
void buildWith(Db& db, int workers) {
    QVERIFY(QuickFind::build(db, {}, workers));
}

/// Cards whose keys are mostly longer than a machine word: scripts outside the common blocks.
void addLongKeyCards(Db& db) {
    const QStringList names = {QStringLiteral("김민준"), QStringLiteral("Łukasz Żółć"),
                               QStringLiteral("やまだたろう"), QStringLiteral("Ñandú Ærø")};
    for (int i = 0; i < 300; ++i) {
        const QString name = names.at(i % names.size());
        db.insert(namedCard(name + QString::number(i % 7), QStringLiteral("서울㈜상사"),
                            {QStringLiteral("备注"), name + QStringLiteral(" 𠀀𠀁𠀂 ") + name}));
    }
}

} // namespace

class TestQuickFindBuild : public QObject {
    Q_OBJECT

private slots:
    // However many threads file the cards, every key holds exactly the cards that give it,
    // across chunk ends, in keys longer than a machine word and in keys every card has.
    void everyThreadCountFilesTheSameKeys() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 2500);
        db.exec(QStringLiteral("BEGIN"));
        addLongKeyCards(db);
        db.exec(QStringLiteral("COMMIT"));
        const std::map<qint64, Keys> want = naiveIndex(db);
        QVERIFY(want.size() >= 3);
        for (const int workers : {1, 2, 3}) {
            buildWith(db, workers);
            const std::map<qint64, Keys> got = readIndex(db);
            QCOMPARE(got.size(), want.size());
            for (const auto& [chunk, keys] : want) {
                const Keys& found = got.at(chunk);
                QCOMPARE(found.size(), keys.size());
                QVERIFY2(
                    found == keys,
                    qPrintable(QStringLiteral("chunk %1, %2 threads").arg(chunk).arg(workers)));
            }
        }
    }

    // The rows are written a slice at a time between runs of cards: one thread filing gives
    // exactly the rows of one encoder over each chunk's keys in order, none lost or repeated.
    void rowsAreWrittenInOrderAcrossSlices() {
        constexpr int kTarget = 922; // a file of 4 KB pages: many small rows
        Bench::CardGenerator gen(11);
        using Written = std::tuple<int, qint64, std::string, qint64, std::string>;
        std::vector<Written> got, want;
        QuickFind::Build::Pipeline pipeline(
            kTarget,
            [&got](const QuickFind::Store::Row* rows, std::size_t count) {
                for (std::size_t i = 0; i < count; ++i)
                    got.emplace_back(int(rows[i].table), rows[i].chunk, rows[i].key, rows[i].part,
                                     rows[i].data);
            },
            1);
        for (qint64 chunk = 0; chunk < 3; ++chunk) {
            std::vector<std::uint32_t> offsets;
            std::map<std::string, std::vector<std::uint32_t>> keys;
            for (std::uint32_t rank = 0; rank < 5000; ++rank) {
                offsets.push_back(rank * 13);
                const auto& card = gen.next();
                std::array<std::string_view, kFieldCount> columns;
                for (std::size_t f = 0; f < columns.size(); ++f)
                    columns[f] = card[f];
                pipeline.addCard(columns, rank);
                QuickFind::CardText text;
                text.assign(columns);
                text.forEachKey([&](const char* p, std::size_t n) {
                    std::vector<std::uint32_t>& ranks = keys[std::string(p, n)];
                    if (ranks.empty() || ranks.back() != rank)
                        ranks.push_back(rank);
                });
            }
            pipeline.endChunk(chunk, offsets);
            QuickFind::Store::ChunkEncoder encoder(kTarget);
            encoder.begin(chunk, offsets);
            for (const auto& [key, ranks] : keys)
                encoder.add(key, ranks);
            encoder.finish();
            for (const QuickFind::Store::Row& r : encoder.rows())
                want.emplace_back(int(r.table), r.chunk, r.key, r.part, r.data);
        }
        pipeline.writeRows(true);
        QVERIFY(want.size() > 3000); // megabytes of rows: many slices
        QCOMPARE(got.size(), want.size());
        QVERIFY(got == want);
    }

    // Words of Chinese text are found as a plain LIKE over the columns finds them: the index
    // may neither lose nor invent a card.
    void chineseWordsFindWhatLikeFinds() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 3000);
        QVERIFY(QuickFind::build(db));
        QRandomGenerator rng(2024);
        const auto all = db.cards();
        QStringList words = {QStringLiteral("张"),           QStringLiteral("有限公司"),
                             QStringLiteral("股份有限公司"), QStringLiteral("科技 北京"),
                             QStringLiteral("路"),           QStringLiteral("没有这样的词")};
        while (words.size() < 120) {
            const Card& c = all.at(int(rng.bounded(all.size()))).second;
            const QString v = c.values[std::size_t(rng.bounded(24))];
            const int len = 1 + int(rng.bounded(6));
            const QString w = v.mid(int(rng.bounded(qMax(1, int(v.size()) - len + 1))), len);
            if (!w.isEmpty() && std::all_of(w.begin(), w.end(), [](QChar ch) {
                    return ch.unicode() >= 0x4E00 && ch.unicode() <= 0x9FFF;
                }))
                words << w;
        }
        QStringList columns;
        for (const FieldMapEntry& e : kFieldMap)
            columns << QStringLiteral("\"%1\"").arg(QString::fromUtf8(e.column));
        const QString anyColumn = columns.join(QStringLiteral(" || char(1) || "));
        for (const QString& w : words) {
            QStringList likes;
            for (const QString& part : w.split(QLatin1Char(' ')))
                likes << QStringLiteral("(%1) LIKE '%%2%'").arg(anyColumn, part);
            QVector<qint64> want;
            sqlite3_stmt* st = nullptr;
            const QString sql = QStringLiteral("SELECT ID FROM zl WHERE %1 ORDER BY ID")
                                    .arg(likes.join(QStringLiteral(" AND ")));
            QCOMPARE(sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr), SQLITE_OK);
            while (sqlite3_step(st) == SQLITE_ROW)
                want << sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
            QVERIFY2(QuickFind::find(db, w) == want, qPrintable(w));
        }
    }

    // Characters at the edges of the common ideographs, and just outside them (punctuation,
    // the rarer blocks, other scripts, a blank of their own), are found in the index exactly
    // where the card-by-card matcher finds them, alone and beside their neighbours.
    void charactersAtBlockEdgesAreFound() {
        ProgramFolder folder;
        Db db(folder.database());
        const QStringList texts = {
            QStringLiteral("〇号楼"),     QStringLiteral("㐀㐁路"),   QStringLiteral("鿿鿾站"),
            QStringLiteral("一丁大厦"),   QStringLiteral("ꀀꀁ"),     QStringLiteral("가나다"),
            QStringLiteral("《科》、。"), QStringLiteral("𠀀𠀁公司"), QStringLiteral("Ünïcode"),
            QStringLiteral("甲　乙"),     QStringLiteral("㿿䀀交界")};
        for (int i = 0; i < texts.size(); ++i)
            db.insert(namedCard(QStringLiteral("名%1").arg(i), texts.at(i), {}));
        QVERIFY(QuickFind::build(db));
        for (const QString& t : texts) {
            for (int from = 0; from < t.size(); ++from) {
                for (int len = 1; from + len <= t.size() && len <= 3; ++len) {
                    const QString w = t.mid(from, len);
                    if (w.trimmed().isEmpty() || w.at(0).isLowSurrogate() ||
                        w.back().isHighSurrogate())
                        continue;
                    const QVector<qint64> found = QuickFind::find(db, w);
                    QVERIFY2(!found.isEmpty(), qPrintable(w));
                    QVERIFY2(found == QuickFind::scan(db, w), qPrintable(w));
                }
            }
        }
    }

    // A phone number written in groups is found through the index by any run of its digits,
    // within a group or across the marks between them, as the card-by-card matcher finds it.
    void phoneDigitsAcrossGroupsAreFound() {
        ProgramFolder folder;
        Db db(folder.database());
        const QStringList ways = {
            QStringLiteral("138 1234 5678"),          QStringLiteral("+86-138-1234-5678"),
            QStringLiteral("(138)1234-5678"),         QStringLiteral("１３８－１２３４－５６７８"),
            QStringLiteral("(010)6234-5678 转 8001"), QStringLiteral("0571-4529 2139")};
        const QStringList columns = {QStringLiteral("手机"), QStringLiteral("工作电话"),
                                     QStringLiteral("传真")};
        for (int i = 0; i < ways.size(); ++i)
            db.insert(namedCard(QStringLiteral("王%1").arg(i), QString(),
                                {columns.at(i % columns.size()), ways.at(i)}));
        QVERIFY(QuickFind::build(db));
        for (const QString& way : ways) {
            for (const QString& digits : QuickFind::phoneDigits(way)) {
                for (int from = 0; from < digits.size(); ++from) {
                    for (int len = 1; len <= 7 && from + len <= digits.size(); ++len) {
                        const QString w = digits.mid(from, len);
                        const QVector<qint64> found = QuickFind::find(db, w);
                        QVERIFY2(!found.isEmpty(), qPrintable(w));
                        QVERIFY2(found == QuickFind::scan(db, w), qPrintable(w));
                    }
                }
            }
        }
    }

    // Killed while building (the machine off, the process ended): the file opens whole, the
    // index is built again and finds every card.
    void killedBuildIsBuiltAgain() {
        ProgramFolder folder;
        {
            Db db(folder.database());
            fillSpread(db, 4000);
        }
        const QString said = inChild([&] {
            Db db(folder.database());
            // Few pages in memory, so that much of the half-built index is in the file.
            db.exec(QStringLiteral("PRAGMA cache_size=4"));
            QuickFind::build(db, [](qint64 done, qint64 total) {
                if (done > total / 2)
                    ::raise(SIGKILL);
                return true;
            });
            return QStringLiteral("built");
        });
        QCOMPARE(said, QString()); // it never finished
        QCOMPARE(query(folder.database(), QStringLiteral("PRAGMA integrity_check")),
                 QStringList{QStringLiteral("ok")});
        Db db(folder.database(), Db::KeepIndex);
        QVERIFY(!QuickFind::isBuilt(db));
        QVERIFY(QuickFind::ensureReady(db));
        QVERIFY(QuickFind::isBuilt(db));
        checkAgainstMatcher(db, sampleWords(db, 150));
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestQuickFindBuild, QCoreApplication)
#include "tst_quickfind_build.moc"

// Quick find: the index in the file agreeing with the matching rule through building,
// changes, repairs and cancelling.
#include "quickfindsupport.h"
#include "testshards.h"
#include "testsupport.h"

#include "data/dberror.h"
#include "data/fieldmap.h"
#include "quickfind/cardtext.h"
#include "quickfind/finder.h"
#include "quickfind/postings.h"
#include "quickfind/quickfind.h"
#include "quickfind/spelling.h"
#include "testcards.h"

#include <QRandomGenerator>
#include <QTest>

#include <sqlite3.h>

#include <algorithm>
#include <memory>

using namespace TestSupport;
using namespace QuickFindTest;

class TestQuickFind : public QObject {
    Q_OBJECT

private slots:
    void postingsRoundTrip() {
        QRandomGenerator rng(99);
        for (const std::uint32_t universe : {1u, 7u, 64u, 1000u, 65536u}) {
            for (const double density : {0.0, 0.001, 0.05, 0.4, 0.8, 0.999, 1.0}) {
                std::vector<std::uint32_t> values;
                for (std::uint32_t v = 0; v < universe; ++v) {
                    if (rng.generateDouble() < density)
                        values.push_back(v);
                }
                std::string packed;
                QuickFind::Postings::encode(values.data(), values.size(), universe, packed);
                std::vector<std::uint32_t> back;
                QVERIFY(QuickFind::Postings::decode(
                    reinterpret_cast<const unsigned char*>(packed.data()), packed.size(), universe,
                    back));
                QCOMPARE(back, values);
                // Dense sets cost no more than a bit a card, sparse ones little more than their
                // gaps.
                QVERIFY(packed.size() <= universe / 8 + 16);
            }
        }
        // Malformed input is refused, not read past its end.
        const unsigned char bad[] = {0x05, 0xFF};
        std::vector<std::uint32_t> out;
        QVERIFY(!QuickFind::Postings::decode(bad, sizeof bad, 100, out));
    }

    void newDatabaseStartsWithItsIndex() {
        ProgramFolder folder;
        sqlite3* raw = nullptr;
        QCOMPARE(sqlite3_open_v2(folder.database().toUtf8().constData(), &raw,
                                 SQLITE_OPEN_READWRITE, nullptr),
                 SQLITE_OK);
        QVERIFY(QuickFind::isBuilt(raw));
        sqlite3_close(raw);
    }

    void readyBuildsOnceThenRepairs() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 1500);
        QVERIFY(!QuickFind::isBuilt(db));
        // A cancelled build leaves no index behind, and says it was cancelled.
        QVERIFY(!QuickFind::ensureReady(db, [](qint64, qint64) { return false; }));
        QVERIFY(!QuickFind::isBuilt(db));
        qint64 total = -1;
        auto told = [&total](qint64, qint64 cards) {
            total = cards;
            return true;
        };
        QVERIFY(QuickFind::ensureReady(db, told));
        QCOMPARE(total, db.count(QStringLiteral("SELECT count(*) FROM zl")));
        QVERIFY(QuickFind::isBuilt(db));
        // Built once: a card written behind the index's back comes in by a repair, no build.
        const qint64 id =
            db.insert(namedCard(QStringLiteral("单田芳"), QStringLiteral("某某公司"), {}));
        total = -1;
        QVERIFY(QuickFind::ensureReady(db, told));
        QCOMPARE(total, qint64(-1));
        QVERIFY(QuickFind::find(db, QStringLiteral("单田芳")).contains(id));
    }

    void indexAgreesWithMatcher() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 3000);
        QVERIFY(!QuickFind::isBuilt(db));
        const QStringList words = sampleWords(db, 300);
        // Before the index exists, find reads every card.
        checkAgainstMatcher(db, words.mid(0, 20));
        QVERIFY(QuickFind::build(db));
        QVERIFY(QuickFind::isBuilt(db));
        checkAgainstMatcher(db, words);
        QCOMPARE(qint64(QuickFind::find(db, QString()).size()),
                 db.count(QStringLiteral("SELECT count(*) FROM zl")));
    }

    void unusualText() {
        ProgramFolder folder;
        Db db(folder.database());
        QVERIFY(QuickFind::build(db)); // no cards yet
        QVERIFY(QuickFind::find(db, QStringLiteral("张")).isEmpty());

        // A note long enough for thousands of keys, characters beyond the common blocks
        // (𠀀𠀁 are ideographs of a later block, 😀 is no letter), accents, full-width marks.
        QString note;
        for (int i = 0; i < 400; ++i)
            note += QStringLiteral("第%1次拜访，谈了合作方案；").arg(i * 7919 % 10007);
        const QStringList more = {
            QStringLiteral("备注"),   note + QStringLiteral("𠀀𠀁𠀂𠀃𠀄"),
            QStringLiteral("MSN"),    QStringLiteral("😀smile😀"),
            QStringLiteral("E-mail"), QStringLiteral("José.Müller@Example.ＣＯＭ")};
        db.exec(QStringLiteral("BEGIN"));
        const qint64 id =
            db.insert(namedCard(QStringLiteral("José"), QStringLiteral("Café Ünïcode"), more));
        Bench::CardGenerator gen(5);
        for (int i = 0; i < 300; ++i)
            db.insert(generated(gen));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::build(db));
        const QStringList words = {QStringLiteral("第7919次"),    QStringLiteral("第0次拜访"),
                                   QStringLiteral("𠀁𠀂"),        QStringLiteral("𠀀𠀁𠀂𠀃𠀄"),
                                   QStringLiteral("😀s"),          QStringLiteral("josé.müller"),
                                   QStringLiteral("example.com"), QStringLiteral("josé"),
                                   QStringLiteral("café ü"),      QStringLiteral("合作方案；第")};
        for (const QString& w : words)
            QVERIFY2(QuickFind::find(db, w).contains(id), qPrintable(w));
        // Accents are kept: "cafe" is not "café".
        QVERIFY(!QuickFind::find(db, QStringLiteral("cafe")).contains(id));
        checkAgainstMatcher(db, words + sampleWords(db, 40) + QStringList{QStringLiteral("cafe")});
    }

    void changesKeepTheIndexRight() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 2000);
        QVERIFY(QuickFind::build(db));
        const QStringList words = sampleWords(db, 80);

        // Add, change and delete through the index, in the writer's transaction.
        db.exec(QStringLiteral("BEGIN"));
        const Card added =
            namedCard(QStringLiteral("单田芳"), QStringLiteral("北京某某科技有限公司"),
                      {QStringLiteral("手机"), QStringLiteral("+86 139 0000 1111")});
        const qint64 id = db.insert(added);
        QuickFind::updateCard(db, id, added);
        db.exec(QStringLiteral("COMMIT"));
        QCOMPARE(QuickFind::find(db, QStringLiteral("shantianfang")), QVector<qint64>{id});
        QVERIFY(QuickFind::find(db, QStringLiteral("13900001111")).contains(id));

        // Changed before the write to zl: the index takes the card as given.
        const Card changed = namedCard(QStringLiteral("曾国藩"), QStringLiteral("湘军"));
        db.exec(QStringLiteral("BEGIN"));
        QuickFind::updateCard(db, id, changed);
        db.exec(
            QStringLiteral("UPDATE zl SET \"姓名\" = '曾国藩', \"单位\" = '湘军', \"手机\" = '' "
                           "WHERE \"ID\" = %1")
                .arg(id));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::find(db, QStringLiteral("shantianfang")).isEmpty());
        QCOMPARE(QuickFind::find(db, QStringLiteral("zgf xiangjun")), QVector<qint64>{id});

        const qint64 victim = db.cards().at(100).first;
        db.exec(QStringLiteral("BEGIN"));
        db.exec(QStringLiteral("DELETE FROM zl WHERE \"ID\" = %1").arg(victim));
        QuickFind::removeCard(db, victim);
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(!QuickFind::find(db, QString()).contains(victim));
        checkAgainstMatcher(db, words);
        QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM quickfind_dirty")) > 0);

        // Enough changes fold into the chunks they belong to; the list of changes empties.
        Bench::CardGenerator gen(3);
        db.exec(QStringLiteral("BEGIN"));
        const auto existing = db.cards();
        for (int i = 0; i < 300; ++i) { // changes spread over every chunk
            const qint64 target = existing.at(i * 6).first;
            const Card c = generated(gen);
            QStringList sets;
            for (int f = 0; f < 24; ++f)
                sets << QStringLiteral("\"%1\" = '%2'")
                            .arg(QString::fromUtf8(kFieldMap[std::size_t(f)].column),
                                 c.values[std::size_t(f)]);
            db.exec(QStringLiteral("UPDATE zl SET %1 WHERE \"ID\" = %2")
                        .arg(sets.join(", "))
                        .arg(target));
            QuickFind::updateCard(db, target, c);
        }
        for (int i = 0; i < 300; ++i) {
            const Card c = generated(gen);
            QuickFind::updateCard(db, db.insert(c), c);
        }
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM quickfind_dirty")) < 512);
        checkAgainstMatcher(db, words);
        checkAgainstMatcher(db, sampleWords(db, 60));
    }

    // An import tells the index of all its cards at once: few go the card-by-card way, many
    // refile their chunks (here one with older cards and changes pending, one far away, and
    // gaps between older cards); the index agrees with the cards either way, and a cancel
    // leaves it as it was.
    void manyCardsAddedAtOnce() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 2000);
        QVERIFY(QuickFind::build(db));
        const auto before = db.cards();
        // Pending changes in the chunks about to be refiled and elsewhere.
        db.exec(QStringLiteral("BEGIN"));
        for (const int at : {3, 900, 1990}) {
            const qint64 id = before.at(at).first;
            const Card c = namedCard(QStringLiteral("单田芳%1").arg(at), QStringLiteral("湘军"));
            db.exec(QStringLiteral("UPDATE zl SET \"姓名\" = '%1', \"单位\" = '湘军' "
                                   "WHERE \"ID\" = %2")
                        .arg(c.values[0])
                        .arg(id));
            QuickFind::updateCard(db, id, c);
        }
        db.exec(QStringLiteral("COMMIT"));

        Bench::CardGenerator gen(11);
        auto addSome = [&](int count, bool inGaps) {
            QVector<qint64> ids;
            qint64 gap = before.at(1).first + 2;
            for (int i = 0; i < count; ++i) {
                if (inGaps && i % 2 == 0) {
                    while (
                        db.count(QStringLiteral("SELECT count(*) FROM zl WHERE ID = %1").arg(gap)) >
                        0)
                        ++gap;
                    ids << db.insert(generated(gen), gap);
                } else {
                    ids << db.insert(generated(gen));
                }
            }
            return ids;
        };
        db.exec(QStringLiteral("BEGIN"));
        QVERIFY(QuickFind::cardsAdded(db, addSome(20, false), {}));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM quickfind_dirty")) >= 20);

        db.exec(QStringLiteral("BEGIN"));
        QVERIFY(QuickFind::cardsAdded(db, addSome(1500, true), {}));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(db.count(QStringLiteral("SELECT count(*) FROM quickfind_dirty")) < 20);
        const QStringList words = sampleWords(db, 120)
                                  << QStringLiteral("shantianfang") << QStringLiteral("xiangjun");
        checkAgainstMatcher(db, words);

        db.exec(QStringLiteral("BEGIN"));
        int asked = 0;
        QVERIFY(!QuickFind::cardsAdded(db, addSome(3000, false), [&] { return ++asked < 2; }));
        db.exec(QStringLiteral("ROLLBACK"));
        QCOMPARE(asked, 2);
        checkAgainstMatcher(db, words);
        QCOMPARE(db.count(QStringLiteral("SELECT count(*) FROM zl")), qint64(before.size() + 1520));
    }

    // The list takes the matches a part at a time: a short list comes whole with the name
    // matches first, a long one in ID order; the card being modified is listed either way.
    void listingRanksShortListsAndKeepsTheEditedCard() {
        ProgramFolder folder;
        Db db(folder.database());
        db.exec(QStringLiteral("BEGIN"));
        const qint64 named = db.insert(namedCard(QStringLiteral("科技"), QStringLiteral("湘军")));
        // "wang": names and companies mixed; "科技": more than can be ranked.
        for (int i = 0; i < QuickFind::kRankedAtMost + 100; ++i)
            db.insert(
                i >= 4000
                    ? namedCard(QStringLiteral("赵%1").arg(i), QStringLiteral("某某科技有限公司"))
                : i % 4 == 0
                    ? namedCard(QStringLiteral("李%1").arg(i), QStringLiteral("王府井科技有限公司"))
                    : namedCard(QStringLiteral("王%1").arg(i), QStringLiteral("某某科技有限公司")));
        const qint64 other = db.insert(namedCard(QStringLiteral("李四"), QStringLiteral("湘军")));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::build(db));

        // One at a time, as slowly as a list can ask.
        const auto whole = [](QuickFind::Listing& listing) {
            QVector<qint64> ids;
            while (listing.next(ids, 1)) {
            }
            return ids;
        };
        QuickFind::Listing few(db, QStringLiteral("湘军"), false, 0);
        QCOMPARE(whole(few), (QVector<qint64>{named, other}));
        QuickFind::Listing ranked(db, QStringLiteral("李四 湘军"), false, named);
        QCOMPARE(whole(ranked), (QVector<qint64>{other, named}));
        QuickFind::Listing spelled(db, QStringLiteral("wang"), false, named);
        QVector<qint64> want = QuickFind::find(db, QStringLiteral("wang"));
        QCOMPARE(want.size(), 4000);
        want.prepend(named);
        QCOMPARE(whole(spelled), QuickFind::nameMatchesFirst(db, QStringLiteral("wang"), want));

        // Many: more than can be ranked come in ID order a part at a time, the first part
        // without the others being looked for; the kept card in place.
        QuickFind::Listing many(db, QStringLiteral("科技"), false, other);
        QVector<qint64> ids;
        QVERIFY(many.next(ids, 1));
        QVERIFY(!ids.isEmpty() && ids.size() < 100);
        while (many.next(ids, 10)) {
        }
        want = QuickFind::find(db, QStringLiteral("科技"));
        QCOMPARE(want.size(), QuickFind::kRankedAtMost + 101);
        want << other;
        QCOMPARE(ids, want);
    }

    // A short list is ranked while its matches are found: asked for a few at a time,
    // with the card being modified and names another program changed since, it gives what
    // ranking the whole list gives.
    void shortListsRankedWhileFoundKeepTheirOrder() {
        ProgramFolder folder;
        Db db(folder.database());
        db.exec(QStringLiteral("BEGIN"));
        QVector<qint64> ids;
        for (int i = 0; i < 400; ++i) {
            const QString n = QString::number(i);
            // Names that match, companies that match, both, and neither.
            static const char* const kKinds[][2] = {{"顾芬", "某某科技有限公司"},
                                                    {"王", "北京股份有限公司"},
                                                    {"股份有限公司代表", "某某"},
                                                    {"李", "谷芬商店"},
                                                    {"赵", "某某"}};
            const auto& kind = kKinds[i % 5];
            ids << db.insert(namedCard(QString::fromUtf8(kind[0]) + n, QString::fromUtf8(kind[1])));
        }
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::build(db));
        const auto check = [&](bool verify, qint64 keep, const QStringList& texts) {
            for (const QString& text : texts) {
                QVector<qint64> want = expected(db, text);
                if (keep != 0 && !want.contains(keep))
                    want.insert(std::lower_bound(want.begin(), want.end(), keep), keep);
                want = QuickFind::nameMatchesFirst(db, text, want);
                for (const qsizetype part : {1, 7, 64, 1000}) {
                    QuickFind::Listing listing(db, text, verify, keep);
                    QVector<qint64> got;
                    while (listing.next(got, part)) {
                    }
                    QCOMPARE(got, want);
                }
            }
        };
        const QStringList texts = {QStringLiteral("股份有限公司"), QStringLiteral("gufen"),
                                   QStringLiteral("股份有限公司 gufen"),
                                   QStringLiteral("gufen 股份有限公司")};
        check(false, 0, texts);
        check(false, ids[4], texts);
        // Another program turns name matches into company matches and back. (A name holding
        // 股份 is also spelled gufen: that text is left out where it would newly match.)
        db.exec(QStringLiteral("UPDATE zl SET 姓名 = '李某' WHERE ID = %1").arg(ids[2]));
        db.exec(QStringLiteral("UPDATE zl SET 姓名 = '顾芬' WHERE ID = %1").arg(ids[3]));
        check(true, 0, texts);
        check(true, ids[9], texts);
        db.exec(QStringLiteral("UPDATE zl SET 姓名 = '股份有限公司张' WHERE ID = %1").arg(ids[1]));
        check(true, ids[9], {QStringLiteral("股份有限公司")});
    }

    // A short list ranks a name spelled from a later syllable, or by a compound surname's
    // own reading, before the companies found earlier.
    void rankingSpellsTheNamesItMust() {
        ProgramFolder folder;
        Db db(folder.database());
        db.exec(QStringLiteral("BEGIN"));
        const qint64 sanya =
            db.insert(namedCard(QStringLiteral("李四"), QStringLiteral("三亚旅游公司")));
        const qint64 yuchiCompany =
            db.insert(namedCard(QStringLiteral("王五"), QStringLiteral("玉池科技有限公司")));
        const qint64 zhangsan =
            db.insert(namedCard(QStringLiteral("张三"), QStringLiteral("某某")));
        const qint64 yuchi = db.insert(namedCard(QStringLiteral("尉迟恭"), QStringLiteral("某某")));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::build(db));
        const auto listed = [&db](const QString& text) {
            QuickFind::Listing listing(db, text, false, 0);
            QVector<qint64> ids;
            while (listing.next(ids, 1)) {
            }
            return ids;
        };
        QCOMPARE(listed(QStringLiteral("san")), (QVector<qint64>{zhangsan, sanya}));
        QCOMPARE(listed(QStringLiteral("yuchi")), (QVector<qint64>{yuchi, yuchiCompany}));
        QCOMPARE(listed(QStringLiteral("ycg")), (QVector<qint64>{yuchi}));
    }

    // The next key stops a list still being read by interrupting its connection: the
    // listing must still end its read, or every later write to the file waits and fails.
    void anInterruptedListingLetsTheFileBeWritten() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 1500);
        QVERIFY(QuickFind::build(db));
        sqlite3* reader = nullptr;
        QCOMPARE(sqlite3_open_v2(folder.database().toUtf8().constData(), &reader,
                                 SQLITE_OPEN_READONLY, nullptr),
                 SQLITE_OK);
        sqlite3_busy_timeout(db, 0);
        // A long plain list and a short ranked one, each stopped after its first match.
        for (const QString& text : {QStringLiteral("张"), QStringLiteral("zs")}) {
            const QVector<qint64> want = QuickFind::find(db, text);
            QVERIFY(want.size() > 1);
            {
                QuickFind::Listing listing(reader, text, false, 0);
                QVector<qint64> ids;
                QVERIFY(listing.next(ids, 1));
                sqlite3_interrupt(reader);
            }
            QVERIFY(sqlite3_get_autocommit(reader));
            char* error = nullptr;
            QVERIFY2(sqlite3_exec(db,
                                  "UPDATE zl SET 备注 = '改过' WHERE ID = (SELECT min(ID) FROM zl)",
                                  nullptr, nullptr, &error) == SQLITE_OK,
                     error);
            // The connection reads on as before.
            QuickFind::Listing again(reader, text, false, 0);
            QVector<qint64> ids;
            while (again.next(ids, 64)) {
            }
            std::sort(ids.begin(), ids.end());
            QCOMPARE(ids, want);
        }
        sqlite3_close(reader);
    }

    // Before the check at opening has answered, a find reads what the index cannot vouch
    // for: cards another program added, changed or deleted since are listed as they are now.
    void aVerifyingListingSeesWhatTheIndexMissed() {
        ProgramFolder folder;
        Db db(folder.database());
        const qint64 kept =
            db.insert(namedCard(QStringLiteral("张伟"), QStringLiteral("北京某某")));
        const qint64 renamed =
            db.insert(namedCard(QStringLiteral("张强"), QStringLiteral("上海某某")));
        const qint64 gone =
            db.insert(namedCard(QStringLiteral("张丽"), QStringLiteral("广州某某")));
        QVERIFY(QuickFind::build(db));
        db.exec(QStringLiteral("UPDATE zl SET 姓名 = '李强' WHERE ID = %1").arg(renamed));
        db.exec(QStringLiteral("DELETE FROM zl WHERE ID = %1").arg(gone));
        const qint64 added =
            db.insert(namedCard(QStringLiteral("张敏"), QStringLiteral("深圳某某")));
        QuickFind::Listing listing(db, QStringLiteral("张"), true, 0);
        QVector<qint64> ids;
        while (listing.next(ids, 1)) {
        }
        QCOMPARE(ids, (QVector<qint64>{kept, added}));
    }

    void staleIndexIsRepaired() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 1500);
        QVERIFY(QuickFind::build(db));
        QVERIFY(!QuickFind::repair(db)); // nothing to do

        // Another program adds and deletes cards, knowing nothing of the index.
        Bench::CardGenerator gen(11);
        db.exec(QStringLiteral("BEGIN"));
        for (int i = 0; i < 40; ++i)
            db.insert(generated(gen));
        db.insert(namedCard(QStringLiteral("覃晓"), QStringLiteral("外来公司")));
        db.exec(QStringLiteral("DELETE FROM zl WHERE \"ID\" IN (SELECT \"ID\" FROM zl "
                               "ORDER BY \"ID\" LIMIT 30 OFFSET 200)"));
        db.exec(QStringLiteral("COMMIT"));
        QVERIFY(QuickFind::find(db, QStringLiteral("qinxiao")).isEmpty()); // stale

        QVERIFY(QuickFind::repair(db));
        QCOMPARE(QuickFind::find(db, QStringLiteral("qinxiao")).size(), 1);
        checkAgainstMatcher(db, sampleWords(db, 80));
        QVERIFY(!QuickFind::repair(db));

        // Most cards replaced behind its back: built again.
        db.exec(QStringLiteral("DELETE FROM zl WHERE \"ID\" % 2 = 0"));
        QVERIFY(QuickFind::repair(db));
        QCOMPARE(db.count(QStringLiteral("SELECT count(*) FROM quickfind_dirty")), 0);
        checkAgainstMatcher(db, sampleWords(db, 40));
    }

    void olderFileGetsItsTables() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 300);
        const QString before =
            db.text(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_master"));
        QVERIFY(tables(db).isEmpty());
        QVERIFY(!QuickFind::isBuilt(db));
        qint64 lastDone = -1, total = -1;
        QVERIFY(QuickFind::build(db, [&](qint64 done, qint64 all) {
            lastDone = done;
            total = all;
            return true;
        }));
        QCOMPARE(total, db.count(QStringLiteral("SELECT count(*) FROM zl")));
        QCOMPARE(lastDone, total);
        QCOMPARE(tables(db), QuickFind::schemaStatements());
        // Nothing else of ours in the file, no automatic index either.
        QCOMPARE(db.count(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name LIKE "
                                         "'%quickfind%'")),
                 qint64(QuickFind::schemaStatements().size()));
        QCOMPARE(db.text(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        // zl, yh and everything else of the file are as they were.
        QVERIFY(db.text(QStringLiteral("SELECT group_concat(sql, ';') FROM sqlite_master"))
                    .startsWith(before));
    }

    void cancelledBuildLeavesNothing() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 2500);
        QVERIFY(!QuickFind::build(db, [](qint64 done, qint64) { return done < 2000; }));
        QVERIFY(!QuickFind::isBuilt(db));
        QVERIFY(tables(db).isEmpty());
        // An index from before stays when building again is cancelled.
        QVERIFY(QuickFind::build(db));
        QVERIFY(!QuickFind::build(db, [](qint64 done, qint64) { return done == 0; }));
        QVERIFY(QuickFind::isBuilt(db));
        QCOMPARE(QuickFind::find(db, QStringLiteral("张")), expected(db, QStringLiteral("张")));
    }

    void changesBeforeBuildingAreHarmless() {
        ProgramFolder folder;
        Db db(folder.database());
        const Card c = namedCard(QStringLiteral("张三"));
        QuickFind::updateCard(db, db.insert(c), c);
        QuickFind::removeCard(db, 99);
        QVERIFY(tables(db).isEmpty());
        QCOMPARE(QuickFind::find(db, QStringLiteral("zs")).size(), 1);
    }

    void damagedIndexSaysSo() {
        ProgramFolder folder;
        Db db(folder.database());
        fillSpread(db, 200);
        QVERIFY(QuickFind::build(db));
        db.exec(QStringLiteral("UPDATE quickfind_block SET data = x'0102'"));
        bool thrown = false;
        try {
            QuickFind::find(db, QStringLiteral("张"));
        } catch (const EDatabaseError& e) {
            thrown = e.message().contains(QStringLiteral("损坏"));
        }
        QVERIFY(thrown);
        QVERIFY(QuickFind::build(db)); // and building again mends it
        QCOMPARE(QuickFind::find(db, QStringLiteral("张")), expected(db, QStringLiteral("张")));
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestQuickFind, QCoreApplication)
#include "tst_quickfind.moc"

// Cards that are one person's, as a user would say so, and the traps that are two people.
#include "testsupport.h"

#include "data/backup.h"
#include "data/cardstore.h"
#include "data/carduid.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/sqlite.h"
#include "duplicates/finder.h"
#include "duplicates/keys.h"
#include "duplicates/merge.h"
#include "quickfind/quickfind.h"

#include <QProcess>

#include <QTest>
#include <csignal>

using Duplicates::Link;

namespace {

// A card from "column=value" pairs.
Card card(std::initializer_list<std::pair<const char*, const char*>> fields) {
    Card c;
    for (const auto& [column, value] : fields)
        c.setValue(QString::fromUtf8(column), QString::fromUtf8(value));
    return c;
}

Link linkOf(const Card& a, const Card& b) {
    return Duplicates::linkOf(Duplicates::profileOf(a), Duplicates::profileOf(b));
}

QString key(const QString& phone, const QString& extension = QString()) {
    const auto found = Duplicates::phones(phone, extension);
    return found.size() == 1 ? QString::fromStdString(found[0].key) : QStringLiteral("?");
}

QStringList lines(const QVector<Duplicates::Group>& groups) {
    QStringList out;
    for (const auto& g : groups) {
        QStringList ids;
        for (qint64 id : g.ids)
            ids << QString::number(id);
        out << ids.join(' ') + (g.certain ? "" : " ?");
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Card)

class TestDuplicates : public QObject {
    Q_OBJECT

private slots:
    void phonesWrittenAnyWayAreOneNumber() {
        const QString mobile = key("13812345678");
        QCOMPARE(mobile, QStringLiteral("+8613812345678"));
        for (const char* form : {"+86 138-1234-5678", "0086 138 1234 5678", "(138) 1234 5678",
                                 "１３８１２３４５６７８", "+86(138)12345678"})
            QCOMPARE(key(QString::fromUtf8(form)), mobile);
        QVERIFY(Duplicates::phones("138-1234-5678")[0].mobile);

        // A landline with or without its trunk 0 or the country.
        const QString office = key("010-6552 1234");
        QCOMPARE(key("+86 10 6552 1234"), office);
        QCOMPARE(key("0086-10-65521234"), office);
        QVERIFY(!Duplicates::phones("010-6552 1234")[0].mobile);

        // An extension, however written, stays apart from the switchboard.
        const QString extension = key("010-65521234 转 8021");
        QVERIFY(extension != office);
        for (const char* form :
             {"010-65521234 ext. 8021", "010-65521234 x8021", "(010) 6552 1234 分机 8021"})
            QCOMPARE(key(QString::fromUtf8(form)), extension);
        QCOMPARE(key("010-65521234", "8021"), extension);
        QVERIFY(key("010-65521234 转 8022") != extension);
        QVERIFY(!Duplicates::phones("138 1234 5678 转 1")[0].mobile);

        // Two numbers in one column.
        QCOMPARE(Duplicates::phones("13812345678 / 010-65521234").size(), std::size_t(2));
    }

    void namesAndCompaniesFolded() {
        QCOMPARE(Duplicates::nameKey("張三"), Duplicates::nameKey("张三"));
        QCOMPARE(Duplicates::nameKey("张 三"), Duplicates::nameKey("张三"));
        QCOMPARE(Duplicates::nameKey("John Smith"), Duplicates::nameKey("SMITH  john"));
        QCOMPARE(Duplicates::nameKey("Ｊｏｈｎ Smith"), Duplicates::nameKey("john smith"));
        QVERIFY(Duplicates::nameKey("张伟") != Duplicates::nameKey("章伟"));
        const QString company = Duplicates::companyKey("北京星河科技");
        for (const char* form : {"北京星河科技有限公司", "北京星河科技股份有限公司",
                                 "北京星河科技有限责任公司", "北京星河科技集团", "北京 星河科技"})
            QCOMPARE(Duplicates::companyKey(QString::fromUtf8(form)), company);
        QCOMPARE(Duplicates::companyKey("Acme Co., Ltd."), Duplicates::companyKey("ACME"));
        QCOMPARE(Duplicates::companyKey("Acme Inc."), Duplicates::companyKey("acme corp"));
        QCOMPARE(Duplicates::companyKey("Acme LLC"), Duplicates::companyKey("Acme"));
        QVERIFY(Duplicates::companyKey("Acme") != Duplicates::companyKey("Acme Tools"));
        QCOMPARE(Duplicates::emails("John@Example.COM; j@b.cn"),
                 (QStringList{"john@example.com", "j@b.cn"}));
    }

    // Folding takes its shortcuts only where nothing would change: mixed scripts, characters
    // beyond the basic plane, full-width forms and every separator people type still fold.
    void foldingOfMixedText() {
        QCOMPARE(Duplicates::folded("張三 ABC"), QStringLiteral("张三 abc"));
        QCOMPARE(Duplicates::folded("ＡＢＣ１２３"), QStringLiteral("abc123"));
        QCOMPARE(Duplicates::folded("𠀀張𠀀"), QStringLiteral("𠀀张𠀀"));
        QCOMPARE(Duplicates::folded("plain text"), QStringLiteral("plain text"));
        QCOMPARE(Duplicates::nameKey("𠀀 張"), Duplicates::nameKey("𠀀张"));
        QVERIFY(Duplicates::nameKey("𠀀张") != Duplicates::nameKey("张"));
        QCOMPARE(Duplicates::emails("Zhang@A.cn，li@b.cn；<wang@c.cn>、mailto:zhao@d.cn "
                                    "zhang@a.cn\tqian@e.cn"),
                 (QStringList{"zhang@a.cn", "li@b.cn", "wang@c.cn", "zhao@d.cn", "qian@e.cn"}));
        QCOMPARE(Duplicates::phones("138 1234 5678  139 0000 0000").size(), std::size_t(2));
        QCOMPARE(Duplicates::phones("13812345678、010-65521234，13900000000").size(),
                 std::size_t(3));
        QVERIFY(Duplicates::phones(" \t ").empty());
    }

    void onePersonWrittenTwoWays_data() {
        QTest::addColumn<Card>("a");
        QTest::addColumn<Card>("b");
        QTest::addColumn<int>("link");
        const int certain = int(Link::Certain), probable = int(Link::Probable);
        QTest::newRow("+86 and bare mobile")
            << card({{"姓名", "张三"}, {"手机", "+86 138-1234-5678"}})
            << card({{"姓名", "张三"}, {"手机", "13812345678"}}) << certain;
        QTest::newRow("mobile written in the work column")
            << card({{"姓名", "张三"}, {"工作电话", "13812345678"}})
            << card({{"姓名", "张三"}, {"手机", "0086 138 1234 5678"}}) << certain;
        QTest::newRow("traditional and simplified")
            << card({{"姓名", "張三"}, {"E-mail", "zs@example.com"}})
            << card({{"姓名", "张三"}, {"E-mail", "ZS@Example.com"}}) << certain;
        QTest::newRow("Latin names in either order")
            << card({{"姓名", "John Smith"}, {"单位", "Acme Co., Ltd."}})
            << card({{"姓名", "Smith John"}, {"单位", "ACME"}}) << certain;
        QTest::newRow("company in full and short")
            << card({{"姓名", "李娜"}, {"单位", "北京星河科技有限公司"}})
            << card({{"姓名", "李娜"}, {"单位", "北京星河科技"}}) << certain;
        QTest::newRow("same switchboard, same name")
            << card({{"姓名", "王芳"}, {"工作电话", "010-65521234"}, {"单位", "甲公司"}})
            << card({{"姓名", "王芳"}, {"工作电话", "(010)65521234"}}) << certain;
        QTest::newRow("name contained, same mobile")
            << card({{"姓名", "张三"}, {"手机", "13812345678"}})
            << card({{"姓名", "张三丰"}, {"手机", "138 1234 5678"}}) << probable;
        QTest::newRow("same pinyin, same mobile")
            << card({{"姓名", "张伟"}, {"手机", "13812345678"}})
            << card({{"姓名", "章伟"}, {"手机", "13812345678"}}) << probable;
        QTest::newRow("单 read as a surname, same e-mail")
            << card({{"姓名", "单伟"}, {"E-mail", "sw@example.com"}})
            << card({{"姓名", "Shan Wei"}, {"E-mail", "sw@example.com"}}) << probable;
        QTest::newRow("曾 read as a surname, same mobile")
            << card({{"姓名", "曾伟"}, {"手机", "13912345678"}})
            << card({{"姓名", "Wei Zeng"}, {"手机", "13912345678"}}) << probable;
    }
    void onePersonWrittenTwoWays() {
        QFETCH(Card, a);
        QFETCH(Card, b);
        QFETCH(int, link);
        QCOMPARE(int(linkOf(a, b)), link);
        QCOMPARE(int(linkOf(b, a)), link);
    }

    void twoPeopleAreNotProposed_data() {
        QTest::addColumn<Card>("a");
        QTest::addColumn<Card>("b");
        QTest::newRow("same name, different companies")
            << card({{"姓名", "张伟"}, {"单位", "甲科技有限公司"}, {"手机", "13800000001"}})
            << card({{"姓名", "张伟"}, {"单位", "乙贸易有限公司"}, {"手机", "13800000002"}});
        QTest::newRow("same name, nothing else")
            << card({{"姓名", "张伟"}}) << card({{"姓名", "张伟"}});
        QTest::newRow("same pinyin, different phones")
            << card({{"姓名", "张伟"}, {"单位", "甲公司"}, {"手机", "13800000001"}})
            << card({{"姓名", "章伟"}, {"单位", "甲公司"}, {"手机", "13800000002"}});
        QTest::newRow("colleagues on one switchboard")
            << card({{"姓名", "李明"}, {"单位", "甲公司"}, {"工作电话", "010-65521234"}})
            << card({{"姓名", "王芳"}, {"单位", "甲公司"}, {"工作电话", "010-65521234"}});
        QTest::newRow("near names on one switchboard")
            << card({{"姓名", "张伟"}, {"工作电话", "010-65521234"}})
            << card({{"姓名", "张伟明"}, {"工作电话", "010 6552 1234"}});
        QTest::newRow("two extensions of one switchboard")
            << card({{"姓名", "李明"}, {"单位", "甲公司"}, {"工作电话", "010-65521234 转 8021"}})
            << card({{"姓名", "李明"}, {"单位", "乙公司"}, {"工作电话", "010-65521234 转 8022"}});
        QTest::newRow("extension and its bare switchboard")
            << card({{"姓名", "李明"}, {"单位", "甲公司"}, {"工作电话", "010-65521234"}})
            << card({{"姓名", "李明"},
                     {"单位", "乙公司"},
                     {"工作电话", "010-65521234"},
                     {"分机", "8021"}});
        QTest::newRow("单 and 山 alike in pinyin")
            << card({{"姓名", "单丽"}, {"单位", "甲公司"}, {"手机", "13800000001"}})
            << card({{"姓名", "山丽"}, {"单位", "甲公司"}, {"手机", "13800000002"}});
        QTest::newRow("曾 and 增 alike in pinyin")
            << card({{"姓名", "曾伟"}, {"E-mail", "a@example.com"}})
            << card({{"姓名", "增伟"}, {"E-mail", "b@example.com"}});
        QTest::newRow("shared mobile, unrelated names")
            << card({{"姓名", "张三"}, {"手机", "13812345678"}})
            << card({{"姓名", "李四"}, {"手机", "13812345678"}});
    }
    void twoPeopleAreNotProposed() {
        QFETCH(Card, a);
        QFETCH(Card, b);
        QCOMPARE(int(linkOf(a, b)), int(Link::None));
        QCOMPARE(int(linkOf(b, a)), int(Link::None));
    }

    void importSkipsCardsThatSayTheSame() {
        const Card stored = card({{"姓名", "张三"},
                                  {"单位", "北京星河科技有限公司"},
                                  {"手机", "13812345678"},
                                  {"E-mail", "zs@x.cn"},
                                  {"备注", "vip"}});
        Card again = card({{"姓名", "張 三"},
                           {"单位", "北京星河科技"},
                           {"手机", "+86 138-1234-5678"},
                           {"E-mail", "ZS@X.cn"},
                           {"备注", "ＶＩＰ "}});
        QVERIFY(Duplicates::sameAfterFolding(stored, again));
        again.setValue("职务", "经理");
        QVERIFY(!Duplicates::sameAfterFolding(stored, again));
        QVERIFY(!Duplicates::sameAfterFolding(stored, card({{"姓名", "张三"},
                                                            {"单位", "北京星河科技有限公司"},
                                                            {"手机", "13812345679"},
                                                            {"E-mail", "zs@x.cn"},
                                                            {"备注", "vip"}})));
    }

    void savingAsksAboutATakenMobileOrEmail() {
        TestSupport::OpenProgramFolder folder;
        Sqlite::Database& db = folder.db;
        const QVector<qint64> first =
            TestSupport::storeCards(db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                                         card({{"姓名", "李四"}, {"工作电话", "010-65521234"}})});
        Duplicates::rebuildKeys(db.get());
        // Cards added in bulk afterwards are known too.
        const QVector<qint64> later =
            TestSupport::storeCards(db, {card({{"姓名", "王五"}, {"E-mail", "w@x.cn"}})});
        Duplicates::cardsAdded(db.get(), later);
        const Card typed = card({{"姓名", "赵六"},
                                 {"手机", "+86 138 1234 5678"},
                                 {"工作电话", "01065521234"},
                                 {"E-mail", "W@X.CN"}});
        // A shared switchboard is no reason to ask.
        QCOMPARE(Duplicates::holdersOfMobileOrEmail(db.get(), typed),
                 (QVector<qint64>{first[0], later[0]}));
        QCOMPARE(Duplicates::holdersOfMobileOrEmail(db.get(), typed, first[0]),
                 QVector<qint64>{later[0]});
        TestSupport::exec(folder.database(), "drop table dup_keys");
        QCOMPARE(Duplicates::holdersOfMobileOrEmail(db.get(), typed),
                 (QVector<qint64>{first[0], later[0]}));
    }

    void groupsOfAFile() {
        TestSupport::OpenProgramFolder folder;
        Sqlite::Database& db = folder.db;
        const QVector<qint64> ids = TestSupport::storeCards(
            db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),                         // 1
                 card({{"姓名", "李四"}, {"单位", "甲公司"}}),                              // 2
                 card({{"姓名", "張三"}, {"手机", "+86 138 1234 5678"}}),                   // 3
                 card({{"姓名", "张三丰"}, {"手机", "13812345678"}}),                       // 4
                 card({{"姓名", "李四"}, {"单位", "甲有限公司"}}),                          // 5
                 card({{"姓名", "三丰"}, {"E-mail", "sf@example.com"}}),                    // 6
                 card({{"姓名", "张三丰"}, {"E-mail", "SF@example.com"}}),                  // 7
                 card({{"姓名", "王五"}, {"单位", "乙公司"}, {"工作电话", "01065521234"}}), // 8
                 card({{"姓名", "赵六"}, {"单位", "乙公司"}, {"工作电话", "01065521234"}}), // 9
                 card({{"姓名", "三丰"}, {"手机", "13812345678"}})});                       // 10
        QCOMPARE(ids.size(), 10);
        auto id = [&](int n) { return QString::number(ids[n - 1]); };
        // 4 joins 张三's certain pair by the mobile and a near name; 10 is near to 4 alone,
        // and 4 was itself brought in that way, so 10 is left out rather than chained in.
        // Colleagues 8 and 9 share a switchboard: two people.
        QCOMPARE(lines(Duplicates::findGroups(db.get())),
                 (QStringList{id(1) + " " + id(3) + " " + id(4) + " ?", id(2) + " " + id(5),
                              id(6) + " " + id(7) + " ?"}));
    }

    void keysProposeForOneCard() {
        TestSupport::OpenProgramFolder folder;
        Sqlite::Database& db = folder.db;
        db.exec("DROP TABLE \"dup_keys\""); // as an older file has none
        const QVector<qint64> ids =
            TestSupport::storeCards(db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                                         card({{"姓名", "李四"}, {"单位", "甲科技有限公司"}}),
                                         card({{"姓名", "王五"}, {"E-mail", "ww@example.com"}})});
        const Card typed = card({{"姓名", "張三"}, {"手机", "+86 13812345678"}});
        auto proposed = [&](const Card& c, qint64 self = 0) {
            QStringList out;
            for (const auto& p : Duplicates::propose(db.get(), c, self))
                out << QString::number(p.id) + (p.certain ? "" : "?");
            return out;
        };
        // Without the table every card is read; with it, the same answer.
        QCOMPARE(proposed(typed), QStringList{QString::number(ids[0])});
        Duplicates::rebuildKeys(db.get());
        QVERIFY(Duplicates::hasKeys(db.get()));
        QCOMPARE(proposed(typed), QStringList{QString::number(ids[0])});
        QCOMPARE(proposed(card({{"姓名", "李四"}, {"单位", "甲科技"}})),
                 QStringList{QString::number(ids[1])});
        QCOMPARE(proposed(card({{"姓名", "王五五"}, {"E-mail", "WW@example.com"}})),
                 QStringList{QString::number(ids[2]) + "?"});
        QVERIFY(proposed(card({{"姓名", "李四"}, {"单位", "乙公司"}})).isEmpty());
        // A card is not its own duplicate.
        QVERIFY(proposed(card({{"姓名", "张三"}, {"手机", "13812345678"}}), ids[0]).isEmpty());

        // Kept in step with a change and a delete.
        Duplicates::updateKeys(db.get(), ids[0], card({{"姓名", "张三"}, {"手机", "13900000000"}}));
        QVERIFY(proposed(typed).isEmpty());
        Duplicates::removeKeys(db.get(), ids[2]);
        QVERIFY(proposed(card({{"姓名", "王五"}, {"E-mail", "ww@example.com"}})).isEmpty());

        // The table is ours: the backup check takes a file that has it.
        db.close();
        QString reason;
        QVERIFY2(isRestorableBackup(folder.database(), QString::fromUtf8(kStoredConnectionString),
                                    &reason),
                 qPrintable(reason));
    }

    // An import's keys are filed between the quick find's runs of cards: every card's, as a
    // rebuild files them, and none when the import stops while they are filed.
    void keysOfABigImport() {
        TestSupport::OpenProgramFolder folder;
        Sqlite::Database& db = folder.db;
        QVERIFY(QuickFind::isBuilt(db.get()));
        QVector<Card> cards;
        for (int i = 0; i < 3000; ++i) {
            const QByteArray n = QByteArray::number(i);
            cards.append(card({{"姓名", i % 2 ? "张三" : "李四"},
                               {"单位", ("甲" + n + "科技有限公司").constData()},
                               {"手机", ("138" + QByteArray::number(10000000 + i)).constData()},
                               {"E-mail", ("p" + n + "@example.com").constData()}}));
        }
        auto import = [&](const CardStore::Progress& progress) {
            int next = 0;
            return CardStore::addCards(
                db,
                [&](Card* c) {
                    if (next == cards.size())
                        return false;
                    *c = cards[next++];
                    return true;
                },
                progress, {}, Duplicates::fileNewCards);
        };
        auto keys = [&] {
            return TestSupport::query(folder.database(),
                                      "SELECT ID, key FROM dup_keys ORDER BY 1, 2");
        };
        // A call for each card stored, then one for each run the quick find files.
        int calls = 0;
        QVERIFY(import([&](qint64) { return ++calls < cards.size() + 2; }).isEmpty());
        QCOMPARE(calls, cards.size() + 2);
        QCOMPARE(TestSupport::query(folder.database(), "SELECT count(*) FROM zl"),
                 QStringList{"0"});
        QCOMPARE(keys(), QStringList());

        QCOMPARE(import({}).size(), cards.size());
        const QStringList filed = keys();
        QCOMPARE(TestSupport::query(folder.database(), "SELECT count(*) FROM dup_sums"),
                 QStringList{"3000"});
        QVERIFY(Duplicates::rebuildKeys(db.get()));
        QCOMPARE(filed.size(), keys().size());
        QCOMPARE(filed, keys());
        const Card typed = card({{"姓名", "張三"}, {"手机", "+86 138 1000 2999"}});
        QCOMPARE(Duplicates::propose(db.get(), typed).size(), 1);
    }

    // Compared on a thread beside the window, the keys are brought in line at their first use
    // without reading every card: as another program left the cards before the start, not
    // after it, and never dropping those of a card the window wrote meanwhile.
    void keysComparedBesideTheWindow() {
        TestSupport::ProgramFolder folder;
        const QString file = folder.database();
        {
            Sqlite::Database db;
            QCOMPARE(db.open(file, Sqlite::OpenMode::ReadWrite), SQLITE_OK);
            TestSupport::storeCards(db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                                         card({{"姓名", "李四"}, {"手机", "13911112222"}}),
                                         card({{"姓名", "王五"}, {"手机", "13700000000"}})});
            QVERIFY(Duplicates::rebuildKeys(db.get()));
        }
        auto other = [&](const char* sql) {
            TestSupport::OtherWriter writer(file);
            QCOMPARE(writer.exec(sql), SQLITE_OK);
            QCOMPARE(writer.exec("COMMIT"), SQLITE_OK);
        };
        auto proposed = [](sqlite3* db, const char* name, const char* mobile) {
            QVector<qint64> out;
            for (const auto& p : Duplicates::propose(db, card({{"姓名", name}, {"手机", mobile}})))
                out << p.id;
            return out;
        };
        other("UPDATE zl SET 手机='13800000001' WHERE ID=1; DELETE FROM zl WHERE ID=3");
        {
            Sqlite::Database db; // the next start
            QCOMPARE(db.open(file, Sqlite::OpenMode::ReadWrite), SQLITE_OK);
            Duplicates::KeyCheck check(db.get(), file);
            check.wait();
            // The window writes a card under the ID found gone, as undoing a delete does.
            const Card wang = card({{"姓名", "王五"}, {"手机", "13700000000"}});
            db.exec("INSERT INTO zl (ID, 姓名, 手机) VALUES (3, '王五', '13700000000')");
            Duplicates::updateKeys(db.get(), 3, wang);
            QCOMPARE(proposed(db.get(), "張三", "+86 138 0000 0001"), QVector<qint64>{1});
            QVERIFY(check.used());
            QVERIFY(proposed(db.get(), "张三", "13812345678").isEmpty());
            QCOMPARE(proposed(db.get(), "王五", "137 0000 0000"), QVector<qint64>{3});
        }
        {
            Sqlite::Database db;
            QCOMPARE(db.open(file, Sqlite::OpenMode::ReadWrite), SQLITE_OK);
            Duplicates::KeyCheck check(db.get(), file);
            check.wait();
            other("UPDATE zl SET 手机='13911113333' WHERE ID=2");
            QCOMPARE(proposed(db.get(), "李四", "13911113333"), QVector<qint64>{2});
            QVERIFY(!check.used());
            // A few cards are compared at the first save; a big file beside the window.
            QVERIFY(!Duplicates::KeyCheck::worthwhile(db.get()));
            db.exec("INSERT INTO zl (ID, 姓名) VALUES (50000, '赵六')");
            QVERIFY(Duplicates::KeyCheck::worthwhile(db.get()));
        }
    }

    // The keys a connection knew in line say nothing to the next one, even when SQLite gives it
    // the same handle (the window's, opened again after a backup): what another program wrote
    // in between is seen.
    void keysOfAConnectionOpenedAgain() {
        TestSupport::ProgramFolder folder;
        const QString file = folder.database();
        Sqlite::Database db;
        QCOMPARE(db.open(file, Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        TestSupport::storeCards(db, {card({{"姓名", "张三"}, {"手机", "13812345678"}})});
        QVERIFY(Duplicates::rebuildKeys(db.get()));
        QVERIFY(Duplicates::keysInLine(db.get()));
        sqlite3* before = db.get();
        db.close();
        {
            TestSupport::OtherWriter other(file);
            QCOMPARE(other.exec("UPDATE zl SET 手机='13800000001' WHERE ID=1; COMMIT"), SQLITE_OK);
        }
        QCOMPARE(db.open(file, Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        if (db.get() != before)
            qInfo("SQLite gave another handle: the case is not met on this run");
        QVERIFY(!Duplicates::keysInLine(db.get()));
        const auto found =
            Duplicates::propose(db.get(), card({{"姓名", "张三"}, {"手机", "13800000001"}}));
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().id, qint64(1));
    }

    // Cards another program added, changed or deleted are proposed as they are now, with no
    // rebuild asked for; keys from before the checksums are made again once.
    void keysCatchUpWithAnotherProgram() {
        TestSupport::ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QVector<Card> cards{card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                            card({{"姓名", "李四"}, {"单位", "甲科技有限公司"}})};
        for (int i = 0; i < 20; ++i)
            cards.append(card({{"姓名", "客户"}, {"工作电话", "010-62750000"}}));
        TestSupport::storeCards(db, cards);
        Duplicates::rebuildKeys(db.get());
        auto proposed = [&](const Card& c) {
            QVector<qint64> out;
            for (const auto& p : Duplicates::propose(db.get(), c))
                out << p.id;
            return out;
        };
        const Card typed = card({{"姓名", "張三"}, {"手机", "+86 13812345678"}});
        const Card wang = card({{"姓名", "王五"}, {"手机", "137 0000 0000"}});
        QCOMPARE(proposed(typed), QVector<qint64>{1});
        {
            TestSupport::OtherWriter other(folder.database());
            QCOMPARE(other.exec("INSERT INTO zl (ID, 姓名, 手机) VALUES (23, '王五', "
                                "'13700000000'); UPDATE zl SET 手机='13900000000' WHERE ID=1; "
                                "DELETE FROM zl WHERE ID=2; COMMIT"),
                     SQLITE_OK);
        }
        QVERIFY(proposed(typed).isEmpty());
        QCOMPARE(proposed(wang), QVector<qint64>{23});
        QVERIFY(proposed(card({{"姓名", "李四"}, {"单位", "甲科技"}})).isEmpty());
        QCOMPARE(TestSupport::query(folder.database(), "select count(*) from dup_sums"),
                 QStringList{"22"});
        QVERIFY(Duplicates::keysInLine(db.get()));

        db.exec("DROP TABLE \"dup_sums\""); // as an older program left them
        QCOMPARE(Duplicates::keyTables(db.get()), Duplicates::KeyTables::KeysOnly);
        QCOMPARE(proposed(wang), QVector<qint64>{23});
        QCOMPARE(Duplicates::keyTables(db.get()), Duplicates::KeyTables::WithSums);
    }

    void mergeKeepsEveryValue() {
        const Card older = card({{"姓名", "张三"},
                                 {"单位", "北京星河科技有限公司"},
                                 {"手机", "+86 138-1234-5678"},
                                 {"职务", "经理"},
                                 {"E-mail", "zs@old.cn"},
                                 {"备注", "老朋友"}});
        const Card newer = card({{"姓名", "張三"},
                                 {"单位", "北京星河科技"},
                                 {"手机", "13812345678"},
                                 {"职务", "总经理"},
                                 {"部门", "销售部"},
                                 {"E-mail", "zs@new.cn"}});
        const Card merged = Duplicates::mergedCard({1, 2}, {older, newer});
        QCOMPARE(merged.value("部门"), QStringLiteral("销售部")); // the non-empty one
        QCOMPARE(merged.value("职务"), QStringLiteral("总经理")); // the longer
        QCOMPARE(merged.value("单位"), QStringLiteral("北京星河科技有限公司"));
        QCOMPARE(merged.value("E-mail"), QStringLiteral("zs@new.cn")); // the later card's
        QCOMPARE(merged.value("姓名"), QStringLiteral("張三"));
        // What was not kept is in 备注; the same number written another way is not repeated.
        QCOMPARE(merged.value("备注"), QStringLiteral("老朋友\n职务: 经理\nE-mail: zs@old.cn"));
    }

    void mergeInTheFile() {
        TestSupport::OpenProgramFolder folder;
        Sqlite::Database& db = folder.db;
        db.exec("DROP TABLE \"dup_keys\""); // as an older file has none
        const QVector<qint64> ids = TestSupport::storeCards(
            db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                 card({{"姓名", "张三丰"}, {"手机", "13812345678"}}),
                 card({{"姓名", "張三"}, {"手机", "+8613812345678"}, {"部门", "销售部"}}),
                 card({{"姓名", "李四"}, {"单位", "甲公司"}, {"手机", "13700000000"}}),
                 card({{"姓名", "李四"}, {"单位", "甲有限公司"}})});
        QuickFind::build(db.get());
        Duplicates::rebuildKeys(db.get());

        // 张三丰 came in by a near name: the group is not certain and stays.
        const auto merged = Duplicates::mergeAllCertain(db.get());
        QCOMPARE(lines(merged),
                 QStringList{QString::number(ids[3]) + " " + QString::number(ids[4])});
        QCOMPARE(
            TestSupport::query(folder.database(), "select ID, 姓名, 单位 from zl order by ID"),
            (QStringList{QString::number(ids[0]) + "|张三|", QString::number(ids[1]) + "|张三丰|",
                         QString::number(ids[2]) + "|張三|",
                         QString::number(ids[3]) + "|李四|甲有限公司"}));

        for (int i = 0; i < 3; ++i)
            CardUid::ensure(db.get(), ids[i]);
        Duplicates::mergeCards(db.get(), {ids[2], ids[0], ids[1]});
        QCOMPARE(TestSupport::query(folder.database(),
                                    "select ID, 姓名, 部门, 备注 from zl order by ID"),
                 (QStringList{QString::number(ids[0]) + "|张三丰|销售部|姓名: 张三",
                              QString::number(ids[3]) + "|李四||"}));
        // The quick find and the keys followed.
        QCOMPARE(QuickFind::find(db.get(), "13812345678"), QVector<qint64>{ids[0]});
        QCOMPARE(QuickFind::find(db.get(), "李四"), QVector<qint64>{ids[3]});
        QCOMPARE(TestSupport::query(folder.database(),
                                    "select count(*) from dup_keys where ID not in (select ID "
                                    "from zl)"),
                 QStringList{"0"});
        // The cards merged away take their UIDs along; the kept card keeps its own.
        QCOMPARE(TestSupport::query(folder.database(),
                                    "select count(*) from card_uid where ID not in (select ID "
                                    "from zl)"),
                 QStringList{"0"});
        QVERIFY(!CardUid::uidOf(db.get(), ids[0]).isEmpty());

        // A card gone in the meantime: nothing merged.
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 Duplicates::mergeCards(db.get(), {ids[0], ids[1]}));
        QCOMPARE(TestSupport::query(folder.database(), "select count(*) from zl"),
                 QStringList{"2"});
    }

#ifdef Q_OS_UNIX
    void killedDuringAMergeMergesNothing() {
        TestSupport::ProgramFolder folder;
        {
            Sqlite::Database db;
            QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
            TestSupport::storeCards(
                db, {card({{"姓名", "张三"}, {"手机", "13812345678"}}),
                     card({{"姓名", "張三"}, {"手机", "13812345678"}, {"部门", "销售部"}}),
                     card({{"姓名", "张三"}, {"E-mail", "zs@a.cn"}, {"手机", "13812345678"}})});
            QuickFind::build(db.get());
            Duplicates::rebuildKeys(db.get());
        }
        const QStringList before =
            TestSupport::query(folder.database(), "select * from zl order by ID");
        // The process dies as hard as it can once the first card is deleted.
        TestSupport::inChild([&] {
            Sqlite::Database db;
            db.open(folder.database(), Sqlite::OpenMode::ReadWrite);
            sqlite3_create_function(
                db.get(), "die", 0, SQLITE_UTF8, nullptr,
                [](sqlite3_context*, int, sqlite3_value**) { ::raise(SIGKILL); }, nullptr, nullptr);
            db.exec("CREATE TEMP TRIGGER die AFTER DELETE ON main.zl BEGIN SELECT die(); END");
            Duplicates::mergeCards(db.get(), {1, 2, 3});
            return QStringLiteral("not killed");
        });
        QCOMPARE(TestSupport::query(folder.database(), "pragma integrity_check"),
                 QStringList{"ok"});
        QCOMPARE(TestSupport::query(folder.database(), "select * from zl order by ID"), before);
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QVERIFY(QuickFind::isCurrent(db.get()));
        QCOMPARE(
            Duplicates::propose(db.get(), card({{"姓名", "张三"}, {"手机", "13812345678"}})).size(),
            3);
    }
#endif

    void commandListsGroups() {
        TestSupport::ProgramFolder folder;
        {
            Sqlite::Database db;
            QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
            TestSupport::storeCards(db, {card({{"姓名", "李四"}, {"单位", "甲公司"}}),
                                         card({{"姓名", "张三"}, {"E-mail", "zs@a.cn"}}),
                                         card({{"姓名", "李四"}, {"单位", "甲有限公司"}}),
                                         card({{"姓名", "张三"}, {"E-mail", "ZS@a.cn"}}),
                                         card({{"姓名", "张三"}})});
        }
        auto run = [&](const QStringList& extra) {
            QProcess p;
            p.start(QStringLiteral(QUEMBE_CARDS_TOOL),
                    QStringList{"--database", folder.database(), "duplicates"} + extra);
            p.waitForFinished(60000);
            return QStringList{QString::number(p.exitCode()),
                               QString::fromUtf8(p.readAllStandardOutput())};
        };
        QCOMPARE(run({}), (QStringList{"0", "1 3\n2 4\n"}));
        QCOMPARE(run({"--merge-all-certain"}), (QStringList{"0", "1 3\n2 4\n"}));
        QCOMPARE(run({}), (QStringList{"0", ""}));
        QCOMPARE(TestSupport::query(folder.database(), "select ID from zl order by ID"),
                 (QStringList{"1", "2", "5"}));
        QCOMPARE(run({"--all"}).first(), QStringLiteral("2"));
    }
};

QTEST_MAIN(TestDuplicates)
#include "tst_duplicates.moc"

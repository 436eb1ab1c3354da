// Cards added and read in bulk: all or nothing, in the list's order.
#include "testsupport.h"

#include "data/cardstore.h"
#include "data/dberror.h"
#include "data/sqlite.h"

#include <QTest>

class TestCardStore : public QObject {
    Q_OBJECT

private:
    static CardStore::CardSource cards(const QStringList& names) {
        auto left = std::make_shared<QStringList>(names);
        return [left](Card* card) {
            if (left->isEmpty())
                return false;
            card->setValue(QStringLiteral("姓名"), left->takeFirst());
            card->setValue(QStringLiteral("备注"), QStringLiteral("第一行\r\n第二行"));
            return true;
        };
    }

private slots:
    void addsAllCardsInOneGo() {
        TestSupport::ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        const QVector<qint64> ids = CardStore::addCards(db, cards({"张三", "李四", "王五"}));
        QCOMPARE(ids.size(), 3);
        QVERIFY(ids[0] < ids[1] && ids[1] < ids[2]);
        QCOMPARE(TestSupport::query(folder.database(), "select 姓名, 备注, 工作邮编 from zl"),
                 (QStringList{"张三|第一行\r\n第二行|", "李四|第一行\r\n第二行|",
                              "王五|第一行\r\n第二行|"}));
        // Unset columns hold empty text, never a missing value.
        QCOMPARE(
            TestSupport::query(folder.database(), "select count(*) from zl where 主页 is null"),
            QStringList{"0"});

        QStringList seen;
        CardStore::forEachCard(db, QStringLiteral("select * from zl where 姓名 <> ?"), {"李四"},
                               [&](qint64 id, const Card& card) {
                                   seen << QString::number(id) + card.value(QStringLiteral("姓名"));
                               });
        QCOMPARE(seen,
                 (QStringList{QString::number(ids[0]) + "张三", QString::number(ids[2]) + "王五"}));
    }

    void aFailureOrACancelAddsNothing() {
        TestSupport::ProgramFolder folder;
        TestSupport::exec(folder.database(),
                          "create trigger refuse before insert on zl when new.姓名 = 'bad' "
                          "begin select raise(abort, 'refused'); end");
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError,
                                 CardStore::addCards(db, cards({"a", "b", "bad", "c"})));
        QCOMPARE(TestSupport::query(folder.database(), "select count(*) from zl"),
                 QStringList{"0"});

        const QVector<qint64> none =
            CardStore::addCards(db, cards({"a", "b", "c"}), [](qint64 done) { return done < 2; });
        QVERIFY(none.isEmpty());
        QCOMPARE(TestSupport::query(folder.database(), "select count(*) from zl"),
                 QStringList{"0"});
        // The connection is usable afterwards: no transaction was left open.
        QCOMPARE(CardStore::addCards(db, cards({"a"})).size(), 1);
    }

    // The import widens SQLite's cache for its own transaction only: the connection gets
    // back the size it had, after a failure too, and a size larger already is kept.
    void theConnectionKeepsItsCache() {
        TestSupport::ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        auto cacheSize = [&] {
            int rc = SQLITE_OK;
            return Sqlite::firstColumn(db.get(), "PRAGMA cache_size", &rc).value(0);
        };
        for (const char* size : {"-500", "-100000", "300"}) {
            QCOMPARE(Sqlite::exec(db.get(), QByteArray("PRAGMA cache_size=") + size), SQLITE_OK);
            QCOMPARE(CardStore::addCards(db, cards({"张三"})).size(), 1);
            QCOMPARE(cacheSize(), QString::fromLatin1(size));
            CardStore::addCards(db, cards({"a"}), [](qint64) { return false; });
            QCOMPARE(cacheSize(), QString::fromLatin1(size));
        }
    }

    void aLockedFileSaysSoAndAddsNothing() {
        TestSupport::ProgramFolder folder;
        TestSupport::OtherWriter holder(folder.database());
        QVERIFY(holder.ok());
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        try {
            CardStore::addCards(db, cards({"a"}));
            QFAIL("a locked file took the cards");
        } catch (const EDatabaseError& e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("数据库文件正被其他程序使用")),
                     qPrintable(e.message()));
        }
        holder.exec("ROLLBACK");
        QCOMPARE(TestSupport::query(folder.database(), "select count(*) from zl"),
                 QStringList{"0"});
    }

    void aConnectionHandedOnStillNamesItsFile() {
        // The program's connection is opened, then moved into place: a refusal must still
        // say which file is locked, or the user cannot tell what to close.
        TestSupport::ProgramFolder folder;
        Sqlite::Database holder;
        QCOMPARE(holder.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        // Exclusive: the reads wait and give up as well as the writes.
        QCOMPARE(holder.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        Sqlite::Database opened;
        QCOMPARE(opened.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        Sqlite::Database db;
        db = std::move(opened);
        QVERIFY(!opened);
        QCOMPARE(db.file(), folder.database());
        for (int round = 0; round < 2; ++round) {
            try {
                if (round == 0)
                    CardStore::addCards(db, cards({"a"}));
                else
                    CardStore::forEachCard(db, QStringLiteral("select * from zl"), {},
                                           [](qint64, const Card&) {});
                QFAIL("the call went through");
            } catch (const EDatabaseError& e) {
                QVERIFY2(e.message().contains(Sqlite::native(folder.database())),
                         qPrintable(e.message()));
            }
        }
        holder.exec("ROLLBACK");
    }

    // A statement that changes pages its transaction changed before keeps their old contents
    // in a statement journal. However large that grows, the statement must succeed: a false
    // "disk full" here lost the whole transaction.
    void largeStatementsInATransactionSucceed() {
        TestSupport::ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QCOMPARE(db.exec("CREATE TABLE big (k TEXT UNIQUE, v BLOB);"
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                         "WHERE i<3000) INSERT INTO big SELECT i, zeroblob(4000) FROM n"),
                 SQLITE_OK);
        QCOMPARE(db.exec("BEGIN; UPDATE big SET v = zeroblob(3999)"), SQLITE_OK);
        QCOMPARE(db.exec("INSERT OR REPLACE INTO big SELECT k, zeroblob(4001) FROM big"),
                 SQLITE_OK);
        QCOMPARE(db.exec("COMMIT"), SQLITE_OK);
        int rc = SQLITE_OK;
        QCOMPARE(Sqlite::firstColumn(db.get(), "SELECT sum(length(v)) FROM big", &rc),
                 QStringList{QStringLiteral("12003000")});
    }

    // Rows written many to a statement go in as one statement per row would: in order (a
    // later row replaces an earlier one it conflicts with), types kept, across the statements
    // they are split into; a bad row fails its statement whole and says so.
    void rowsWrittenInBulkKeepTheirOrderAndTypes() {
        TestSupport::ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        QCOMPARE(db.exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v TEXT NOT NULL UNIQUE, n)"),
                 SQLITE_OK);
        const char insert[] = "INSERT OR REPLACE INTO t (k, v, n) VALUES";
        QVariantList rows;
        for (int i = 1; i <= 600; ++i)
            rows << i << QStringLiteral("值%1").arg(i) << (i % 2 ? QVariant(i) : QVariant());
        rows << 601 << QStringLiteral("值7") << QVariant(); // takes v from row 7
        Sqlite::insertRows(db.get(), insert, 3, rows, {});
        int rc = SQLITE_OK;
        QCOMPARE(Sqlite::firstColumn(db.get(),
                                     "SELECT count(*) || ' ' || sum(n IS NULL) || ' ' || "
                                     "(SELECT k FROM t WHERE v = '值7') || ' ' || "
                                     "sum(typeof(k) = 'integer' AND typeof(v) = 'text') FROM t",
                                     &rc),
                 QStringList{QStringLiteral("600 301 601 600")});

        QCOMPARE(db.exec("BEGIN"), SQLITE_OK);
        rows.clear();
        for (int i = 1000; i < 1300; ++i)
            rows << i << QStringLiteral("新%1").arg(i) << 0;
        rows[3 * 280 + 1] = QVariant(); // in the second statement
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, Sqlite::insertRows(db.get(), insert, 3, rows, {}));
        QCOMPARE(Sqlite::firstColumn(db.get(), "SELECT count(*) FROM t WHERE k >= 1000", &rc),
                 QStringList{QStringLiteral("256")});
        QCOMPARE(db.exec("ROLLBACK"), SQLITE_OK);
    }
};

QTEST_MAIN(TestCardStore)
#include "tst_cardstore.moc"

// The dataset over many rows: the first ones at once, the rest read behind them, and what
// the commands do meanwhile.
#include "datasetsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/datasource.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/idloader.h"
#include "data/rowcache.h"
#include "data/sqlite.h"
#include "mainwindow/cardeditor.h"
#include "mainwindow/dbcontrols.h"
#include "platform/files.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <limits>
#include <memory>

using TestSupport::col;

class TestDataSetLoading : public QObject, private DataSetFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    void largeDatasetOpensAndPages();
    void rowsArriveAfterTheFirstOnes();
    void commandsThatNeedEveryRowWaitForThem();
    void changesWhileRowsArrive();
    void closingWhileRowsArriveStopsTheReading();
    void rowsAreThoseOfTheMomentOfOpening();
    void ownTransactionIsSeenWhole();
    void failedReadingOfTheRestIsReported();
    void streamedRowsAndTheirFailures();
    void waitingForRowsTakesThemAsTheyCome();
    void navigatorAndGridReachTheVeryLastRow();
    void olderDatabaseGetsTheIndexOnce();
};

void TestDataSetLoading::largeDatasetOpensAndPages() {
    const int count = 20000;
    fillCards(m_folder->database(), count);
    QElapsedTimer timer;
    timer.start();
    TADOQuery& q = *openCards();
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(q.RecordCount(), count);

    const int name = int(q.FieldNames().indexOf("姓名"));
    for (int row : {0, 127, 128, 129, 255, 256, 5000, 12345, count - 1})
        QCOMPARE(q.CellText(row, name), QStringLiteral("N%1").arg(row));
    // Read every row once: beyond the cache, so pages are dropped and read again.
    for (int row = 0; row < count; row += 7)
        QCOMPARE(q.CellText(row, name), QStringLiteral("N%1").arg(row));
    QCOMPARE(q.CellText(3, name), QStringLiteral("N3"));
    q.MoveTo(12345);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("N12345"));

    // Rows behind a deleted one shift up with their values.
    q.MoveTo(200);
    q.Delete();
    QCOMPARE(q.RecordCount(), count - 1);
    QCOMPARE(q.CellText(199, name), QStringLiteral("N199"));
    QCOMPARE(q.CellText(200, name), QStringLiteral("N201"));
    QCOMPARE(q.CellText(count - 2, name), QStringLiteral("N%1").arg(count - 1));

    // The statement's own order is kept.
    q.Close();
    openCards("select * from zl where 单位 = 'U3' order by ID desc");
    QCOMPARE(q.RecordCount(), count / 10);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("N%1").arg(count - 7));
    QCOMPARE(q.CellText(q.RecordCount() - 1, name), QStringLiteral("N3"));
    QCOMPARE(q.CellText(150, name), QStringLiteral("N%1").arg(count - 7 - 1500));
}

void TestDataSetLoading::rowsArriveAfterTheFirstOnes() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    TDataSource source;
    QAbstractItemModelTester tester(&source,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    source.setColumns({QStringLiteral("ID"), QStringLiteral("姓名")});
    source.setDataSet(m_q1.get());
    QSignalSpy appended(m_q1.get(), &TADOQuery::rowsAppended);
    TADOQuery& q = openHeld();
    const int name = int(q.FieldNames().indexOf("姓名"));

    // The first rows are there at once, the first of them current; the end is not known yet.
    const int first = q.LoadedCount();
    QVERIFY2(first > 0 && first < count, qPrintable(QString::number(first)));
    QCOMPARE(source.rowCount(), first);
    QCOMPARE(q.RecNo(), 0);
    QVERIFY(q.Bof());
    QVERIFY(!q.Eof());
    QVERIFY(!q.IsEmpty());
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("N0"));
    QCOMPARE(q.CellText(first - 1, name), QStringLiteral("N%1").arg(first - 1));
    QCOMPARE(q.CellText(first, name), QString()); // not a row yet
    QCOMPARE(appended.count(), 0);

    // Once a view has shown them the rest arrives, in the statement's order, and views hear
    // of it.
    q.RowsShown();
    m_gate->open();
    QTRY_VERIFY(!q.Loading());
    QCOMPARE(q.LoadedCount(), count);
    QCOMPARE(source.rowCount(), count);
    QVERIFY(appended.count() >= 1);
    QCOMPARE(appended.first().at(0).toInt(), first);
    QCOMPARE(appended.last().at(1).toInt(), count - 1);
    for (int row : {first - 1, first, count / 2, count - 1}) {
        QCOMPARE(q.CellText(row, name), QStringLiteral("N%1").arg(row));
        QCOMPARE(source.index(row, 1).data().toString(), QStringLiteral("N%1").arg(row));
    }
    QCOMPARE(q.RecNo(), 0);

    // A list that fits its first rows is whole at once; so is an empty one.
    q.Close();
    openCards("select * from zl where ID <= 3");
    QVERIFY(!q.Loading());
    QCOMPARE(q.LoadedCount(), 3);
    q.Close();
    openCards("select * from zl where ID < 0");
    QVERIFY(!q.Loading());
    QVERIFY(q.IsEmpty());
    QVERIFY(q.Bof() && q.Eof());
    QCOMPARE(q.RecNo(), -1);
}

void TestDataSetLoading::commandsThatNeedEveryRowWaitForThem() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    TADOQuery* q = &openHeld();
    const int first = q->LoadedCount();
    m_gate->open();
    // Let through, but not yet taken in: each command below finds the dataset still loading.
    QVERIFY(q->Loading());
    QCOMPARE(q->RecordCount(), count);
    QVERIFY(!q->Loading());

    q = &openHeld();
    m_gate->open();
    q->Last();
    QCOMPARE(q->RecNo(), count - 1);
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N%1").arg(count - 1));
    QVERIFY(q->Eof());

    q = &openHeld();
    const qint64 wanted =
        TestSupport::query(m_folder->database(),
                           QStringLiteral("select ID from zl where 姓名 = 'N%1'").arg(count - 10))
            .value(0)
            .toLongLong();
    m_gate->open();
    QVERIFY(q->Locate(wanted));
    QCOMPARE(q->RecNo(), count - 10);
    QVERIFY(!q->Locate(wanted + count)); // no such row, after all of them were seen
    QCOMPARE(q->RecNo(), count - 10);

    q = &openHeld();
    m_gate->open();
    q->MoveTo(count - 2);
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N%1").arg(count - 2));

    // At the last row known so far, the next one is learned rather than taken for the end.
    q = &openHeld();
    q->MoveTo(first - 1);
    QCOMPARE(q->RecNo(), first - 1);
    m_gate->open();
    QVERIFY(!q->Eof());
    q->Next();
    QCOMPARE(q->RecNo(), first);
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N%1").arg(first));
}

void TestDataSetLoading::changesWhileRowsArrive() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    const QString db = m_folder->database();

    // Deleting the first row: every row after it moves up, the last one included.
    TADOQuery* q = &openHeld();
    m_gate->open();
    q->Delete();
    QCOMPARE(q->RecNo(), 0);
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N1"));
    QCOMPARE(q->RecordCount(), count - 1);
    QCOMPARE(TestSupport::query(db, "select count(*) from zl"), QStringList{"4999"});
    q->Last();
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N%1").arg(count - 1));

    // A new row comes after every row of the statement.
    q = &openHeld();
    m_gate->open();
    q->Insert();
    QCOMPARE(q->RecNo(), count - 1);
    q->SetFieldAsString("姓名", "new");
    q->Post();
    QCOMPARE(q->RecordCount(), count);
    QCOMPARE(q->RecNo(), count - 1);
    QCOMPARE(names(db).last(), QStringLiteral("new"));

    // A change is written although the dataset's own reader still holds the file.
    q = &openHeld();
    m_gate->open();
    q->Edit();
    q->SetFieldAsString("姓名", "changed");
    q->Post();
    QCOMPARE(names(db).first(), QStringLiteral("changed"));
    QVERIFY(!q->Loading());

    // So is one through another dataset of the connection (the password change).
    q = &openHeld();
    m_gate->open();
    m_q2->Open();
    m_q2->Edit();
    m_q2->SetFieldAsString("用户密码", "other");
    m_q2->Post();
    QCOMPARE(TestSupport::query(db, "select 用户密码 from yh"), QStringList{"other"});
    QVERIFY(!q->Loading());
    QCOMPARE(q->RecordCount(), count);
}

void TestDataSetLoading::closingWhileRowsArriveStopsTheReading() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    const QString db = m_folder->database();
    TADOQuery* q = &openHeld();
    QTRY_COMPARE(m_gate->held(), 1);
#ifdef Q_OS_LINUX
    QCOMPARE(TestSupport::timesHeldOpen(db), 2); // the connection and the reader
#endif
    // The gate stays closed: only the dataset's stop lets the reader go.
    QSignalSpy appended(q, &TADOQuery::rowsAppended);
    q->Close();
    QVERIFY(!q->Active());
    QVERIFY(!q->Loading());
    QCOMPARE(q->LoadedCount(), 0);
#ifdef Q_OS_LINUX
    QCOMPARE(TestSupport::timesHeldOpen(db), 1);
#endif
    QCoreApplication::processEvents();
    QCOMPARE(appended.count(), 0); // nothing arrives for a closed dataset

    // Closing the connection and destroying the dataset stop it too.
    q = &openHeld();
    m_connection->Close();
    QVERIFY(!q->Loading());
    m_connection->Open();
    q = &openHeld();
    m_q1.reset();
#ifdef Q_OS_LINUX
    QCOMPARE(TestSupport::timesHeldOpen(db), 1);
#endif
    QCoreApplication::processEvents();

    // Opened again, the list is whole.
    m_q1 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
    m_q1->setConnection(m_connection.get());
    m_q1->SQL.Add("select * from zl");
    m_gate->open();
    QCOMPARE(openCards()->RecordCount(), count);
}

void TestDataSetLoading::rowsAreThoseOfTheMomentOfOpening() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    TADOQuery& q = openHeld();

    // Another program cannot commit while the rows are read...
    TestSupport::OtherWriter other(m_folder->database(), nullptr);
    QVERIFY(other.ok());
    const char* add = "insert into zl(姓名) values ('elsewhere')";
    QCOMPARE(other.exec(add) & 0xff, SQLITE_BUSY);
    m_gate->open();
    QCOMPARE(q.RecordCount(), count);
    // ...and once they are, it can, but the list shows its rows as they were.
    QCOMPARE(other.exec(add), SQLITE_OK);
    QCOMPARE(q.RecordCount(), count);
    q.Close();
    QCOMPARE(openCards()->RecordCount(), count + 1);
}

void TestDataSetLoading::ownTransactionIsSeenWhole() {
    fillCards(m_folder->database(), 1000);
    // Another connection would not see rows the program has not committed: read them here.
    sqlite3* handle = m_connection->handle();
    QCOMPARE(sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    QCOMPARE(
        sqlite3_exec(handle, "insert into zl(姓名) values ('pending')", nullptr, nullptr, nullptr),
        SQLITE_OK);
    TADOQuery& q = *openCards();
    QVERIFY(!q.Loading());
    QCOMPARE(q.RecordCount(), 1001);
    q.Last();
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("pending"));
    q.Close();
    QCOMPARE(sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
}

void TestDataSetLoading::failedReadingOfTheRestIsReported() {
    // Enough rows that the identities fill many pages, most of them read after the first.
    const int count = 100000;
    const QString db = m_folder->database();
    fillCards(db, count);
    TADOQuery& q = openHeld();
    const int first = q.LoadedCount();
    // The file loses its end under the reader (a disk gone bad, a file cut off elsewhere).
    m_gate->setOnPass([db] { QFile::resize(db, QFileInfo(db).size() / 8); });
    QSignalSpy failed(&q, &TADOQuery::loadFailed);
    m_gate->open();
    q.FetchAll();
    QVERIFY(!q.Loading());
    QCOMPARE(failed.count(), 1);
    const QString message = failed.first().at(0).toString();
    QVERIFY2(TestSupport::opensInChinese(message), qPrintable(message));
    QVERIFY2(message.contains("ADOQuery1: "), qPrintable(message));
    // The rows read so far stay; what needs them all says what went wrong.
    QVERIFY(q.LoadedCount() >= first && q.LoadedCount() < count);
    QCOMPARE(q.RecordCount(), q.LoadedCount());
    QCOMPARE(errorOf([&] { q.Last(); }), message);
    QCOMPARE(q.RecNo(), 0);
    // Closing forgets it.
    q.Close();
    QCOMPARE(failed.count(), 1);
}

// Rows given a part at a time by code (the quick find's): the first part at open, the rest
// on a connection of their own; a failure says why, at open or when the rest is needed.
void TestDataSetLoading::streamedRowsAndTheirFailures() {
    fillCards(m_folder->database(), 3000);
    TADOQuery& q = *openCards();
    q.Close();
    auto failAt = std::make_shared<qint64>(0);
    QVector<sqlite3*> readers;
    q.IdStream = [failAt, &readers](sqlite3*, sqlite3* reader) {
        readers << reader;
        auto next = std::make_shared<qint64>(1);
        return [failAt, next](QVector<qint64>& ids, qsizetype count) {
            for (qsizetype i = 0; i < count && *next <= 3000; ++i, ++*next) {
                if (*next == *failAt)
                    throw EDatabaseError(QStringLiteral("快速查找的索引已损坏。"));
                ids << *next;
            }
            return *next <= 3000 ? SQLITE_ROW : SQLITE_DONE;
        };
    };
    q.Open();
    QVERIFY(q.Loading() && q.LoadedCount() < 3000);
    QVERIFY(readers.last() != m_q1->connection()->handle());
    QCOMPARE(q.RecordCount(), 3000);
    q.Last();
    QCOMPARE(q.CurrentId(), qint64(3000));

    *failAt = 2000;
    q.Close();
    QSignalSpy failed(&q, &TADOQuery::loadFailed);
    q.Open();
    QCOMPARE(errorOf([&] { q.Last(); }), QStringLiteral("快速查找的索引已损坏。"));
    QCOMPARE(failed.count(), 1);
    QCOMPARE(q.LoadedCount(), 1999);

    *failAt = 5;
    q.Close();
    QCOMPARE(errorOf([&] { q.Open(); }), QStringLiteral("快速查找的索引已损坏。"));
    QVERIFY(!q.Active());
    q.IdStream = nullptr;
}

void TestDataSetLoading::waitingForRowsTakesThemAsTheyCome() {
    // Two million IDs in batches: taken only at the end, they held the list's memory twice.
    constexpr qsizetype count = qsizetype(1) << 21;
    sqlite3* raw = nullptr;
    QCOMPARE(sqlite3_open(":memory:", &raw), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> reader(raw, sqlite3_close);
    std::atomic<int> announced{0};
    const auto source = [](sqlite3*) {
        auto next = std::make_shared<qint64>(1);
        return [next](QVector<qint64>& ids, qsizetype max) {
            for (qsizetype i = 0; i < max && *next <= count; ++i)
                ids.append((*next)++);
            return *next <= count ? SQLITE_ROW : SQLITE_DONE;
        };
    };
    IdLoader loader(reader.get(), source, 128, [&announced] { ++announced; });
    QVector<qint64> ids;
    QVERIFY(!loader.take(ids));
    QCOMPARE(ids.size(), 128);

    QVERIFY(!loader.takeUntil(ids, 300000));
    QVERIFY(ids.size() >= 300000 && ids.size() < count);
    QVERIFY(loader.takeUntil(ids, std::numeric_limits<qsizetype>::max()));
    QCOMPARE(loader.result(), SQLITE_DONE);
    QCOMPARE(ids.size(), count);
    for (qsizetype i = 0; i < count; ++i) {
        if (ids[i] != i + 1)
            QFAIL(qPrintable(QStringLiteral("ID %1 at row %2").arg(ids[i]).arg(i)));
    }
    // Every hand-over after a take is announced anew: more than the first and the end.
    QVERIFY2(announced > 2, qPrintable(QString::number(announced)));
    QVERIFY(loader.take(ids)); // nothing left
    QCOMPARE(ids.size(), count);
}

void TestDataSetLoading::navigatorAndGridReachTheVeryLastRow() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    TDataSource source;
    QStringList columns;
    for (const char* c : kCardColumns)
        columns << col(c);
    source.setColumns(columns);
    source.setDataSet(m_q1.get());
    TDBNavigator navigator;
    navigator.setDataSet(m_q1.get());
    auto enabled = [&](TDBNavigator::Button b) { return navigator.button(b)->isEnabled(); };

    TADOQuery* q = &openHeld();
    QVERIFY(!enabled(TDBNavigator::nbFirst) && !enabled(TDBNavigator::nbPrior));
    QVERIFY(enabled(TDBNavigator::nbNext) && enabled(TDBNavigator::nbLast));
    m_gate->open();
    navigator.button(TDBNavigator::nbLast)->click();
    QCOMPARE(q->RecNo(), count - 1);
    QVERIFY(enabled(TDBNavigator::nbFirst) && enabled(TDBNavigator::nbPrior));
    QVERIFY(!enabled(TDBNavigator::nbNext) && !enabled(TDBNavigator::nbLast));

    // Ctrl+End in the grid goes to the last card, not to the last one known so far.
    TDBGrid grid;
    grid.setDataSource(&source);
    q = &openHeld();
    QVERIFY(source.rowCount() < count);
    m_gate->open();
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(q->RecNo(), count - 1);
    QCOMPARE(grid.currentIndex().row(), count - 1);
    QCOMPARE(q->FieldAsString("姓名"), QStringLiteral("N%1").arg(count - 1));
}

void TestDataSetLoading::olderDatabaseGetsTheIndexOnce() {
    const QString db = m_folder->database();
    auto indexes = [&] {
        return TestSupport::query(
            db, "select name from sqlite_master where type = 'index' and tbl_name = 'zl'");
    };
    // A new database: large pages, and the index the list reads its IDs from.
    QCOMPARE(TestSupport::query(db, "pragma page_size"), QStringList{"65536"});
    QCOMPARE(indexes(), QStringList{"zl_ID"});

    // An older one without it: another program writing keeps it from being added, and the
    // database opens all the same.
    m_connection->Close();
    TestSupport::exec(db, "drop index zl_ID");
    {
        TestSupport::OtherWriter other(db);
        QVERIFY(other.ok());
        m_connection->Open();
        QVERIFY(m_connection->Connected());
        QCOMPARE(other.exec("COMMIT"), SQLITE_OK);
    }
    QVERIFY(indexes().isEmpty());
    fillCards(db, 300);
    QCOMPARE(openCards()->RecordCount(), 300);

    // The next time it is opened, it gets it; the rows and their order are as before.
    m_connection->Close();
    m_connection->Open();
    QCOMPARE(indexes(), QStringList{"zl_ID"});
    TADOQuery& q = *openCards();
    QCOMPARE(q.RecordCount(), 300);
    q.Last();
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("N299"));
}

QTEST_MAIN(TestDataSetLoading)
#include "tst_dataset_loading.moc"

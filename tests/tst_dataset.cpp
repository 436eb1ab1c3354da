#include "testsupport.h"

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
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using TestSupport::col;

namespace {

template <class F> QString errorOf(F f) {
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

/// Fast bulk rows through one transaction: 姓名 is "N<i>", 单位 is "U<i % 10>".
void fillCards(const QString& file, int count) {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "insert into zl(姓名, 单位) values (?, ?)", -1, &st, nullptr);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = "N" + QByteArray::number(i);
        const QByteArray unit = "U" + QByteArray::number(i % 10);
        sqlite3_bind_text(st, 1, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, unit.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    QCOMPARE(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

QStringList names(const QString& file) {
    return TestSupport::query(file, "select 姓名 from zl order by ID");
}

#ifdef Q_OS_LINUX
int timesHeldOpen(const QString& file) {
    const QString target = QFileInfo(file).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            ++count;
    }
    return count;
}

bool fileHeldOpen(const QString& file) {
    return timesHeldOpen(file) > 0;
}
#endif

/// Holds every reader of row identities after its first rows until let through, so that a
/// test sees a dataset whose rest of rows is still to come.
class LoaderGate {
public:
    LoaderGate() {
        IdLoader::setBeforeTheRestForTesting([this](const std::atomic<bool>& stop) {
            ++m_held;
            while (!m_open && !stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (m_onPass && !stop)
                m_onPass();
        });
    }
    ~LoaderGate() { IdLoader::setBeforeTheRestForTesting({}); }
    void open() { m_open = true; }
    void close() { m_open = false; }
    int held() const { return m_held; }
    /// Runs on the reader's thread as it passes, before it reads on.
    void setOnPass(std::function<void()> f) { m_onPass = std::move(f); }

private:
    std::atomic<bool> m_open{false};
    std::atomic<int> m_held{0};
    std::function<void()> m_onPass;
};

} // namespace

class TestDataSet : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openOnOpenKeepsRowsCurrentRowAndEdit();
    void emptyDatasetReadsEmptyAndEditInserts();
    void insertPostsOrDropsThePendingRow();
    void postWritesOnlyChangedColumnsAndRereads();
    void refusedPostKeepsTheRow();
    void cancelDropsInsertOrEdits();
    void deleteMovesTheCurrentRow();
    void navigationPostsAndReportsEnds();
    void errorsCarryTheDatasetName();
    void textsRoundTrip_data();
    void textsRoundTrip();
    void parametersBindWithLikeEscape();
    void ownRowsStayWhenTheStatementNoLongerSelectsThem();
    void gridModelFollowsTheDataset();
    void closingTheConnectionReleasesTheFile();
    void largeDatasetOpensAndPages();
    void rowsArriveAfterTheFirstOnes();
    void commandsThatNeedEveryRowWaitForThem();
    void changesWhileRowsArrive();
    void closingWhileRowsArriveStopsTheReading();
    void rowsAreThoseOfTheMomentOfOpening();
    void ownTransactionIsSeenWhole();
    void failedReadingOfTheRestIsReported();
    void navigatorAndGridReachTheVeryLastRow();
    void olderDatabaseGetsTheIndexOnce();
    void rowCacheDropsLeastRecentlyUsed();
    void fieldMapLists();
    void writeHookRunsInTheWritesTransaction();
    void uncommittedTransactionsAndSavepointsLeaveNothing();

private:
    TADOQuery* openCards(const QString& statement = QString());
    /// Opens the cards with the rest of their rows held back; the gate stays closed.
    TADOQuery& openHeld();

    std::unique_ptr<TestSupport::ProgramFolder> m_folder;
    std::unique_ptr<TADOConnection> m_connection;
    std::unique_ptr<TADOQuery> m_q1;
    std::unique_ptr<TADOQuery> m_q2;
    std::unique_ptr<LoaderGate> m_gate;
};

void TestDataSet::init() {
    m_folder = std::make_unique<TestSupport::ProgramFolder>(QStringLiteral("pw"));
    m_connection = std::make_unique<TADOConnection>();
    m_connection->ConnectionString = QString::fromUtf8(kStoredConnectionString);
    m_connection->Open();
    m_q1 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
    m_q1->setConnection(m_connection.get());
    m_q1->SQL.Add("select *");
    m_q1->SQL.Add("from zl");
    m_q2 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery2"));
    m_q2->setConnection(m_connection.get());
    m_q2->SQL.Add("select *");
    m_q2->SQL.Add("from yh");
}

void TestDataSet::cleanup() {
    if (m_gate)
        m_gate->open();
    m_q1.reset();
    m_q2.reset();
    m_connection.reset();
    m_gate.reset();
    m_folder.reset();
}

TADOQuery* TestDataSet::openCards(const QString& statement) {
    if (!statement.isEmpty()) {
        m_q1->SQL.Clear();
        m_q1->SQL.Add(statement);
    }
    m_q1->Open();
    return m_q1.get();
}

TADOQuery& TestDataSet::openHeld() {
    if (!m_gate)
        m_gate = std::make_unique<LoaderGate>();
    m_gate->close();
    m_q1->Close();
    TADOQuery& q = *openCards();
    [&] { QVERIFY(q.Loading()); }();
    return q;
}

void TestDataSet::openOnOpenKeepsRowsCurrentRowAndEdit() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a'),('b'),('c')");
    TADOQuery& q = *openCards();
    QCOMPARE(q.SQL.Text(), QStringLiteral("select *\r\nfrom zl\r\n"));
    QCOMPARE(q.RecNo(), 0);
    q.MoveTo(1);
    q.Edit();
    q.SetFieldAsString("姓名", "changed");

    // Rows added elsewhere, a new statement: neither shows until the dataset is reopened.
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('d')");
    q.SQL.Clear();
    q.SQL.Add("select * from zl where 姓名 = 'a'");
    QSignalSpy resets(&q, &TADOQuery::reset);
    q.Open();
    QCOMPARE(resets.count(), 0);
    QCOMPARE(q.RecordCount(), 3);
    QCOMPARE(q.RecNo(), 1);
    QCOMPARE(q.state(), TADOQuery::dsEdit);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("changed"));

    q.Post();
    q.Close();
    q.Open();
    QCOMPARE(q.RecordCount(), 1);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("a"));
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "changed", "c", "d"}));
}

void TestDataSet::emptyDatasetReadsEmptyAndEditInserts() {
    TestSupport::exec(m_folder->database(), "delete from yh");
    m_q2->Open();
    QCOMPARE(m_q2->FieldAsString("用户密码"), QString());

    TADOQuery& q = *openCards();
    QVERIFY(q.IsEmpty());
    QVERIFY(q.Bof() && q.Eof());
    QCOMPARE(q.RecNo(), -1);
    QCOMPARE(q.CurrentId(), 0);
    QCOMPARE(q.FieldAsString("姓名"), QString());
    QCOMPARE(q.FieldNames().size(), 26);

    q.Edit();
    QCOMPARE(q.state(), TADOQuery::dsInsert);
    QCOMPARE(q.RecordCount(), 1);
    q.SetFieldAsString("姓名", "first");
    q.Post();
    QCOMPARE(q.state(), TADOQuery::dsBrowse);
    QVERIFY(q.CurrentId() > 0);
    QCOMPARE(q.FieldAsString("ID"), QString::number(q.CurrentId()));
    QCOMPARE(q.FieldAsString("添加日期"), QDate::currentDate().toString(Qt::ISODate));
    QCOMPARE(names(m_folder->database()), QStringList{"first"});

    // The password dataset: edit its first row in place.
    TestSupport::exec(m_folder->database(), "insert into yh(用户密码) values ('old')");
    m_q2->Close();
    m_q2->Open();
    m_q2->Edit();
    m_q2->SetFieldAsString("用户密码", "new");
    m_q2->Post();
    QCOMPARE(TestSupport::query(m_folder->database(), "select 用户密码 from yh"),
             QStringList{"new"});
}

void TestDataSet::insertPostsOrDropsThePendingRow() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a')");
    TADOQuery& q = *openCards();
    q.Insert();
    QCOMPARE(q.RecNo(), 1);
    QCOMPARE(q.FieldAsString("姓名"), QString());
    q.SetFieldAsString("姓名", "b");
    q.Insert(); // posts "b" first
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "b"}));
    QCOMPARE(q.RecordCount(), 3);
    QCOMPARE(q.RecNo(), 2);

    q.Insert(); // the untouched row is dropped, not written
    QCOMPARE(q.RecordCount(), 3);
    QCOMPARE(q.RecNo(), 2);
    q.Cancel();
    QCOMPARE(q.RecordCount(), 2);
    QCOMPARE(q.RecNo(), 1);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("b"));

    // An edit in progress is posted by the next insert.
    q.First();
    q.Edit();
    q.SetFieldAsString("单位", "U");
    q.Insert();
    q.Cancel();
    QCOMPARE(TestSupport::query(m_folder->database(), "select 单位 from zl where 姓名='a'"),
             QStringList{"U"});
    QCOMPARE(q.RecNo(), 0);
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "b"}));
}

void TestDataSet::postWritesOnlyChangedColumnsAndRereads() {
    TADOQuery& q = *openCards();
    q.Insert();
    for (const EditorInput& entry : kEditorInputs)
        q.SetFieldAsString(col(entry.column), col(entry.control));
    q.Post();
    const qint64 id = q.CurrentId();
    QVERIFY(id > 0);
    for (const EditorInput& entry : kEditorInputs)
        QCOMPARE(q.FieldAsString(col(entry.column)), col(entry.control));
    QCOMPARE(TestSupport::query(m_folder->database(), "select \"E-mail\", 工作邮编 from zl"),
             QStringList{"Edit13|MaskEdit4"});

    // Another program changes 单位; an edit of 姓名 alone must not put the old 单位 back.
    TestSupport::exec(m_folder->database(), "update zl set 单位 = 'theirs'");
    q.Edit();
    q.SetFieldAsString("姓名", "mine");
    q.Post();
    QCOMPARE(TestSupport::query(m_folder->database(), "select 姓名, 单位 from zl"),
             QStringList{"mine|theirs"});
    QCOMPARE(q.FieldAsString("单位"), QStringLiteral("theirs"));
    QCOMPARE(q.CurrentId(), id);
    QVERIFY(q.Locate(id));

    q.Post(); // browse mode: nothing happens
    q.Edit();
    q.Post(); // nothing changed: nothing written, back to browse
    QCOMPARE(q.state(), TADOQuery::dsBrowse);
}

void TestDataSet::refusedPostKeepsTheRow() {
    TestSupport::exec(m_folder->database(),
                      "create trigger refuse before insert on zl when new.姓名 = 'bad' "
                      "begin select raise(abort, 'the table refuses this card'); end");
    TADOQuery& q = *openCards();
    q.Insert();
    q.SetFieldAsString("姓名", "bad");
    QCOMPARE(TestSupport::technical(errorOf([&] { q.Post(); })),
             QStringLiteral("ADOQuery1: the table refuses this card"));
    QCOMPARE(q.state(), TADOQuery::dsInsert);
    QCOMPARE(q.RecordCount(), 1);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("bad"));
    // Navigation posts too, so it fails the same way and stays put.
    QVERIFY(errorOf([&] { q.First(); }).contains("refuses"));
    QCOMPARE(q.state(), TADOQuery::dsInsert);

    q.SetFieldAsString("姓名", "good");
    q.Post();
    QCOMPARE(names(m_folder->database()), QStringList{"good"});
}

void TestDataSet::cancelDropsInsertOrEdits() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a'),('b')");
    TADOQuery& q = *openCards();
    q.Next();
    q.Edit();
    q.SetFieldAsString("姓名", "x");
    q.Cancel();
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("b"));
    QCOMPARE(q.state(), TADOQuery::dsBrowse);

    q.First();
    q.Insert();
    q.SetFieldAsString("姓名", "new");
    q.Cancel();
    QCOMPARE(q.RecordCount(), 2);
    QCOMPARE(q.RecNo(), 0);
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "b"}));
    q.Cancel(); // nothing pending: nothing happens
}

void TestDataSet::deleteMovesTheCurrentRow() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a'),('b'),('c'),('d')");
    TADOQuery& q = *openCards();
    q.MoveTo(1);
    q.Delete(); // the next row becomes current
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("c"));
    QCOMPARE(q.RecNo(), 1);
    q.Last();
    q.Delete(); // the last one: the previous becomes current
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("c"));
    QVERIFY(q.Eof());
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "c"}));

    // Deleting while inserting only drops the new row.
    q.Insert();
    q.SetFieldAsString("姓名", "pending");
    q.Delete();
    QCOMPARE(q.state(), TADOQuery::dsBrowse);
    QCOMPARE(q.RecordCount(), 2);
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "c"}));

    // Deleting while editing drops the edits and deletes the row.
    q.First();
    q.Edit();
    q.SetFieldAsString("姓名", "zzz");
    q.Delete();
    q.Delete();
    QVERIFY(q.IsEmpty());
    QCOMPARE(q.RecNo(), -1);
    QCOMPARE(q.FieldAsString("姓名"), QString());
    QVERIFY(names(m_folder->database()).isEmpty());
    QCOMPARE(TestSupport::technical(errorOf([&] { q.Delete(); })),
             QStringLiteral("ADOQuery1: Cannot perform this operation on an empty dataset"));
}

void TestDataSet::navigationPostsAndReportsEnds() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a'),('b'),('c')");
    TADOQuery& q = *openCards();
    QSignalSpy current(&q, &TADOQuery::currentChanged);
    QVERIFY(q.Bof() && !q.Eof());
    q.Prior();
    QCOMPARE(q.RecNo(), 0);
    QCOMPARE(current.count(), 0);
    q.Next();
    QVERIFY(!q.Bof() && !q.Eof());
    q.Last();
    QVERIFY(q.Eof());
    q.Next();
    QCOMPARE(q.RecNo(), 2);
    q.MoveTo(99);
    QCOMPARE(q.RecNo(), 2);
    q.MoveTo(-5);
    QCOMPARE(q.RecNo(), 0);
    QCOMPARE(current.count(), 3);
    QCOMPARE(current.last().at(0).toInt(), 0);

    const qint64 idOfC =
        TestSupport::query(m_folder->database(), "select ID from zl where 姓名='c'")
            .first()
            .toLongLong();
    QVERIFY(q.Locate(idOfC));
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("c"));
    QVERIFY(!q.Locate(idOfC + 100));
    QCOMPARE(q.RecNo(), 2);

    q.Edit();
    q.SetFieldAsString("姓名", "c2");
    q.First(); // posts the edit
    QCOMPARE(q.state(), TADOQuery::dsBrowse);
    QCOMPARE(names(m_folder->database()), (QStringList{"a", "b", "c2"}));
}

void TestDataSet::errorsCarryTheDatasetName() {
    TADOQuery& q = *m_q1;
    const QString closed =
        QStringLiteral("ADOQuery1: Cannot perform this operation on a closed dataset");
    // What happened in Chinese first, the dataset's own text last.
    auto check = [&](const QString& error) {
        QVERIFY2(TestSupport::opensInChinese(error), qPrintable(error));
        QCOMPARE(TestSupport::technical(error), closed);
    };
    check(errorOf([&] { q.FieldAsString("姓名"); }));
    check(errorOf([&] { q.SetFieldAsString("姓名", "x"); }));
    check(errorOf([&] { q.Insert(); }));
    check(errorOf([&] { q.Edit(); }));
    check(errorOf([&] { q.Post(); }));
    check(errorOf([&] { q.Delete(); }));
    check(errorOf([&] { q.Next(); }));
    check(errorOf([&] { q.Locate(1); }));
    QCOMPARE(q.RecordCount(), 0);
    QCOMPARE(q.CellText(0, 0), QString());

    q.Open();
    QCOMPARE(TestSupport::technical(errorOf([&] { q.FieldAsString("nosuch"); })),
             QStringLiteral("ADOQuery1: Field 'nosuch' not found"));
    QCOMPARE(TestSupport::technical(errorOf([&] { q.SetFieldAsString("姓名", "x"); })),
             QStringLiteral("ADOQuery1: Dataset not in edit or insert mode"));
    q.Insert();
    QCOMPARE(TestSupport::technical(errorOf([&] { q.SetFieldAsString("nosuch", "x"); })),
             QStringLiteral("ADOQuery1: Field 'nosuch' not found"));
    QCOMPARE(q.FieldAsString("id"), QString()); // names match without letter case
    q.Cancel();
    q.Close();

    const auto openFails = [&](const QString& statement) {
        q.SQL.Clear();
        q.SQL.Add(statement);
        const QString error = errorOf([&] { q.Open(); });
        if (q.Active())
            return QStringLiteral("<opened>");
        return error;
    };
    QVERIFY(TestSupport::technical(openFails("selec * from zl")).startsWith("ADOQuery1: "));
    QVERIFY(openFails("selec * from zl").contains("syntax error"));
    QCOMPARE(TestSupport::technical(openFails("select * from zl where 姓名 = ''' ")),
             QStringLiteral("ADOQuery1: unrecognized token: \"''' \r\n\""));
    QVERIFY(openFails("select 姓名 from zl").contains("\"ID\" column"));
    QVERIFY(TestSupport::technical(openFails("")).startsWith("ADOQuery1: "));
    QVERIFY(openFails("Select * From zl Where E-mail LIKE '%a%'").contains("no such column"));

    // A trailing semicolon and a trailing comment are fine.
    q.SQL.Clear();
    q.SQL.Add("select * from zl; ");
    q.Open();
    q.Close();
    q.SQL.Clear();
    q.SQL.Add("select * from zl -- all cards");
    q.Open();
    QVERIFY(q.Active());
}

void TestDataSet::textsRoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString("");
    QTest::newRow("blanks") << QString("   ");
    QTest::newRow("quotes") << QString("O'Brien \"the\" `x` [y] ''");
    QTest::newRow("line breaks") << QString("one\r\ntwo\nthree\rfour\r\n");
    QTest::newRow("tabs") << QString("\ta\tb\t");
    QTest::newRow("emoji") << QString::fromUtf8("名片 😀👍🏽 ©");
    QTest::newRow("wildcards") << QString("50% a_b \\ ; --");
    QTest::newRow("nul inside") << QString::fromUtf16(u"a\0b", 3);
    QString big;
    for (int i = 0; i < 100000; ++i)
        big += QChar(u"名片x\n"[i % 4]);
    QTest::newRow("100000 characters") << big;
}

void TestDataSet::textsRoundTrip() {
    QFETCH(QString, text);
    TADOQuery& q = *openCards();
    q.Insert();
    q.SetFieldAsString("姓名", text);
    q.SetFieldAsString("备注", text);
    q.SetFieldAsString("E-mail", text);
    QCOMPARE(q.FieldAsString("备注"), text); // the buffer, before posting
    q.Post();
    QCOMPARE(q.FieldAsString("备注"), text);
    q.Close();
    q.Open();
    QCOMPARE(q.FieldAsString("姓名"), text);
    QCOMPARE(q.FieldAsString("备注"), text);
    QCOMPARE(q.FieldAsString("E-mail"), text);
    QCOMPARE(q.CellText(0, int(q.FieldNames().indexOf("备注"))), text);
    // Stored as text, never as a missing value.
    QCOMPARE(TestSupport::query(m_folder->database(), "select 备注 is not null from zl"),
             QStringList{"1"});
}

void TestDataSet::parametersBindWithLikeEscape() {
    TestSupport::exec(m_folder->database(),
                      "insert into zl(姓名, \"E-mail\") values ('50%折扣', 'a@x'), "
                      "('50元', 'b@y'), ('a_b', 'c@x'), ('axb', 'O''Neil@x')");
    const auto search = [&](const QString& column, const QString& pattern) {
        m_q1->Close();
        m_q1->SQL.Clear();
        m_q1->SQL.Add(
            QStringLiteral("Select * From zl Where \"%1\" LIKE ? ESCAPE '\\'").arg(column));
        m_q1->Parameters = {pattern};
        m_q1->Open();
        QStringList found;
        for (int i = 0; i < m_q1->RecordCount(); ++i) {
            m_q1->MoveTo(i);
            found << m_q1->FieldAsString("姓名");
        }
        return found;
    };
    QCOMPARE(search("姓名", "%50\\%%"), QStringList{"50%折扣"});
    QCOMPARE(search("姓名", "%50%"), (QStringList{"50%折扣", "50元"}));
    QCOMPARE(search("姓名", "%a\\_b%"), QStringList{"a_b"});
    QCOMPARE(search("E-mail", "%@x%"), (QStringList{"50%折扣", "a_b", "axb"}));
    QCOMPARE(search("E-mail", "%'%"), QStringList{"axb"});

    // Rows read later still see the parameter the dataset opened with.
    m_q1->Close();
    m_q1->Parameters = {QStringLiteral("%@%")};
    m_q1->Open();
    QCOMPARE(m_q1->RecordCount(), 4);
    m_q1->Parameters = {QStringLiteral("%nothing%")};
    QCOMPARE(m_q1->CellText(1, 1), QStringLiteral("50元"));

    m_q1->Close();
    m_q1->Parameters = {1, 2};
    QVERIFY(errorOf([&] { m_q1->Open(); }).contains("parameters"));
}

void TestDataSet::ownRowsStayWhenTheStatementNoLongerSelectsThem() {
    TestSupport::exec(m_folder->database(),
                      "insert into zl(姓名) values ('张三'),('李四'),('张五')");
    TADOQuery& q = *openCards("Select * From zl Where 姓名 LIKE '%张%'");
    QCOMPARE(q.RecordCount(), 2);
    q.Edit();
    q.SetFieldAsString("姓名", "王三");
    q.Post();
    q.Insert();
    q.SetFieldAsString("姓名", "赵六");
    q.Post();
    QCOMPARE(q.RecordCount(), 3);
    QCOMPARE(q.CellText(0, 1), QStringLiteral("王三"));
    QCOMPARE(q.CellText(2, 1), QStringLiteral("赵六"));
    QVERIFY(!q.FieldAsString("添加日期").isEmpty());
    q.Close();
    q.Open();
    QCOMPARE(q.RecordCount(), 1);
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("张五"));
}

void TestDataSet::gridModelFollowsTheDataset() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('a'),('b')");
    TDataSource source;
    QAbstractItemModelTester tester(&source,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QStringList columns;
    for (const char* c : kCardColumns)
        columns << col(c);
    columns << QStringLiteral("NotInResult");
    source.setColumns(columns);
    source.setDataSet(m_q1.get());
    QCOMPARE(source.rowCount(), 0); // closed
    QCOMPARE(source.columnCount(), 27);
    QCOMPARE(source.headerData(18, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("E-mail"));

    QSignalSpy resets(&source, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&source, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&source, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&source, &QAbstractItemModel::dataChanged);
    m_q1->Open();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(source.rowCount(), 2);
    QCOMPARE(source.index(1, 1).data().toString(), QStringLiteral("b"));
    QCOMPARE(source.index(1, 26).data().toString(), QString());

    m_q1->Insert();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(source.rowCount(), 3);
    m_q1->SetFieldAsString("姓名", "c");
    QVERIFY(changed.count() >= 1);
    QCOMPARE(source.index(2, 1).data().toString(), QStringLiteral("c"));
    m_q1->Post();
    QCOMPARE(source.index(2, 0).data().toString(), QString::number(m_q1->CurrentId()));
    QVERIFY(!source.index(2, 25).data().toString().isEmpty());

    m_q1->Insert();
    m_q1->Cancel();
    QCOMPARE(removed.count(), 1);
    m_q1->First();
    m_q1->Delete();
    QCOMPARE(removed.count(), 2);
    QCOMPARE(source.rowCount(), 2);
    QCOMPARE(source.index(0, 1).data().toString(), QStringLiteral("b"));

    m_q1->Close();
    QCOMPARE(source.rowCount(), 0);
    openCards("select * from zl where 姓名 = 'c'");
    QCOMPARE(resets.count(), 3);
    QCOMPARE(source.rowCount(), 1);
    QCOMPARE(source.index(0, 1).data().toString(), QStringLiteral("c"));

    m_q1.reset(); // the model lets go of a dataset that goes away
    QCOMPARE(source.rowCount(), 0);
}

void TestDataSet::closingTheConnectionReleasesTheFile() {
    TestSupport::exec(m_folder->database(), "insert into zl(姓名) values ('before')");
    m_q1->Open();
    m_q2->Open();
    m_q1->Insert();
    m_q1->SetFieldAsString("姓名", "unposted");
    QSignalSpy q2reset(m_q2.get(), &TADOQuery::reset);

    m_connection->Close();
    QVERIFY(!m_connection->Connected());
    QVERIFY(!m_q1->Active());
    QVERIFY(!m_q2->Active());
    QCOMPARE(q2reset.count(), 1);
    QCOMPARE(names(m_folder->database()), QStringList{"before"});
#ifdef Q_OS_LINUX
    QVERIFY(!fileHeldOpen(m_folder->database()));
#endif
    QVERIFY(!QFile::exists(m_folder->database() + "-wal"));

    // Replace the file with another database, as a restore does.
    TestSupport::ProgramFolder other;
    TestSupport::exec(other.database(), "insert into zl(姓名) values ('restored')");
    QVERIFY(QFile::remove(m_folder->database()));
    QVERIFY(QFile::copy(other.database(), m_folder->database()));
    Platform::setProgramFolderForTesting(m_folder->path());

    m_connection->Open();
    m_q1->Open();
    QCOMPARE(m_q1->FieldAsString("姓名"), QStringLiteral("restored"));
    QVERIFY(!m_q2->Active());

    // A dataset opens a closed connection by itself.
    m_connection->Close();
    m_q2->Open();
    QVERIFY(m_connection->Connected());
}

void TestDataSet::largeDatasetOpensAndPages() {
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

void TestDataSet::rowsArriveAfterTheFirstOnes() {
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

void TestDataSet::commandsThatNeedEveryRowWaitForThem() {
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

void TestDataSet::changesWhileRowsArrive() {
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

void TestDataSet::closingWhileRowsArriveStopsTheReading() {
    const int count = 5000;
    fillCards(m_folder->database(), count);
    const QString db = m_folder->database();
    TADOQuery* q = &openHeld();
    QTRY_COMPARE(m_gate->held(), 1);
#ifdef Q_OS_LINUX
    QCOMPARE(timesHeldOpen(db), 2); // the connection and the reader
#endif
    // The gate stays closed: only the dataset's stop lets the reader go.
    QSignalSpy appended(q, &TADOQuery::rowsAppended);
    q->Close();
    QVERIFY(!q->Active());
    QVERIFY(!q->Loading());
    QCOMPARE(q->LoadedCount(), 0);
#ifdef Q_OS_LINUX
    QCOMPARE(timesHeldOpen(db), 1);
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
    QCOMPARE(timesHeldOpen(db), 1);
#endif
    QCoreApplication::processEvents();

    // Opened again, the list is whole.
    m_q1 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
    m_q1->setConnection(m_connection.get());
    m_q1->SQL.Add("select * from zl");
    m_gate->open();
    QCOMPARE(openCards()->RecordCount(), count);
}

void TestDataSet::rowsAreThoseOfTheMomentOfOpening() {
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

void TestDataSet::ownTransactionIsSeenWhole() {
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

void TestDataSet::failedReadingOfTheRestIsReported() {
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

void TestDataSet::navigatorAndGridReachTheVeryLastRow() {
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

void TestDataSet::olderDatabaseGetsTheIndexOnce() {
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

void TestDataSet::rowCacheDropsLeastRecentlyUsed() {
    RowCache cache(3);
    for (qint64 id = 1; id <= 3; ++id)
        cache.insert(id, {QString::number(id)});
    QVERIFY(cache.find(1)); // 1 is now the most recently used
    cache.insert(4, {QStringLiteral("4")});
    QCOMPARE(cache.size(), 3);
    QVERIFY(!cache.find(2));
    QVERIFY(cache.find(1) && cache.find(3) && cache.find(4));
    cache.insert(3, {QStringLiteral("three")}); // replacing keeps the size
    QCOMPARE(cache.size(), 3);
    QCOMPARE(cache.find(3)->at(0).toString(), QStringLiteral("three"));
    cache.remove(3);
    QVERIFY(!cache.find(3));
    QCOMPARE(cache.size(), 2);
    cache.clear();
    QCOMPARE(cache.size(), 0);
}

void TestDataSet::fieldMapLists() {
    // Every listed column exists in the cards table, and each list's columns are distinct.
    TADOQuery& q = *openCards();
    QSet<QString> written;
    for (const FieldMapEntry& entry : kFieldMap) {
        QVERIFY2(q.FieldNames().contains(col(entry.column), Qt::CaseInsensitive), entry.column);
        written.insert(col(entry.column));
    }
    QCOMPARE(written.size(), 24);
    QCOMPARE(QString(kFieldMap[5].column), col("生日"));
    QCOMPARE(QString(kEditorInputs[5].control), QStringLiteral("Edit16"));
    QCOMPARE(QString(kEditorInputs[23].control), QStringLiteral("Memo1"));

    QStringList grid;
    for (const char* c : kCardColumns)
        grid << col(c);
    const QStringList table = q.FieldNames();
    QCOMPARE(QSet<QString>(grid.begin(), grid.end()), QSet<QString>(table.begin(), table.end()));
    QCOMPARE(grid.first(), QStringLiteral("ID"));
    QCOMPARE(grid.last(), col("添加日期"));
    for (const char* c : kDetailColumns)
        QVERIFY2(written.contains(col(c)) && col(c) != col("生日"), c);
    for (const char* c : kSearchFields)
        QVERIFY2(written.contains(col(c)) && col(c) != col("传真") && col(c) != col("备注"), c);
}

// With widgets: the grid and navigator over a dataset are tested here too.

void TestDataSet::writeHookRunsInTheWritesTransaction() {
    // What is kept beside a card (the quick find's index) is written with it or not at all.
    QStringList told;
    m_q1->WriteHook = [&told](sqlite3* db, const QString& table, qint64 id, RowWrite write) {
        Sqlite::Statement st(db, "select 姓名 from zl where ID = ?",
                             [](sqlite3*, int) { return QStringLiteral("读不到名片"); });
        const QString name = st.set(1, id).next() ? st.text(0).toString() : QString();
        told << table + QLatin1Char(' ') + (write == RowWrite::Deleted ? "-" : "+") + name;
        if (name == QLatin1String("bad"))
            throw EDatabaseError(QStringLiteral("索引写入失败"));
    };
    TADOQuery& q = *openCards();
    q.Insert();
    q.SetFieldAsString("姓名", "a");
    q.Post();
    q.Edit();
    q.SetFieldAsString("姓名", "b");
    q.Post();
    QCOMPARE(told, (QStringList{"zl +a", "zl +b"}));
    q.Insert();
    q.SetFieldAsString("姓名", "bad");
    QCOMPARE(errorOf([&] { q.Post(); }), QStringLiteral("索引写入失败"));
    QCOMPARE(names(m_folder->database()), QStringList{"b"});
    q.Cancel();
    q.First();
    q.Delete(); // told after the row is gone, in the same transaction
    QCOMPARE(told.last(), QStringLiteral("zl -"));
    QCOMPARE(names(m_folder->database()), QStringList());
}

void TestDataSet::uncommittedTransactionsAndSavepointsLeaveNothing() {
    Sqlite::Database db;
    QCOMPARE(db.open(m_folder->database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
    const Sqlite::Failure failure = [](sqlite3*, int) { return QStringLiteral("写入失败"); };
    auto add = [&](const char* name) {
        Sqlite::Statement(db.get(), "insert into zl(姓名) values (?)", failure)
            .setText(1, name)
            .run();
    };
    {
        Sqlite::Transaction transaction(db.get(), failure);
        add("kept");
        {
            Sqlite::Savepoint savepoint(db.get(), failure);
            add("undone"); // never committed: rolled back to the savepoint
        }
        {
            Sqlite::Savepoint savepoint(db.get(), failure);
            add("released");
            savepoint.commit();
        }
        transaction.commit();
    }
    {
        Sqlite::Transaction transaction(db.get(), failure);
        add("lost"); // the transaction ends without a commit
    }
    QCOMPARE(names(m_folder->database()), (QStringList{"kept", "released"}));
    // A failing statement throws the caller's words, and the connection is usable after it.
    QCOMPARE(
        errorOf([&] { Sqlite::Statement(db.get(), "insert into nosuch values (1)", failure); }),
        QStringLiteral("写入失败"));
    QCOMPARE(errorOf([&] {
                 Sqlite::Transaction transaction(db.get(), failure);
                 add("again");
                 Sqlite::run(db.get(), "insert into nosuch values (1)", failure);
             }),
             QStringLiteral("写入失败"));
    QCOMPARE(names(m_folder->database()), (QStringList{"kept", "released"}));
}

QTEST_MAIN(TestDataSet)
#include "tst_dataset.moc"

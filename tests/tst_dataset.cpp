// The dataset: reading, editing and posting rows, texts, parameters, the grid model and
// the connection it goes through.
#include "datasetsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/datasource.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/rowcache.h"
#include "data/sqlite.h"
#include "mainwindow/cardeditor.h"
#include "mainwindow/dbcontrols.h"
#include "platform/files.h"

#include <QAbstractItemModelTester>
#include <QDate>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using TestSupport::col;

class TestDataSet : public QObject, private DataSetFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

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
    void rowCacheDropsLeastRecentlyUsed();
    void fieldMapLists();
    void writeHookRunsInTheWritesTransaction();
    void uncommittedTransactionsAndSavepointsLeaveNothing();
};

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
    QVERIFY(!TestSupport::fileHeldOpen(m_folder->database()));
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

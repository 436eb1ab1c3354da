// Searching cards: the field list, the statement for every field, literal keywords, and
// going back to all cards.
#include "testsupport.h"

#include "data/adoquery.h"
#include "data/fieldmap.h"
#include "data/search.h"
#include "mainwindow/VELMORA.h"

#include <QTest>

using namespace TestSupport;

namespace {

const QString kNoCondition = QStringLiteral("      请输入查询条件！     ");

void search(const QString& field, const QString& keyword, bool byEnter = false) {
    FrmMain->ComboBoxGXZD->setEditText(field);
    FrmMain->EditGJZ->setText(keyword);
    if (byEnter)
        QTest::keyClick(FrmMain->EditGJZ, Qt::Key_Return);
    else
        QTest::mouseClick(FrmMain->SpeedButton4, Qt::LeftButton, {}, QPoint(60, 10));
}

} // namespace

class TestSearch : public QObject {
    Q_OBJECT

private slots:
    void fieldList() {
        Program program;
        QStringList items;
        for (int i = 0; i < FrmMain->ComboBoxGXZD->count(); ++i)
            items << FrmMain->ComboBoxGXZD->itemText(i);
        QStringList expected;
        for (const char* f : kSearchFields)
            expected << col(f);
        QCOMPARE(items, expected);
        QCOMPARE(items.size(), 22);
        QVERIFY(FrmMain->ComboBoxGXZD->isEditable());
    }

    void everyFieldFindsItsCard() {
        Program program;
        program.showMain();
        // One card per written column, each holding a marker in just that column.
        QStringList fields;
        for (const char* f : kSearchFields)
            fields << col(f);
        fields << col("传真") << col("备注");
        for (const QString& field : fields)
            addCard({field, QStringLiteral("mark ") + field + QStringLiteral(" end")});
        for (int i = 0; i < fields.size(); ++i) {
            search(fields.at(i), QStringLiteral("mark ") + fields.at(i));
            QVERIFY2(program.boxes.boxes().isEmpty(), qPrintable(program.boxes.texts().join(';')));
            QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 1);
            QCOMPARE(FrmMain->ADOQuery1->FieldAsString(QStringLiteral("ID")),
                     QString::number(i + 1));
        }
    }

    void statementText() {
        Program program;
        const SearchStatement s =
            buildSearchStatement(FrmMain->ADOConnection1, col("E-mail"), QStringLiteral("a%b"));
        QCOMPARE(s.text, QStringLiteral("Select * From zl Where \"E-mail\" LIKE ? ESCAPE '\\'"));
        QCOMPARE(s.parameters, QVariantList{QStringLiteral("%a\\%b%")});
        QCOMPARE(escapeLikePattern(QStringLiteral("_\\%x")), QStringLiteral("\\_\\\\\\%x"));
    }

    void keywordsMatchLiterally_data() {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("quote") << "'" << QStringList{"O'Neil", "' OR '1'='1"};
        QTest::newRow("percent") << "%" << QStringList{"100%"};
        QTest::newRow("underscore") << "_" << QStringList{"a_b"};
        QTest::newRow("backslash") << "\\" << QStringList{"c:\\x"};
        QTest::newRow("comment") << "--" << QStringList{"x--y"};
        QTest::newRow("injection") << "' OR '1'='1" << QStringList{"' OR '1'='1"};
        QTest::newRow("blank") << " " << QStringList{"' OR '1'='1", "Mr Blank"};
        QTest::newRow("none") << "zzz" << QStringList{};
    }

    void keywordsMatchLiterally() {
        QFETCH(QString, keyword);
        QFETCH(QStringList, found);
        Program program;
        program.showMain();
        for (const char* name :
             {"O'Neil", "100%", "a_b", "c:\\x", "x--y", "' OR '1'='1", "Mr Blank", "plain"})
            addCard({col("姓名"), QString::fromLatin1(name)});
        search(col("姓名"), keyword);
        QVERIFY(program.boxes.boxes().isEmpty());
        QCOMPARE(listedNames(), found);
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("查询"));
    }

    void searchSteps() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        m->SpeedButton2Click();
        m->showEditorPage(m->TabSheet2);
        search(col("姓名"), QStringLiteral("张"));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QCOMPARE(m->ComboBoxGXZD->currentText(), QString());
        QCOMPARE(m->EditGJZ->text(), QString());
        QVERIFY(m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(m->SpeedButton5->isVisible());
        QVERIFY(m->Label31->isVisible());
        QCOMPARE(m->modeMarker(), QStringLiteral("查询"));
        QCOMPARE(m->DBGrid1->model()->rowCount(), 1);

        // A second search looks at all cards again, not within the result.
        search(col("姓名"), QStringLiteral("李"), true);
        QCOMPARE(listedNames(), QStringList{QStringLiteral("李四")});

        // Back to all cards; the marker still says the list was searched.
        m->SpeedButton2Click();
        QTest::mouseClick(m->SpeedButton5, Qt::LeftButton, {}, QPoint(60, 10));
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        QCOMPARE(m->ADOQuery1->SQL.lines(), QStringList{QStringLiteral("select * from zl")});
        QVERIFY(!m->SpeedButton5->isVisible());
        QVERIFY(!m->Label31->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        m->N7Click();
        search(col("姓名"), QStringLiteral("张"));
        m->SpeedButton5Click();
        QCOMPARE(m->modeMarker(), QStringLiteral("查询"));
        QCOMPARE(m->ADOQuery1->SQL.lines(), QStringList{QStringLiteral("select * from zl")});
    }

    void emptyConditions() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        // By button: the system pages close first.
        m->N9Click();
        search(QString(), QStringLiteral("张"));
        QCOMPARE(program.boxes.texts(), QStringList{kNoCondition});
        QVERIFY(!m->PageControlSYS->isVisible());
        QCOMPARE(m->EditGJZ->text(), QStringLiteral("张"));
        // By Enter: they stay.
        m->N9Click();
        search(col("姓名"), QString(), true);
        QCOMPARE(program.boxes.texts(), QStringList({kNoCondition, kNoCondition}));
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(m->modeMarker(), QString());
        QVERIFY(!m->SpeedButton5->isVisible());
        QCOMPARE(m->ADOQuery1->RecordCount(), 1);
    }

    void unknownFieldIsRefusedAndChangesNothing_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("injection") << QStringLiteral("姓名 OR 1=1");
        QTest::newRow("unknown") << QStringLiteral("年龄");
        QTest::newRow("quoted") << QStringLiteral("\"姓名\"");
        QTest::newRow("string literal") << QStringLiteral("'x'");
    }

    void unknownFieldIsRefusedAndChangesNothing() {
        QFETCH(QString, field);
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        m->ADOQuery1->Last();
        search(field, QStringLiteral("x"));
        QCOMPARE(program.boxes.boxes().size(), 1);
        QCOMPARE(program.boxes.boxes().first().flags,
                 unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QVERIFY(program.boxes.texts().first().contains(field));
        // The list stays open as it was, and so do the inputs and the marker.
        QVERIFY(m->ADOQuery1->Active());
        QCOMPARE(m->ADOQuery1->RecordCount(), 2);
        QCOMPARE(m->ADOQuery1->RecNo(), 1);
        QCOMPARE(m->ComboBoxGXZD->currentText(), field);
        QCOMPARE(m->modeMarker(), QString());
        QVERIFY(!m->SpeedButton5->isVisible());
    }

    void commandsActOnTheSearchResult() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        search(col("姓名"), QStringLiteral("无此人"));
        QCOMPARE(m->ADOQuery1->RecordCount(), 0);
        m->SpeedButton3Click();
        QCOMPARE(program.boxes.texts(), QStringList{QStringLiteral("您不能删除这条记录！")});
        // An added card shows in the search result at once.
        search(col("姓名"), QStringLiteral("李"));
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("王五"));
        m->ButtonTJQDClick();
        QCOMPARE(listedNames(), QStringList({QStringLiteral("李四"), QStringLiteral("王五")}));
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"

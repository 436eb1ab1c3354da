// Finding cards as you type, through the real window, and through quembe-cards find.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/idloader.h"
#include "data/sqlite.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/quickfindpanel.h"
#include "platform/progress.h"
#include "program/quembe.h"
#include "quickfind/cardindex.h"
#include "quickfind/quickfind.h"

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScrollBar>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <unistd.h>

using namespace TestSupport;

namespace {

// As typed or pasted at once (key clicks cannot give Chinese or full-width text).
void type(const QString& text) {
    FrmMain->EditKSCZ->setFocus();
    FrmMain->EditKSCZ->selectAll();
    FrmMain->EditKSCZ->insert(text);
}

// What the index in the file finds, read by a connection of its own.
QStringList foundInFile(const QString& database, const QString& text) {
    Sqlite::Database db;
    if (db.open(database, Sqlite::OpenMode::ReadWrite) != SQLITE_OK)
        return {QStringLiteral("<cannot open>")};
    QStringList names;
    for (qint64 id : QuickFind::find(db.get(), text))
        names << query(database, QStringLiteral("select 姓名 from zl where ID = %1").arg(id));
    return names;
}

} // namespace

class TestQuickFindWindow : public WindowTest {
    Q_OBJECT

private:
    void addCards() {
        addCard({col("姓名"), "张三", col("单位"), "北京某某科技有限公司", col("手机"),
                 "138 1234 5678"});
        addCard({col("姓名"), "李四", col("单位"), "上海某某贸易公司", col("工作电话"),
                 "+86-21-6543-2100"});
        addCard({col("姓名"), "单田芳", col("E-mail"), "ABC@example.com"});
        addCard({col("姓名"), "张三丰", col("单位"), "武当山", col("家庭电话"), "(010)8888-7777"});
        addCard({col("姓名"), "曾小贤", col("单位"), "北京电台"});
    }

private slots:
    void inputOnTheStripAndCtrlF() {
        program().showMain();
        QCOMPARE(FrmMain->EditKSCZ->parentWidget(), FrmMain->PanelSBT);
        QCOMPARE(FrmMain->EditKSCZ->placeholderText(),
                 QStringLiteral("快速查找：姓名、拼音、首字母、电话…"));
        const QRect label = FrmMain->Label35->geometry();
        const QRect input = FrmMain->EditKSCZ->geometry();
        QVERIFY(input.left() > label.right());
        QCOMPARE(input.right(), FrmMain->PanelSBT->width() - 2);
        // It follows the window's width.
        FrmMain->resize(FrmMain->width() + 100, FrmMain->height());
        QTest::qWait(10);
        QCOMPARE(FrmMain->EditKSCZ->geometry().right(), FrmMain->PanelSBT->width() - 2);
        // The grid keeps the first focus; Ctrl+F reaches the input from an editor input.
        FrmMain->SpeedButton1Click();
        FrmMain->Edit2->setFocus();
        QTest::keyClick(FrmMain->Edit2, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(FrmMain->EditKSCZ));
    }

    void narrowsAtEveryKey() {
        program().showMain();
        addCards();
        FrmMain->SpeedButton5Click();

        FrmMain->EditKSCZ->setFocus();
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Z);
        QCOMPARE(listedNames(), (QStringList{"张三", "张三丰", "曾小贤"}));
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_S);
        QCOMPARE(listedNames(), (QStringList{"张三", "张三丰"}));
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_F);
        QCOMPARE(listedNames(), QStringList{"张三丰"});
        // A search result, as the panel's search leaves it; the first match is current.
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("查询"));
        QVERIFY(FrmMain->SpeedButton5->isVisible() && FrmMain->Label31->isVisible());
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("张三丰"));

        const QList<QPair<QString, QStringList>> cases = {
            {"zhang san", {"张三", "张三丰"}},
            {"sanfeng", {"张三丰"}},
            {"shantian", {"单田芳"}}, // the surname reading of 单
            {"stf", {"单田芳"}},
            {"dtf", {"单田芳"}}, // and its ordinary one
            {"zengxiao", {"曾小贤"}},
            {"zxx", {"曾小贤"}},
            {"ａｂｃ", {"单田芳"}}, // full-width letters, any case
            {"13812345678", {"张三"}},
            {"2165432100", {"李四"}},
            {"88887777", {"张三丰"}},
            // Phone numbers however written: the digits count.
            {"138.1234.5678", {"张三"}},
            {"+8613812345678", {"张三"}},
            {"(010) 8888-7777", {"张三丰"}},
            {"010-88887777", {"张三丰"}},
            {"+86 21 6543 2100", {"李四"}},
            {"张 北京", {"张三"}},
            {"bjkj", {"张三"}},
            {"无此人", {}},
        };
        for (const auto& c : cases) {
            type(c.first);
            QVERIFY2(listedNames() == c.second,
                     qPrintable(c.first + ": " + listedNames().join(",")));
        }

        // Esc empties it and lists every card; so does 返回.
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Escape);
        QVERIFY(FrmMain->EditKSCZ->text().isEmpty());
        QCOMPARE(listedNames().size(), 5);
        QVERIFY(!FrmMain->SpeedButton5->isVisible());
        type(QStringLiteral("zs"));
        QTest::mouseClick(FrmMain->SpeedButton5, Qt::LeftButton, {}, QPoint(60, 10));
        QVERIFY(FrmMain->EditKSCZ->text().isEmpty());
        QCOMPARE(listedNames().size(), 5);
        // Emptied by hand: all cards again.
        type(QStringLiteral("zs"));
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Backspace);
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Backspace);
        QCOMPARE(listedNames().size(), 5);
    }

    // Spellings as people type them: full syllables then initials, traditional characters
    // for simplified ones and back, "v" or "u" for "ü" in a company.
    void spellingsAsPeopleTypeThem() {
        program().showMain();
        addCard({col("姓名"), "张三丰"});
        addCard({col("姓名"), "張偉", col("单位"), "绿地集团"});
        addCard({col("姓名"), "欧阳修", col("备注"), "ｃａｆé"});
        // Every reading of a polyphone, and a word's own reading where it is known.
        addCard({col("姓名"), "王小乐", col("单位"), "长沙银行"});
        addCard({col("姓名"), "李朝", col("单位"), "厦门成都航空"});
        addCard({col("姓名"), "常远"});
        FrmMain->SpeedButton5Click();
        const QList<QPair<QString, QStringList>> cases = {
            {"zhangsf", {"张三丰"}},
            {"ZhangSF", {"张三丰"}},
            {"zhangsanf", {"张三丰"}},
            {"sanf", {"张三丰"}},
            {"张伟", {"張偉"}},
            {"zhangwei", {"張偉"}},
            {"張三", {"张三丰"}},
            {"歐陽", {"欧阳修"}},
            {"oyx", {"欧阳修"}},
            {"lvdi", {"張偉"}},
            {"ludi", {"張偉"}},
            {"café", {"欧阳修"}},
            {"zhangsx", {}},
            {"yinhang", {"王小乐"}},
            {"changsha", {"王小乐"}},
            {"wangxiaoyue", {"王小乐"}},
            {"wangxiaole", {"王小乐"}},
            {"xiamen", {"李朝"}},
            {"chengdu", {"李朝"}},
            {"lizhao", {"李朝"}},
            {"lichao", {"李朝"}},
            {"yinxing", {"王小乐"}},
            {"zhangs", {"张三丰", "王小乐"}}, // 长沙 zhangsha too, after
            // Names first, then the rest.
            {"chang", {"常远", "王小乐"}},
        };
        for (const auto& c : cases) {
            type(c.first);
            QVERIFY2(listedNames() == c.second,
                     qPrintable(c.first + ": " + listedNames().join(",")));
        }
    }

    // Down or Enter goes on to the first card listed; the strip says how many are listed.
    void keysAndCountOfTheQuickFind() {
        program().showMain();
        addCards();
        FrmMain->SpeedButton5Click();
        auto* count = FrmMain->PanelSBT->findChild<QLabel*>(QStringLiteral("LabelKSCZ"));
        QVERIFY(count && !count->isVisible());
        type(QStringLiteral("z"));
        QVERIFY(count->isVisible());
        QCOMPARE(count->text(), QStringLiteral("共 3 张"));
        QVERIFY(count->geometry().left() > FrmMain->EditKSCZ->geometry().right());
        FrmMain->ADOQuery1->Last();
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(FrmMain->DBGrid1));
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 0);
        FrmMain->ADOQuery1->Last();
        FrmMain->EditKSCZ->setFocus();
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(FrmMain->DBGrid1));
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 0);
        QCOMPARE(FrmMain->EditKSCZ->text(), QStringLiteral("z"));
        FrmMain->EditKSCZ->setFocus();
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Escape);
        QVERIFY(!count->isVisible());
    }

    // A long list shows its first screen at once and learns the rest meanwhile; the strip
    // says what is known so far, then how many there are.
    void longListComesInParts() {
        exec(program().folder.database(),
             QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 6000) INSERT INTO zl (姓名, 单位) "
                            "SELECT '王' || i, '某某科技有限公司' FROM n"));
        program().showMain();
        auto* count = FrmMain->PanelSBT->findChild<QLabel*>(QStringLiteral("LabelKSCZ"));
        type(QStringLiteral("科技"));
        TADOQuery* list = FrmMain->ADOQuery1;
        QVERIFY(list->Loading());
        QVERIFY(list->LoadedCount() > 0 && list->LoadedCount() < 1000);
        QCOMPARE(count->text(), QStringLiteral("已找到 %1 张…").arg(list->LoadedCount()));
        QCOMPARE(list->FieldAsString(col("姓名")), QStringLiteral("王1"));
        QTRY_COMPARE(count->text(), QStringLiteral("共 6000 张"));
        QCOMPARE(list->RowIds(),
                 QuickFind::find(FrmMain->ADOConnection1->handle(), QStringLiteral("科技")));
        // Another key meanwhile stops the reading and starts afresh.
        type(QStringLiteral("科技"));
        type(QStringLiteral("wang1"));
        QTRY_VERIFY(!list->Loading());
        QCOMPARE(list->RecordCount(), 1111); // 王1, 王10…王19, 王100…, 王1000…王1999
    }

    // While the rest of a long list is still being found, the rows shown stay where they
    // are: the card selected, modified or deleted meanwhile is the one the user saw, and the
    // grid and its scroll bar end up with every match.
    void cardsActedOnWhileTheRestArrives() {
        exec(program().folder.database(),
             QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 6000) INSERT INTO zl (姓名, 单位) "
                            "SELECT '王' || i, '某某科技有限公司' FROM n"));
        const QString file = program().folder.database();
        program().showMain();
        // The rest waits until let go, or at most a moment, so that a save can wait for it.
        std::atomic<bool> letGo{false};
        IdLoader::setBeforeTheRestForTesting([&letGo](const std::atomic<bool>& stop) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            while (!letGo && !stop && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        struct Restore {
            ~Restore() { IdLoader::setBeforeTheRestForTesting({}); }
        } restore;
        TADOQuery* list = FrmMain->ADOQuery1;
        auto* grid = FrmMain->DBGrid1;

        type(QStringLiteral("科技"));
        QVERIFY(list->Loading());
        list->MoveTo(9);
        const qint64 tenth = list->CurrentId();
        QCOMPARE(list->FieldAsString(col("姓名")), QStringLiteral("王10"));
        letGo = true;
        QTRY_VERIFY(!list->Loading());
        QCOMPARE(list->CurrentId(), tenth);
        QCOMPARE(grid->currentIndex().row(), 9);
        QCOMPARE(grid->model()->rowCount(), 6000);
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum());
        const int lastShown = grid->rowAt(grid->viewport()->height() - 2);
        QVERIFY(lastShown == 5999 || (lastShown == -1 && grid->rowAt(0) > 5900));

        // Modify the 20th card before the rest is known: the save waits for it, then writes
        // that card.
        letGo = false;
        type(QStringLiteral("wang2"));
        type(QStringLiteral("科技"));
        QVERIFY(list->Loading());
        list->MoveTo(19);
        const qint64 twentieth = list->CurrentId();
        FrmMain->SpeedButton2Click();
        FrmMain->Edit1->setText(QStringLiteral("赵二十"));
        FrmMain->ButtonXGQDClick();
        QCOMPARE(query(file, QStringLiteral("select 姓名 from zl where ID = %1").arg(twentieth)),
                 QStringList{"赵二十"});
        QCOMPARE(query(file, "select count(*) from zl where 姓名 = '王20'"), QStringList{"0"});

        // Delete the 30th the same way.
        type(QStringLiteral("wang3"));
        type(QStringLiteral("科技"));
        QVERIFY(list->Loading());
        list->MoveTo(29);
        const QString thirtieth = list->FieldAsString(col("姓名"));
        FrmMain->SpeedButton3Click();
        FrmSC->Button1Click();
        QCOMPARE(
            query(file, QStringLiteral("select count(*) from zl where 姓名 = '%1'").arg(thirtieth)),
            QStringList{"0"});
        QCOMPARE(query(file, "select count(*) from zl"), QStringList{"5999"});
        QVERIFY(!foundInFile(file, thirtieth).contains(thirtieth));
    }

    void addModifyAndDeleteKeepTheIndex() {
        program().showMain();
        addCards();
        const QString file = program().folder.database();
        type(QStringLiteral("zs"));

        // Add while the quick find holds text: the new card is in the file's index at once.
        FrmMain->SpeedButton1Click();
        FrmMain->Edit1->setText(QStringLiteral("周树人"));
        FrmMain->ButtonTJQDClick();
        QCOMPARE(foundInFile(file, QStringLiteral("zhoushu")), QStringList{"周树人"});

        // Modify the first card listed (张三) into 王五.
        FrmMain->ADOQuery1->First();
        FrmMain->SpeedButton2Click();
        FrmMain->Edit1->setText(QStringLiteral("王五"));
        FrmMain->ButtonXGQDClick();
        QCOMPARE(foundInFile(file, QStringLiteral("wangwu")), QStringList{"王五"});
        QCOMPARE(foundInFile(file, QStringLiteral("zhangsan")), QStringList{"张三丰"});

        // Delete it again.
        FrmMain->ADOQuery1->First();
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("王五"));
        FrmMain->SpeedButton3Click();
        FrmSC->Button1Click();
        QVERIFY(foundInFile(file, QStringLiteral("wangwu")).isEmpty());
        QCOMPARE(query(file, "select count(*) from zl"), QStringList{"5"});
    }

    // Looking a person up while a card is being added or modified: the list narrows behind
    // the editor, which keeps what was typed, and the save stores it.
    void anOpenEditorSurvivesTheQuickFind() {
        program().showMain();
        addCards();
        const QString file = program().folder.database();
        FrmMain->SpeedButton5Click();

        FrmMain->SpeedButton1Click();
        FrmMain->Edit1->setFocus();
        QTest::keyClicks(FrmMain->Edit1, QStringLiteral("zhou"));
        QTest::keyClick(FrmMain->Edit1, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Z);
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_S);
        QCOMPARE(listedNames(), (QStringList{"张三", "张三丰"}));
        QVERIFY(FrmMain->PageControlZL->isVisible());
        QCOMPARE(FrmMain->Edit1->text(), QStringLiteral("zhou"));
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("添加"));
        // Esc gives every card back, the editor still open.
        QTest::keyClick(FrmMain->EditKSCZ, Qt::Key_Escape);
        QCOMPARE(listedNames().size(), 5);
        QVERIFY(FrmMain->PageControlZL->isVisible());
        QVERIFY(FrmMain->ButtonTJQD->isVisibleTo(FrmMain->TabSheet3));
        FrmMain->ButtonTJQDClick();
        QCOMPARE(query(file, "select count(*) from zl where 姓名 = 'zhou'"), QStringList{"1"});

        // Modifying 李四 while the list narrows to cards without him: the save still finds him.
        type(QStringLiteral("lisi"));
        FrmMain->ADOQuery1->First();
        FrmMain->SpeedButton2Click();
        FrmMain->Edit1->setText(QStringLiteral("李四四"));
        type(QStringLiteral("zs"));
        QVERIFY(listedNames().contains(QStringLiteral("张三丰")));
        QVERIFY(FrmMain->PageControlZL->isVisible());
        QVERIFY(FrmMain->ButtonXGQD->isVisibleTo(FrmMain->TabSheet3));
        QTest::mouseClick(FrmMain->SpeedButton5, Qt::LeftButton, {}, QPoint(60, 10));
        QVERIFY(FrmMain->PageControlZL->isVisible());
        type(QStringLiteral("zsf"));
        FrmMain->ButtonXGQDClick();
        QCOMPARE(program().boxes.texts(), QStringList());
        QCOMPARE(query(file, "select count(*) from zl where 姓名 = '李四四'"), QStringList{"1"});
        QCOMPARE(query(file, "select count(*) from zl where 姓名 = '李四'"), QStringList{"0"});

        // An editor without changes closes as before.
        FrmMain->SpeedButton1Click();
        type(QStringLiteral("zs"));
        QVERIFY(!FrmMain->PageControlZL->isVisible());
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("查询"));
    }

    // Our own check of the index reads the file on a thread while a card is saved: the save
    // goes through, instead of failing as if another program held the file.
    void aSaveDuringTheIndexCheckGoesThrough() {
        program().showMain();
        addCards();
        const QString file = program().folder.database();
        // A second chunk of cards, so that the check reads more than once.
        exec(file, QStringLiteral("insert into zl (ID, 姓名) values (70000, '远方客')"));

        std::promise<void> holding;
        std::future<bool> check =
            CardIndex::checkInBackground(file, [&holding, first = true]() mutable {
                if (!first)
                    return;
                first = false;
                holding.set_value();
                std::this_thread::sleep_for(std::chrono::milliseconds(Sqlite::kBusyTimeoutMs * 2));
            });
        holding.get_future().wait();
        FrmMain->SpeedButton1Click();
        FrmMain->Edit1->setText(QStringLiteral("周树人"));
        FrmMain->ButtonTJQDClick();
        QCOMPARE(program().boxes.texts(), QStringList());
        QCOMPARE(query(file, "select count(*) from zl where 姓名 = '周树人'"), QStringList{"1"});
        QVERIFY(!check.get()); // 远方客 is not filed yet
    }

    void olderFileGetsItsIndexOnce() {
        addCards();
        const QString file = program().folder.database();
        const QString folder = program().folder.path();
        // Made as an older version would have left it.
        for (const QString& table :
             query(file, "select name from sqlite_master where name like 'quickfind%'"))
            exec(file, QStringLiteral("drop table \"%1\"").arg(table));
        Quembe::destroyForms();

        Platform::ProgressRecorder progress;
        QVERIFY(Quembe::createForms());
        FrmMain->show();
        QTRY_VERIFY(!progress.labels.isEmpty());
        QCOMPARE(progress.labels.first(), QStringLiteral("正在为快速查找整理名片，只需一次……"));
        QVERIFY(QuickFind::isBuilt(FrmMain->ADOConnection1->handle()));
        type(QStringLiteral("lisi"));
        QCOMPARE(listedNames(), QStringList{"李四"});

        // An index of the first format, without checksums, is built again once.
        Quembe::destroyForms();
        exec(file, QStringLiteral("drop table quickfind_sum"));
        exec(file, QStringLiteral("update quickfind_meta set value = '1' where name = 'format'"));
        progress.labels.clear();
        QVERIFY(Quembe::createForms());
        FrmMain->show();
        QTRY_VERIFY(!progress.labels.isEmpty());
        QVERIFY(QuickFind::isBuilt(FrmMain->ADOConnection1->handle()));
        QCOMPARE(query(file, "select count(*) from quickfind_sum"), QStringList{"1"});
        Q_UNUSED(folder);
    }

    // Keys typed at once after the start, while the readings are still worked out and the
    // index checked on threads that give way to each key: the same cards are found, the
    // threads still end their work, and the window closes.
    void keysWhileTheWorkAheadGoesOn() {
        addCards();
        Quembe::destroyForms();
        QVERIFY(Quembe::createForms());
        FrmMain->show();
        const QList<QPair<QString, QStringList>> cases = {
            {"z", {"张三", "张三丰", "曾小贤"}}, {"shantian", {"单田芳"}},
            {"张", {"张三", "张三丰"}},          {"zxx", {"曾小贤"}},
            {"zs", {"张三", "张三丰"}},          {"dtf", {"单田芳"}},
        };
        for (int round = 0; round < 3; ++round) {
            for (const auto& c : cases) {
                type(c.first);
                QVERIFY2(listedNames() == c.second,
                         qPrintable(c.first + ": " + listedNames().join(",")));
            }
        }
        auto* panel = FrmMain->findChild<QuickFindPanel*>(QStringLiteral("QuickFindPanel"));
        QVERIFY(panel);
        panel->waitForCheck();
        Quembe::destroyForms();
    }

    // Checked on a thread at start: cards another program added or deleted while this one
    // was closed are found (or not) from the first key on.
    void cardsChangedByAnotherProgramAreSeen() {
        addCards();
        const QString file = program().folder.database();
        Quembe::destroyForms();
        exec(file, QStringLiteral("insert into zl (姓名, 单位) values ('欧阳修', '翰林院')"));
        exec(file, QStringLiteral("delete from zl where 姓名 = '李四'"));

        QVERIFY(Quembe::createForms());
        FrmMain->show();
        QTest::qWait(100); // the check starts once the window is up
        type(QStringLiteral("oyx"));
        QCOMPARE(listedNames(), QStringList{"欧阳修"});
        type(QStringLiteral("lisi"));
        QCOMPARE(listedNames(), QStringList());
        QCOMPARE(foundInFile(file, QStringLiteral("hanlin")), QStringList{"欧阳修"});
    }

    // Another program renames a card in place: the old name stops listing it at once, the
    // new one finds it from the next start on, in the window and in quembe-cards.
    void aCardChangedInPlaceByAnotherProgramIsRefiled() {
        program().showMain();
        addCards();
        const QString file = program().folder.database();
        type(QStringLiteral("zhangsan"));
        QCOMPARE(listedNames(), (QStringList{"张三", "张三丰"}));
        exec(file, QStringLiteral("update zl set 姓名 = '甄新名' where 姓名 = '张三'"));
        type(QStringLiteral("zhangsan"));
        QCOMPARE(listedNames(), QStringList{"张三丰"});
        type(QStringLiteral("13812345678"));
        QCOMPARE(listedNames(), QStringList{"甄新名"}); // unchanged columns still count

        Quembe::destroyForms();
        exec(file, QStringLiteral("update zl set 单位 = '长沙银行' where 姓名 = '李四'"));
        QVERIFY(Quembe::createForms());
        FrmMain->show();
        QTest::qWait(100); // the check starts once the window is up
        type(QStringLiteral("甄新名"));
        QCOMPARE(listedNames(), QStringList{"甄新名"});
        type(QStringLiteral("zhenxin"));
        QCOMPARE(listedNames(), QStringList{"甄新名"});
        type(QStringLiteral("银行"));
        QCOMPARE(listedNames(), QStringList{"李四"});
        type(QStringLiteral("上海"));
        QCOMPARE(listedNames(), QStringList());
        endProgram();

        // The tool refiles a card changed behind its back as well.
        Program other;
        addCards();
        exec(other.folder.database(),
             QStringLiteral("update zl set 姓名 = '甄新名' where 姓名 = '曾小贤'"));
        QProcess p;
        p.start(QStringLiteral(QUEMBE_CARDS_TOOL),
                {"--database", other.folder.database(), "find", "zhenxin"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(
            QString::fromUtf8(p.readAllStandardOutput()).endsWith(QStringLiteral("\t甄新名\n")));
    }

    // A restore brings back a file whose index another program may have left behind: the
    // quick find checks it again.
    void aRestoredFileIsCheckedAgain() {
        program().showMain();
        addCards();
        type(QStringLiteral("zs"));
        FrmMain->N10Click();
        exec(program().folder.backup(), QStringLiteral("insert into zl (姓名) values ('欧阳修')"));
        exec(program().folder.backup(), QStringLiteral("delete from zl where 姓名 = '李四'"));
        FrmMain->N11Click();
        QCOMPARE(program().boxes.texts().last(), QStringLiteral("数据库还原成功!"));
        type(QStringLiteral("oyx"));
        QCOMPARE(listedNames(), QStringList{"欧阳修"});
        type(QStringLiteral("lisi"));
        QCOMPARE(listedNames(), QStringList());
    }

    // The head start at opening is nobody's command: a file another program holds just then
    // gives no error box; the first find afterwards works.
    void aFileHeldAtOpeningSaysNothingUntilAsked() {
        addCards();
        const QString file = program().folder.database();
        Quembe::destroyForms();

        OtherWriter other(file, nullptr, Sqlite::kBusyTimeoutMs);
        QVERIFY(other.ok());
        QVERIFY(Quembe::createForms()); // the list is read before the other program locks
        QCOMPARE(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        FrmMain->show();
        QTest::qWait(Sqlite::kBusyTimeoutMs + 500);
        QCOMPARE(program().boxes.texts(), QStringList());
        QCOMPARE(other.exec("COMMIT"), SQLITE_OK);
        type(QStringLiteral("zs"));
        QCOMPARE(listedNames(), (QStringList{"张三", "张三丰"}));
        QCOMPARE(program().boxes.texts(), QStringList());
    }

    // A file that may only be read and whose index needs building: find reads every card.
    void toolFindsInAReadOnlyFile() {
        addCards();
        const QString file = program().folder.database();
        exec(file, QStringLiteral("update quickfind_meta set value = '0' where name = 'format'"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
        // Root writes any file it may read: it needs the immutable flag.
        const bool root = ::geteuid() == 0;
        if (root && QProcess::execute(QStringLiteral("chattr"), {"+i", file}) != 0)
            QSKIP("chattr +i is needed to make a read-only file for root");
        QProcess p;
        p.start(QStringLiteral(QUEMBE_CARDS_TOOL), {"--database", file, "find", "zs"});
        QVERIFY(p.waitForFinished(60000));
        if (root)
            QProcess::execute(QStringLiteral("chattr"), {"-i", file});
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()), QString());
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(1).endsWith(QStringLiteral("\t张三丰")));
    }

    void toolFindsWithTheSameMatching() {
        addCards();
        QProcess p;
        p.start(QStringLiteral(QUEMBE_CARDS_TOOL),
                {"--database", program().folder.database(), "find", "zs"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines =
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith(QStringLiteral("\t张三")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral("\t张三丰")));
    }
};

QTEST_MAIN(TestQuickFindWindow)
#include "tst_quickfind_window.moc"

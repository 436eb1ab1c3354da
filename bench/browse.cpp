// quembe-bench's steps in the main window: searches, moving in the list, editing, and memory
// over many searches and returns.
#include "scenarios.h"

#include "testcards.h"

#include "data/adoquery.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/dbcontrols.h"
#include "platform/messagebox.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QToolButton>

#include <cstdio>
#include <sys/resource.h>

namespace Bench {

// ---- Driving the windows --------------------------------------------------------------------

void repaint() {
    QCoreApplication::processEvents();
}

void sendKey(QWidget* to, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(to, &release);
}

void checkNoBox(const Context& c, const char* step) {
    if (!c.boxes->boxes().isEmpty())
        fail(std::string(step) + ": the program showed \"" +
             c.boxes->boxes().first().text.trimmed().toStdString() + "\"");
}

void allListed(const Context& c, const std::string& step) {
    expect(FrmMain->ADOQuery1->RecordCount() == c.listed,
           step + ": the list does not hold every card");
}

void back() {
    FrmMain->SpeedButton5Click();
    repaint();
}

std::vector<double> measure(const char* name, int runs, const std::function<void()>& step,
                            const std::function<void()>& before) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (before)
            before();
        const Clock::time_point start = Clock::now();
        step();
        times.push_back(lap(name, start));
    }
    return times;
}

namespace {

void search(const QString& field, const QString& keyword) {
    FrmMain->ComboBoxGXZD->setEditText(field);
    FrmMain->EditGJZ->setText(keyword);
    FrmMain->SpeedButton4Click();
    repaint();
}

} // namespace

std::vector<std::pair<QString, QString>> panelSearches() {
    return {
        {QStringLiteral("姓名"), QString::fromUtf8(CardGenerator::commonSurname())},
        {QStringLiteral("E-mail"), QString::fromUtf8(CardGenerator::rareEmailText())},
        {QStringLiteral("添加日期"), QStringLiteral("-")},
        {QStringLiteral("姓名"), QStringLiteral("无此名片")},
    };
}

// ---- 2: searches ----------------------------------------------------------------------------

void searches(Context& c) {
    struct Search {
        QString field, keyword;
        std::size_t shellQuery;
        std::vector<double> search = {}, back = {};
        int hits = -1;
    };
    const auto panel = panelSearches();
    std::vector<Search> searches = {
        {panel[0].first, panel[0].second, c.shellSurname},
        {panel[1].first, panel[1].second, c.shellRare},
        {panel[2].first, panel[2].second, c.shellAll},
        {panel[3].first, panel[3].second, c.shellNone},
    };
    TADOQuery* list = FrmMain->ADOQuery1;
    for (Search& s : searches) {
        for (int i = 0; i < c.runs; ++i) {
            Clock::time_point t = Clock::now();
            search(s.field, s.keyword);
            s.search.push_back(lap("search", t));
            checkNoBox(c, "search");
            expect(FrmMain->modeMarker() == QStringLiteral("查询"), "search: no search happened");
            s.hits = list->RecordCount();
            t = Clock::now();
            back();
            s.back.push_back(lap("back", t));
            checkNoBox(c, "back from the search");
            allListed(c, "back from the search");
        }
    }
    expect(searches[2].hits == c.listed, "the search for every card does not find every card");
    expect(searches[3].hits == 0, "the search for no card finds some");
    c.markMemory("after the searches");

    for (const Search& s : searches) {
        const ShellQuery& shell = c.shell[s.shellQuery];
        const std::string what = s.field.toStdString() + " '" + s.keyword.toStdString() + "'";
        const std::string step = "2 search " + what + " (" + std::to_string(s.hits) + " hits)";
        c.rows.push_back(c.large
                             ? withinShell(step, median(s.search), "shell, same IDs", shell, 1.5)
                             : under(step, median(s.search), 50));
        c.rows.push_back(besideShell(under("2 返回 from " + what, median(s.back), 100),
                                     "shell, select ID", c.shell[c.shellIds]));
        c.note("runs, search %s '%s': %s; 返回: %s", qPrintable(s.field), qPrintable(s.keyword),
               runsOf(s.search).c_str(), runsOf(s.back).c_str());
    }
}

// ---- 3: moving in the list ------------------------------------------------------------------

void moving(Context& c) {
    // Each run starts from a freshly opened list that knows its rows; "last right after 返回"
    // starts before the rest of the IDs have arrived.
    TADOQuery* list = FrmMain->ADOQuery1;
    auto freshList = [&] {
        back();
        allListed(c, "back");
    };
    FrmMain->SpeedButtonFClick();
    repaint();
    auto last = [&] {
        FrmMain->DBNavigator1->button(TDBNavigator::nbLast)->click();
        FrmMain->DBGrid1CellClick();
        repaint();
    };
    const std::vector<double> tLast = measure("last", c.runs, last, freshList);
    checkNoBox(c, "last card");
    expect(list->RecNo() == c.listed - 1, "last card: not on the last row");
    expect(FrmMain->ValueListEditor1->rowCount() > 0 &&
               !FrmMain->ValueListEditor1->value(QStringLiteral("姓名")).isEmpty(),
           "last card: the detail pane is empty");
    const std::vector<double> tLastEarly = measure("lastEarly", c.runs, last, back);
    checkNoBox(c, "last card right after 返回");
    expect(list->RecNo() == c.listed - 1, "last card right after 返回: not on the last row");
    FrmMain->SpeedButtonSClick();
    repaint();
    c.markMemory("after the last card");

    QWidget* grid = FrmMain->DBGrid1;
    auto key = [grid](int key, Qt::KeyboardModifiers modifiers) {
        sendKey(grid, key, modifiers);
        repaint();
    };
    int rowsPerPage = 0;
    const std::vector<double> tPageDown = measure(
        "pageDown", c.runs,
        [&] {
            key(Qt::Key_PageDown, Qt::NoModifier);
            rowsPerPage = list->RecNo();
        },
        freshList);
    checkNoBox(c, "PageDown");
    expect(c.listed < 2 || rowsPerPage > 0, "PageDown: the current row did not move");
    const std::vector<double> tCtrlEnd = measure(
        "ctrlEnd", c.runs, [&] { key(Qt::Key_End, Qt::ControlModifier); }, freshList);
    checkNoBox(c, "Ctrl+End");
    expect(list->RecNo() == c.listed - 1, "Ctrl+End: not on the last row");

    // Memory after looking at rows all over the list: the row cache keeps it bounded.
    freshList();
    {
        QScrollBar* bar = FrmMain->DBGrid1->verticalScrollBar();
        const int steps = 400;
        for (int i = 0; i <= steps; ++i) {
            bar->setValue(int(qint64(bar->maximum()) * i / steps));
            repaint();
        }
        for (int i = 0; i < 200; ++i)
            key(Qt::Key_PageDown, Qt::NoModifier);
    }
    checkNoBox(c, "scrolling");
    c.markMemory("after scrolling");
    const long scrolledKb = statusKb("VmRSS");

    c.rows.push_back(under("3 last card + details", median(tLast), 50));
    const std::string lastEarly = "3 last card right after 返回";
    c.rows.push_back(c.large ? withinShell(lastEarly, median(tLastEarly), "shell, select ID",
                                           c.shell[c.shellIds], 1)
                             : under(lastEarly, median(tLastEarly), 50));
    c.rows.push_back(under("3 PageDown in the grid", median(tPageDown), 50));
    c.rows.push_back(under("3 Ctrl+End in the grid", median(tCtrlEnd), 50));
    c.rows.push_back(under("5 RSS after scrolling (MB)", scrolledKb / 1024.0, 150, "MB"));
    c.note("runs, last: %s; last after 返回: %s; PageDown: %s; Ctrl+End: %s", runsOf(tLast).c_str(),
           runsOf(tLastEarly).c_str(), runsOf(tPageDown).c_str(), runsOf(tCtrlEnd).c_str());
}

// ---- 4: add, modify, delete; 5: memory over many searches -----------------------------------

void editing(Context& c) {
    // One card added, modified and deleted per run; the list ends as it began.
    TADOQuery* list = FrmMain->ADOQuery1;
    std::vector<double> tAdd, tModify, tDelete;
    for (int i = 0; i < c.runs; ++i) {
        Clock::time_point t = Clock::now();
        FrmMain->SpeedButton1Click();
        FrmMain->Edit1->setText(QStringLiteral("测试%1").arg(i));
        FrmMain->Edit2->setText(QStringLiteral("基准测试有限公司"));
        FrmMain->Edit3->setText(QStringLiteral("测试部"));
        FrmMain->Edit4->setText(QStringLiteral("经理"));
        FrmMain->Edit19->setText(QStringLiteral("13900001111"));
        FrmMain->Edit13->setText(QStringLiteral("bench@example.com"));
        FrmMain->Edit15->setText(QStringLiteral("北京市海淀区中关村大街1号"));
        FrmMain->Memo1->setPlainText(QStringLiteral("基准测试添加的名片"));
        FrmMain->ButtonTJQDClick();
        repaint();
        tAdd.push_back(lap("add", t));
        checkNoBox(c, "add");
        expect(list->RecordCount() == c.listed + 1, "add: the card is not in the list");
        FrmTJTS->Button2Click(); // "no more": back to the list
        QCoreApplication::processEvents();

        t = Clock::now();
        FrmMain->SpeedButton2Click();
        FrmMain->Edit4->setText(QStringLiteral("总监%1").arg(i));
        FrmMain->ButtonXGQDClick();
        repaint();
        tModify.push_back(lap("modify", t));
        checkNoBox(c, "modify");
        expect(list->FieldAsString(QStringLiteral("职务")) == QStringLiteral("总监%1").arg(i),
               "modify: the change is not in the list");

        t = Clock::now();
        FrmMain->SpeedButton3Click();
        FrmSC->Button1Click();
        repaint();
        tDelete.push_back(lap("delete", t));
        checkNoBox(c, "delete");
        expect(list->RecordCount() == c.listed, "delete: the card is still in the list");
    }
    // Deleting the first row: every row after it moves up.
    const std::vector<double> tDeleteFirst = measure(
        "deleteFirst", c.runs,
        [&] {
            FrmMain->SpeedButton3Click();
            FrmSC->Button1Click();
            repaint();
        },
        [&] {
            list->First();
            repaint();
        });
    checkNoBox(c, "delete the first row");
    c.listed -= c.runs;
    allListed(c, "delete the first row");
    c.markMemory("after add, modify, delete");

    // Memory over many searches and returns, none waiting for the rest of the IDs.
    allListed(c, "before the cycles");
    QCoreApplication::processEvents();
    const long cyclesBeforeKb = statusKb("VmRSS");
    const int cycles = 100;
    const auto surname = panelSearches().front();
    // Every quarter, in the same state (the whole list known): a leak grows on, a cache
    // levels off.
    std::vector<long> cyclesKb;
    double tCycles = 0;
    for (int i = 0; i < cycles; ++i) {
        const Clock::time_point cycleStart = Clock::now();
        search(surname.first, surname.second);
        back();
        tCycles += msSince(cycleStart);
        if ((i + 1) % (cycles / 4) == 0) {
            allListed(c, "a quarter of the cycles");
            QCoreApplication::processEvents();
            cyclesKb.push_back(statusKb("VmRSS"));
        }
    }
    checkNoBox(c, "search and 返回 cycles");
    allListed(c, "after the cycles");
    QCoreApplication::processEvents();
    const long cyclesAfterKb = statusKb("VmRSS");
    c.markMemory("after 100 search/返回 cycles");
    // The peak of everything so far; the steps after this show their own.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long peakKb = usage.ru_maxrss;

    c.rows.push_back(under("4 add a card", median(tAdd), 50));
    // The first save compares the duplicate keys with the cards, unless the window did so.
    c.rows.push_back(under("4 first add after the window opened", tAdd.front(), 50));
    c.rows.push_back(under("4 modify a card", median(tModify), 50));
    c.rows.push_back(under("4 delete a card", median(tDelete), 50));
    c.rows.push_back(under("4 delete the first row", median(tDeleteFirst), 50));
    c.rows.push_back(under("5 peak RSS (MB)", peakKb / 1024.0, 150, "MB"));
    // From the first quarter of the cycles to the last: the allocator has settled by then,
    // so what grows on is kept by the program.
    const double grownMb = (cyclesKb.back() - cyclesKb.front()) / 1024.0;
    c.rows.push_back(under("5 RSS growth, search/返回 25 -> 100 (MB)", grownMb, 1, "MB"));
    c.note("runs, add: %s; modify: %s; delete: %s; delete the first row: %s", runsOf(tAdd).c_str(),
           runsOf(tModify).c_str(), runsOf(tDelete).c_str(), runsOf(tDeleteFirst).c_str());
    std::string quarters;
    for (long kb : cyclesKb)
        quarters += " " + fixed(kb / 1024.0);
    c.note("%d search/返回 cycles: %.0f ms; VmRSS %.1f MB before, after each quarter%s, at the "
           "end %.1f MB",
           cycles, tCycles, cyclesBeforeKb / 1024.0, quarters.c_str(), cyclesAfterKb / 1024.0);
    c.note("peak memory: ru_maxrss %.1f MB, VmHWM %.1f MB", peakKb / 1024.0,
           statusKb("VmHWM") / 1024.0);
}

} // namespace Bench

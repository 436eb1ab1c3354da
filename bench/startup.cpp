// quembe-bench's start: the whole program started as a user starts it, against the shell's read
// of every ID and against a plain Qt program showing a table (the floor), then the same start
// split up inside this process.
#include "scenarios.h"

#include "data/password.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "platform/messagebox.h"
#include "program/quembe.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>

#include <map>

namespace Bench {

namespace {

/// A mark of the probe, NAN when it did not come.
double markOf(const std::map<std::string, double>& marks, const char* name) {
    const auto it = marks.find(name);
    return it == marks.end() ? NAN : it->second;
}

} // namespace

void startUp(Context& c) {
    // The program folder is the program file's folder: the program is copied next to its
    // database, and a library loaded into it notes its paints and types the password.
    const QString program = c.programFolder + QStringLiteral("/quembe");
    QFile::remove(program);
    if (!QFile::copy(QStringLiteral(QUEMBE_PROGRAM), program))
        fail("cannot copy the program into the program folder");
    const QString probe = QStringLiteral(QUEMBE_PROBE);
    const QString floorProgram = QStringLiteral(QUEMBE_FLOOR);
    const int runs = c.cards >= 2000000 ? 7 : 11;
    const ShellQuery& ids = c.shell[c.shellIds];
    std::vector<double> dialog, afterReturn, grid, allIds, floor;
    ShellQuery& shell = c.paired.emplace_back(ShellQuery{ids.sql});
    shell.available = ids.available;
    // Warms the caches.
    runWithProbe(program, probe, userPassword());
    runWithProbe(floorProgram, probe, userPassword());
    const std::string load = loadAverage();
    for (int i = 0; i < runs; ++i) {
        shell.time(c.database.toStdString(), 1, false);
        const std::map<std::string, double> t = runWithProbe(program, probe, userPassword());
        dialog.push_back(markOf(t, "dialog"));
        afterReturn.push_back(markOf(t, "grid") - markOf(t, "return"));
        grid.push_back(markOf(t, "grid"));
        allIds.push_back(markOf(t, "ids"));
        floor.push_back(markOf(runWithProbe(floorProgram, probe, userPassword()), "grid"));
    }
    QFile::remove(program);

    c.rows.push_back(under("1 start -> login dialog painted", median(dialog), 150));
    c.rows.push_back(under("1 Return -> grid painted", median(afterReturn), 100));
    Row whole = reference("1 start -> grid painted", median(grid), "Qt program, 20-row table");
    whole.floor = median(floor);
    whole.factor = 1.2;
    c.rows.push_back(whole);
    // The earlier target: the shell's read of every ID from a million cards, 150 ms below.
    const std::string step = "1 start -> grid painted";
    c.rows.push_back(c.cards >= 1000000
                         ? withinShell(step, median(grid), "shell, select ID", shell, 1)
                         : besideShell(under(step, median(grid), 150), "shell, select ID", shell));
    c.rows.push_back(
        reference("1 start -> every ID known", median(allIds), "shell, select ID", &shell));
    c.note("starts (%d, load %s): dialog %s; Return -> grid %s; grid %s; every ID %s", runs,
           load.c_str(), runsOf(dialog).c_str(), runsOf(afterReturn).c_str(), runsOf(grid).c_str(),
           runsOf(allIds).c_str());
    c.note("paired with each start: shell select ID %s; the Qt program's table painted %s",
           runsOf(shell.times).c_str(), runsOf(floor).c_str());
}

void logIn(Context& c) {
    // The windows made, the password checked, the grid painted: how the start splits.
    const Clock::time_point start = Clock::now();
    if (!Quembe::createForms())
        fail("the windows could not be made: " +
             (c.boxes->boxes().isEmpty() ? std::string("?")
                                         : c.boxes->boxes().first().text.toStdString()));
    c.formsMade = true;
    const double tCreate = lap("createForms", start);
    c.markMemory("after createForms");
    FrmDL->show();
    QCoreApplication::processEvents();
    (void)FrmDL->grab();
    const double tDialog = lap("dialog", start);
    FrmDL->Edit1->setText(userPassword());
    const Clock::time_point loginStart = Clock::now();
    FrmDL->Button1Click();
    const double tLogin = lap("login", loginStart);
    if (!c.boxes->boxes().isEmpty())
        fail("login refused: the file's user password is not \"" + userPassword().toStdString() +
             "\" (was it made by quembe-bench?)");
    expect(FrmMain->isVisible(), "login: the main window did not come up");
    c.markMemory("after the password check");
    const Clock::time_point paintStart = Clock::now();
    repaint();
    const double tPaint = lap("firstPaint", paintStart);
    c.markMemory("after the first paint");
    allListed(c, "start");
    c.note("in this process: windows made %.1f ms, dialog painted %.1f ms, password check + show "
           "%.1f ms, first paint %.1f ms",
           tCreate, tDialog, tLogin, tPaint);
}

void passwordCheck(Context& c, const QString& storedPassword) {
    const Clock::time_point start = Clock::now();
    passwordMatches(storedPassword, userPassword());
    c.note("the password's hash check alone: %.1f ms", msSince(start));
}

} // namespace Bench

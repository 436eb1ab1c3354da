#pragma once

// quembe-bench's scenarios, one function each, and the table they fill. Each scenario adds its
// rows in order; a row's floor may be a shell query whose second half is timed at the end.

#include "support.h"

#include <QString>
#include <Qt>

#include <cmath>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QWidget;
namespace Platform {
class MessageBoxRecorder;
}

namespace Bench {

/// One line of the table: what the program took, what it is set against, and the target.
struct Row {
    std::string step;
    double program = NAN;
    int decimals = 1;                  // of the program's column
    std::string floorName;             // what the floor is; empty without one
    double floor = NAN;                // the floor, or
    const ShellQuery* shell = nullptr; // the shell query whose median is the floor
    double limit = NAN;                // a target under `limit` `unit`, or
    std::string unit = "ms";
    double factor = NAN; // a target within `factor` times the floor; neither: a reference

    double floorValue() const;
    std::optional<bool> pass() const;
};

/// A row with a target under `limit`.
Row under(const std::string& step, double program, double limit, const std::string& unit = "ms");
/// A row with a target within `factor` times the shell query's time.
Row withinShell(const std::string& step, double program, const std::string& floorName,
                const ShellQuery& shell, double factor);
/// `row` with the shell query's time beside it, for comparison.
Row besideShell(Row row, const std::string& floorName, const ShellQuery& shell);
/// A row for reference: the figure, and the floor beside it when there is one.
Row reference(const std::string& step, double program, const std::string& floorName = {},
              const ShellQuery* shell = nullptr);

void printRows(const std::vector<Row>& rows);
/// The runs of a step, for the lines under the table.
std::string runsOf(const std::vector<double>& v);

/// What every scenario works on.
struct Context {
    QString work;          // the benchmark's folder
    QString programFolder; // the program's folder, with its database
    QString database;      // the card file the program works on
    long cards = 0;        // the cards in it
    long listed = 0;       // the cards the list holds now
    int runs = 5;          // of the cheap steps
    bool large = false;    // over 10,000 cards
    std::vector<Row> rows;
    std::vector<std::function<std::string()>> notes; // lines printed under the table
    std::vector<ShellQuery> shell; // each timed before and after the program's steps
    std::deque<ShellQuery> paired; // each timed beside the program's runs, not again
    // The shell's queries the scenarios are set against.
    std::size_t shellIds = 0, shellSurname = 0, shellRare = 0, shellAll = 0, shellNone = 0,
                shellStar = 0, shellCsv = 0;
    std::vector<std::size_t> shellQuick; // one for each of quickFindWords()
    Platform::MessageBoxRecorder* boxes = nullptr;
    bool formsMade = false; // the program's windows, made by logIn()

    /// Adds a shell query and gives its index; the shell's floors are read when the table is
    /// printed, after the second half of their runs.
    std::size_t addShell(const std::string& sql, std::vector<std::string> options = {});
    void note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// A line made when the table is printed, after the shell's last runs.
    void noteLater(std::function<std::string()> line) { notes.push_back(std::move(line)); }
    /// A line for the memory figures at the end: VmRSS and VmHWM now.
    void markMemory(const std::string& when);
    std::vector<std::string> memory;
};

const QString& userPassword();
/// Cards exported and imported: the size the targets are set for, or all when fewer.
constexpr long kExchangeCards = 100000;
/// The words the quick find is timed with, each beside the shell's LIKE scan.
std::vector<QString> quickFindWords();
/// The searches of the panel: field, keyword.
std::vector<std::pair<QString, QString>> panelSearches();

// ---- Driving the windows --------------------------------------------------------------------

/// The event loop's own turn: posted events, timers due, and the paint of what changed, as
/// a screen gets it. A grab of the whole window on top would paint each step a second time,
/// which nobody waits for.
void repaint();
/// A key pressed and released over `to`, as the keyboard gives it.
void sendKey(QWidget* to, int key, Qt::KeyboardModifiers modifiers, const QString& text = {});
/// No box may come up while the bench drives the windows: one means a step went wrong.
void checkNoBox(const Context& c, const char* step);
/// Waits for the rest of the IDs: a step starts from a list that knows all its rows.
void allListed(const Context& c, const std::string& step);
/// 返回, to the whole list.
void back();
/// Runs `step` `runs` times (`before` untimed ahead of each) and gives every time.
std::vector<double> measure(const char* name, int runs, const std::function<void()>& step,
                            const std::function<void()>& before = {});

// ---- The scenarios --------------------------------------------------------------------------

/// 1: the whole program started as a user starts it, each start paired with the shell's read
/// of every ID and with the start of a plain Qt program showing a table (the floor).
void startUp(Context& c);
/// The same start split up in this process (windows made, password checked, first paint);
/// leaves the main window shown with the whole list.
void logIn(Context& c);
/// The password check alone, after the windows are gone: how much of the start it is.
void passwordCheck(Context& c, const QString& storedPassword);
/// 2: searches and the way back.
void searches(Context& c);
/// 3: moving in the list.
void moving(Context& c);
/// 4: add, modify and delete a card; 5: memory over many searches and returns.
void editing(Context& c);
/// 6: the quick find, typed into its input over the whole list.
void quickFind(Context& c);
/// 7: export through the window (leaves the files in the exchange folder).
void exportCards(Context& c);
/// 7: import of the exported files by quembe-cards, each run paired with sqlite3's .import of
/// the same CSV into a bare table.
void importCards(Context& c);

} // namespace Bench

#pragma once

// What every benchmark needs around its measurements: the clock and medians, memory and
// load figures, the sqlite3 shell as the floor to compare with, other processes started
// and timed (the program with the probe loaded into it among them), and the table.

#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class QTemporaryDir;
struct sqlite3;

namespace Bench {

// ---- Time -----------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start);
/// Milliseconds since `start`; with QUEMBE_BENCH_MARKS set, the span is also printed on the
/// monotonic clock, for matching against a profile (perf record -k mono; perf report --time).
double lap(const char* name, Clock::time_point start);
/// The median, NAN for no values.
double median(std::vector<double> v);
/// Processor time of the whole process so far, all threads: on a busy machine closer to what
/// a step costs than the wall clock.
double cpuMs();

// ---- Failing --------------------------------------------------------------------------------

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string& what);
void expect(bool condition, const std::string& what);
/// Runs a benchmark's body; what it throws is printed after `program` and gives status 1.
int guarded(const char* program, const std::function<int()>& body);

// ---- Memory and load ------------------------------------------------------------------------

/// A "kB" field of /proc/self/status (VmRSS, VmHWM), or -1.
long statusKb(const char* field);
/// Linux forgets the peak so far (VmHWM): a step then shows its own peak.
void resetPeak();
/// The machine's load over 1, 5 and 15 minutes: timings from a busy machine say little.
std::string loadAverage();
/// "load average (1, 5, 15 min): … ; N processors", for beside every table.
std::string loadLine();

// ---- Files ----------------------------------------------------------------------------------

/// The folder a benchmark works in: a temporary one removed at the end, or `keep`.
struct WorkFolder {
    explicit WorkFolder(const QString& keep, const char* prefix);
    ~WorkFolder();
    QString path;

private:
    std::unique_ptr<QTemporaryDir> m_temporary;
};

/// Makes a database of `cards` generated cards, in a child process so that the measured
/// process carries nothing of it (hashing the password alone takes 64 MB).
void generateCards(const QString& file, long cards, const QString& userPassword);
/// Writes the file out to disk now: otherwise the kernel writes a freshly made file back some
/// 30 s later, in the middle of the measurements.
void flushFile(const QString& file);
/// Reads the whole file once so that no side starts from a cold disk.
void warmFile(const QString& file);

// ---- SQLite ---------------------------------------------------------------------------------

/// The first column of the first row; fails on an error.
long long scalar(sqlite3* db, const std::string& sql);
long countCards(const QString& file);
/// Bytes of text in the 24 written columns of zl.
long long textBytes(sqlite3* db);
/// A condition true when `word` is found in any of the 24 written columns (the shell's LIKE).
std::string likeCondition(const std::string& word);
/// The IDs of the cards holding every one of `words` somewhere, by LIKE.
std::string likeQuery(const std::vector<std::string>& words);
/// The 24 written columns, quoted and separated by commas.
std::string columnList();

// ---- Other processes ------------------------------------------------------------------------

/// Wall-clock milliseconds of one sqlite3 shell run of `sql` (a statement or a dot-command)
/// on `file`, output thrown away; nullopt when the shell is not installed. `options` go
/// before the file (for example "-csv").
std::optional<double> runShell(const std::string& file, const std::string& sql,
                               const std::vector<std::string>& options = {});

/// One query of the shell, timed in halves before and after the program's steps so that a
/// drift in the machine's speed weighs on both sides alike.
struct ShellQuery {
    std::string sql;
    std::vector<std::string> options = {};
    bool available = true;
    std::vector<double> times = {};

    void time(const std::string& file, int runs, bool warm);
    double median() const;
};

/// One run of another program: its wall-clock time and its own peak memory.
struct ToolRun {
    double ms = 0;
    long peakKb = -1;
};
/// Runs `args` (the program file first) with stdin empty and stdout and stderr into `log`;
/// fails unless it ends with status 0.
ToolRun runTool(std::vector<std::string> args, const QString& log);

/// Starts `program` with the probe library loaded into it (LD_PRELOAD, offscreen) and gives
/// the probe's marks in ms from the moment it was started, by name; "end" is there when the
/// probe finished. `password` is what the probe types into the login dialog.
std::map<std::string, double> runWithProbe(const QString& program, const QString& probe,
                                           const QString& password);

// ---- The table ------------------------------------------------------------------------------

/// `v` with `decimals` places, "-" for NAN.
std::string fixed(double v, int decimals = 1);
/// Terminal columns of UTF-8 text: CJK characters take two.
int displayWidth(const std::string& s);
std::string pad(const std::string& s, int width, bool right = false);
/// A table with a rule under its heads; the columns in `rightAligned` are numbers.
void printTable(const std::vector<std::string>& heads,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<int>& rightAligned = {});

} // namespace Bench

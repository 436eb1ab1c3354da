// Times the program's own steps over a large generated card file, against the sqlite3 shell
// doing the same reads on the same file: the whole program started (beside a plain Qt program
// showing a table), searches, moving in the list, editing, memory, the quick find as it is
// typed (and building its index), export through the window and import by quembe-cards
// (beside the shell's .import of the same CSV):
//   quembe-bench --cards N[,N...] [--keep DIR] [--reuse FILE] [--skip-exchange]
// Several counts run one after the other, each in a process of its own with its own table.
// For profiling: QUEMBE_BENCH_RUNS=K repeats the cheap steps K times, QUEMBE_BENCH_MARKS=1
// prints each timed span on the monotonic clock (for perf record -k mono; perf report --time).
#include "scenarios.h"
#include "testcards.h"

#include "data/adoquery.h"
#include "data/sqlite.h"
#include "duplicates/keys.h"
#include "mainwindow/VELMORA.h"
#include "platform/application.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/window.h"
#include "program/quembe.h"
#include "quickfind/quickfind.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace Bench {

const QString& userPassword() {
    static const QString password = QStringLiteral("bench");
    return password;
}

// ---- The table ------------------------------------------------------------------------------

double Row::floorValue() const {
    return shell ? shell->median() : floor;
}

std::optional<bool> Row::pass() const {
    if (!std::isnan(limit))
        return program < limit;
    if (!std::isnan(factor) && !std::isnan(floorValue()))
        return program <= floorValue() * factor;
    return std::nullopt;
}

Row under(const std::string& step, double program, double limit, const std::string& unit) {
    Row r = reference(step, program);
    r.limit = limit;
    r.unit = unit;
    return r;
}

Row withinShell(const std::string& step, double program, const std::string& floorName,
                const ShellQuery& shell, double factor) {
    Row r = reference(step, program, floorName, &shell);
    r.factor = factor;
    return r;
}

Row besideShell(Row row, const std::string& floorName, const ShellQuery& shell) {
    row.floorName = floorName;
    row.shell = &shell;
    return row;
}

Row reference(const std::string& step, double program, const std::string& floorName,
              const ShellQuery* shell) {
    Row r;
    r.step = step;
    r.program = program;
    r.floorName = floorName;
    r.shell = shell;
    return r;
}

void printRows(const std::vector<Row>& rows) {
    std::vector<std::vector<std::string>> cells;
    for (const Row& r : rows) {
        const double floor = r.floorValue();
        const double ratio = std::isnan(r.program) || std::isnan(floor) ? NAN : r.program / floor;
        std::string target = "(reference)";
        if (!std::isnan(r.limit))
            target = "< " + fixed(r.limit, r.limit < 10 ? 1 : 0) + " " + r.unit;
        else if (!std::isnan(r.factor))
            target =
                fixed(r.factor, 1) + "x floor" +
                (std::isnan(floor) ? "" : " (" + fixed(floor * r.factor, 0) + " " + r.unit + ")");
        const std::optional<bool> pass = r.pass();
        cells.push_back({r.step, fixed(r.program, r.decimals), fixed(floor),
                         r.floorName.empty() ? "-" : r.floorName,
                         std::isnan(ratio) ? "-" : fixed(ratio, 2) + "x", target,
                         !pass   ? "-"
                         : *pass ? "pass"
                                 : "FAIL"});
    }
    printTable({"step", "program", "floor", "floor is", "ratio", "target", "result"}, cells,
               {1, 2, 4});
}

std::string runsOf(const std::vector<double>& v) {
    std::string s;
    for (double x : v)
        s += (s.empty() ? "" : " ") + fixed(x);
    return s;
}

std::size_t Context::addShell(const std::string& sql, std::vector<std::string> options) {
    shell.push_back(ShellQuery{sql, std::move(options)});
    return shell.size() - 1;
}

void Context::note(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    notes.push_back([line = std::string(buffer)] { return line; });
}

void Context::markMemory(const std::string& when) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-30s %7.1f / %7.1f", when.c_str(),
                  statusKb("VmRSS") / 1024.0, statusKb("VmHWM") / 1024.0);
    memory.push_back(line);
}

namespace {

// ---- The card file --------------------------------------------------------------------------

/// What building the quick-find index of a card file took.
struct IndexBuild {
    bool built = false;    // the file lacked it, and it was built
    bool repaired = false; // it was there, but cards had been added behind its back
    double ms = NAN;
    double cpuSeconds = NAN;
    long startKb = -1; // memory of the building process before and at its peak
    long peakKb = -1;
    qint64 before = 0, after = 0; // size of the file
    qint64 textBytes = 0;         // bytes of zl's 24 written columns
};

/// Builds the quick-find index of `file` when it lacks it, as the program does for an older
/// file, in a process of its own so that its peak memory is its own. A new database starts
/// with an empty index, and the generator adds its cards with plain SQL: such a file holds
/// the index's tables but none of its cards.
IndexBuild buildQuickFindIndex(const QString& file) {
    int fds[2];
    if (::pipe(fds) != 0)
        fail("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        ::close(fds[0]);
        IndexBuild b;
        const int status = guarded("quembe-bench", [&] {
            resetPeak();
            b.startKb = statusKb("VmRSS");
            b.before = QFileInfo(file).size();
            Sqlite::Database db;
            if (db.open(file, Sqlite::OpenMode::ReadWrite) != SQLITE_OK)
                fail("cannot open " + file.toStdString());
            b.textBytes = textBytes(db.get());
            const bool lacking = !QuickFind::isBuilt(db.get()) ||
                                 (scalar(db.get(), "select count(*) from zl") > 0 &&
                                  scalar(db.get(), "select count(*) from quickfind_chunk") == 0);
            if (lacking) {
                const double cpuBefore = cpuMs();
                const Clock::time_point start = Clock::now();
                QuickFind::build(db.get());
                db.close();
                b.ms = msSince(start);
                b.cpuSeconds = (cpuMs() - cpuBefore) / 1000;
                b.built = true;
            } else {
                b.repaired = QuickFind::repair(db.get());
            }
            b.peakKb = statusKb("VmHWM");
            // The program keeps the duplicate keys of every card it writes; the generator
            // wrote none. Made here, out of the figures, as a file of the program has them.
            Sqlite::Database keys;
            if (keys.open(file, Sqlite::OpenMode::ReadWrite) != SQLITE_OK ||
                (!Duplicates::catchUpKeys(keys.get()) && !Duplicates::rebuildKeys(keys.get())))
                fail("cannot make the duplicate keys of " + file.toStdString());
            return 0;
        });
        b.after = QFileInfo(file).size();
        const bool written = ::write(fds[1], &b, sizeof b) == ssize_t(sizeof b);
        std::fflush(nullptr);
        _exit(written ? status : 1);
    }
    ::close(fds[1]);
    IndexBuild b;
    const ssize_t n = ::read(fds[0], &b, sizeof b);
    ::close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (n != ssize_t(sizeof b) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("building the quick-find index failed");
    return b;
}

struct Options {
    std::vector<long> cards;
    QString keep;
    QString reuse;
    bool skipExchange = false; // no export and import: they take most of a large run
    bool findOnly = false;     // the start and the quick find alone: quick to run at any size
};

/// The card file in the program folder, outside the measured process: generated (or reused),
/// its quick-find index built, copied, on disk and in the cache. Gives the source file; the
/// rows of the index build go to `indexRows`.
QString prepareCards(Context& c, const Options& options, long cards, std::vector<Row>* indexRows) {
    c.programFolder = c.work + QStringLiteral("/program");
    QDir().mkpath(c.programFolder);
    c.database = c.programFolder + QStringLiteral("/velmora.mdb");
    QFile::remove(c.database);

    QString source;
    if (!options.reuse.isEmpty()) {
        source = QFileInfo(options.reuse).absoluteFilePath();
        if (!QFileInfo::exists(source))
            fail("no such file: " + source.toStdString());
        const long found = countCards(source);
        if (cards >= 0 && found != cards)
            std::printf("note: %s holds %ld cards, not %ld; measuring %ld\n", qPrintable(source),
                        found, cards, found);
        cards = found;
        std::printf("cards: %ld, reused from %s\n", cards, qPrintable(source));
    } else {
        source = c.work + QStringLiteral("/cards-%1.mdb").arg(cards);
        if (QFileInfo::exists(source))
            fail(source.toStdString() + " exists; pass it with --reuse, or remove it");
        const Clock::time_point start = Clock::now();
        generateCards(source, cards, userPassword());
        flushFile(source);
        std::printf("cards: %ld, generated in %.1f s into %s%s\n", cards, msSince(start) / 1000,
                    qPrintable(source), options.keep.isEmpty() ? " (removed at the end)" : "");
    }
    c.cards = c.listed = cards;
    // The quick find needs its index: built here, once, on the card file, as the program
    // builds it for an older file (it is kept with --keep, and found again with --reuse).
    const IndexBuild index = buildQuickFindIndex(source);
    if (index.built) {
        flushFile(source);
        const double growth =
            double(index.after - index.before) / double(std::max<qint64>(index.textBytes, 1));
        std::printf("quick-find index: built in %.1f s (%.1f s of processor time), peak memory "
                    "%.1f MB (%.1f MB at the start); file %.1f -> %.1f MB, grew %.2fx zl's text "
                    "(%.1f MB)\n",
                    index.ms / 1000, index.cpuSeconds, index.peakKb / 1024.0,
                    index.startKb / 1024.0, index.before / 1e6, index.after / 1e6, growth,
                    index.textBytes / 1e6);
        // The target is set for a million cards; more take their share longer.
        const double buildLimitS = 12 * std::max(1.0, double(cards) / 1e6);
        indexRows->push_back(
            under("6 quick-find index build (s)", index.ms / 1000, buildLimitS, "s"));
        indexRows->push_back(
            under("6 quick-find index build, peak RSS (MB)", index.peakKb / 1024.0, 150, "MB"));
        Row r = under("6 quick-find index, file growth (x zl text)", growth, 1.5, "x");
        r.decimals = 2;
        indexRows->push_back(r);
        c.note("quick-find index build: %.1f s of processor time", index.cpuSeconds);
    } else {
        std::printf("quick-find index: already in the file%s\n",
                    index.repaired ? " (cards added behind its back were folded in)" : "");
    }
    // The program changes its file (add, modify, delete): work on a copy.
    if (!QFile::copy(source, c.database))
        fail("cannot copy the card file into the program folder");
    const qint64 bytes = QFileInfo(c.database).size();
    std::printf("file: %.1f MB, %.0f bytes per card\n", bytes / 1e6,
                double(bytes) / double(std::max(1L, cards)));
    flushFile(c.database);
    warmFile(c.database);
    return source;
}

/// The shell's reads the scenarios are set against, each timed before and after them.
void planShell(Context& c) {
    const auto panel = panelSearches();
    auto idsWhere = [](const QString& column, const QString& word) {
        return "select ID from zl where \"" + column.toStdString() + "\" like '%" +
               word.toStdString() + "%'";
    };
    c.shellIds = c.addShell("select ID from zl");
    c.shellSurname = c.addShell(idsWhere(panel[0].first, panel[0].second));
    c.shellRare = c.addShell(idsWhere(panel[1].first, panel[1].second));
    c.shellAll = c.addShell(idsWhere(panel[2].first, panel[2].second));
    c.shellNone = c.addShell(idsWhere(panel[3].first, panel[3].second));
    c.shellStar = c.addShell("select * from zl");
    // The quick find's words, each next to the shell's LIKE scan of the 24 written columns.
    for (const QString& word : quickFindWords())
        c.shellQuick.push_back(
            c.addShell("select ID from zl where " + likeCondition(word.toStdString())));
    // Export next to the shell writing the same cards' 24 columns as CSV.
    c.shellCsv = c.addShell("select " + columnList() + " from zl limit " +
                                std::to_string(std::min(c.cards, kExchangeCards)),
                            {"-csv"});
}

const int kShellRunsEach = 2;

int run(int& argc, char** argv, const Options& options, long cards) {
    const WorkFolder work(options.keep, "quembe-bench");
    Context c;
    c.work = work.path;
    std::vector<Row> indexRows;
    const QString source = prepareCards(c, options, cards, &indexRows);
    const std::string loadBefore = loadAverage();
    planShell(c);
    for (ShellQuery& q : c.shell)
        q.time(c.database.toStdString(), kShellRunsEach, true);
    if (!c.shell.front().available)
        std::printf("note: the sqlite3 shell is not installed; shell columns stay empty\n");

    startUp(c);

    // The program's own steps, driven inside this process.
    Platform::TApplication app(argc, argv);
    Platform::MessageBoxRecorder boxes;
    Platform::ModalRecorder modal;
    c.boxes = &boxes;
    Platform::setProgramFolderForTesting(c.programFolder);
    c.markMemory("before the windows");
    c.large = c.cards > 10000;
    // QUEMBE_BENCH_RUNS repeats the cheap steps more often, for profiling.
    c.runs = qEnvironmentVariableIsSet("QUEMBE_BENCH_RUNS")
                 ? std::max(1, qEnvironmentVariableIntValue("QUEMBE_BENCH_RUNS"))
             : c.cards >= 500000 ? 3
                                 : 5;
    struct Forms {
        Context& c;
        ~Forms() {
            if (c.formsMade)
                Quembe::destroyForms();
        }
    } forms{c};
    logIn(c);
    if (!options.findOnly) {
        searches(c);
        moving(c);
        editing(c);
    }
    c.rows.insert(c.rows.end(), indexRows.begin(), indexRows.end());
    quickFind(c);
    const bool exchange = !options.skipExchange && !options.findOnly;
    if (exchange)
        exportCards(c);
    const QString storedPassword = FrmMain->ADOQuery2->FieldAsString(QStringLiteral("用户密码"));
    Quembe::destroyForms();
    c.formsMade = false;
    c.markMemory("after the windows are gone");
    passwordCheck(c, storedPassword);
    if (exchange)
        importCards(c);

    for (ShellQuery& q : c.shell)
        q.time(c.database.toStdString(), kShellRunsEach, false);
    c.rows.push_back(
        reference("  shell: select * from zl", NAN, "shell, select *", &c.shell[c.shellStar]));
    std::printf("\nquembe-bench, %ld cards (whole program: median of the starts, each paired with "
                "a shell run and a start of the Qt program; steps: median of %d runs; shell: "
                "median of %d after one warm-up)\n",
                c.cards, c.runs, 2 * kShellRunsEach);
    std::printf("load average at the start %s\n\n", loadBefore.c_str());
    printRows(c.rows);
    std::printf("\n%s (at the end)\n", loadLine().c_str());
    for (const auto& line : c.notes)
        std::printf("%s\n", line().c_str());
    std::printf("memory (VmRSS / VmHWM, MB):\n");
    for (const std::string& m : c.memory)
        std::printf("%s\n", m.c_str());
    if (!options.keep.isEmpty())
        std::printf("kept: %s (reuse the card file with --reuse %s)\n", qPrintable(c.work),
                    qPrintable(options.reuse.isEmpty() ? source : options.reuse));
    Platform::setProgramFolderForTesting(QString());
    return 0;
}

// The offscreen platform's notes about what it cannot do would bury the table.
QtMessageHandler g_defaultHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg &&
        (message.startsWith(QLatin1String("This plugin does not support")) ||
         message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR"))))
        return;
    g_defaultHandler(type, context, message);
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: quembe-bench --cards N[,N...] [--keep DIR] [--reuse FILE] "
                         "[--skip-exchange] [--find-only]\n");
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--skip-exchange") {
            o.skipExchange = true;
            continue;
        }
        if (a == "--find-only") {
            o.findOnly = true;
            continue;
        }
        if (i + 1 >= argc)
            usage();
        const char* value = argv[++i];
        if (a == "--cards") {
            for (const QString& count : QString::fromLocal8Bit(value).split(QLatin1Char(','))) {
                bool ok = false;
                const long n = count.toLong(&ok);
                if (!ok || n < 1)
                    usage();
                o.cards.push_back(n);
            }
        } else if (a == "--keep") {
            o.keep = QString::fromLocal8Bit(value);
        } else if (a == "--reuse") {
            o.reuse = QString::fromLocal8Bit(value);
        } else {
            usage();
        }
    }
    if (o.cards.empty() && o.reuse.isEmpty())
        usage();
    if (o.cards.size() > 1 && !o.reuse.isEmpty())
        usage();
    if (o.cards.empty())
        o.cards.push_back(-1);
    return o;
}

/// Runs the benchmark for one count in a child process: the memory figures are its own.
int runChild(const Options& options, long cards, char** argv) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        Options one = options;
        if (!one.keep.isEmpty())
            one.keep += QStringLiteral("/%1").arg(cards);
        int qtArgc = 1;
        const int status = guarded("quembe-bench", [&] { return run(qtArgc, argv, one, cards); });
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

} // namespace Bench

int main(int argc, char** argv) {
    using namespace Bench;
    const Options options = parseOptions(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_defaultHandler = qInstallMessageHandler(quietHandler);
    if (options.cards.size() == 1) {
        // Qt would take our options for its own: give it only the program name.
        int qtArgc = 1;
        return guarded("quembe-bench",
                       [&] { return run(qtArgc, argv, options, options.cards.front()); });
    }
    int status = 0;
    for (long cards : options.cards)
        status = std::max(status,
                          guarded("quembe-bench", [&] { return runChild(options, cards, argv); }));
    return status;
}

#include "support.h"

#include "testcards.h"

#include "core/error.h"
#include "data/connectionstring.h"
#include "data/fieldmap.h"
#include "data/schema.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Bench {

namespace {

/// Waits for `pid` to end, through interruptions; its status, and its usage when asked.
int waitFor(pid_t pid, rusage* usage = nullptr) {
    int status = 0;
    while (wait4(pid, &status, 0, usage) < 0 && errno == EINTR) {
    }
    return status;
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

/// Actions that give the child an empty stdin and `out` (and stderr too when `err`) as
/// stdout; the caller destroys them.
posix_spawn_file_actions_t quietActions(const char* out, bool err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    return actions;
}

} // namespace

// ---- Time -----------------------------------------------------------------------------------

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double lap(const char* name, Clock::time_point start) {
    static const bool printMarks = qEnvironmentVariableIsSet("QUEMBE_BENCH_MARKS");
    const Clock::time_point end = Clock::now();
    if (printMarks) {
        auto seconds = [](Clock::time_point t) {
            return std::chrono::duration<double>(t.time_since_epoch()).count();
        };
        std::fprintf(stderr, "mark %-12s %.6f,%.6f\n", name, seconds(start), seconds(end));
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// ---- Failing --------------------------------------------------------------------------------

void fail(const std::string& what) {
    throw Failure(what);
}

void expect(bool condition, const std::string& what) {
    if (!condition)
        fail(what);
}

int guarded(const char* program, const std::function<int()>& body) {
    try {
        return body();
    } catch (const EError& e) {
        std::fprintf(stderr, "%s: %s\n", program, qPrintable(e.message()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
    }
    return 1;
}

// ---- Memory and load ------------------------------------------------------------------------

long statusKb(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const std::size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, len) == 0 && line[len] == ':') {
            value = std::atol(line + len + 1);
            break;
        }
    }
    std::fclose(f);
    return value;
}

void resetPeak() {
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

std::string loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    return f.readLine().split(' ').mid(0, 3).join(' ').toStdString();
}

std::string loadLine() {
    return "load average (1, 5, 15 min): " + loadAverage() + "; " +
           std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " processors";
}

// ---- Files ----------------------------------------------------------------------------------

WorkFolder::WorkFolder(const QString& keep, const char* prefix) {
    if (keep.isEmpty()) {
        m_temporary =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1Char('/') +
                                            QLatin1String(prefix) + QStringLiteral("-XXXXXX"));
        if (!m_temporary->isValid())
            fail("cannot make a temporary folder");
        path = m_temporary->path();
    } else {
        path = QDir(keep).absolutePath();
        if (!QDir().mkpath(path))
            fail("cannot make " + path.toStdString());
    }
}

WorkFolder::~WorkFolder() = default;

void generateCards(const QString& file, long cards, const QString& userPassword) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        int status = 0;
        try {
            Schema::createDatabase(file, DatabaseSettings::stored().password, userPassword);
            const std::string error = Bench::fillCards(file.toStdString(), cards);
            if (!error.empty()) {
                std::fprintf(stderr, "generating the cards: %s\n", error.c_str());
                status = 1;
            }
        } catch (const EError& e) {
            std::fprintf(stderr, "generating the cards: %s\n", qPrintable(e.message()));
            status = 1;
        }
        std::fflush(nullptr);
        _exit(status);
    }
    if (exitStatus(waitFor(pid)) != 0) {
        QFile::remove(file);
        fail("generating the cards failed");
    }
}

void flushFile(const QString& file) {
    const int fd = ::open(file.toLocal8Bit().constData(), O_RDONLY);
    const bool flushed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!flushed)
        fail("cannot flush " + file.toStdString());
}

void warmFile(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        fail("cannot read " + file.toStdString());
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    while (f.read(buffer.data(), buffer.size()) > 0) {
    }
}

// ---- SQLite ---------------------------------------------------------------------------------

long long scalar(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    long long value = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        value = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    if (value < 0)
        fail(sql + ": " + sqlite3_errmsg(db));
    return value;
}

long countCards(const QString& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        fail("cannot count the cards in " + file.toStdString());
    }
    try {
        const long count = long(scalar(db, "SELECT count(*) FROM zl"));
        sqlite3_close(db);
        return count;
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
}

long long textBytes(sqlite3* db) {
    std::string sum;
    for (const FieldMapEntry& e : kFieldMap)
        sum += std::string(sum.empty() ? "" : " + ") + "length(CAST(\"" + e.column + "\" AS BLOB))";
    return scalar(db, "select total(" + sum + ") from zl");
}

std::string likeCondition(const std::string& word) {
    std::string sql;
    for (const FieldMapEntry& e : kFieldMap)
        sql +=
            std::string(sql.empty() ? "" : " or ") + "\"" + e.column + "\" like '%" + word + "%'";
    return sql;
}

std::string likeQuery(const std::vector<std::string>& words) {
    std::string sql = "select ID from zl where 1";
    for (const std::string& w : words)
        sql += " and (" + likeCondition(w) + ")";
    return sql;
}

std::string columnList() {
    std::string columns;
    for (const FieldMapEntry& e : kFieldMap)
        columns += std::string(columns.empty() ? "" : ", ") + "\"" + e.column + "\"";
    return columns;
}

// ---- Other processes ------------------------------------------------------------------------

std::optional<double> runShell(const std::string& file, const std::string& sql,
                               const std::vector<std::string>& options) {
    posix_spawn_file_actions_t actions = quietActions("/dev/null", false);
    std::vector<std::string> args = {"sqlite3", "-batch", "-init", "/dev/null"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(file);
    args.push_back(sql);
    std::vector<char*> argv = pointers(args);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == ENOENT)
        return std::nullopt;
    if (rc != 0)
        fail("cannot start sqlite3: " + std::string(std::strerror(rc)));
    const int status = waitFor(pid);
    const double ms = msSince(start);
    if (exitStatus(status) != 0)
        fail("sqlite3 failed on: " + sql);
    return ms;
}

void ShellQuery::time(const std::string& file, int runs, bool warm) {
    if (!available)
        return;
    // The first run only warms the caches.
    if (warm && !runShell(file, sql, options)) {
        available = false;
        return;
    }
    for (int i = 0; i < runs; ++i)
        times.push_back(*runShell(file, sql, options));
}

double ShellQuery::median() const {
    return available ? Bench::median(times) : NAN;
}

ToolRun runTool(std::vector<std::string> args, const QString& log) {
    // A process the bench starts inherits the bench's own peak memory in its figures: it is
    // started sharing the bench's memory until it loads the program. GNU time starts it
    // afresh and notes its peak alone.
    const QString peakFile = log + QStringLiteral(".peak");
    const bool timed = QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable();
    if (timed) {
        QFile::remove(peakFile);
        args.insert(args.begin(), {"/usr/bin/time", "-f", "%M", "-o", peakFile.toStdString()});
    }
    const std::string logFile = log.toStdString();
    posix_spawn_file_actions_t actions = quietActions(logFile.c_str(), true);
    std::vector<char*> argv = pointers(args);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        fail("cannot start " + args[0] + ": " + std::strerror(rc));
    const int status = waitFor(pid);
    ToolRun run;
    run.ms = msSince(start);
    if (timed) {
        QFile f(peakFile);
        const QList<QByteArray> lines =
            f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().split('\n') : QList<QByteArray>();
        bool known = false;
        const long kb = lines.isEmpty() ? 0 : lines.last().trimmed().toLong(&known);
        run.peakKb = known ? kb : -1;
    } else {
        run.peakKb = -1; // unknown: the figure the system gives would hold the bench's
    }
    if (exitStatus(status) != 0) {
        QFile f(log);
        const QByteArray said = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
        fail(args[0] + " failed (exit status " + std::to_string(exitStatus(status)) +
             "): " + said.toStdString());
    }
    return run;
}

std::map<std::string, double> runWithProbe(const QString& program, const QString& probe,
                                           const QString& password) {
    // Above the descriptors the child is given, and not inherited but for the one dup'ed.
    int fds[2];
    if (::pipe(fds) != 0)
        fail("pipe failed");
    for (int& fd : fds) {
        const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
        ::close(fd);
        fd = high;
    }
    posix_spawn_file_actions_t actions = quietActions("/dev/null", true);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("LD_PRELOAD=", 0) != 0 && v.rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(v);
    }
    env.push_back("LD_PRELOAD=" + probe.toStdString());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("QUEMBE_PROBE_FD=3");
    env.push_back("QUEMBE_PROBE_PASSWORD=" + password.toStdString());
    std::vector<char*> envp = pointers(env);
    std::vector<std::string> args = {program.toStdString()};
    std::vector<char*> argv = pointers(args);

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        fail("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    std::string out;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        out.append(buffer, std::size_t(n));
    }
    ::close(fds[0]);
    const int status = waitFor(pid);

    const double origin = std::chrono::duration<double>(start.time_since_epoch()).count();
    std::map<std::string, double> marks;
    for (const QByteArray& line : QByteArray::fromStdString(out).split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() >= 2)
            marks[parts[0].toStdString()] = (parts[1].toDouble() - origin) * 1000;
    }
    if (!marks.count("end") || !marks.count("grid"))
        fail(args[0] + " did not reach its painted grid (exit status " +
             std::to_string(exitStatus(status)) + "): " + out);
    return marks;
}

// ---- The table ------------------------------------------------------------------------------

std::string fixed(double v, int decimals) {
    if (std::isnan(v))
        return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

int displayWidth(const std::string& s) {
    int width = 0;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += len >= 3 ? 2 : 1;
        i += std::size_t(len);
    }
    return width;
}

std::string pad(const std::string& s, int width, bool right) {
    const int fill = std::max(0, width - displayWidth(s));
    return right ? std::string(std::size_t(fill), ' ') + s
                 : s + std::string(std::size_t(fill), ' ');
}

void printTable(const std::vector<std::string>& heads,
                const std::vector<std::vector<std::string>>& rows,
                const std::vector<int>& rightAligned) {
    std::vector<int> widths;
    for (std::size_t c = 0; c < heads.size(); ++c) {
        int w = displayWidth(heads[c]);
        for (const auto& row : rows)
            w = std::max(w, displayWidth(row[c]));
        widths.push_back(w);
    }
    auto line = [&](const std::vector<std::string>& row) {
        std::string out;
        for (std::size_t c = 0; c < heads.size(); ++c) {
            const bool right =
                std::find(rightAligned.begin(), rightAligned.end(), int(c)) != rightAligned.end();
            out += (c ? " | " : "") + pad(row[c], widths[c], right);
        }
        std::printf("%s\n", out.c_str());
    };
    line(heads);
    std::string rule;
    for (std::size_t c = 0; c < heads.size(); ++c)
        rule += (c ? "-+-" : "") + std::string(std::size_t(widths[c]), '-');
    std::printf("%s\n", rule.c_str());
    for (const auto& row : rows)
        line(row);
}

} // namespace Bench

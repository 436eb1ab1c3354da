// Times the quick find over a generated card file, against the sqlite3 shell's LIKE scan of
// the same words over the same columns:
//   quembe-quickfind-bench --cards N [--keep DIR] [--reuse FILE] [--runs K]
// It builds the index (time, peak memory, growth of the file), times find() for typical
// words, and one change to a card.
#include "cards.h"

#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/schema.h"
#include "quickfind/quickfind.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using Bench::statusKb;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) {
    throw Failure(what);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    return f.readLine().split(' ').mid(0, 3).join(' ').toStdString();
}

/// Wall-clock milliseconds of one shell run, output thrown away; nullopt without the shell.
std::optional<double> runShell(const std::string& file, const std::string& sql) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"sqlite3", "-batch", "-init", "/dev/null", file, sql};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == ENOENT)
        return std::nullopt;
    if (rc != 0)
        fail("cannot start sqlite3: " + std::string(std::strerror(rc)));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double ms = msSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("sqlite3 failed on: " + sql);
    return ms;
}

/// The shell's LIKE scan for the same words: every word somewhere in the 24 columns.
std::string likeQuery(const std::vector<std::string>& words) {
    std::string sql = "select ID from zl where 1";
    for (const std::string& w : words) {
        sql += " and (";
        bool first = true;
        for (const FieldMapEntry& e : kFieldMap) {
            sql += std::string(first ? "" : " or ") + "\"" + e.column + "\" like '%" + w + "%'";
            first = false;
        }
        sql += ")";
    }
    return sql;
}

/// Makes the card file in a child process, so that this one carries nothing of it.
void generate(const QString& file, long cards) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork failed");
    if (pid == 0) {
        int status = 0;
        try {
            const QString password =
                ConnectionString::parse(QString::fromUtf8(kStoredConnectionString))
                    .value(QStringLiteral("Jet OLEDB:Database Password"));
            Schema::createDatabase(file, password, QStringLiteral("bench"));
            const std::string error = Bench::fillCards(file.toStdString(), cards);
            if (!error.empty()) {
                std::fprintf(stderr, "quembe-quickfind-bench: %s\n", error.c_str());
                status = 1;
            }
        } catch (const EDatabaseError& e) {
            std::fprintf(stderr, "quembe-quickfind-bench: %s\n", qPrintable(e.message()));
            status = 1;
        }
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        QFile::remove(file);
        fail("generating the cards failed");
    }
}

/// A connection set up as the program sets up its own.
sqlite3* open(const QString& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        fail("cannot open " + file.toStdString());
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_exec(db, "PRAGMA trusted_schema=OFF", nullptr, nullptr, nullptr);
    return db;
}

qint64 scalar(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    qint64 v = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return v;
}

/// Bytes of text in the 24 written columns of zl.
qint64 textBytes(sqlite3* db) {
    std::string sum;
    for (const FieldMapEntry& e : kFieldMap)
        sum += std::string(sum.empty() ? "" : " + ") + "length(CAST(\"" + e.column + "\" AS BLOB))";
    return scalar(db, "select total(" + sum + ") from zl");
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(std::string(sql) + ": " + sqlite3_errmsg(db));
}

std::string fixed(double v, int decimals = 1) {
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

std::string pad(const std::string& s, int width) {
    return s + std::string(std::size_t(std::max(0, width - displayWidth(s))), ' ');
}

struct Options {
    long cards = -1;
    QString keep, reuse;
    int runs = 7;
    bool buildOnly = false; // for profiling the build alone
};

void usage() {
    std::fprintf(stderr, "usage: quembe-quickfind-bench --cards N [--keep DIR] [--reuse FILE] "
                         "[--runs K] [--build-only]\n");
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--build-only") {
            o.buildOnly = true;
            continue;
        }
        if (i + 1 >= argc)
            usage();
        const std::string v = argv[++i];
        if (a == "--cards")
            o.cards = std::atol(v.c_str());
        else if (a == "--keep")
            o.keep = QString::fromLocal8Bit(v.c_str());
        else if (a == "--reuse")
            o.reuse = QString::fromLocal8Bit(v.c_str());
        else if (a == "--runs")
            o.runs = std::max(1, std::atoi(v.c_str()));
        else
            usage();
    }
    if (o.cards < 1 && o.reuse.isEmpty())
        usage();
    return o;
}

int run(const Options& options) {
    std::unique_ptr<QTemporaryDir> temp;
    QString work;
    if (options.keep.isEmpty()) {
        temp = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                               QStringLiteral("/quembe-qf-bench-XXXXXX"));
        work = temp->path();
    } else {
        work = QFileInfo(options.keep).absoluteFilePath();
        QDir().mkpath(work);
    }
    QString source;
    if (!options.reuse.isEmpty()) {
        source = QFileInfo(options.reuse).absoluteFilePath();
    } else {
        source = work + QStringLiteral("/cards-%1.mdb").arg(options.cards);
        if (QFileInfo::exists(source))
            fail(source.toStdString() + " exists; pass it with --reuse, or remove it");
        const Clock::time_point start = Clock::now();
        generate(source, options.cards);
        std::printf("generated %ld cards in %.1f s\n", options.cards, msSince(start) / 1000);
    }
    const QString file = work + QStringLiteral("/quickfind.mdb");
    QFile::remove(file);
    if (!QFile::copy(source, file))
        fail("cannot copy the card file");

    sqlite3* db = open(file);
    const qint64 cards = scalar(db, "select count(*) from zl");
    const qint64 text = textBytes(db);
    const qint64 before = QFileInfo(file).size();
    const long rssBefore = statusKb("VmHWM");

    // ---- Building ---------------------------------------------------------------------
    Clock::time_point start = Clock::now();
    const double cpuBefore = cpuSeconds();
    QuickFind::build(db);
    const double buildMs = msSince(start);
    const double buildCpu = cpuSeconds() - cpuBefore;
    const long rssAfter = statusKb("VmHWM");
    sqlite3_close(db);
    if (options.buildOnly) {
        std::printf("build: %.1f s (%.1f s of processor time), peak memory %.1f MB\n",
                    buildMs / 1000, buildCpu, rssAfter / 1024.0);
        return 0;
    }
    const qint64 after = QFileInfo(file).size();
    db = open(file);

    // ---- Finding ----------------------------------------------------------------------
    struct Query {
        const char* label;
        std::vector<std::string> words;
        std::vector<double> times, shell;
        int hits = 0;
    };
    std::vector<Query> queries = {
        {"one common character", {"张"}, {}, {}, 0},
        {"two-letter initials", {"zs"}, {}, {}, 0},
        {"4-digit phone fragment", {"3721"}, {}, {}, 0},
        {"company word", {"科技"}, {}, {}, 0},
        {"company word, 4 characters", {"信息技术"}, {}, {}, 0},
        {"several words", {"张", "北京"}, {}, {}, 0},
        {"name and phone", {"wang", "138"}, {}, {}, 0},
        {"pinyin of a full name", {"zhangwei"}, {}, {}, 0},
        {"one letter", {"z"}, {}, {}, 0},
        {"long common phrase", {"股份有限公司"}, {}, {}, 0},
        {"rare mail text", {Bench::CardGenerator::rareEmailText()}, {}, {}, 0},
    };
    const std::string loadBefore = loadAverage();
    const std::string path = file.toStdString();
    bool shell = true;
    for (Query& q : queries) {
        QString text;
        for (const std::string& w : q.words)
            text += QString::fromStdString(w) + QLatin1Char(' ');
        QuickFind::find(db, text); // warm
        for (int i = 0; i < options.runs; ++i) {
            start = Clock::now();
            q.hits = int(QuickFind::find(db, text).size());
            q.times.push_back(msSince(start));
        }
        if (shell) {
            const std::string sql = likeQuery(q.words);
            shell = runShell(path, sql).has_value();
            for (int i = 0; shell && i < 3; ++i)
                q.shell.push_back(*runShell(path, sql));
        }
    }

    // ---- Changing cards ---------------------------------------------------------------
    std::vector<double> changeMs, plainMs;
    for (int i = 0; i < options.runs; ++i) {
        start = Clock::now();
        exec(db, "BEGIN");
        exec(db, "INSERT INTO zl (\"姓名\") VALUES ('测试')");
        exec(db, "DELETE FROM zl WHERE \"ID\" = last_insert_rowid()");
        exec(db, "COMMIT");
        plainMs.push_back(msSince(start));
    }
    Card card;
    card.setValue(QStringLiteral("姓名"), QStringLiteral("测试"));
    card.setValue(QStringLiteral("单位"), QStringLiteral("基准测试有限公司"));
    card.setValue(QStringLiteral("手机"), QStringLiteral("13900001111"));
    for (int i = 0; i < options.runs; ++i) {
        start = Clock::now();
        exec(db, "BEGIN");
        exec(db,
             "INSERT INTO zl (\"姓名\", \"单位\", \"手机\") VALUES ('测试', '基准测试有限公司', "
             "'13900001111')");
        QuickFind::updateCard(db, sqlite3_last_insert_rowid(db), card);
        exec(db, "COMMIT");
        changeMs.push_back(msSince(start));
    }
    // Folding the changed cards in, as happens every few hundred changes.
    start = Clock::now();
    exec(db, "BEGIN");
    for (qint64 i = 0; i < 600; ++i) {
        exec(db, "INSERT INTO zl (\"姓名\") VALUES ('测试')");
        QuickFind::updateCard(db, sqlite3_last_insert_rowid(db), card);
    }
    exec(db, "COMMIT");
    const double sixHundredMs = msSince(start);
    start = Clock::now();
    const bool repaired = QuickFind::repair(db);
    const double repairMs = msSince(start);
    sqlite3_close(db);

    // ---- Report -----------------------------------------------------------------------
    std::printf("\nquembe-quickfind-bench, %lld cards (find: median of %d runs after one warm-up; "
                "shell: median of 3)\n\n",
                cards, options.runs);
    std::printf("build: %.1f s (%.1f s of processor time), peak memory %.1f MB (%.1f MB before)\n",
                buildMs / 1000, buildCpu, rssAfter / 1024.0, rssBefore / 1024.0);
    std::printf("file: %.1f MB before, %.1f MB after; grew %.1f MB = %.2fx zl's text (%.1f MB, "
                "%.0f bytes a card)\n\n",
                before / 1e6, after / 1e6, (after - before) / 1e6,
                double(after - before) / double(std::max<qint64>(text, 1)), text / 1e6,
                double(text) / double(std::max<qint64>(cards, 1)));
    std::vector<std::vector<std::string>> rows;
    for (const Query& q : queries) {
        std::string words;
        for (const std::string& w : q.words)
            words += (words.empty() ? "" : " ") + w;
        const double m = median(q.times), s = median(q.shell);
        rows.push_back({q.label, "\"" + words + "\"", std::to_string(q.hits), fixed(m, 2),
                        fixed(s, 0), std::isnan(s) ? "-" : fixed(s / m, 0) + "x"});
    }
    const std::vector<std::string> heads = {"query",   "text",    "hits",
                                            "find ms", "LIKE ms", "faster"};
    std::vector<int> widths;
    for (std::size_t c = 0; c < heads.size(); ++c) {
        int w = displayWidth(heads[c]);
        for (const auto& r : rows)
            w = std::max(w, displayWidth(r[c]));
        widths.push_back(w);
    }
    auto line = [&](const std::vector<std::string>& r) {
        std::string out;
        for (std::size_t c = 0; c < r.size(); ++c)
            out += (c ? " | " : "") + pad(r[c], widths[c]);
        std::printf("%s\n", out.c_str());
    };
    line(heads);
    for (const auto& r : rows)
        line(r);
    std::printf("\nadd a card with its index entry (own transaction): median %.2f ms (a "
                "transaction writing zl alone: %.2f ms)\n",
                median(changeMs), median(plainMs));
    std::printf("600 more added in one transaction (folds the changed cards in once): %.0f ms\n",
                sixHundredMs);
    std::printf("repair check (reads every ID of zl): %.0f ms%s\n", repairMs,
                repaired ? " (it found something to do!)" : "");
    std::printf("load average at the start %s, at the end %s; %d processors\n", loadBefore.c_str(),
                loadAverage().c_str(), int(sysconf(_SC_NPROCESSORS_ONLN)));
    if (!options.keep.isEmpty())
        std::printf("kept: %s\n", qPrintable(source));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    try {
        return run(options);
    } catch (const Failure& e) {
        std::fprintf(stderr, "quembe-quickfind-bench: %s\n", e.what());
    } catch (const EDatabaseError& e) {
        std::fprintf(stderr, "quembe-quickfind-bench: %s\n", qPrintable(e.message()));
    }
    return 1;
}

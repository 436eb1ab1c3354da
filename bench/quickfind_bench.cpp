// Times the quick find over a generated card file, against the sqlite3 shell's LIKE scan of
// the same words over the same columns:
//   quembe-quickfind-bench --cards N [--keep DIR] [--reuse FILE] [--runs K]
// It builds the index (time, peak memory, growth of the file), times find() for typical
// words and the first screen a list of them asks for, and one change to a card.
#include "support.h"
#include "testcards.h"

#include "data/card.h"
#include "quickfind/finder.h"
#include "quickfind/quickfind.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using namespace Bench;

namespace {

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

// The rows the list asks for before it shows anything.
constexpr qsizetype kFirstScreen = 128;

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(std::string(sql) + ": " + sqlite3_errmsg(db));
}

struct Options {
    long cards = -1;
    QString keep, reuse;
    int runs = 7;
    int buildRuns = 1;
    bool buildOnly = false; // for profiling the build alone
};

/// "8.1 7.9 8.4": each run in seconds.
std::string secondsOf(const std::vector<double>& ms) {
    std::string s;
    for (const double v : ms)
        s += (s.empty() ? "" : " ") + fixed(v / 1000);
    return s;
}

void usage() {
    std::fprintf(stderr, "usage: quembe-quickfind-bench --cards N [--keep DIR] [--reuse FILE] "
                         "[--runs K] [--build-runs K] [--build-only]\n");
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
        else if (a == "--build-runs")
            o.buildRuns = std::max(1, std::atoi(v.c_str()));
        else
            usage();
    }
    if (o.cards < 1 && o.reuse.isEmpty())
        usage();
    return o;
}

int run(const Options& options) {
    const WorkFolder folder(options.keep, "quembe-qf-bench");
    const QString& work = folder.path;
    QString source;
    if (!options.reuse.isEmpty()) {
        source = QFileInfo(options.reuse).absoluteFilePath();
    } else {
        source = work + QStringLiteral("/cards-%1.mdb").arg(options.cards);
        if (QFileInfo::exists(source))
            fail(source.toStdString() + " exists; pass it with --reuse, or remove it");
        const Clock::time_point start = Clock::now();
        generateCards(source, options.cards, QStringLiteral("bench"));
        std::printf("generated %ld cards in %.1f s\n", options.cards, msSince(start) / 1000);
    }
    const QString file = work + QStringLiteral("/quickfind.mdb");
    qint64 cards = 0, text = 0, before = 0;
    long rssBefore = 0, rssAfter = 0;
    // Each build on a fresh copy, paired with the shell reading the text of every card once
    // (a LIKE over the 24 columns), the least any build must do.
    std::vector<double> buildRuns, cpuRuns, floorRuns;
    const std::string loadAtBuild = loadAverage();
    sqlite3* db = nullptr;
    for (int run = 0; run < options.buildRuns; ++run) {
        QFile::remove(file);
        if (!QFile::copy(source, file))
            fail("cannot copy the card file");
        flushFile(file);
        warmFile(file);
        if (const std::optional<double> floor = runShell(
                file.toStdString(), "select count(*) from zl where " + likeCondition("张")))
            floorRuns.push_back(*floor);
        db = open(file);
        cards = scalar(db, "select count(*) from zl");
        text = textBytes(db);
        before = QFileInfo(file).size();
        resetPeak();
        rssBefore = statusKb("VmHWM");
        const Clock::time_point start = Clock::now();
        const double cpuBefore = cpuMs();
        QuickFind::build(db);
        buildRuns.push_back(msSince(start));
        cpuRuns.push_back(cpuMs() - cpuBefore);
        rssAfter = std::max(rssAfter, statusKb("VmHWM"));
        sqlite3_close(db);
    }
    const double buildMs = median(buildRuns);
    const double buildCpu = median(cpuRuns) / 1000;
    {
        const double floor = median(floorRuns);
        const bool big = cards >= 1000000;
        std::printf("build of %lld cards, median of %d: %.1f s (%.1f s of processor time; runs "
                    "%s), shell's LIKE over every card %.2f s (ratio %.1fx)%s; load average "
                    "%s\n",
                    cards, options.buildRuns, buildMs / 1000, buildCpu,
                    secondsOf(buildRuns).c_str(), floor / 1000, buildMs / floor,
                    big ? (buildMs < 12000 ? ", under 12 s: pass" : ", under 12 s: FAIL") : "",
                    loadAtBuild.c_str());
    }
    if (options.buildOnly) {
        std::printf("build: %.1f s (%.1f s of processor time), peak memory %.1f MB\n",
                    buildMs / 1000, buildCpu, rssAfter / 1024.0);
        return 0;
    }
    const qint64 after = QFileInfo(file).size();
    db = open(file);
    Clock::time_point start;

    // ---- Finding ----------------------------------------------------------------------
    struct Query {
        const char* label;
        std::vector<std::string> words;
        std::vector<double> times, shell;
        int hits = 0;
        std::vector<double> screen = {};
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
        {"pinyin, a name's start", {"zhangs"}, {}, {}, 0},
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
        // What the list needs before it is painted: its first screen, ranked.
        for (int i = 0; i < options.runs; ++i) {
            start = Clock::now();
            QuickFind::Listing listing(db, text, false, 0);
            QVector<qint64> ids;
            listing.next(ids, kFirstScreen);
            q.screen.push_back(msSince(start));
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
                        fixed(median(q.screen), 2), fixed(s, 0),
                        std::isnan(s) ? "-" : fixed(s / m, 0) + "x"});
    }
    printTable({"query", "text", "hits", "find ms", "first screen ms", "LIKE ms", "faster"}, rows);
    std::printf("\nadd a card with its index entry (own transaction): median %.2f ms (a "
                "transaction writing zl alone: %.2f ms)\n",
                median(changeMs), median(plainMs));
    std::printf("600 more added in one transaction (folds the changed cards in once): %.0f ms\n",
                sixHundredMs);
    std::printf("repair check (reads every ID of zl): %.0f ms%s\n", repairMs,
                repaired ? " (it found something to do!)" : "");
    std::printf("load average at the start %s\n%s (at the end)\n", loadBefore.c_str(),
                loadLine().c_str());
    if (!options.keep.isEmpty())
        std::printf("kept: %s\n", qPrintable(source));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    return guarded("quembe-quickfind-bench", [&] { return run(options); });
}

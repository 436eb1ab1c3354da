// Measures the duplicate finder: how often it is right on a labelled set, and how fast it is
// on a large file.
//   quembe-duplicates-bench [--seed S] [--families N] [--half tune|held|both]
//                           [--cards N]... [--keep DIR] [--reuse FILE] [--runs N]
//                           [--groups-only]
// The labelled set (duplicates_labelled.cpp) is split by family into two halves: the rule is
// tuned on "tune" (even families) and reported on "held" (odd ones). Each --cards N times all
// groups of N generated cards (median time of --runs runs, and peak memory), the key table's
// build and the proposals for one card already there and for one typed anew.
#include "duplicates_labelled.h"
#include "support.h"

#include "data/cardstore.h"
#include "data/sqlite.h"
#include "duplicates/finder.h"
#include "duplicates/keys.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace Bench;

namespace {

struct Options {
    std::uint64_t seed = 4172; // the rule was tuned on seed 20261209, tuning half
    int families = 20000;
    std::string half = "held";
    std::vector<long> cards;
    QString keep, reuse;
    bool groupsOnly = false; // for profiling all groups alone
    int runs = 3;            // of all groups, for the median
};

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: quembe-duplicates-bench [--seed S] [--families N] "
                         "[--half tune|held|both] [--cards N]... [--keep DIR] [--reuse FILE] "
                         "[--runs N] [--groups-only]\n");
    std::exit(2);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--groups-only") {
            o.groupsOnly = true;
            continue;
        }
        if (i + 1 >= argc)
            usage();
        const char* v = argv[++i];
        if (a == "--seed")
            o.seed = std::strtoull(v, nullptr, 10);
        else if (a == "--families")
            o.families = std::atoi(v);
        else if (a == "--half")
            o.half = v;
        else if (a == "--cards")
            o.cards.push_back(std::atol(v));
        else if (a == "--keep")
            o.keep = QString::fromLocal8Bit(v);
        else if (a == "--reuse")
            o.reuse = QString::fromLocal8Bit(v);
        else if (a == "--runs")
            o.runs = std::max(1, std::atoi(v));
        else
            usage();
    }
    if (o.half != "tune" && o.half != "held" && o.half != "both")
        usage();
    return o;
}

quint64 pairKey(int a, int b) {
    return (quint64(std::min(a, b)) << 32) | quint64(std::max(a, b));
}

// Pairs within the groups against pairs of one person, with what each pair was made to try.
void measure(const QVector<LabelledCard>& all, int half, std::uint64_t seed) {
    QVector<LabelledCard> cards;
    for (const LabelledCard& c : all)
        if (c.family % 2 == half)
            cards.append(c);
    QVector<qint64> ids;
    QVector<Duplicates::Profile> profiles;
    for (int i = 0; i < cards.size(); ++i) {
        ids.append(i);
        profiles.append(Duplicates::profileOf(cards[i].card));
    }
    const Clock::time_point start = Clock::now();
    const QVector<Duplicates::Group> groups = Duplicates::groupsOf(ids, profiles);
    const double ms = msSince(start);

    QSet<quint64> proposed;
    for (const auto& g : groups)
        for (int i = 0; i < g.ids.size(); ++i)
            for (int j = i + 1; j < g.ids.size(); ++j)
                proposed.insert(pairKey(int(g.ids[i]), int(g.ids[j])));
    int kinds = 0, traps = 0;
    const char* const* kindNames = duplicateKinds(&kinds);
    const char* const* trapNames = trapKinds(&traps);
    std::vector<int> truePairs(std::size_t(kinds), 0), found(std::size_t(kinds), 0);
    std::vector<int> trapPairs(std::size_t(traps), 0), wrong(std::size_t(traps), 0);
    int right = 0, truth = 0, otherWrong = 0;
    // Cards of one family are neighbours in the list; other families are checked by the
    // proposed pairs themselves.
    for (int i = 0; i < cards.size(); ++i) {
        for (int j = i + 1; j < cards.size() && cards[j].family == cards[i].family; ++j) {
            const bool same = cards[i].person == cards[j].person;
            const bool hit = proposed.contains(pairKey(i, j));
            if (same) {
                const int kind = std::max(cards[i].kind, cards[j].kind);
                ++truth;
                ++truePairs[std::size_t(kind)];
                if (hit) {
                    ++right;
                    ++found[std::size_t(kind)];
                }
            } else {
                const int trap = std::max(cards[i].trap, cards[j].trap);
                ++trapPairs[std::size_t(trap)];
                if (hit)
                    ++wrong[std::size_t(trap)];
            }
        }
    }
    for (quint64 p : proposed) {
        const int a = int(p >> 32), b = int(p & 0xffffffff);
        if (cards[a].family != cards[b].family) {
            ++otherWrong;
            if (qEnvironmentVariableIsSet("QUEMBE_DUP_SHOW"))
                std::printf(
                    "  wrong: %s | %s\n",
                    qPrintable(QStringList(cards[a].card.values.begin(), cards[a].card.values.end())
                                   .join(QLatin1Char(','))),
                    qPrintable(QStringList(cards[b].card.values.begin(), cards[b].card.values.end())
                                   .join(QLatin1Char(','))));
        }
    }
    const int proposedPairs = proposed.size();
    std::printf(
        "\nlabelled set, seed %llu, %s half: %d cards (%d families), %d groups in %.0f ms\n",
        static_cast<unsigned long long>(seed), half ? "held-out" : "tuning", int(cards.size()),
        int(all.last().family + 1) / 2, int(groups.size()), ms);
    std::printf("  pairs proposed %d, right %d, of one person %d\n", proposedPairs, right, truth);
    std::printf("  precision %.2f %%   recall %.2f %%\n",
                proposedPairs ? 100.0 * right / proposedPairs : 100.0,
                truth ? 100.0 * right / truth : 100.0);
    std::printf("  %-34s %8s %8s\n", "duplicates made by", "pairs", "found");
    for (int k = 0; k < kinds; ++k)
        std::printf("  %-34s %8d %8d\n", kindNames[k], truePairs[std::size_t(k)],
                    found[std::size_t(k)]);
    std::printf("  %-34s %8s %8s\n", "two people made alike by", "pairs", "proposed");
    for (int t = 0; t < traps; ++t)
        std::printf("  %-34s %8d %8d\n", trapNames[t], trapPairs[std::size_t(t)],
                    wrong[std::size_t(t)]);
    std::printf("  %-34s %8s %8d\n", "people of different families", "-", otherWrong);
}

sqlite3* open(const QString& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK)
        fail("cannot open " + file.toStdString());
    return db;
}

// A card as a user would type it anew for someone already there: the name in traditional
// characters, the mobile number grouped with the country, the rest left out.
Card typedAnew(const Card& stored) {
    Card card;
    card[Field::Name] = stored[Field::Name] + QStringLiteral("（新）");
    const QString mobile = stored[Field::Mobile];
    card[Field::Mobile] =
        mobile.size() == 11
            ? QStringLiteral("+86 %1 %2 %3").arg(mobile.left(3), mobile.mid(3, 4), mobile.mid(7))
            : mobile;
    card[Field::Email] = stored[Field::Email].toUpper();
    card[Field::Company] = stored[Field::Company];
    return card;
}

void timeFile(const QString& work, long count, const QString& reuse, bool groupsOnly, int runs) {
    QString file = reuse;
    if (file.isEmpty()) {
        file = work + QStringLiteral("/cards-%1.mdb").arg(count);
        if (!QFileInfo::exists(file)) {
            const Clock::time_point start = Clock::now();
            generateCards(file, count, QStringLiteral("bench"));
            std::printf("\ngenerated %ld cards in %.1f s\n", count, msSince(start) / 1000);
        }
    }
    flushFile(file);
    warmFile(file);
    sqlite3* db = open(file);
    const long long cards = scalar(db, "select count(*) from zl");
    std::printf("\n%lld cards (%s)\n", cards, qPrintable(QFileInfo(file).fileName()));

    resetPeak();
    const long rssBefore = statusKb("VmRSS");
    Clock::time_point start;
    std::vector<double> wall, processor;
    int found = 0;
    for (int run = 0; run < runs; ++run) {
        start = Clock::now();
        const double cpu = cpuMs();
        found = int(Duplicates::findGroups(db).size());
        wall.push_back(msSince(start));
        processor.push_back(cpuMs() - cpu);
        std::printf("  all groups, run %d: %.2f s (%.2f s processor); %s\n", run + 1,
                    wall.back() / 1000, processor.back() / 1000, loadLine().c_str());
    }
    std::printf("  all groups: median %.2f s (%.2f s processor) of %d runs, %d groups; peak "
                "memory %.0f MB (%.0f MB before)\n",
                median(wall) / 1000, median(processor) / 1000, runs, found,
                statusKb("VmHWM") / 1024.0, rssBefore / 1024.0);

    if (groupsOnly) {
        sqlite3_close(db);
        return;
    }
    start = Clock::now();
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail("BEGIN");
    Duplicates::rebuildKeys(db);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    std::printf("  key table built in %.1f s, %lld rows\n", msSince(start) / 1000,
                scalar(db, "select count(*) from dup_keys"));

    // A card already there, proposed as if typed anew: it finds at least itself.
    std::vector<double> times;
    const long long last = scalar(db, "select max(ID) from zl");
    for (int i = 0; i < 101; ++i) {
        const qint64 id = 1 + (qint64(i) * 7919 * 104729) % last;
        Card card;
        CardStore::forEachCard(db, QStringLiteral("SELECT * FROM zl WHERE ID=?"), {id},
                               [&](qint64, const Card& c) { card = c; });
        start = Clock::now();
        const auto proposals = Duplicates::propose(db, card);
        times.push_back(msSince(start));
        expect(proposals.isEmpty() || proposals.first().id > 0, "proposal");
    }
    std::printf("  one card proposed: median %.2f ms, slowest %.2f ms (101 cards)\n", median(times),
                *std::max_element(times.begin(), times.end()));

    // Typed anew for someone already there, as the question before a save proposes it.
    times.clear();
    int proposedAny = 0;
    for (int i = 0; i < 101; ++i) {
        const qint64 id = 1 + (qint64(i) * 104729 * 7919 + 17) % last;
        Card stored;
        CardStore::forEachCard(db, QStringLiteral("SELECT * FROM zl WHERE ID=?"), {id},
                               [&](qint64, const Card& c) { stored = c; });
        const Card card = typedAnew(stored);
        start = Clock::now();
        proposedAny += Duplicates::propose(db, card).isEmpty() ? 0 : 1;
        times.push_back(msSince(start));
    }
    std::printf("  one new card proposed: median %.2f ms, slowest %.2f ms (101 cards, %d with "
                "proposals)\n",
                median(times), *std::max_element(times.begin(), times.end()), proposedAny);
    sqlite3_close(db);
}

int run(const Options& o) {
    std::printf("%s\n", loadLine().c_str());
    const QVector<LabelledCard> labelled = labelledCards(o.seed, o.families);
    if (o.half != "held")
        measure(labelled, 0, o.seed);
    if (o.half != "tune")
        measure(labelled, 1, o.seed);
    if (!o.cards.empty()) {
        const WorkFolder folder(o.keep, "quembe-dup-bench");
        for (long n : o.cards)
            timeFile(folder.path, n, o.reuse, o.groupsOnly, o.runs);
    }
    std::printf("\n%s\n", loadLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    return guarded("quembe-duplicates-bench", [&] { return run(options); });
}

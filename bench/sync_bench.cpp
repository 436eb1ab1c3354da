// Times syncs with a local Radicale (or Xandikos) over plain http:
//   quembe-sync-bench [--cards N] [--upload-cards M] [--runs K] [--server radicale|xandikos]
//                     [--keep DIR]
// The first sync of M generated cards up to an empty book, against curl putting the same M
// files with 6 in parallel (xargs -P6) into another empty book of the same server program.
// Radicale checks every PUT against the whole book, so that pair grows with the square of M
// and is run at a smaller size than the rest. Then a book of N cards, written into the
// server's folder as after an import of the phone's cards (UIDs of their own): the first sync
// pairing them all by name and number, a sync with nothing changed and one with one card
// changed on each side, each beside the server's own answers to the requests it needs. Peak
// memory of each sync is printed to show it does not grow with N.
#include "support.h"

#include "../tests/davservers.h"
#include "data/sqlite.h"
#include "sync/carddavclient.h"
#include "sync/cardmerge.h"
#include "sync/syncengine.h"
#include "sync/syncstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Bench;
using TestSupport::DavServer;

namespace {

struct Options {
    long cards = 10000;
    long uploadCards = 1000;
    int runs = 3;
    QString keep;
    DavServer::Kind server = DavServer::RadicaleHttp;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--cards" && hasValue)
            o.cards = std::atol(argv[++i]);
        else if (a == "--upload-cards" && hasValue)
            o.uploadCards = std::atol(argv[++i]);
        else if (a == "--runs" && hasValue)
            o.runs = std::atoi(argv[++i]);
        else if (a == "--keep" && hasValue)
            o.keep = QString::fromLocal8Bit(argv[++i]);
        else if (a == "--server" && hasValue && std::string(argv[i + 1]) == "xandikos")
            o.server = DavServer::Xandikos, ++i;
        else if (a == "--server" && hasValue && std::string(argv[i + 1]) == "radicale")
            o.server = DavServer::RadicaleHttp, ++i;
        else {
            std::fprintf(stderr, "usage: quembe-sync-bench [--cards N] [--upload-cards M] "
                                 "[--runs K] [--server radicale|xandikos] [--keep DIR]\n");
            std::exit(2);
        }
    }
    if (o.cards < 2 || o.uploadCards < 1 || o.runs < 1)
        fail("--cards (at least 2), --upload-cards and --runs must be positive");
    return o;
}

void started(const DavServer& server) {
    if (!server.problem().isEmpty())
        fail("the server did not start: " + server.problem().toStdString());
}

// One computer's side: its database, synced with the server's book.
struct Side {
    Side(const QString& file, const DavServer& server)
        : file(file) {
        if (db.open(file, Sqlite::OpenMode::ReadWrite) != SQLITE_OK)
            fail("cannot open " + file.toStdString());
        client.setCredentials(server.user(), server.password());
        client.setAllowInsecure(true);
        // Radicale works out a large book's state once before it answers; on a busy machine
        // that is longer than a user's wait.
        client.setTimeout(600000);
        Sync::SyncAccount account;
        account.server = server.root().toString();
        account.user = server.user();
        account.book = server.book();
        Sync::saveAccount(db, account);
    }
    // The sync's time; its peak memory in MB when asked.
    double sync(Sync::SyncReport* report = nullptr, double* peakMb = nullptr,
                double* sqliteMb = nullptr) {
        Sync::SyncEngine engine(db, client);
        // What the bench itself freed goes back first, so the peak is the sync's own.
        malloc_trim(0);
        resetPeak();
        sqlite3_memory_highwater(1);
        const Clock::time_point start = Clock::now();
        const Sync::SyncReport done = engine.run();
        const double ms = msSince(start);
        if (peakMb)
            *peakMb = statusKb("VmHWM") / 1024.0;
        if (sqliteMb)
            *sqliteMb = double(sqlite3_memory_highwater(0)) / (1024.0 * 1024.0);
        if (report)
            *report = done;
        return ms;
    }

    QString file;
    Sqlite::Database db;
    Sync::CardDavClient client;
};

// The cards of `file` as vCards, one file each in `folder`, named as the sync names them,
// with UIDs the cards here do not have.
void writeCardFiles(const QString& file, const QString& folder) {
    Sqlite::Database db;
    if (db.open(file, Sqlite::OpenMode::ReadWrite) != SQLITE_OK)
        fail("cannot open " + file.toStdString());
    const QHash<qint64, Card> cards = Sync::SyncStore(db).cards();
    QDir().mkpath(folder);
    for (auto it = cards.constBegin(); it != cards.constEnd(); ++it) {
        const QString uid = QStringLiteral("bench-%1").arg(it.key());
        const QString name =
            Sync::CardDavClient::newCardHref(QUrl(QStringLiteral("/b/")), uid).mid(3);
        QFile out(folder + QLatin1Char('/') + name);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(Sync::cardText({}, {}, it.value(), uid)) < 0)
            fail("cannot write " + out.fileName().toStdString());
    }
}

std::string runs(const std::vector<double>& v) {
    std::string text;
    for (const double ms : v)
        text += (text.empty() ? "" : ", ") + fixed(ms, 0);
    return text;
}

double curlFloor(const DavServer& server, const QString& folder) {
    const QString command =
        QStringLiteral("cd '%1' && ls | xargs -P6 -I{} curl -sS -f -o /dev/null -H 'Expect:' "
                       "-u '%2:%3' -H 'Content-Type: text/vcard' -T {} '%4{}'")
            .arg(folder, server.user(), server.password(), server.book().toString());
    const Clock::time_point start = Clock::now();
    QProcess shell;
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
        fail("curl failed: " + shell.readAllStandardError().toStdString());
    return msSince(start);
}

// The server's part of a sync with nothing changed: the book's state, with nothing done here.
double serverAsked(Side& side) {
    const Sync::SyncAccount account = Sync::loadAccount(side.db);
    const Clock::time_point start = Clock::now();
    side.client.bookInfo(account.book);
    return msSince(start);
}

// The server's part of a sync with one card changed on each side: the changes since the
// stored token, the changed card fetched, and written back as it is (the sync then meets it
// as the phone left it, in a newer version).
double serverAskedOneEach(Side& side) {
    const Sync::SyncAccount account = Sync::loadAccount(side.db);
    QStringList changed;
    const Clock::time_point start = Clock::now();
    side.client.syncChanges(
        account.book, account.syncToken, [&](const Sync::CardRef& c) { changed << c.href; },
        [](const QString&) {});
    Sync::FetchedCard there;
    side.client.fetchCards(account.book, changed.mid(0, 1),
                           [&](const Sync::FetchedCard& c) { there = c; });
    side.client.write(account.book, {there.href, there.vcard, there.etag});
    return msSince(start);
}

// One card changed here, another on the server.
void changeOneEach(Side& here, const DavServer& server) {
    if (here.db.exec("update zl set 单位 = '这里改了' where ID = (select min(ID) from zl)") !=
        SQLITE_OK)
        fail("cannot change a card");
    Sync::SyncStore store(here.db);
    Sync::SyncedCard there;
    for (const Sync::SyncedCard& c : store.syncedCards(false))
        if (c.id > there.id)
            there = c;
    Card changed = there.fields;
    changed.setValue(QStringLiteral("职务"), QStringLiteral("服务器上改了"));
    const QByteArray text =
        Sync::cardText(store.syncedText(there.id), there.fields, changed, QString());
    const QString url = server.root().resolved(QUrl(there.href)).toString();
    server.curl({"-X", "PUT", "-H", "Content-Type: text/vcard", "--data-binary",
                 QString::fromUtf8(text), url});
}

struct Figures {
    std::vector<double> up, floor, paired, unchanged, asking, oneEach, oneEachAsking,
        serverFirstLook;
    std::vector<double> upMb, pairedMb, unchangedMb, pairedSqliteMb;
};

void uploadPair(const Options& options, const WorkFolder& work, int r, Figures* f) {
    const QString file = QStringLiteral("%1/up%2.mdb").arg(work.path).arg(r);
    generateCards(file, options.uploadCards, QString());
    flushFile(file);
    DavServer server(options.server);
    started(server);
    Side here(file, server);
    Sync::SyncReport report;
    double mb = 0;
    f->up.push_back(here.sync(&report, &mb));
    f->upMb.push_back(mb);
    expect(report.sent == options.uploadCards, "the first sync sent every card");

    DavServer plain(options.server);
    started(plain);
    const QString folder = QStringLiteral("%1/files%2").arg(work.path).arg(r);
    writeCardFiles(file, folder);
    f->floor.push_back(curlFloor(plain, folder));
}

void bookOfN(const Options& options, const WorkFolder& work, int r, Figures* f) {
    const QString file = QStringLiteral("%1/book%2.mdb").arg(work.path).arg(r);
    generateCards(file, options.cards, QString());
    DavServer server(options.server);
    started(server);
    server.kill();
    writeCardFiles(file, server.bookFolder());
    if (options.server == DavServer::Xandikos) {
        QProcess git;
        git.setWorkingDirectory(server.bookFolder());
        git.start(QStringLiteral("sh"), {"-c", "git add -A && git -c user.name=bench -c "
                                               "user.email=bench@localhost commit -qm cards"});
        expect(git.waitForFinished(-1) && git.exitCode() == 0, "the cards are committed");
    }
    flushFile(file);
    if (!server.restart())
        fail("the server did not start again");
    // Radicale reads every file once and keeps what it learnt; a book in use has done so.
    const Clock::time_point look = Clock::now();
    QProcess list;
    list.start(QStringLiteral("curl"), {"-sS", "-o", "/dev/null", "-w", "%{http_code}", "-u",
                                        server.user() + QLatin1Char(':') + server.password(), "-X",
                                        "PROPFIND", "-H", "Depth: 1", server.book().toString()});
    expect(list.waitForFinished(-1) && list.readAllStandardOutput() == "207",
           "the server lists the book");
    f->serverFirstLook.push_back(msSince(look));

    Side here(file, server);
    Sync::SyncReport report;
    double mb = 0;
    double sqliteMb = 0;
    f->paired.push_back(here.sync(&report, &mb, &sqliteMb));
    f->pairedMb.push_back(mb);
    f->pairedSqliteMb.push_back(sqliteMb);
    expect(report.sent + report.received == 0,
           "every card was paired, none sent or taken (" + report.text().toStdString() + ")");
    f->unchanged.push_back(here.sync(&report, &mb));
    f->unchangedMb.push_back(mb);
    expect(report.sent + report.received == 0, "nothing went either way");
    f->asking.push_back(serverAsked(here));
    changeOneEach(here, server);
    f->oneEachAsking.push_back(serverAskedOneEach(here));
    f->oneEach.push_back(here.sync(&report));
    expect(report.sent == 1 && report.received == 1,
           "one card each way (" + report.text().toStdString() + ")");
}

int run(const Options& options) {
    const std::string loadBefore = loadLine();
    WorkFolder work(options.keep, "quembe-sync-bench");
    Figures f;
    for (int r = 0; r < options.runs; ++r) {
        uploadPair(options, work, r, &f);
        bookOfN(options, work, r, &f);
    }
    const std::string m = std::to_string(options.uploadCards);
    const std::string n = std::to_string(options.cards);
    std::printf("\nquembe-sync-bench, over http on this computer, the book of %s in %s "
                "(median of %d runs)\n\n",
                std::to_string(options.cards).c_str(),
                options.server == DavServer::Xandikos ? "Xandikos" : "Radicale", options.runs);
    printTable(
        {"step", "sync ms", "peak MB", "floor", "floor ms", "target"},
        {{"first sync, " + m + " cards up", fixed(median(f.up), 0), fixed(median(f.upMb), 1),
          "curl -T, xargs -P6", fixed(median(f.floor), 0),
          "within 2x (now " + fixed(median(f.up) / median(f.floor), 2) + "x)"},
         {"first sync, " + n + " paired", fixed(median(f.paired), 0), fixed(median(f.pairedMb), 1),
          "server reads book", fixed(median(f.serverFirstLook), 0), "-"},
         {"nothing changed, " + n, fixed(median(f.unchanged), 1), fixed(median(f.unchangedMb), 1),
          "its one request", fixed(median(f.asking), 1), "under 300 ms"},
         {"one card each side, " + n, fixed(median(f.oneEach), 1), "-", "its three requests",
          fixed(median(f.oneEachAsking), 1), "under 1000 ms"}},
        {1, 2, 4});
    // The page cache is bounded by its own setting whatever the book's size.
    std::printf("\nof the pairing's peak, SQLite's own (page cache included): %s MB\n",
                fixed(median(f.pairedSqliteMb), 1).c_str());
    std::printf("first sync runs: %s\ncurl runs: %s\n", runs(f.up).c_str(), runs(f.floor).c_str());
    std::printf("load average at the start %s\n%s (at the end)\n", loadBefore.c_str(),
                loadLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    // Its table gives SQLite's own share of a sync's memory.
    Sqlite::countMemory();
    return guarded("quembe-sync-bench", [&] { return run(options); });
}

// Times a sync with a local Radicale over plain http:
//   quembe-sync-bench [--cards N] [--runs K] [--keep DIR]
// The first sync of N generated cards up to an empty book, against curl putting the same N
// files with 6 in parallel (xargs -P6) into another empty book of the same server program;
// then a sync with nothing changed, and one with one card changed on each side.
#include "support.h"

#include "../tests/davservers.h"
#include "data/sqlite.h"
#include "sync/syncengine.h"
#include "sync/syncstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace Bench;
using TestSupport::DavServer;

namespace {

struct Options {
    long cards = 10000;
    int runs = 3;
    QString keep;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--cards" && hasValue)
            o.cards = std::atol(argv[++i]);
        else if (a == "--runs" && hasValue)
            o.runs = std::atoi(argv[++i]);
        else if (a == "--keep" && hasValue)
            o.keep = QString::fromLocal8Bit(argv[++i]);
        else {
            std::fprintf(stderr, "usage: quembe-sync-bench [--cards N] [--runs K] [--keep DIR]\n");
            std::exit(2);
        }
    }
    if (o.cards < 1 || o.runs < 1)
        fail("--cards and --runs must be positive");
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
        Sync::SyncAccount account;
        account.server = server.root().toString();
        account.user = server.user();
        account.book = server.book();
        Sync::saveAccount(db, account);
    }
    double sync(Sync::SyncReport* report = nullptr) {
        Sync::SyncEngine engine(db, client);
        const Clock::time_point start = Clock::now();
        const Sync::SyncReport done = engine.run();
        const double ms = msSince(start);
        if (report)
            *report = done;
        return ms;
    }

    QString file;
    Sqlite::Database db;
    Sync::CardDavClient client;
};

// The cards of `file` as the vCards a sync sends, one file each in `folder`.
void writeCardFiles(const QString& file, const QString& folder) {
    Sqlite::Database db;
    if (db.open(file, Sqlite::OpenMode::ReadOnly) != SQLITE_OK)
        fail("cannot open " + file.toStdString());
    Sync::SyncStore store(db);
    const QHash<qint64, Card> cards = store.cards();
    QDir().mkpath(folder);
    for (auto it = cards.constBegin(); it != cards.constEnd(); ++it) {
        const QString uid = QStringLiteral("bench-%1").arg(it.key());
        QFile out(QStringLiteral("%1/%2.vcf").arg(folder, uid));
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
        QStringLiteral("cd '%1' && ls | xargs -P6 -I{} curl -sS -f -o /dev/null -u '%2:%3' "
                       "-H 'Content-Type: text/vcard' -T {} '%4{}'")
            .arg(folder, server.user(), server.password(), server.book().toString());
    const Clock::time_point start = Clock::now();
    QProcess shell;
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
        fail("curl failed: " + shell.readAllStandardError().toStdString());
    return msSince(start);
}

int run(const Options& options) {
    const std::string loadBefore = loadLine();
    WorkFolder work(options.keep, "quembe-sync-bench");
    std::vector<double> first, floor, unchanged, oneEach;
    for (int r = 0; r < options.runs; ++r) {
        const QString file = QStringLiteral("%1/run%2.mdb").arg(work.path).arg(r);
        generateCards(file, options.cards, QString());
        flushFile(file);

        DavServer server(DavServer::RadicaleHttp);
        started(server);
        Side here(file, server);
        Sync::SyncReport report;
        first.push_back(here.sync(&report));
        expect(report.sent == options.cards, "the first sync sent every card");

        DavServer plain(DavServer::RadicaleHttp);
        started(plain);
        const QString folder = QStringLiteral("%1/files%2").arg(work.path).arg(r);
        writeCardFiles(file, folder);
        floor.push_back(curlFloor(plain, folder));

        unchanged.push_back(here.sync(&report));
        expect(report.sent + report.received == 0, "nothing went either way");

        // One card changed here, another on the server.
        if (here.db.exec("update zl set 单位 = '这里改了' where ID = (select min(ID) from zl)") !=
            SQLITE_OK)
            fail("cannot change a card");
        Sync::SyncedCard there;
        for (const Sync::SyncedCard& c : Sync::SyncStore(here.db).syncedCards())
            if (c.id > there.id)
                there = c;
        Card changed = there.fields;
        changed.setValue(QStringLiteral("职务"), QStringLiteral("服务器上改了"));
        const QByteArray text = Sync::cardText(there.vcard, there.fields, changed, QString());
        const QString url = server.root().resolved(QUrl(there.href)).toString();
        server.curl({"-X", "PUT", "-H", "Content-Type: text/vcard", "--data-binary",
                     QString::fromUtf8(text), url});
        oneEach.push_back(here.sync(&report));
        expect(report.sent == 1 && report.received == 1, "one card each way");
    }

    std::printf("\nquembe-sync-bench, %ld cards, Radicale over http on this computer (median of "
                "%d runs)\n\n",
                options.cards, options.runs);
    printTable({"step", "sync ms", "floor", "floor ms", "target"},
               {{"first sync, all up", fixed(median(first), 0), "curl -T, xargs -P6",
                 fixed(median(floor), 0),
                 "within 2x (now " + fixed(median(first) / median(floor), 2) + "x)"},
                {"nothing changed", fixed(median(unchanged), 1), "-", "-", "under 300 ms"},
                {"one card each side", fixed(median(oneEach), 1), "-", "-", "under 1000 ms"}},
               {1, 3});
    std::printf("\nfirst sync runs: %s\ncurl runs: %s\n", runs(first).c_str(), runs(floor).c_str());
    std::printf("load average at the start %s\n%s (at the end)\n", loadBefore.c_str(),
                loadLine().c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    return guarded("quembe-sync-bench", [&] { return run(options); });
}

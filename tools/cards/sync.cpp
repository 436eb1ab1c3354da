// sync-setup and sync: the cards kept in step with an address book on a CardDAV server.
#include "tool.h"

#include "data/adoconnection.h"
#include "sync/carddavclient.h"
#include "sync/secretstore.h"
#include "sync/syncengine.h"

namespace CardsTool {

namespace {

// The password never comes from the command line, where other users could read it: the
// environment's when set (empty for a server without one), else the keychain's.
QString password(const Sync::SyncAccount& account) {
    if (qEnvironmentVariableIsSet("QUEMBE_SYNC_PASSWORD") || account.user.isEmpty() ||
        !account.isSet())
        return qEnvironmentVariable("QUEMBE_SYNC_PASSWORD");
    QString kept;
    Sync::secretStore().read(Sync::secretKey(account.user, account.book.toString()), &kept);
    return kept;
}

void prepare(Sync::CardDavClient& client, const Sync::SyncAccount& account) {
    client.setCredentials(account.user, password(account));
    client.setTrustedFingerprint(account.fingerprint);
    client.setAllowInsecure(account.allowInsecure);
}

} // namespace

int syncSetupCommand(Context& context, QStringList args) {
    Sync::SyncAccount account;
    QString bookPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto value = [&]() {
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("%1 后面要写一个值。").arg(a)};
            return args.at(++i);
        };
        if (a == QLatin1String("--server"))
            account.server = value();
        else if (a == QLatin1String("--user"))
            account.user = value();
        else if (a == QLatin1String("--addressbook"))
            bookPath = value();
        else if (a == QLatin1String("--trust"))
            account.fingerprint = value().toLatin1();
        else if (a == QLatin1String("--allow-http"))
            account.allowInsecure = true;
        else
            throw UsageError{QStringLiteral("sync-setup 不认识“%1”。").arg(a)};
    }
    if (account.server.isEmpty())
        throw UsageError{QStringLiteral("sync-setup 需要 --server 服务器地址。")};

    Sync::CardDavClient client;
    prepare(client, account);
    const Sync::Discovery found = client.discover(account.server);
    QVector<Sync::AddressBook> picked;
    for (const Sync::AddressBook& book : found.books) {
        if (bookPath.isEmpty() || book.url.path() == bookPath ||
            book.url.path() == bookPath + QLatin1Char('/') || book.url.toString() == bookPath)
            picked.append(book);
    }
    if (picked.size() != 1) {
        QStringList names;
        for (const Sync::AddressBook& book : found.books)
            names << QStringLiteral("  %1  %2").arg(book.url.path(), book.displayName);
        throw EError(
            (bookPath.isEmpty()
                 ? QStringLiteral("服务器上有 %1 个通讯录，请用 --addressbook 选一个：\n")
                       .arg(found.books.size())
                 : QStringLiteral("服务器上没有通讯录“%1”。服务器上的通讯录：\n").arg(bookPath)) +
            names.join(QLatin1Char('\n')));
    }
    account.book = picked.first().url;
    TADOConnection& connection = context.connection();
    Sync::saveAccount(connection.database(), account);
    context.out << QStringLiteral("已连接，同步的通讯录：%1").arg(account.book.toString())
                << Qt::endl;
    return 0;
}

int syncCommand(Context& context, QStringList args) {
    if (!args.isEmpty())
        throw UsageError{QStringLiteral("sync 不需要参数。")};
    TADOConnection& connection = context.connection();
    const Sync::SyncAccount account = Sync::loadAccount(connection.database());
    Sync::CardDavClient client;
    prepare(client, account);
    Sync::SyncEngine engine(connection.database(), client);
    // Nobody to ask: a sync that would delete many cards stops.
    const Sync::SyncReport report = engine.run();
    context.out << report.text() << Qt::endl;
    return 0;
}

} // namespace CardsTool

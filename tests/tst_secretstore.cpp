// The sync password in a real keychain (gnome-keyring's Secret Service, in a D-Bus session
// of its own, unlocked with a known password) and where no keychain answers. Each case runs
// again as a child of this program in the session it needs.
#include "davservers.h"
#include "testsupport.h"

#include "sync/secretstore.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

const char kChild[] = "QUEMBE_SECRETS_CHILD";

// Empty when the keyring's programs are installed; else which one is missing.
QString keyringMissing() {
    for (const char* tool : {"dbus-run-session", "gnome-keyring-daemon"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("%1 is not installed (scripts/install-deps.sh)")
                .arg(QLatin1String(tool));
    return QString();
}

// True in the child, where the case does its work; in the parent, runs the child and fails
// the case when the child fails.
bool inSession(const char* testCase, bool withKeyring) {
    if (qEnvironmentVariableIsSet(kChild))
        return true;
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile(home.filePath(QStringLiteral("run")))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kChild), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QUEMBE_SYNC_PASSWORD"));
    const QString self = QCoreApplication::applicationFilePath();
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (withKeyring)
        child.start(QStringLiteral("dbus-run-session"),
                    {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QStringLiteral("printf %s keyring-pass | gnome-keyring-daemon --unlock "
                                    "--components=secrets >/dev/null && exec \"$0\" \"$1\""),
                     self, QLatin1String(testCase)});
    else
        child.start(self, {QLatin1String(testCase)});
    const bool ended = child.waitForFinished(300000);
    const QByteArray output = child.readAll();
    if (!ended || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        qWarning("%s", output.constData());
    [&] {
        QVERIFY(ended);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(!output.contains("SKIP"), output.constData());
    }();
    return false;
}

// Runs quembe-cards on `database`; its exit status, and its output in `out`.
int runTool(const QString& database, const QStringList& args, const QString& password,
            QString* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!password.isNull())
        env.insert(QStringLiteral("QUEMBE_SYNC_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL),
            QStringList{QStringLiteral("--database"), database} + args);
    p.waitForFinished(120000);
    *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitCode();
}

} // namespace

class TestSecretStore : public QObject {
    Q_OBJECT

private slots:
    // Kept, read back, forgotten; the tool syncs with the keychain's password, and the
    // password's bytes are nowhere in the database file.
    void keychainKeepsThePassword() {
        if (!keyringMissing().isEmpty())
            QSKIP(qPrintable(keyringMissing()));
        if (!inSession("keychainKeepsThePassword", true))
            return;
        Sync::KeychainStore store(QStringLiteral("quembe-cards-test"));
        const QString secret = QStringLiteral("密码 with ünïcode 😀");
        QVERIFY(store.write(QStringLiteral("a@b"), secret));
        QString read;
        QCOMPARE(store.read(QStringLiteral("a@b"), &read), Sync::SecretStore::Found);
        QCOMPARE(read, secret);
        store.remove(QStringLiteral("a@b"));
        QCOMPARE(store.read(QStringLiteral("a@b"), &read), Sync::SecretStore::NotFound);

        DavServer server(DavServer::RadicaleHttps);
        if (!server.problem().isEmpty())
            QSKIP(qPrintable(server.problem()));
        ProgramFolder folder;
        exec(folder.database(), "insert into zl (姓名) values ('郑一')");
        QString out;
        QCOMPARE(runTool(folder.database(),
                         {"sync-setup", "--server", server.root().toString(), "--user",
                          server.user(), "--trust", QString::fromLatin1(server.fingerprint())},
                         server.password(), &out),
                 0);
        QVERIFY(Sync::KeychainStore().write(
            Sync::secretKey(server.user(), server.book().toString()), server.password()));
        QCOMPARE(runTool(folder.database(), {"sync"}, QString(), &out), 0);
        QVERIFY2(out.contains(QStringLiteral("已发送 1 张")), qPrintable(out));
        QVERIFY(!readFile(folder.database()).contains(server.password().toUtf8()));
    }

    // No D-Bus session: the store says so at once, and the tool without the environment's
    // password is refused by the server with a Chinese message.
    void noKeychainSaysSo() {
        if (!inSession("noKeychainSaysSo", false))
            return;
        Sync::KeychainStore store(QStringLiteral("quembe-cards-test"));
        QString read;
        QCOMPARE(store.read(QStringLiteral("a@b"), &read), Sync::SecretStore::Unavailable);
        QVERIFY(!store.write(QStringLiteral("a@b"), QStringLiteral("x")));
    }
};

QTEST_MAIN(TestSecretStore)
#include "tst_secretstore.moc"

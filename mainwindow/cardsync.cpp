// Sync with a CardDAV server from the window.
#include "cardsync.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "dialogs/syncaccountdialog.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/passwordprompt.h"
#include "platform/progress.h"
#include "platform/window.h"
#include "sync/secretstore.h"

#include <QMenu>

#include <mutex>

namespace {

QString keyOf(const Sync::SyncAccount& account) {
    return Sync::secretKey(account.user, account.book.toString());
}

const QString kNoKeychain =
    QStringLiteral("这台电脑上没有可用的密码保管处（钥匙串），密码不会保存："
                   "本程序运行期间记在内存里，重新打开程序后同步时会再问一次。");

} // namespace

CardSync::CardSync(QWidget* window, QMenu* menu, TADOConnection* connection, TADOQuery* cards)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards) {
    setObjectName(QStringLiteral("CardSync"));
    syncAction = menu->addAction(QStringLiteral("同步名片  &Y"));
    syncAction->setObjectName(QStringLiteral("NSync"));
    setupAction = menu->addAction(QStringLiteral("同步设置...  &G"));
    setupAction->setObjectName(QStringLiteral("NSyncSetup"));
    connect(syncAction, &QAction::triggered, this, Platform::guarded([this] { syncCards(); }));
    connect(setupAction, &QAction::triggered, this, Platform::guarded([this] { setUpAccount(); }));
}

void CardSync::setUpAccount() {
    m_connection->Open();
    m_connection->finishReading();
    const Sync::SyncAccount stored = Sync::loadAccount(m_connection->database());
    QString password;
    Sync::SecretStore& secrets = Sync::secretStore();
    bool keychain = true;
    if (stored.isSet()) {
        if (keyOf(stored) == m_passwordKey)
            password = m_password;
        else
            keychain = secrets.read(keyOf(stored), &password) != Sync::SecretStore::Unavailable;
    }
    SyncAccountDialog dialog(m_window, stored, password,
                             keychain ? QStringLiteral("密码保存在系统的钥匙串里，不写进数据库。")
                                      : kNoKeychain);
    Platform::showModal(&dialog);
    if (dialog.result() != QDialog::Accepted)
        return;
    const Sync::SyncAccount account = dialog.account();
    Sync::saveAccount(m_connection->database(), account);
    if (stored.isSet() && keyOf(stored) != keyOf(account))
        secrets.remove(keyOf(stored));
    m_password.clear();
    m_passwordKey.clear();
    if (!account.user.isEmpty() && !secrets.write(keyOf(account), dialog.password())) {
        m_password = dialog.password();
        m_passwordKey = keyOf(account);
        Platform::showMessage(QStringLiteral("同步设置已保存。") + kNoKeychain);
    }
}

bool CardSync::passwordFor(const Sync::SyncAccount& account, QString* password) {
    if (account.user.isEmpty()) {
        password->clear();
        return true;
    }
    if (m_passwordKey == keyOf(account)) {
        *password = m_password;
        return true;
    }
    const Sync::SecretStore::Status status = Sync::secretStore().read(keyOf(account), password);
    if (status == Sync::SecretStore::Found)
        return true;
    const QString text =
        status == Sync::SecretStore::Unavailable
            ? QStringLiteral("请输入同步账户 %1 的密码。\n%2").arg(account.user, kNoKeychain)
            : QStringLiteral("钥匙串里没有同步账户 %1 的密码，请输入。").arg(account.user);
    if (!Platform::askPassword(m_window, text, password))
        return false;
    if (status == Sync::SecretStore::Unavailable ||
        !Sync::secretStore().write(keyOf(account), *password)) {
        m_password = *password;
        m_passwordKey = keyOf(account);
    }
    return true;
}

bool CardSync::askMassDelete(int here, int there, int total) {
    bool yes = false;
    // Asked from the sync's thread; the box belongs to the window's.
    QMetaObject::invokeMethod(
        this,
        [&] {
            yes = Platform::messageBox(m_window, Sync::massDeleteQuestion(here, there, total),
                                       Platform::applicationTitle(),
                                       Platform::MB_YESNO | Platform::MB_ICONWARNING) ==
                  Platform::IDYES;
        },
        Qt::BlockingQueuedConnection);
    return yes;
}

bool CardSync::runSync(const Sync::SyncAccount& account, const QString& password,
                       Sync::SyncReport* report) {
    const Sqlite::Database& db = m_connection->database();
    std::mutex mutex;
    Sync::SyncEngine* running = nullptr;
    bool cancelled = false;
    return Platform::runInBackground(
        m_window, QStringLiteral("正在同步名片……"),
        [&](const std::function<void(int)>& percent) {
            // Its own client on its own thread: the client's local event loop runs nothing
            // of the window's.
            Sync::CardDavClient client;
            client.setCredentials(account.user, password);
            client.setTrustedFingerprint(account.fingerprint);
            client.setAllowInsecure(account.allowInsecure);
            // Declared before the engine, which reports to it until it is gone.
            Core::Progress work(Core::Progress::Phase::SyncChecking);
            work.setListener([&](const Core::Progress& p) {
                percent(p.total() > 0 ? int(p.done() * 100 / p.total()) : 0);
            });
            Sync::SyncEngine engine(db, client);
            engine.confirmMassDelete = [this](int here, int there, int total) {
                return askMassDelete(here, there, total);
            };
            engine.progress = &work;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (cancelled)
                    return;
                running = &engine;
            }
            auto leave = [&] {
                std::lock_guard<std::mutex> lock(mutex);
                running = nullptr;
            };
            try {
                *report = engine.run();
            } catch (const Sync::ECardDav& e) {
                leave();
                // A cancel is the user's: the dialog says so, not an error box.
                if (e.kind() != Sync::ECardDav::Cancelled)
                    throw;
                return;
            } catch (...) {
                leave();
                throw;
            }
            leave();
        },
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            cancelled = true;
            if (running)
                running->cancel();
        });
}

void CardSync::reopenCards(qint64 current) {
    m_cards->Close();
    m_cards->Open();
    if (current)
        m_cards->Locate(current);
}

void CardSync::syncCards() {
    m_connection->Open();
    Sync::SyncAccount account = Sync::loadAccount(m_connection->database());
    if (!account.isSet()) {
        setUpAccount();
        account = Sync::loadAccount(m_connection->database());
        if (!account.isSet())
            return;
    }
    QString password;
    if (!passwordFor(account, &password))
        return;
    // The list's own reading must not hold the file while the cards change.
    m_connection->finishReading();
    const qint64 current = m_cards->Active() ? m_cards->CurrentId() : 0;
    // The list is read again whatever happened: it shows the cards as far as the sync got.
    struct Reopen {
        CardSync* sync;
        qint64 id;
        ~Reopen() { sync->reopenCards(id); }
    } reopen{this, current};
    Sync::SyncReport report;
    bool done = false;
    try {
        done = runSync(account, password, &report);
    } catch (const Sync::ECardDav& e) {
        // A password that no longer works is asked for again next time.
        if (e.kind() == Sync::ECardDav::WrongPassword && m_passwordKey == keyOf(account)) {
            m_password.clear();
            m_passwordKey.clear();
        }
        throw;
    }
    if (!done) {
        Platform::showMessage(QStringLiteral("同步已取消。已同步的名片都已保存，"
                                             "下次同步从停下的地方接着进行。"));
        return;
    }
    Platform::showMessage(QStringLiteral("同步完成。\n") + report.text());
}

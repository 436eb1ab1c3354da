#include "secretstore.h"

// QtKeychain, with the desktop's D-Bus and Secret Service libraries behind it, would load at
// every start of the program: this file also builds the module quembe-keychain.so
// (QUEMBE_KEYCHAIN_MODULE), which the store loads when a password is first asked for.

// The module's one function: `op` 0 reads, 1 writes, 2 removes; gives a SecretStore::Status
// for a read, 1 for a write taken, else 0.
extern "C" typedef int (*QuembeKeychain)(int op, const QString& service, const QString& key,
                                         QString* password);

#ifdef QUEMBE_KEYCHAIN_MODULE

#include <qt6keychain/keychain.h>

#include <QEventLoop>

namespace {

// Starts the job and waits for it; the job is deleted with its owner.
void runJob(QKeychain::Job& job) {
    job.setAutoDelete(false);
    // A plain file in place of a keychain would hold the password in clear.
    job.setInsecureFallback(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
}

bool answered(QKeychain::Error error) {
    return error == QKeychain::NoError || error == QKeychain::EntryNotFound;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
quembe_keychain(int op, const QString& service, const QString& key, QString* password) {
    using Sync::SecretStore;
    if (op == 0) {
        QKeychain::ReadPasswordJob job(service);
        job.setKey(key);
        runJob(job);
        if (job.error() == QKeychain::NoError) {
            *password = job.textData();
            return SecretStore::Found;
        }
        return answered(job.error()) ? SecretStore::NotFound : SecretStore::Unavailable;
    }
    if (op == 1) {
        QKeychain::WritePasswordJob job(service);
        job.setKey(key);
        job.setTextData(*password);
        runJob(job);
        return job.error() == QKeychain::NoError ? 1 : 0;
    }
    QKeychain::DeletePasswordJob job(service);
    job.setKey(key);
    runJob(job);
    return 0;
}

#else

#include "core/error.h"
#include "core/module.h"

namespace Sync {

namespace {

std::unique_ptr<SecretStore>& current() {
    static std::unique_ptr<SecretStore> store;
    return store;
}

// The module's function; null when it cannot be loaded: then no keychain answers.
QuembeKeychain keychain() {
    static const QuembeKeychain function = []() -> QuembeKeychain {
        try {
            return reinterpret_cast<QuembeKeychain>(
                Core::moduleFunction("quembe-keychain.so", "quembe_keychain", QUEMBE_MODULE_DIR,
                                     QUEMBE_KEYCHAIN_BUILD_PATH));
        } catch (const EError&) {
            return nullptr;
        }
    }();
    return function;
}

} // namespace

KeychainStore::KeychainStore(const QString& service)
    : m_service(service) {}

SecretStore::Status KeychainStore::read(const QString& key, QString* password) {
    const QuembeKeychain call = keychain();
    return call ? Status(call(0, m_service, key, password)) : Unavailable;
}

bool KeychainStore::write(const QString& key, const QString& password) {
    const QuembeKeychain call = keychain();
    QString text = password;
    return call && call(1, m_service, key, &text) == 1;
}

void KeychainStore::remove(const QString& key) {
    if (const QuembeKeychain call = keychain())
        call(2, m_service, key, nullptr);
}

QString secretKey(const QString& user, const QString& book) {
    return user + QLatin1Char('@') + book;
}

SecretStore& secretStore() {
    if (!current())
        current() = std::make_unique<KeychainStore>();
    return *current();
}

void setSecretStore(std::unique_ptr<SecretStore> store) {
    current() = std::move(store);
}

} // namespace Sync

#endif

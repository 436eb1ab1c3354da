#include "secretstore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>

namespace Sync {

namespace {

std::unique_ptr<SecretStore>& current() {
    static std::unique_ptr<SecretStore> store;
    return store;
}

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

KeychainStore::KeychainStore(const QString& service)
    : m_service(service) {}

SecretStore::Status KeychainStore::read(const QString& key, QString* password) {
    QKeychain::ReadPasswordJob job(m_service);
    job.setKey(key);
    runJob(job);
    if (job.error() == QKeychain::NoError) {
        *password = job.textData();
        return Found;
    }
    return answered(job.error()) ? NotFound : Unavailable;
}

bool KeychainStore::write(const QString& key, const QString& password) {
    QKeychain::WritePasswordJob job(m_service);
    job.setKey(key);
    job.setTextData(password);
    runJob(job);
    return job.error() == QKeychain::NoError;
}

void KeychainStore::remove(const QString& key) {
    QKeychain::DeletePasswordJob job(m_service);
    job.setKey(key);
    runJob(job);
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

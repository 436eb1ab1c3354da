#pragma once

// Where a sync account's password is kept: the desktop's keychain (Secret Service, KWallet,
// the Windows Credential Manager), never the database file, a settings file or a log.

#include <QString>

#include <memory>

namespace Sync {

/// A place for passwords, one per key.
class SecretStore {
public:
    enum Status {
        Found,
        NotFound,
        Unavailable, ///< no keychain answers (no desktop session, none installed)
    };

    virtual ~SecretStore() = default;
    /// The password kept under `key`.
    virtual Status read(const QString& key, QString* password) = 0;
    /// Keeps `password` under `key`; false when no keychain took it.
    virtual bool write(const QString& key, const QString& password) = 0;
    /// Forgets the password under `key` (nothing happens when there is none).
    virtual void remove(const QString& key) = 0;
};

/// The desktop's keychain through QtKeychain. Each call blocks until the keychain answers,
/// running a local event loop; any thread.
class KeychainStore : public SecretStore {
public:
    explicit KeychainStore(const QString& service = QStringLiteral("quembe-cards"));
    Status read(const QString& key, QString* password) override;
    bool write(const QString& key, const QString& password) override;
    void remove(const QString& key) override;

private:
    QString m_service;
};

/// The key an account's password is kept under: its user and book.
QString secretKey(const QString& user, const QString& book);

/// The store the program uses; tests may put their own in its place.
SecretStore& secretStore();
void setSecretStore(std::unique_ptr<SecretStore> store);

} // namespace Sync

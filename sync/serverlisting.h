#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include "data/sqlite.h"

namespace Sync {

/// The server's cards as one sync learns them (each one's address and version), kept in a
/// temporary table of the connection until the sync ends: a book of any size costs no memory
/// here, and what to fetch is worked out against the synced copies by SQLite.
class ServerListing {
public:
    explicit ServerListing(const Sqlite::Database& db);
    ~ServerListing();
    ServerListing(const ServerListing&) = delete;
    ServerListing& operator=(const ServerListing&) = delete;

    void add(const QString& href, const QByteArray& etag);
    bool contains(const QString& href);
    /// Each synced card's address that the listing does not name.
    void forEachUnlisted(const std::function<void(const QString& href)>& visit);

    /// Whether a listed card is not here in the version listed (or the version is unknown).
    bool needsFetch(const QString& href);
    int fetchCount();
    /// The next at most `limit` cards to fetch after the address `after`, in address order.
    QStringList toFetch(const QString& after, int limit);

private:
    const Sqlite::Database& m_database;
    Sqlite::Statement m_insert;
};

/// The cards here not on the server yet by their trimmed names, for pairing them with the
/// server's cards; in a temporary table like the listing. A card may stay after it is paired:
/// the caller knows which are still unpaired.
class UnsyncedNames {
public:
    explicit UnsyncedNames(const Sqlite::Database& db);
    ~UnsyncedNames();
    UnsyncedNames(const UnsyncedNames&) = delete;
    UnsyncedNames& operator=(const UnsyncedNames&) = delete;

    void add(const QString& name, qint64 id);
    /// The cards of that name, by ID.
    QList<qint64> named(const QString& name);

private:
    const Sqlite::Database& m_database;
    Sqlite::Statement m_insert;
    Sqlite::Statement m_named;
};

} // namespace Sync

#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include "sqlite.h"

class TADOQuery;

/// The database connection: opens the embedded database named by its settings.
class TADOConnection : public QObject {
    Q_OBJECT
public:
    explicit TADOConnection(QObject* parent = nullptr);
    ~TADOConnection() override;

    QString ConnectionString;
    bool LoginPrompt = false;

    /// Opens the file named by "Data Source"; does nothing when already open.
    void Open();
    /// Closes every dataset on the connection, then the connection; releases the file.
    void Close();
    bool Connected() const;
    void setConnected(bool connected);

    /// The file the settings name: program folder + the file name of "Data Source".
    QString databaseFile() const;
    /// For tools that work on a file named on their command line: that file instead of
    /// the one in the program folder (empty goes back to the settings).
    void setDatabaseFile(const QString& file) { m_file = file; }

    /// The open connection and its file, for the work done on the cards in bulk.
    const Sqlite::Database& database() const { return m_db; }
    // For the datasets of this connection.
    sqlite3* handle() const;
    /// Waits until no dataset on the connection is still reading its rows, so that a write
    /// does not wait on the program's own readers.
    void finishReading();
    void attach(TADOQuery* dataset);
    void detach(TADOQuery* dataset);

private:
    void openFile(const QString& file, const QString& password);

    bool m_open = false;
    QString m_file;
    Sqlite::Database m_db;
    QVector<TADOQuery*> m_datasets;
};

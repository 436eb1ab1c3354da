#pragma once

#include <QPair>
#include <QString>
#include <QVector>

/// The connection's stored settings: "key=value" pairs separated by ";".
class ConnectionString {
public:
    static ConnectionString parse(const QString& text);

    /// The value of a key, compared without letter case; empty when absent.
    /// A value written as two double quotes reads as the empty text.
    QString value(const QString& key) const;
    bool contains(const QString& key) const;
    const QVector<QPair<QString, QString>>& pairs() const { return m_pairs; }
    QString toString() const;

private:
    QVector<QPair<QString, QString>> m_pairs;
};

/// The settings the main window's connection is stored with.
extern const char kStoredConnectionString[];

/// What the connection settings say about the database, read from them in one place.
struct DatabaseSettings {
    QString provider;
    /// The file name of "Data Source" without its folder; the file lives in the program folder.
    QString fileName;
    /// The database password the file must carry.
    QString password;

    static DatabaseSettings parse(const QString& connectionString);
    /// The settings of kStoredConnectionString.
    static DatabaseSettings stored();
};

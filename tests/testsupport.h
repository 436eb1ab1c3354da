#pragma once

#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

/// The database password the stored connection settings carry.
QString storedDatabasePassword();

/// A fresh program folder holding a new database; programFolder() names it while this lives.
class ProgramFolder {
public:
    explicit ProgramFolder(const QString& userPassword = QString(), bool withDatabase = true);
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    QString path() const; ///< ends with "/"
    QString database() const { return path() + QStringLiteral("velmora.mdb"); }
    QString backup() const { return path() + QStringLiteral("velmora.bak"); }

private:
    QTemporaryDir m_dir;
};

/// Runs an SQL statement directly on a database file (outside the program), for checks.
void exec(const QString& databaseFile, const QString& sql);
/// The rows a query gives, each as its columns' texts joined by "|".
QStringList query(const QString& databaseFile, const QString& sql);

} // namespace TestSupport

#pragma once

#include "core/card.h"
#include "data/sqlite.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>
#include <memory>

struct sqlite3;

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

/// The technical text an error message ends with, between "(" and ")" on its last line.
QString technical(const QString& message);
/// Whether a message opens in Chinese, as every message of the program does.
bool opensInChinese(const QString& message);

#ifdef Q_OS_UNIX
/// While it lives no file of this process can grow: the disk is full as far as the program
/// can tell.
class FullDisk {
public:
    FullDisk();
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    unsigned long long m_soft = 0;
    void (*m_signal)(int) = nullptr;
};

/// Runs `work` in a child process and gives back the text it returned.
QString inChild(const std::function<QString()>& work);
#endif

/// A fresh program folder and this program's read-write connection to its database.
class OpenProgramFolder : public ProgramFolder {
public:
    OpenProgramFolder();
    Sqlite::Database db;
};
/// A card with this name and company, and more columns as name, value, name, value ….
Card namedCard(const QString& name, const QString& company = QString(),
               const QStringList& more = QStringList());
/// Adds the cards in one go, as an import does; their new IDs in order.
QVector<qint64> storeCards(const Sqlite::Database& db, const QVector<Card>& cards);

/// Runs an SQL statement directly on a database file (outside the program), for checks.
void exec(const QString& databaseFile, const QString& sql);
/// The rows a query gives, each as its columns' texts joined by "|".
QStringList query(const QString& databaseFile, const QString& sql);

/// Another program's connection to a database file, in a transaction while it lives (rolled
/// back at the end unless committed). "BEGIN IMMEDIATE" holds the write lock, "BEGIN
/// EXCLUSIVE" keeps readers out too; without a statement it only opens the file. It waits
/// for no lock unless given a busy timeout.
class OtherWriter {
public:
    explicit OtherWriter(const QString& file, const char* begin = "BEGIN IMMEDIATE",
                         int busyTimeoutMs = 0);
    ~OtherWriter();
    OtherWriter(const OtherWriter&) = delete;
    OtherWriter& operator=(const OtherWriter&) = delete;

    /// Whether the file opened and the transaction began.
    bool ok() const { return m_rc == 0; }
    /// SQLite's result of the last statement (SQLITE_BUSY when another held the file).
    int rc() const { return m_rc; }
    /// Runs statements on this connection; SQLite's result code.
    int exec(const char* sql);

private:
    sqlite3* m_db = nullptr;
    int m_rc = 0;
};

/// A column name as written in the test's source.
QString col(const char* name);
/// Writes a file whole, failing the test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
/// A file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);

} // namespace TestSupport

#include "platform/messagebox.h"
#include "platform/shell.h"
#include "platform/window.h"

namespace TestSupport {

/// The program's four windows over a fresh program folder. Message boxes, modal windows,
/// shell calls and the end of the program are recorded instead of happening.
class Program {
public:
    explicit Program(const QString& userPassword = QString());
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool created() const { return m_created; }
    /// Shows the main window as the login would, and makes it the active window.
    void showMain();

    ProgramFolder folder;
    Platform::MessageBoxRecorder boxes;
    Platform::ModalRecorder modal;
    Platform::ShellRecorder shell;

private:
    bool m_created = false;
};

/// Base of the window tests: each case starts with the program's four windows over a fresh
/// program folder, and they are gone after it, failed or not.
class WindowTest : public QObject {
    Q_OBJECT
public:
    /// `shownMain`: each case starts with the main window shown, as after the login.
    explicit WindowTest(bool shownMain = false)
        : m_shownMain(shownMain) {}

protected:
    Program& program() { return *m_program; }
    /// Ends the case's program early, for a case that goes on with a folder of its own.
    void endProgram() { m_program.reset(); }

private slots:
    void init();
    void cleanup();

private:
    std::unique_ptr<Program> m_program;
    bool m_shownMain;
};

/// Adds a card through the dataset: pairs of column and value.
void addCard(const QStringList& columnsAndValues);
/// Every written column of a stored card, in field-map order; empty when none matches.
QStringList storedCard(const Program& program, const QString& where);
/// Clicks a cell of the main window's grid.
void clickCell(int row, int column);
/// The names of the cards the main window's list shows, in list order.
QStringList listedNames();

#ifdef Q_OS_LINUX
/// How many descriptors of this process are open on the file.
int timesHeldOpen(const QString& file);
inline bool fileHeldOpen(const QString& file) {
    return timesHeldOpen(file) > 0;
}
#endif

} // namespace TestSupport

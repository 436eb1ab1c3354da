#include "testsupport.h"

#include "data/cardstore.h"
#include "data/connectionstring.h"
#include "data/schema.h"
#include "platform/files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUuid>

#include <sqlite3.h>

#include <stdexcept>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace TestSupport {

QString storedDatabasePassword() {
    return DatabaseSettings::stored().password;
}

OpenProgramFolder::OpenProgramFolder() {
    if (db.open(database(), Sqlite::OpenMode::ReadWrite) != SQLITE_OK)
        throw std::runtime_error("cannot open the new database");
}

Card namedCard(const QString& name, const QString& company, const QStringList& more) {
    Card c;
    c.setValue(QStringLiteral("姓名"), name);
    c.setValue(QStringLiteral("单位"), company);
    for (int i = 0; i + 1 < more.size(); i += 2)
        c.setValue(more.at(i), more.at(i + 1));
    return c;
}

QVector<qint64> storeCards(const Sqlite::Database& db, const QVector<Card>& cards) {
    int next = 0;
    return CardStore::addCards(db, [&](Card* c) {
        if (next == cards.size())
            return false;
        *c = cards[next++];
        return true;
    });
}

QString technical(const QString& message) {
    const int open = int(message.lastIndexOf(QStringLiteral("\n(")));
    if (open < 0 || !message.endsWith(QLatin1Char(')')))
        return QString();
    return message.mid(open + 2, message.size() - open - 3);
}

bool opensInChinese(const QString& message) {
    return !message.isEmpty() && message.at(0).unicode() >= 0x3000;
}

ProgramFolder::ProgramFolder(const QString& userPassword, bool withDatabase) {
    if (withDatabase)
        Schema::createDatabase(database(), storedDatabasePassword(), userPassword);
    Platform::setProgramFolderForTesting(m_dir.path());
}

ProgramFolder::~ProgramFolder() {
    Platform::setProgramFolderForTesting(QString());
}

QString ProgramFolder::path() const {
    return m_dir.path() + QLatin1Char('/');
}

#ifdef Q_OS_UNIX
FullDisk::FullDisk() {
    // A write past the limit then fails as on a full disk instead of ending the process.
    m_signal = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    m_soft = limit.rlim_cur;
    limit.rlim_cur = 0;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

FullDisk::~FullDisk() {
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_soft);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, m_signal);
}

namespace {

// fork() copies the calling thread alone: a lock another thread held at that moment (the
// sanitizer's allocator, malloc's) stays locked in the child for ever, and the child hangs.
// So the window's own workers (spelling warm-up, ID loader) are let finish what they run.
void waitWhileOtherThreadsRun() {
    const long self = long(::syscall(SYS_gettid));
    QDeadlineTimer deadline(30000);
    for (int quietLooks = 0; quietLooks < 3 && !deadline.hasExpired();) {
        bool running = false;
        const QDir tasks(QStringLiteral("/proc/self/task"));
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (task.toLong() == self)
                continue;
            QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
            if (!stat.open(QIODevice::ReadOnly))
                continue; // ended meanwhile
            // "tid (name) S ...": the state follows the name's closing bracket.
            const QByteArray text = stat.readAll();
            const int close = text.lastIndexOf(')');
            const char state = close > 0 && close + 2 < text.size() ? text.at(close + 2) : 'S';
            running = running || state == 'R' || state == 'D';
        }
        quietLooks = running ? 0 : quietLooks + 1;
        QThread::msleep(running ? 5 : 1);
    }
}

} // namespace

QString inChild(const std::function<QString()>& work) {
    waitWhileOtherThreadsRun();
    int fds[2];
    if (::pipe(fds) != 0)
        return QStringLiteral("no pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        // Should it hang all the same, the case fails in two minutes rather than the suite's ten.
        ::alarm(120);
        const QByteArray out = work().toUtf8();
        if (::write(fds[1], out.constData(), size_t(out.size())) < 0)
            ::_exit(2);
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, int(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return QString::fromUtf8(out);
}
#endif

namespace {
template <class F> void withDatabase(const QString& file, F f) {
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            throw std::runtime_error(db.lastError().text().toStdString());
        f(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
} // namespace

void exec(const QString& databaseFile, const QString& sql) {
    withDatabase(databaseFile, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec(sql))
            throw std::runtime_error(q.lastError().text().toStdString());
    });
}

OtherWriter::OtherWriter(const QString& file, const char* begin, int busyTimeoutMs) {
    m_rc = sqlite3_open_v2(file.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (m_rc == SQLITE_OK)
        sqlite3_busy_timeout(m_db, busyTimeoutMs);
    if (m_rc == SQLITE_OK && begin)
        exec(begin);
}

OtherWriter::~OtherWriter() {
    if (sqlite3_get_autocommit(m_db) == 0)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
}

int OtherWriter::exec(const char* sql) {
    m_rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return m_rc;
}

QStringList query(const QString& databaseFile, const QString& sql) {
    QStringList rows;
    withDatabase(databaseFile, [&](QSqlDatabase& db) {
        QSqlQuery q(db);
        if (!q.exec(sql))
            throw std::runtime_error(q.lastError().text().toStdString());
        while (q.next()) {
            QStringList cols;
            for (int i = 0; i < q.record().count(); ++i)
                cols << q.value(i).toString();
            rows << cols.join(QLatin1Char('|'));
        }
    });
    return rows;
}

} // namespace TestSupport

#include "data/adoquery.h"
#include "data/fieldmap.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/dbcontrols.h"
#include "program/quembe.h"

#include <QTest>

namespace TestSupport {

Program::Program(const QString& userPassword)
    : folder(userPassword) {
    m_created = Quembe::createForms();
}

Program::~Program() {
    if (m_created)
        Quembe::destroyForms();
}

void Program::showMain() {
    FrmMain->show();
    FrmMain->activateWindow();
    QApplication::setActiveWindow(FrmMain);
    if (!QTest::qWaitForWindowActive(FrmMain))
        qWarning("main window did not become active");
}

void WindowTest::init() {
    m_program = std::make_unique<Program>();
    if (m_shownMain)
        m_program->showMain();
}

void WindowTest::cleanup() {
    m_program.reset();
}

void addCard(const QStringList& columnsAndValues) {
    TADOQuery* q = FrmMain->ADOQuery1;
    q->Insert();
    for (int i = 0; i + 1 < columnsAndValues.size(); i += 2)
        q->SetFieldAsString(columnsAndValues.at(i), columnsAndValues.at(i + 1));
    q->Post();
}

} // namespace TestSupport

namespace TestSupport {

QString col(const char* name) {
    return QString::fromUtf8(name);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList storedCard(const Program& program, const QString& where) {
    QStringList columns;
    for (const FieldMapEntry& f : kFieldMap)
        columns << QStringLiteral("\"%1\"").arg(col(f.column));
    const QStringList rows =
        query(program.folder.database(),
              QStringLiteral("select %1 from zl where %2").arg(columns.join(','), where));
    return rows.isEmpty() ? QStringList() : rows.first().split(QLatin1Char('|'));
}

QStringList listedNames() {
    QStringList names;
    TADOQuery* q = FrmMain->ADOQuery1;
    const int name = q->FieldNames().indexOf(col("姓名"));
    for (int row = 0; row < q->RecordCount(); ++row)
        names << q->CellText(row, name);
    return names;
}

void clickCell(int row, int column) {
    TDBGrid* grid = FrmMain->DBGrid1;
    const QRect r = grid->visualRect(grid->model()->index(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, r.center());
}

#ifdef Q_OS_LINUX
int timesHeldOpen(const QString& file) {
    const QString target = QFileInfo(file).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == target)
            ++count;
    }
    return count;
}
#endif

} // namespace TestSupport

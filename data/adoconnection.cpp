#include "adoconnection.h"

#include "adoquery.h"
#include "connectionstring.h"
#include "dberror.h"
#include "dbkey.h"
#include "sqlitestatement.h"

#include "platform/files.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>

namespace {

const char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";
// Long enough to ride out another program's short write, short enough not to hang the UI.
const int kBusyTimeoutMs = 1500;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

EDatabaseError notADatabase(const QString& file, const QString& why) {
    return EDatabaseError(
        QStringLiteral("The file \"%1\" is not a database (%2)").arg(native(file), why));
}

EDatabaseError locked(const QString& file) {
    return EDatabaseError(
        QStringLiteral("The database file \"%1\" is locked by another program; close it and "
                       "try again")
            .arg(native(file)));
}

void checkHeader(const QString& file) {
    bool unreadable = false;
    const QString problem = Sqlite::headerProblem(file, &unreadable);
    if (unreadable)
        throw EDatabaseError(
            QStringLiteral("Cannot read the database file \"%1\": %2").arg(native(file), problem));
    if (!problem.isEmpty())
        throw notADatabase(file, problem);
}

// Opening by URI with mode=rw makes SQLite refuse a missing file instead of creating it.
QString readWriteUri(const QString& file) {
    return QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QStringLiteral("?mode=rw");
}

QAtomicInt g_connectionCount;

} // namespace

TADOConnection::TADOConnection(QObject* parent)
    : QObject(parent)
    , m_name(QStringLiteral("TADOConnection-%1").arg(g_connectionCount.fetchAndAddRelaxed(1))) {}

TADOConnection::~TADOConnection() {
    Close();
    const QVector<TADOQuery*> datasets = m_datasets;
    for (TADOQuery* dataset : datasets)
        dataset->setConnection(nullptr);
}

QString TADOConnection::databaseFile() const {
    const QString source =
        ::ConnectionString::parse(ConnectionString).value(QStringLiteral("Data Source"));
    const QString name = source.section(QRegularExpression(QStringLiteral("[\\\\/]")), -1);
    if (name.isEmpty())
        return QString();
    return Platform::programFolder() + name;
}

void TADOConnection::Open() {
    if (m_open)
        return;
    const ::ConnectionString settings = ::ConnectionString::parse(ConnectionString);
    const QString provider = settings.value(QStringLiteral("Provider"));
    if (provider.compare(QLatin1String(kJetProvider), Qt::CaseInsensitive) != 0)
        throw EDatabaseError(
            QStringLiteral("Provider cannot be found: \"%1\" (only %2 is supported)")
                .arg(provider, QLatin1String(kJetProvider)));
    const QString file = databaseFile();
    if (file.isEmpty())
        throw EDatabaseError(QStringLiteral("The connection settings name no database file "
                                            "(\"Data Source\" is empty)"));
    if (!Platform::fileExists(file))
        throw EDatabaseError(
            QStringLiteral("Could not find the database file \"%1\"").arg(native(file)));
    checkHeader(file);
    openFile(file, settings.value(QStringLiteral("Jet OLEDB:Database Password")));
}

void TADOConnection::openFile(const QString& file, const QString& password) {
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        throw EDatabaseError(QStringLiteral("The database engine (Qt's QSQLITE driver) is not "
                                            "available"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(readWriteUri(file));
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!db.open()) {
            const QString why = db.lastError().text();
            db = QSqlDatabase();
            release();
            throw EDatabaseError(
                QStringLiteral("Cannot open the database file \"%1\": %2").arg(native(file), why));
        }
        const QVariant v = db.driver()->handle();
        if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
            m_handle = *static_cast<sqlite3* const*>(v.constData());
    }
    if (!m_handle) {
        release();
        throw EDatabaseError(QStringLiteral("The database engine gave no connection handle"));
    }
    // Double-quoted text is always an identifier here, never a string literal in disguise.
    sqlite3_db_config(m_handle, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(m_handle, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_timeout(m_handle, kBusyTimeoutMs);

    try {
        SqliteStatement st;
        int rc = st.prepare(m_handle, "SELECT \"salt\", \"hash\" FROM \"dbkey\"");
        if (rc == SQLITE_OK)
            rc = st.step();
        const int primary = rc & 0xff;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            throw locked(file);
        if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
            throw notADatabase(file, Sqlite::errorText(m_handle, rc));
        if (primary == SQLITE_ERROR || rc == SQLITE_DONE)
            throw notADatabase(file, QStringLiteral("it carries no database password record"));
        if (rc != SQLITE_ROW)
            throw EDatabaseError(QStringLiteral("Cannot open the database file \"%1\": %2")
                                     .arg(native(file), Sqlite::errorText(m_handle, rc)));
        const QByteArray salt = st.text(0).toString().toUtf8();
        const QByteArray hash = st.text(1).toString().toUtf8();
        if (DbKey::hash(salt, password) != hash)
            throw EDatabaseError(QStringLiteral("Not a valid password: the database password "
                                                "does not match the database file \"%1\"")
                                     .arg(native(file)));
        st.prepare(m_handle, "PRAGMA journal_mode");
        // Backup and restore copy the one file, so the journal must never live beside it.
        if (st.step() == SQLITE_ROW &&
            st.text(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
            Sqlite::exec(m_handle, "PRAGMA journal_mode=DELETE");
    } catch (...) {
        release();
        throw;
    }
    m_open = true;
}

void TADOConnection::release() {
    m_handle = nullptr;
    if (QSqlDatabase::contains(m_name)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
}

void TADOConnection::Close() {
    const QVector<TADOQuery*> datasets = m_datasets;
    for (TADOQuery* dataset : datasets)
        dataset->Close();
    if (!m_open)
        return;
    m_open = false;
    release();
}

bool TADOConnection::Connected() const {
    return m_open;
}

void TADOConnection::setConnected(bool connected) {
    if (connected)
        Open();
    else
        Close();
}

sqlite3* TADOConnection::handle() const {
    return m_handle;
}

void TADOConnection::attach(TADOQuery* dataset) {
    if (dataset && !m_datasets.contains(dataset))
        m_datasets.append(dataset);
}

void TADOConnection::detach(TADOQuery* dataset) {
    m_datasets.removeAll(dataset);
}

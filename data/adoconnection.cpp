#include "adoconnection.h"

#include "adoquery.h"
#include "connectionstring.h"
#include "dberror.h"
#include "dbkey.h"
#include "schema.h"

#include "platform/files.h"

#include <QDir>

namespace {

const char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

using Sqlite::native;

EDatabaseError notADatabase(const QString& file, const QString& why) {
    return EDatabaseError(QStringLiteral("这个文件不是本程序的数据库，或者已经损坏：\n%1\n"
                                         "请用备份替换它，或用 mkvelmora 新建一个数据库。\n(%2)")
                              .arg(native(file), why));
}

void checkHeader(const QString& file) {
    bool unreadable = false;
    const QString problem = Sqlite::headerProblem(file, &unreadable);
    if (unreadable)
        throw EDatabaseError(QStringLiteral("无法读取数据库文件：\n%1\n"
                                            "请检查该文件的读取权限。\n(%2)")
                                 .arg(native(file), problem));
    if (!problem.isEmpty())
        throw notADatabase(file, problem);
}

} // namespace

TADOConnection::TADOConnection(QObject* parent)
    : QObject(parent) {}

TADOConnection::~TADOConnection() {
    Close();
    const QVector<TADOQuery*> datasets = m_datasets;
    for (TADOQuery* dataset : datasets)
        dataset->setConnection(nullptr);
}

QString TADOConnection::databaseFile() const {
    const QString name = DatabaseSettings::parse(ConnectionString).fileName;
    if (name.isEmpty())
        return QString();
    return Platform::programFolder() + name;
}

void TADOConnection::Open() {
    if (m_open)
        return;
    const DatabaseSettings settings = DatabaseSettings::parse(ConnectionString);
    if (settings.provider.compare(QLatin1String(kJetProvider), Qt::CaseInsensitive) != 0)
        throw EDatabaseError(QStringLiteral("连接设置里的数据库驱动“%1”无法识别，本程序只支持 %2。"
                                            "请重新安装本程序。\n(Provider cannot be found)")
                                 .arg(settings.provider, QLatin1String(kJetProvider)));
    const QString file = databaseFile();
    if (file.isEmpty())
        throw EDatabaseError(QStringLiteral("连接设置没有指明数据库文件。请重新安装本程序。\n"
                                            "(\"Data Source\" is empty)"));
    if (!Platform::fileExists(file))
        throw EDatabaseError(QStringLiteral("找不到数据库文件：\n%1\n"
                                            "如果这是第一次使用，请新建一个数据库（它的登录密码为空），"
                                            "例如在终端里运行：\nmkvelmora \"%1\"")
                                 .arg(native(file)));
    checkHeader(file);
    openFile(file, settings.password);
}

void TADOConnection::openFile(const QString& file, const QString& password) {
    Sqlite::Database db;
    int rc = db.open(file, Sqlite::OpenMode::ReadWrite);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, file));

    switch (DbKey::check(db.get(), password, &rc)) {
    case DbKey::Check::Match:
        break;
    case DbKey::Check::Mismatch:
        throw EDatabaseError(QStringLiteral("这个数据库文件的数据库密码与本程序的连接设置不符，"
                                            "它不是本程序的数据库：\n%1\n"
                                            "请换用本程序建立的数据库文件。\n"
                                            "(Not a valid password)")
                                 .arg(native(file)));
    case DbKey::Check::NoRecord:
        throw notADatabase(file, QStringLiteral("it carries no database password record"));
    case DbKey::Check::Failed:
        if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
            throw notADatabase(file, Sqlite::technicalText(db.get(), rc));
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, file));
    }

    Sqlite::Statement st;
    st.prepare(db.get(), "PRAGMA journal_mode");
    // Backup and restore copy the one file, so the journal must never live beside it.
    if (st.step() == SQLITE_ROW &&
        st.text(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
        st.prepare(db.get(), "PRAGMA journal_mode=DELETE");
        st.step();
    }
    st.reset();
    // An older database gets, once, the indexes a new one is made with; one that cannot be
    // written to now gets them another time.
    Schema::addMissingIndexes(db.get());
    m_db = std::move(db);
    m_open = true;
}

void TADOConnection::Close() {
    const QVector<TADOQuery*> datasets = m_datasets;
    for (TADOQuery* dataset : datasets)
        dataset->Close();
    if (!m_open)
        return;
    m_open = false;
    m_db.close();
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
    return m_db.get();
}

void TADOConnection::finishReading() {
    for (TADOQuery* dataset : qAsConst(m_datasets))
        dataset->FetchAll();
}

void TADOConnection::attach(TADOQuery* dataset) {
    if (dataset && !m_datasets.contains(dataset))
        m_datasets.append(dataset);
}

void TADOConnection::detach(TADOQuery* dataset) {
    m_datasets.removeAll(dataset);
}

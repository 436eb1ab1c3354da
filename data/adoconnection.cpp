#include "adoconnection.h"

#include "adoquery.h"
#include "connectionstring.h"
#include "dberror.h"
#include "dbkey.h"
#include "journal.h"
#include "schema.h"

#include "platform/files.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const char kJetProvider[] = "Microsoft.Jet.OLEDB.4.0";

using Sqlite::native;

EDatabaseError notADatabase(const QString& file, const QString& why) {
    return EDatabaseError(QStringLiteral("这个文件不是本程序的数据库，或者已经损坏：\n%1\n"
                                         "可以把备份文件 velmora.bak 复制为这个文件来恢复，"
                                         "或用 mkvelmora 新建一个数据库。\n(%2)")
                              .arg(native(file), why));
}

// A file that cannot be seen for want of permission on its folder is not missing: telling
// the user to make a new one would hide the cards that are there.
void checkReachable(const QString& file) {
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(file).constData(), &info) == 0 || errno != EACCES)
        return;
    const QString folder = QFileInfo(file).absolutePath();
    throw EDatabaseError(
        QStringLiteral("没有权限进入数据库所在的文件夹，无法读取数据库文件：\n%1\n"
                       "数据库文件可能还在，请不要新建。请让这个文件夹（以及它"
                       "上面各级文件夹）的主人给您进入和读写的权限，例如在终端里运行\n"
                       "chmod u+rwx %2\n或换用有这些权限的用户运行本程序。\n(%3)")
            .arg(native(file), native(folder), QString::fromLocal8Bit(strerror(EACCES))));
#else
    Q_UNUSED(file);
#endif
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

// A journal left by a write that never finished is played into the file when SQLite opens
// it. One that belongs to another file would destroy this one, and one whose result is not
// whole would hand over a damaged database: both are refused with both files untouched.
void checkJournal(const QString& file, const QString& password) {
    const QString journal = Journal::fileOf(file);
    QString problem = Journal::foreignProblem(file, journal);
    if (!problem.isEmpty())
        throw EDatabaseError(
            QStringLiteral("数据库文件旁边有一个没有完成的日志文件，但它不属于这个数据库：\n%1\n"
                           "用它恢复会毁掉数据库，所以本程序没有打开数据库，也没有改动任何文件。"
                           "如果这个日志文件是从别处复制过来的，请把它移到别的文件夹，"
                           "然后重新启动本程序。数据库文件是：\n%2\n(%3)")
                .arg(native(journal), native(file), problem));
    bool noRoom = false;
    problem = Journal::trialProblem(file, journal, password, &noRoom);
    if (noRoom)
        throw EDatabaseError(
            QStringLiteral("数据库文件旁边有一个没有完成的日志文件，要先在副本上试用它，"
                           "但磁盘空间不足，无法复制：\n%1\n"
                           "本程序没有打开数据库，也没有改动任何文件。"
                           "请释放至少与数据库文件一样大的磁盘空间后重新启动本程序。\n(%2)")
                .arg(native(journal), problem));
    if (!problem.isEmpty())
        throw EDatabaseError(
            QStringLiteral(
                "数据库文件旁边有一个没有完成的日志文件，用它恢复出来的数据库不完整：\n%1\n"
                "本程序没有打开数据库，也没有改动任何文件。请先把数据库文件和这个日志文件"
                "一起复制保存，然后用备份恢复：把备份文件 velmora.bak 复制为数据库文件，"
                "并把日志文件移走。数据库文件是：\n%2\n(%3)")
                .arg(native(journal), native(file), problem));
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
    if (!m_file.isEmpty())
        return m_file;
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
    checkReachable(file);
    if (!Platform::fileExists(file))
        throw EDatabaseError(
            QStringLiteral(
                "找不到数据库文件：\n%1\n"
                "如果这是第一次使用，请新建一个数据库（它的登录密码为空）："
                "在终端里进入这个文件夹，运行\nmkvelmora %2\n"
                "如果数据库被移走了，请把它放回这里，或把备份文件 velmora.bak 复制为 %2。")
                .arg(native(file), QFileInfo(file).fileName()));
    // A write cut short may have left the file's header ahead of its pages: with a journal to
    // play, the file is judged by what comes out of it.
    if (Journal::isHot(file))
        checkJournal(file, settings.password);
    else
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
        throw notADatabase(file, QStringLiteral("没有数据库密码记录"));
    case DbKey::Check::Failed:
        if ((rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT)
            throw notADatabase(file, Sqlite::technicalText(db.get(), rc));
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, file));
    }
    // What the cards rely on must be as this program made it: a trigger of another
    // program's on zl could empty it on the next save, a view in its place never end.
    bool missing = false;
    const QString problem =
        Schema::schemaProblem(db.get(), Schema::Strictness::OwnTables, &rc, &missing);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db.get(), rc, file));
    if (missing)
        throw notADatabase(file, problem);
    if (!problem.isEmpty())
        throw EDatabaseError(
            QStringLiteral(
                "数据库文件被别的程序改动过，其中有本程序不会建立的内容，"
                "本程序不能放心地使用它：\n%1\n"
                "请用数据库工具去掉这些内容，或者把备份文件 velmora.bak 复制为数据库文件，"
                "或用 mkvelmora 新建一个数据库。\n(%2)")
                .arg(native(file), problem));

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
    Schema::addMissingParts(db.get());
    // A list's rows lie far apart in the file (a find's matches): a screen of them reads as
    // many 64 KiB pages, which the default cache of 31 pages cannot keep for the next key.
    Sqlite::exec(db.get(), "PRAGMA cache_size=-8192");
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

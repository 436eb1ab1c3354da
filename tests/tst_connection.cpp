#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/password.h"
#include "data/schema.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

namespace {

template <class F> QString errorOf(F f) {
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QString();
}

QString stored() {
    return QString::fromUtf8(kStoredConnectionString);
}

QString withPair(const QString& key, const QString& value) {
    ConnectionString cs = ConnectionString::parse(stored());
    QStringList parts;
    for (const auto& pair : cs.pairs())
        parts << pair.first + QLatin1Char('=') + (pair.first == key ? value : pair.second);
    return parts.join(QLatin1Char(';'));
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString mkvelmora() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {dir + QStringLiteral("/../mkvelmora"), dir + QStringLiteral("/mkvelmora")}) {
        if (QFileInfo(candidate).isExecutable())
            return candidate;
    }
    return QString();
}

} // namespace

class TestConnection : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storedSettingsHaveTheEighteenPairs();
    void parsingQuotedAndOddValues();
    void databaseFileIsBesideTheProgram();
    void opensWithStoredSettings();
    void opensFromAFolderWithUnusualCharacters();
    void databasePasswordIsChecked();
    void missingFileIsReportedAndNotCreated();
    void notADatabase_data();
    void notADatabase();
    void lockedFileIsReported();
    void unknownProviderIsRefused();
    void doubleQuotesAreIdentifiersOnly();
    void missingTableFailsTheDatasetOpen();
    void createDatabaseRefusesAnExistingFile();
    void createdDatabaseAcceptsAnyText();
    void mkvelmoraNeverOverwrites();

private:
    std::unique_ptr<TestSupport::ProgramFolder> m_folder;
    std::unique_ptr<TADOConnection> m_connection;
};

void TestConnection::init() {
    m_folder = std::make_unique<TestSupport::ProgramFolder>(QStringLiteral("secret"));
    m_connection = std::make_unique<TADOConnection>();
    m_connection->ConnectionString = stored();
}

void TestConnection::cleanup() {
    m_connection.reset();
    m_folder.reset();
}

void TestConnection::storedSettingsHaveTheEighteenPairs() {
    const ConnectionString cs = ConnectionString::parse(stored());
    const QStringList keys = {
        "Provider",
        "Data Source",
        "Mode",
        "Extended Properties",
        "Persist Security Info",
        "Jet OLEDB:System database",
        "Jet OLEDB:Registry Path",
        "Jet OLEDB:Database Password",
        "Jet OLEDB:Engine Type",
        "Jet OLEDB:Database Locking Mode",
        "Jet OLEDB:Global Partial Bulk Ops",
        "Jet OLEDB:Global Bulk Transactions",
        "Jet OLEDB:New Database Password",
        "Jet OLEDB:Create System Database",
        "Jet OLEDB:Encrypt Database",
        "Jet OLEDB:Don't Copy Locale on Compact",
        "Jet OLEDB:Compact Without Replica Repair",
        "Jet OLEDB:SFP",
    };
    QCOMPARE(cs.pairs().size(), keys.size());
    for (int i = 0; i < keys.size(); ++i)
        QCOMPARE(cs.pairs().at(i).first, keys.at(i));

    QCOMPARE(cs.value("Provider"), QStringLiteral("Microsoft.Jet.OLEDB.4.0"));
    QCOMPARE(cs.value("Data Source"),
             QStringLiteral("D:\\QUEMBE\\VELMORA\\database\\data\\velmora.mdb"));
    QCOMPARE(cs.value("Mode"), QStringLiteral("Share Deny None"));
    QCOMPARE(cs.value("Jet OLEDB:Database Password"), QStringLiteral("tesqua"));
    QCOMPARE(cs.value("Jet OLEDB:New Database Password"), QStringLiteral("tesqua"));
    QCOMPARE(cs.value("Jet OLEDB:Engine Type"), QStringLiteral("5"));
    QCOMPARE(cs.value("Jet OLEDB:Database Locking Mode"), QStringLiteral("1"));
    QCOMPARE(cs.value("Jet OLEDB:Global Partial Bulk Ops"), QStringLiteral("2"));
    QCOMPARE(cs.value("Jet OLEDB:Don't Copy Locale on Compact"), QStringLiteral("False"));

    // Written as two double quotes, read as the empty text.
    for (const char* key :
         {"Extended Properties", "Jet OLEDB:System database", "Jet OLEDB:Registry Path"}) {
        QVERIFY(cs.contains(key));
        QCOMPARE(cs.value(key), QString());
        QCOMPARE(cs.pairs().at(int(keys.indexOf(key))).second, QStringLiteral("\"\""));
    }
    QCOMPARE(cs.value("jet oledb:DATABASE password"), QStringLiteral("tesqua"));
    QVERIFY(!cs.contains("User ID"));
    QCOMPARE(cs.value("User ID"), QString());
    QCOMPARE(cs.toString(), stored());
    QVERIFY(!stored().endsWith(QLatin1Char(';')));
}

void TestConnection::parsingQuotedAndOddValues() {
    const ConnectionString cs = ConnectionString::parse(
        QStringLiteral(" A = 1 ;B=\"x;y\";C='it''s';D=\"say \"\"hi\"\"\";E=;;F=a=b;"));
    QCOMPARE(cs.value("A"), QStringLiteral("1"));
    QCOMPARE(cs.value("B"), QStringLiteral("x;y"));
    QCOMPARE(cs.value("C"), QStringLiteral("it's"));
    QCOMPARE(cs.value("D"), QStringLiteral("say \"hi\""));
    QVERIFY(cs.contains("E"));
    QCOMPARE(cs.value("E"), QString());
    QCOMPARE(cs.value("F"), QStringLiteral("a=b"));
    QCOMPARE(cs.pairs().size(), 6);
}

void TestConnection::databaseFileIsBesideTheProgram() {
    QCOMPARE(m_connection->databaseFile(), m_folder->database());
    m_connection->ConnectionString =
        withPair("Data Source", QStringLiteral("C:/elsewhere\\mixed/other.db"));
    QCOMPARE(m_connection->databaseFile(), m_folder->path() + QStringLiteral("other.db"));
}

void TestConnection::opensWithStoredSettings() {
    QVERIFY(!m_connection->Connected());
    m_connection->Open();
    QVERIFY(m_connection->Connected());
    QVERIFY(m_connection->handle());
    sqlite3* const handle = m_connection->handle();
    m_connection->Open(); // opening an open connection does nothing
    QVERIFY(m_connection->Connected());
    QCOMPARE(m_connection->handle(), handle);

    TADOConnection other;
    other.ConnectionString = stored();
    other.Open();
    QVERIFY(other.handle() != handle);

    m_connection->setConnected(false);
    QVERIFY(!m_connection->Connected());
    QVERIFY(!m_connection->handle());
    m_connection->setConnected(true);
    QVERIFY(m_connection->Connected());

    TADOQuery q(QStringLiteral("ADOQuery2"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select *");
    q.SQL.Add("from yh");
    q.Open();
    QVERIFY(passwordMatches(q.FieldAsString("用户密码"), QStringLiteral("secret")));
}

void TestConnection::opensFromAFolderWithUnusualCharacters() {
    // The file is named by URI, so characters that mean something in a URI must survive.
    const QString folder = m_folder->path() + QStringLiteral("名片 #1 ?50%&x=y");
    QVERIFY(QDir().mkpath(folder));
    Schema::createDatabase(folder + QStringLiteral("/velmora.mdb"),
                           TestSupport::storedDatabasePassword(), QString());
    TestSupport::exec(folder + QStringLiteral("/velmora.mdb"),
                      "insert into zl(姓名) values ('here')");
    Platform::setProgramFolderForTesting(folder);
    m_connection->Open();
    TADOQuery q(QStringLiteral("ADOQuery1"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select * from zl");
    q.Open();
    QCOMPARE(q.FieldAsString("姓名"), QStringLiteral("here"));
    m_connection->Close();
    Platform::setProgramFolderForTesting(m_folder->path());
}

void TestConnection::databasePasswordIsChecked() {
    const QByteArray before = readAll(m_folder->database());
    m_connection->ConnectionString = withPair("Jet OLEDB:Database Password", "Tesqua");
    QString error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.contains(QLatin1String("password")), qPrintable(error));
    QVERIFY(!m_connection->Connected());

    m_connection->ConnectionString = withPair("Jet OLEDB:Database Password", "\"\"");
    error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.contains(QLatin1String("password")), qPrintable(error));

    // The refusals left the file as it was, and the right password still opens it.
    QCOMPARE(readAll(m_folder->database()), before);
    m_connection->ConnectionString = stored();
    m_connection->Open();
    QVERIFY(m_connection->Connected());

    // A database made with another password refuses the stored one.
    const QString other = m_folder->path() + QStringLiteral("other.mdb");
    Schema::createDatabase(other, QStringLiteral("elsewise"), QString());
    TADOConnection c;
    c.ConnectionString = withPair("Data Source", "other.mdb");
    QVERIFY(errorOf([&] { c.Open(); }).contains(QLatin1String("password")));
    c.ConnectionString = withPair("Jet OLEDB:Database Password", "elsewise")
                             .replace(QStringLiteral("velmora.mdb"), QStringLiteral("other.mdb"));
    c.Open();
    QVERIFY(c.Connected());
}

void TestConnection::missingFileIsReportedAndNotCreated() {
    QVERIFY(QFile::remove(m_folder->database()));
    const QString error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.contains(QDir::toNativeSeparators(m_folder->database())), qPrintable(error));
    QVERIFY(!m_connection->Connected());
    QVERIFY(!QFile::exists(m_folder->database()));
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    TADOQuery q(QStringLiteral("ADOQuery1"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select * from zl");
    QVERIFY(!errorOf([&] { q.Open(); }).isEmpty());
    QVERIFY(!q.Active());
    QVERIFY(!QFile::exists(m_folder->database()));
}

void TestConnection::notADatabase_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("velmora card file, honestly\n");
    QByteArray noise(8192, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    QTest::newRow("random bytes") << noise;

    // A real database with a few pages, cut short.
    {
        TestSupport::ProgramFolder scratch;
        const QString big(20000, QChar(u'名'));
        for (int i = 0; i < 4; ++i)
            TestSupport::exec(
                scratch.database(),
                QStringLiteral("insert into zl(姓名, 备注) values ('x', '%1')").arg(big));
        const QByteArray whole = readAll(scratch.database());
        QTest::newRow("truncated") << whole.left(whole.size() / 2);
        QTest::newRow("header only") << whole.left(100);
    }

    // A sound SQLite file that this program never made.
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("foreign.db");
        TestSupport::exec(file, "create table zl(ID integer primary key, 姓名 text)");
        QTest::newRow("foreign database") << readAll(file);
    }
}

void TestConnection::notADatabase() {
    QFETCH(QByteArray, content);
    writeAll(m_folder->database(), content);
    const QString error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.startsWith(QStringLiteral("这个文件不是本程序的数据库")), qPrintable(error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(m_folder->database())), qPrintable(error));
    QVERIFY(!m_connection->Connected());
    QCOMPARE(readAll(m_folder->database()), content);
}

void TestConnection::lockedFileIsReported() {
    {
        TestSupport::OtherWriter lock(m_folder->database(), "BEGIN EXCLUSIVE");
        QVERIFY(lock.ok());
        QElapsedTimer timer;
        timer.start();
        const QString error = errorOf([&] { m_connection->Open(); });
        QVERIFY2(error.contains(QLatin1String("locked")), qPrintable(error));
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(!m_connection->Connected());
    }
    m_connection->Open();

    // Locked after the connection opened: the dataset reports it and recovers afterwards.
    TADOQuery q(QStringLiteral("ADOQuery1"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select * from zl");
    {
        TestSupport::OtherWriter lock(m_folder->database(), "BEGIN EXCLUSIVE");
        QVERIFY(lock.ok());
        const QString error = errorOf([&] { q.Open(); });
        QVERIFY2(error.startsWith(QStringLiteral("数据库文件正被其他程序使用")), qPrintable(error));
        QVERIFY2(TestSupport::technical(error).startsWith(QLatin1String("ADOQuery1: ")),
                 qPrintable(error));
        QVERIFY(!q.Active());
    }
    q.Open();
    QVERIFY(q.Active());
}

void TestConnection::unknownProviderIsRefused() {
    m_connection->ConnectionString = withPair("Provider", "SQLOLEDB.1");
    const QString error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.contains(QLatin1String("SQLOLEDB.1")), qPrintable(error));
    QVERIFY(!m_connection->Connected());

    m_connection->ConnectionString = QString();
    QVERIFY(!errorOf([&] { m_connection->Open(); }).isEmpty());
}

void TestConnection::doubleQuotesAreIdentifiersOnly() {
    m_connection->Open();
    TADOQuery q(QStringLiteral("ADOQuery1"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select *, \"nosuch\" as extra from zl");
    const QString error = errorOf([&] { q.Open(); });
    QVERIFY2(error.contains(QLatin1String("no such column")), qPrintable(error));

    q.SQL.Clear();
    q.SQL.Add("select * from zl where \"E-mail\" = 'a' or 姓名 = \"姓名\"");
    q.Open(); // quoted names still work as column names
    QVERIFY(q.Active());
}

void TestConnection::missingTableFailsTheDatasetOpen() {
    // Refused by the connection, which names the file and the table.
    TestSupport::exec(m_folder->database(), "drop table zl");
    const QString error = errorOf([&] { m_connection->Open(); });
    QVERIFY2(error.startsWith(QStringLiteral("这个文件不是本程序的数据库")), qPrintable(error));
    QCOMPARE(TestSupport::technical(error), QStringLiteral("缺少表“zl”"));
    QVERIFY(!m_connection->Connected());

    // A table that goes while the connection is open fails the dataset's open.
    QVERIFY(QFile::remove(m_folder->database()));
    Schema::createDatabase(m_folder->database(), TestSupport::storedDatabasePassword(), QString());
    m_connection->Open();
    TestSupport::exec(m_folder->database(), "drop table zl");
    TADOQuery q(QStringLiteral("ADOQuery1"));
    q.setConnection(m_connection.get());
    q.SQL.Add("select *");
    q.SQL.Add("from zl");
    const QString openError = errorOf([&] { q.Open(); });
    QCOMPARE(TestSupport::technical(openError), QStringLiteral("ADOQuery1: no such table: zl"));
    QVERIFY(!q.Active());
    QVERIFY(m_connection->Connected());
}

void TestConnection::createDatabaseRefusesAnExistingFile() {
    const QByteArray before = readAll(m_folder->database());
    QVERIFY(!errorOf([&] { Schema::createDatabase(m_folder->database(), "x", "y"); }).isEmpty());
    QCOMPARE(readAll(m_folder->database()), before);
    // Only the database itself: no half-made or temporary file stays behind.
    QCOMPARE(QDir(m_folder->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"velmora.mdb"});
    QCOMPARE(TestSupport::query(m_folder->database(), "pragma journal_mode"),
             QStringList{"delete"});
}

void TestConnection::createdDatabaseAcceptsAnyText() {
    const QString file = m_folder->database();
    TestSupport::exec(file, "insert into zl(姓名, 单位) values ('', '')");
    QCOMPARE(TestSupport::query(file, "select 姓名 is null, 单位, length(添加日期) from zl"),
             QStringList{"0||10"});
    const QStringList user = TestSupport::query(file, "select 用户密码 from yh");
    QCOMPARE(user.size(), 1);
    QVERIFY(passwordMatches(user.first(), QStringLiteral("secret")));
    // The password is kept hashed, never as text.
    QVERIFY(!TestSupport::query(file, "select * from dbkey").join(' ').contains("tesqua"));
}

void TestConnection::mkvelmoraNeverOverwrites() {
    const QString tool = mkvelmora();
    if (tool.isEmpty())
        QSKIP("mkvelmora is not built next to the tests");
    const QString fresh = m_folder->path() + QStringLiteral("fresh/velmora.mdb");
    QDir().mkpath(QFileInfo(fresh).path());

    QCOMPARE(QProcess::execute(tool, {fresh}), 0);
    const QStringList user = TestSupport::query(fresh, "select 用户密码 from yh");
    QCOMPARE(user.size(), 1);
    QVERIFY(passwordMatches(user.first(), QString()));
    QCOMPARE(TestSupport::query(fresh, "select count(*) from zl"), QStringList{"0"});

    TestSupport::exec(fresh, "insert into zl(姓名) values ('kept')");
    const QByteArray before = readAll(fresh);
    QCOMPARE(QProcess::execute(tool, {"--if-missing", fresh}), 0);
    QCOMPARE(readAll(fresh), before);
    QCOMPARE(QProcess::execute(tool, {fresh}), 1);
    QCOMPARE(readAll(fresh), before);

    // What it made opens with the stored settings.
    QVERIFY(QFile::remove(m_folder->database()));
    QVERIFY(QFile::copy(fresh, m_folder->database()));
    m_connection->Open();
    QVERIFY(m_connection->Connected());
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"

#include "datasetsupport.h"

#include "data/connectionstring.h"
#include "data/idloader.h"

#include <QtTest>

#include <sqlite3.h>

#include <chrono>
#include <thread>

void fillCards(const QString& file, int count) {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "insert into zl(姓名, 单位) values (?, ?)", -1, &st, nullptr);
    for (int i = 0; i < count; ++i) {
        const QByteArray name = "N" + QByteArray::number(i);
        const QByteArray unit = "U" + QByteArray::number(i % 10);
        sqlite3_bind_text(st, 1, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, unit.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    QCOMPARE(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

QStringList names(const QString& file) {
    return TestSupport::query(file, "select 姓名 from zl order by ID");
}
LoaderGate::LoaderGate() {
    IdLoader::setBeforeTheRestForTesting([this](const std::atomic<bool>& stop) {
        ++m_held;
        while (!m_open && !stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (m_onPass && !stop)
            m_onPass();
    });
}

LoaderGate::~LoaderGate() {
    IdLoader::setBeforeTheRestForTesting({});
}

void DataSetFixture::setUp() {
    m_folder = std::make_unique<TestSupport::ProgramFolder>(QStringLiteral("pw"));
    m_connection = std::make_unique<TADOConnection>();
    m_connection->ConnectionString = QString::fromUtf8(kStoredConnectionString);
    m_connection->Open();
    m_q1 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
    m_q1->setConnection(m_connection.get());
    m_q1->SQL.Add("select *");
    m_q1->SQL.Add("from zl");
    m_q2 = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery2"));
    m_q2->setConnection(m_connection.get());
    m_q2->SQL.Add("select *");
    m_q2->SQL.Add("from yh");
}

void DataSetFixture::tearDown() {
    if (m_gate)
        m_gate->open();
    m_q1.reset();
    m_q2.reset();
    m_connection.reset();
    m_gate.reset();
    m_folder.reset();
}

TADOQuery* DataSetFixture::openCards(const QString& statement) {
    if (!statement.isEmpty()) {
        m_q1->SQL.Clear();
        m_q1->SQL.Add(statement);
    }
    m_q1->Open();
    return m_q1.get();
}

TADOQuery& DataSetFixture::openHeld() {
    if (!m_gate)
        m_gate = std::make_unique<LoaderGate>();
    m_gate->close();
    m_q1->Close();
    TADOQuery& q = *openCards();
    [&] { QVERIFY(q.Loading()); }();
    return q;
}

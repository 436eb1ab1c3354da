#pragma once

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/dberror.h"
#include "testsupport.h"

#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

/// The message of the database error f throws, or "<no error>".
template <class F> QString errorOf(F f) {
    try {
        f();
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

/// Fast bulk rows through one transaction: 姓名 is "N<i>", 单位 is "U<i % 10>".
void fillCards(const QString& file, int count);

/// 姓名 of every card, in ID order.
QStringList names(const QString& file);

/// Holds every reader of row identities after its first rows until let through, so that a
/// test sees a dataset whose rest of rows is still to come.
class LoaderGate {
public:
    LoaderGate();
    ~LoaderGate();
    void open() { m_open = true; }
    void close() { m_open = false; }
    int held() const { return m_held; }
    /// Runs on the reader's thread as it passes, before it reads on.
    void setOnPass(std::function<void()> f) { m_onPass = std::move(f); }

private:
    std::atomic<bool> m_open{false};
    std::atomic<int> m_held{0};
    std::function<void()> m_onPass;
};

/// A fresh program folder with the connection open and two queries set up as the main
/// window has them: ADOQuery1 over the cards, ADOQuery2 over the users.
class DataSetFixture {
protected:
    void setUp();
    void tearDown();

    TADOQuery* openCards(const QString& statement = QString());
    /// Opens the cards with the rest of their rows held back; the gate stays closed.
    TADOQuery& openHeld();

    std::unique_ptr<TestSupport::ProgramFolder> m_folder;
    std::unique_ptr<TADOConnection> m_connection;
    std::unique_ptr<TADOQuery> m_q1;
    std::unique_ptr<TADOQuery> m_q2;
    std::unique_ptr<LoaderGate> m_gate;
};

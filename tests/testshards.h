#pragma once

#include <QtTest/qtest.h>

class QObject;

namespace TestSupport {

/// Runs the test's functions as QTest::qExec does. With QUEMBE_TEST_SHARD="K/N" in the
/// environment and no function named on the command line, it runs only every N-th function
/// from the K-th: one long suite then runs as N processes side by side. Each share still runs
/// the case-wide set-up and clean-up.
int runTestShard(QObject* test, int argc, char** argv);

/// The test functions of a test object, in declaration order, as Qt Test finds them.
QStringList testFunctions(const QObject* test);
/// The functions shard K of N runs (1 <= K <= N): every N-th from the K-th.
QStringList shardOf(const QStringList& functions, int shard, int shards);

} // namespace TestSupport

/// QTEST_MAIN for a suite that ctest runs in shards; App is the application class it needs.
#define QUEMBE_TEST_SHARDED_MAIN(TestObject, App)                                                  \
    int main(int argc, char* argv[]) {                                                             \
        QTEST_QAPP_SETUP(App)                                                                      \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return TestSupport::runTestShard(&tc, argc, argv);                                         \
    }

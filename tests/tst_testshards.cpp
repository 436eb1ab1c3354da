// A suite run in shards must still run every function once: a function left out of every
// shard would pass unnoticed.
#include "testshards.h"

#include <QSet>
#include <QTest>

namespace {

class Sample : public QObject {
    Q_OBJECT
public:
    void helper() {}

private slots:
    void initTestCase() {}
    void first_data() {}
    void first() {}
    void second() {}
    void init() {}
    void cleanup() {}
    void third() {}
    void cleanupTestCase() {}
    void withArgument(int) {}

protected slots:
    void notATest() {}
};

} // namespace

class TestTestShards : public QObject {
    Q_OBJECT

private slots:
    void functionsAsQtTestFindsThem() {
        Sample sample;
        QCOMPARE(TestSupport::testFunctions(&sample), (QStringList{"first", "second", "third"}));
    }

    void everyFunctionInExactlyOneShard() {
        QStringList functions;
        for (int i = 0; i < 11; ++i)
            functions << QStringLiteral("f%1").arg(i);
        for (int shards = 1; shards <= 13; ++shards) {
            QStringList seen;
            for (int shard = 1; shard <= shards; ++shard) {
                const QStringList mine = TestSupport::shardOf(functions, shard, shards);
                // Shards differ in size by one function at most.
                QVERIFY(qAbs(mine.size() - functions.size() / shards) <= 1);
                seen += mine;
            }
            seen.sort();
            QStringList all = functions;
            all.sort();
            QCOMPARE(seen, all);
        }
        QVERIFY(TestSupport::shardOf(functions, 0, 2).isEmpty());
        QVERIFY(TestSupport::shardOf(functions, 1, 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTestShards)
#include "tst_testshards.moc"

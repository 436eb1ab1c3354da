// A suite run in parts must still run every function once: a function left out of every
// part would pass unnoticed.
#include "testparts.h"

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

class TestTestParts : public QObject {
    Q_OBJECT

private slots:
    void functionsAsQtTestFindsThem() {
        Sample sample;
        QCOMPARE(TestSupport::testFunctions(&sample), (QStringList{"first", "second", "third"}));
    }

    void everyFunctionInExactlyOnePart() {
        QStringList functions;
        for (int i = 0; i < 11; ++i)
            functions << QStringLiteral("f%1").arg(i);
        for (int parts = 1; parts <= 13; ++parts) {
            QStringList seen;
            for (int part = 1; part <= parts; ++part) {
                const QStringList mine = TestSupport::partOf(functions, part, parts);
                // Parts differ in size by one function at most.
                QVERIFY(qAbs(mine.size() - functions.size() / parts) <= 1);
                seen += mine;
            }
            seen.sort();
            QStringList all = functions;
            all.sort();
            QCOMPARE(seen, all);
        }
        QVERIFY(TestSupport::partOf(functions, 0, 2).isEmpty());
        QVERIFY(TestSupport::partOf(functions, 1, 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTestParts)
#include "tst_testparts.moc"

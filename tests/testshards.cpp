#include "testshards.h"

#include <QMetaMethod>
#include <QObject>

#include <cstdio>

namespace TestSupport {

QStringList testFunctions(const QObject* test) {
    static const QStringList setUp{"initTestCase", "cleanupTestCase", "init", "cleanup"};
    QStringList names;
    const QMetaObject* meta = test->metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        // What Qt Test takes for a test function: a private slot without arguments.
        if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private ||
            method.parameterCount() != 0 || method.returnType() != QMetaType::Void)
            continue;
        const QString name = QString::fromLatin1(method.name());
        if (!setUp.contains(name) && !name.endsWith(QLatin1String("_data")))
            names << name;
    }
    return names;
}

QStringList shardOf(const QStringList& functions, int shard, int shards) {
    QStringList mine;
    for (int i = shard - 1; i >= 0 && shards > 0 && i < functions.size(); i += shards)
        mine << functions.at(i);
    return mine;
}

int runTestShard(QObject* test, int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString shard = qEnvironmentVariable("QUEMBE_TEST_SHARD");
    if (shard.isEmpty() || argc > 1)
        return QTest::qExec(test, arguments);

    const QStringList kn = shard.split(QLatin1Char('/'));
    bool knownShard = false, knownCount = false;
    const int k = kn.value(0).toInt(&knownShard);
    const int n = kn.value(1).toInt(&knownCount);
    if (kn.size() != 2 || !knownShard || !knownCount || n < 1 || k < 1 || k > n) {
        std::fprintf(stderr, "QUEMBE_TEST_SHARD must be K/N with 1 <= K <= N, not \"%s\"\n",
                     qPrintable(shard));
        return 2;
    }
    const QStringList mine = shardOf(testFunctions(test), k, n);
    // Without names Qt Test would run every function, which is another shard's work.
    if (mine.isEmpty()) {
        std::fprintf(stderr, "shard %d of %d holds no test function\n", k, n);
        return 0;
    }
    return QTest::qExec(test, arguments + mine);
}

} // namespace TestSupport

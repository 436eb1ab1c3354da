#include "testparts.h"

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

QStringList partOf(const QStringList& functions, int part, int parts) {
    QStringList mine;
    for (int i = part - 1; i >= 0 && parts > 0 && i < functions.size(); i += parts)
        mine << functions.at(i);
    return mine;
}

int runTestPart(QObject* test, int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString part = qEnvironmentVariable("QUEMBE_TEST_PART");
    if (part.isEmpty() || argc > 1)
        return QTest::qExec(test, arguments);

    const QStringList kn = part.split(QLatin1Char('/'));
    bool knownPart = false, knownCount = false;
    const int k = kn.value(0).toInt(&knownPart);
    const int n = kn.value(1).toInt(&knownCount);
    if (kn.size() != 2 || !knownPart || !knownCount || n < 1 || k < 1 || k > n) {
        std::fprintf(stderr, "QUEMBE_TEST_PART must be K/N with 1 <= K <= N, not \"%s\"\n",
                     qPrintable(part));
        return 2;
    }
    const QStringList mine = partOf(testFunctions(test), k, n);
    // Without names Qt Test would run every function, which is another part's work.
    if (mine.isEmpty()) {
        std::fprintf(stderr, "part %d of %d holds no test function\n", k, n);
        return 0;
    }
    return QTest::qExec(test, arguments + mine);
}

} // namespace TestSupport

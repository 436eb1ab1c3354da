#include "module.h"

#include "error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

namespace Core {

void* moduleFunction(const char* file, const char* symbol, const char* installed,
                     const char* built) {
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        candidates << dir + QLatin1Char('/') + QLatin1String(file)
                   << dir + QStringLiteral("/../") + QLatin1String(installed) + QLatin1Char('/') +
                          QLatin1String(file);
    }
    candidates << QString::fromUtf8(built);
    QString found;
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            found = QDir::cleanPath(candidate);
            break;
        }
    }
    if (found.isEmpty())
        throw EError(
            QStringLiteral("找不到本程序的模块 %1，请重新安装本程序。").arg(QLatin1String(file)));
    QLibrary library(found);
    // What it links is not made to be unloaded; once in, it stays.
    library.setLoadHints(QLibrary::PreventUnloadHint);
    void* function = reinterpret_cast<void*>(library.resolve(symbol));
    if (!function)
        throw EError(QStringLiteral("无法载入本程序的模块“%1”，请重新安装本程序。\n(%2)")
                         .arg(QDir::toNativeSeparators(found), library.errorString()));
    return function;
}

} // namespace Core

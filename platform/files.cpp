#include "files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Platform {

namespace {
QString g_folderOverride;

QString withSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}
} // namespace

QString programFolder()
{
    if (!g_folderOverride.isEmpty())
        return withSeparator(g_folderOverride);
    return withSeparator(QCoreApplication::applicationDirPath());
}

void setProgramFolderForTesting(const QString& folder) { g_folderOverride = folder; }

bool fileExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool deleteFile(const QString& path) { return QFile::remove(path); }

bool copyFile(const QString& source, const QString& target, bool failIfExists)
{
    if (QFileInfo::exists(target)) {
        if (failIfExists || !QFile::remove(target))
            return false;
    }
    return QFile::copy(source, target);
}

} // namespace Platform

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

#include <QSaveFile>

namespace Platform {

bool copyFileReplacing(const QString& source, const QString& target, QString* reason)
{
    auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    QFile in(source);
    if (!QFileInfo(source).isFile() || !in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    if (QFileInfo(target).isDir())
        return fail(QStringLiteral("%1: is a folder").arg(QDir::toNativeSeparators(target)));
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), out.errorString()));
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            const QString why = out.errorString();
            out.cancelWriting();
            return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), why));
        }
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(source), in.errorString()));
    }
    if (!out.commit())
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(target), out.errorString()));
    return true;
}

} // namespace Platform

#include "files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {

QString g_folderOverride;

// The database the stored connection settings name; its presence marks a portable copy.
const char kDatabaseFileName[] = "velmora.mdb";

QString withSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool failed(QString* reason, const QString& path, const QString& why) {
    if (reason)
        *reason = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
    return false;
}

#ifdef Q_OS_UNIX
QString systemError() {
    return QString::fromLocal8Bit(strerror(errno));
}
#endif

// The new name only survives a power cut once the folder that holds it is on disk as well.
void syncFolderOf(const QString& file) {
#ifdef Q_OS_UNIX
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(file);
#endif
}

} // namespace

bool programFolderIsUserData() {
    if (!g_folderOverride.isEmpty())
        return false;
    const QString own = withSeparator(QCoreApplication::applicationDirPath());
    return !QFileInfo::exists(own + QLatin1String(kDatabaseFileName));
}

QString programFolder() {
    if (!g_folderOverride.isEmpty())
        return withSeparator(g_folderOverride);
    if (!programFolderIsUserData())
        return withSeparator(QCoreApplication::applicationDirPath());
    // Named for the program, not for whichever of its tools asks.
    return withSeparator(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/quembe"));
}

void setProgramFolderForTesting(const QString& folder) {
    g_folderOverride = folder;
}

bool fileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool copyFileReplacing(const QString& source, const QString& target, QString* reason) {
    const QFileInfo info(source);
    if (!info.exists())
        return failed(reason, source, QStringLiteral("the file does not exist"));
    if (!info.isFile())
        return failed(reason, source, QStringLiteral("not a file"));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return failed(reason, source, in.errorString());
    return copyFileReplacing(in, target, reason);
}

bool copyFileReplacing(QFile& in, const QString& target, QString* reason) {
    if (QFileInfo(target).isDir())
        return failed(reason, target, QStringLiteral("a folder has that name"));
    // QSaveFile writes beside the target and renames over it on commit; without the
    // fallback it never writes into the target itself.
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return failed(reason, target, out.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            const QString why = out.errorString();
            out.cancelWriting();
            return failed(reason, target, why);
        }
    }
    if (in.error() != QFileDevice::NoError) {
        out.cancelWriting();
        return failed(reason, in.fileName(), in.errorString());
    }
    if (!out.flush()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return failed(reason, target, why);
    }
#ifdef Q_OS_UNIX
    // A full disk may only show when the data is forced out; it must show before the rename.
    if (::fsync(out.handle()) != 0) {
        const QString why = systemError();
        out.cancelWriting();
        return failed(reason, target, why);
    }
#endif
    if (!out.commit())
        return failed(reason, target, out.errorString());
    syncFolderOf(target);
    return true;
}

} // namespace Platform

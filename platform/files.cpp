#include "files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {

QString g_folderOverride;
QString g_locationOverride;

// The database the stored connection settings name; its presence marks a portable copy.
const char kDatabaseFileName[] = "velmora.mdb";
// What an installation puts beside bin/: the launcher of the program.
const char kInstalledLauncher[] = "/../share/applications/example.qel.quembe.desktop";
// Where packages and system-wide installations put programs.
const char* const kSystemPrefixes[] = {"/usr/", "/opt/", "/app/", "/snap/", "/nix/store/"};

QString withSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

bool failed(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

QString systemText(int error) {
    return QString::fromLocal8Bit(strerror(error));
}

QString named(const QString& path) {
    return QStringLiteral("：\n%1\n").arg(QDir::toNativeSeparators(path));
}

#ifdef Q_OS_UNIX
// The new name only survives a power cut once the folder that holds it is on disk as well.
void syncFolderOf(const QString& file) {
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}
#endif

} // namespace

bool isInstalledFolder(const QString& folder) {
    const QString own = withSeparator(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    for (const char* prefix : kSystemPrefixes) {
        if (own.startsWith(QLatin1String(prefix)))
            return true;
    }
    if (QFileInfo::exists(own + QLatin1String(kInstalledLauncher)))
        return true;
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(own).constData(), W_OK) != 0;
#else
    return !QFileInfo(own).isWritable();
#endif
}

bool programFolderIsUserData() {
    if (!g_folderOverride.isEmpty())
        return false;
    const QString location =
        g_locationOverride.isEmpty() ? QCoreApplication::applicationDirPath() : g_locationOverride;
    // A database beside the program always wins; without one, only an installed program
    // keeps its cards in the user's folder. A portable copy that lost its database must
    // say so rather than quietly start over with an empty one elsewhere.
    if (QFileInfo::exists(withSeparator(location) + QLatin1String(kDatabaseFileName)))
        return false;
    return isInstalledFolder(location);
}

QString programFolder() {
    if (!g_folderOverride.isEmpty())
        return withSeparator(g_folderOverride);
    if (!programFolderIsUserData())
        return withSeparator(g_locationOverride.isEmpty() ? QCoreApplication::applicationDirPath()
                                                          : g_locationOverride);
    // Named for the program, not for whichever of its tools asks.
    return withSeparator(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/quembe"));
}

void setProgramFolderForTesting(const QString& folder) {
    g_folderOverride = folder;
}

void setProgramLocationForTesting(const QString& folder) {
    g_locationOverride = folder;
}

bool fileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

bool isSymLink(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
#else
    return QFileInfo(path).isSymLink();
#endif
}

bool isNoRoom(int error) {
    return error == ENOSPC || error == EFBIG
#ifdef EDQUOT
           || error == EDQUOT
#endif
        ;
}

QString fileErrorText(int error, const QString& path, bool writing) {
    QString text;
    if (isNoRoom(error))
        text =
            QStringLiteral("磁盘空间不足，无法写入文件%1请删除不需要的文件、释放磁盘空间后重试。")
                .arg(named(path));
    else if (error == EACCES || error == EPERM || error == EROFS)
        text = writing
                   ? QStringLiteral("没有写入权限，无法写入文件%1"
                                    "请检查这个文件和它所在文件夹的写入权限后重试。")
                         .arg(named(path))
                   : QStringLiteral("没有读取权限，无法读取文件%1请检查这个文件的读取权限后重试。")
                         .arg(named(path));
    else if (error == ENOENT)
        text = QStringLiteral("找不到文件%1请确认它还在原来的位置。").arg(named(path));
    else if (error == ELOOP)
        text = QStringLiteral("这是一个符号链接，本程序不通过链接读写文件%1"
                              "请把真正的文件放到这个位置后重试。")
                   .arg(named(path));
    else if (error == EISDIR)
        text = QStringLiteral("这个名字被一个文件夹占用了%1请把这个文件夹改名或移走后重试。")
                   .arg(named(path));
    else
        text = (writing ? QStringLiteral("写入文件时发生磁盘错误%1请检查磁盘后重试。")
                        : QStringLiteral("读取文件时发生磁盘错误%1请检查磁盘后重试。"))
                   .arg(named(path));
    return text + QStringLiteral("(") + systemText(error) + QLatin1Char(')');
}

bool openWithoutLinks(QFile& file, const QString& path, QString* reason) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failed(reason, fileErrorText(errno, path, false));
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        return failed(reason, fileErrorText(error ? error : EINVAL, path, false));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return failed(reason, fileErrorText(EIO, path, false));
    }
    return true;
#else
    if (QFileInfo(path).isSymLink())
        return failed(reason, fileErrorText(ELOOP, path, false));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(reason, fileErrorText(EACCES, path, false));
    return true;
#endif
}

bool copyFileReplacing(const QString& source, const QString& target, QString* reason,
                       bool* noRoom) {
    QFile in;
    if (!openWithoutLinks(in, source, reason))
        return false;
    return copyFileReplacing(in, target, reason, noRoom);
}

bool copyFileReplacing(QFile& in, const QString& target, QString* reason, bool* noRoom) {
    if (noRoom)
        *noRoom = false;
    if (QFileInfo(target).isDir() && !isSymLink(target))
        return failed(reason, fileErrorText(EISDIR, target, true));
#ifdef Q_OS_UNIX
    // Written beside the target under a name of its own, then renamed over it: the rename
    // replaces whatever has the target's name, a symbolic link included, and never what
    // such a link points to.
    QByteArray temp = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return failed(reason, fileErrorText(errno, target, true));
    auto fail = [&](int error, const QString& path, bool writing) {
        ::close(fd);
        ::unlink(temp.constData());
        if (noRoom)
            *noRoom = isNoRoom(error);
        return failed(reason, fileErrorText(error, path, writing));
    };
    // The permissions of the file replaced, or those a new file gets.
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    mode_t mode = 0666 & ~mask;
    struct stat old;
    if (::lstat(QFile::encodeName(target).constData(), &old) == 0 && S_ISREG(old.st_mode))
        mode = old.st_mode & 07777;
    ::fchmod(fd, mode);
    QByteArray chunk;
    while (true) {
        chunk = in.read(1 << 20);
        if (chunk.isEmpty())
            break;
        if (!writeAll(fd, chunk.constData(), chunk.size()))
            return fail(errno, target, true);
    }
    if (in.error() != QFileDevice::NoError)
        return fail(EIO, in.fileName(), false);
    // A full disk may only show when the data is forced out; it must show before the rename.
    if (::fsync(fd) != 0)
        return fail(errno, target, true);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        if (noRoom)
            *noRoom = isNoRoom(error);
        return failed(reason, fileErrorText(error, target, true));
    }
    if (::rename(temp.constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        ::unlink(temp.constData());
        return failed(reason, fileErrorText(error, target, true));
    }
    syncFolderOf(target);
    return true;
#else
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly))
        return failed(reason, fileErrorText(EACCES, target, true) + out.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size()) {
            const QString why = out.errorString();
            out.cancelWriting();
            return failed(reason, fileErrorText(EIO, target, true) + why);
        }
    }
    if (!out.commit())
        return failed(reason, fileErrorText(EIO, target, true) + out.errorString());
    return true;
#endif
}

} // namespace Platform

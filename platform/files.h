#pragma once

#include <QString>

class QFile;

namespace Platform {

/// Where the database and its backup live, ending with a path separator: the user's data
/// folder for an installed program without a database beside it, otherwise the folder of
/// the program file (a portable copy, whose missing database is an error to report).
QString programFolder();
/// Whether programFolder() is the user's data folder rather than the program's own.
bool programFolderIsUserData();
/// Whether a program file lying in `folder` is installed: under a system prefix, in an
/// installation tree (bin/ beside share/applications/ with our launcher), or in a folder
/// the user cannot write to.
bool isInstalledFolder(const QString& folder);
/// Test seam: makes programFolder() answer `folder` (empty restores the real one).
void setProgramFolderForTesting(const QString& folder);
/// Test seam: takes `folder` for the program file's own (empty restores the real one).
void setProgramLocationForTesting(const QString& folder);

bool fileExists(const QString& path);
/// Whether `path` itself is a symbolic link (the link is not followed).
bool isSymLink(const QString& path);

/// Whether a system error code means that there is no room left: a full disk, a quota or a
/// file size limit.
bool isNoRoom(int error);
/// What went wrong with `path`, in words a user can act on, with the system's text last.
QString fileErrorText(int error, const QString& path, bool writing);

/// Opens `path` for reading; a symbolic link is refused, not followed.
bool openWithoutLinks(QFile& file, const QString& path, QString* reason);

/// Replaces `target` with a copy of `source`: the copy goes to a temporary file beside the
/// target, is flushed to disk, and only then renamed over it. A symbolic link named `target`
/// is itself replaced; the file it points to is never written. On failure the target is as
/// it was, no temporary file is left, `reason` says why and `noRoom` tells whether for want
/// of room.
bool copyFileReplacing(const QString& source, const QString& target, QString* reason,
                       bool* noRoom = nullptr);
/// The same from a file already open for reading, which is left open.
bool copyFileReplacing(QFile& source, const QString& target, QString* reason,
                       bool* noRoom = nullptr);

} // namespace Platform

#pragma once

#include <QString>

class QFile;

namespace Platform {

/// Where the database and its backup live, ending with a path separator: the folder of the
/// program file when the database is there (a copy run from its own folder), otherwise
/// the user's data folder (an installed program, whose folder the user cannot write to).
QString programFolder();
/// Whether programFolder() is the user's data folder rather than the program's own.
bool programFolderIsUserData();
/// Test seam: makes programFolder() answer `folder` (empty restores the real one).
void setProgramFolderForTesting(const QString& folder);

bool fileExists(const QString& path);

/// Replaces `target` with a copy of `source`: the copy goes to a temporary file beside the
/// target, is flushed to disk, and only then renamed over it. On failure the target is as
/// it was, no temporary file is left, and `reason` says why.
bool copyFileReplacing(const QString& source, const QString& target, QString* reason);
/// The same from a file already open for reading, which is left open.
bool copyFileReplacing(QFile& source, const QString& target, QString* reason);

} // namespace Platform

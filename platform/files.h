#pragma once

#include <QString>

class QFile;

namespace Platform {

/// The folder of the program file, ending with a path separator.
QString programFolder();
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

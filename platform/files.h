#pragma once

#include <QString>

namespace Platform {

/// The folder of the program file, ending with a path separator.
QString programFolder();
/// Test seam: makes programFolder() answer `folder` (empty restores the real one).
void setProgramFolderForTesting(const QString& folder);

bool fileExists(const QString& path);
bool deleteFile(const QString& path);
/// Copies a file; with `failIfExists` an existing target makes the copy fail.
bool copyFile(const QString& source, const QString& target, bool failIfExists);

} // namespace Platform

#pragma once

#include <QString>

/// Whether `file` is a database the connection settings can open: the right database
/// password, tables zl and yh, and a clean integrity check. Opens it read-only.
bool isRestorableBackup(const QString& file, const QString& connectionString,
                        QString* reason = nullptr);

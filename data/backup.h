#pragma once

#include <QString>

/// Whether `file` is a database the connection settings can open: the right database
/// password, tables zl and yh, and a clean integrity check. Opens it read-only.
bool isRestorableBackup(const QString& file, const QString& connectionString,
                        QString* reason = nullptr);

/// Replaces `backup` with a byte copy of `database`, keeping other programs from writing
/// to the database meanwhile. On failure the old backup is whole and `reason` says why.
bool backupDatabase(const QString& database, const QString& backup, QString* reason);

/// Replaces `database` with a byte copy of `backup`, which stays. Refused while another
/// program uses the database; a journal left beside it is removed first. On failure the
/// database is as it was and `reason` says why.
bool restoreDatabase(const QString& backup, const QString& database, QString* reason);

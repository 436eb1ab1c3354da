#pragma once

#include <QString>

#include <functional>

class TADOConnection;
class TADOQuery;

/// Whether `file` is a database the connection settings can open: a file of its own (no
/// symbolic link), exactly as long as its header says, holding exactly the objects this
/// program makes, the right database password, and a clean integrity check. Opens it
/// read-only; nothing in it is run. `reason` says in words for the user why not.
bool isRestorableBackup(const QString& file, const QString& connectionString,
                        QString* reason = nullptr);

/// Replaces `backup` with a byte copy of `database`, keeping other programs from writing
/// to the database meanwhile. `beforeCopy` runs once the database is held and the copy
/// goes ahead: a backup refused before that changes nothing. A symbolic link named `backup`
/// is replaced itself, never what it points to. On failure the old backup is whole and
/// `reason` says why.
bool backupDatabase(const QString& database, const QString& backup, QString* reason,
                    const std::function<void()>& beforeCopy = {});

/// Replaces `database` with a byte copy of `backup`, which stays and is never read through
/// a symbolic link. Refused while another program uses the database; `beforeCopy` runs once
/// it is held for the replacement. A journal left beside it is removed first. On failure
/// the database is as it was and `reason` says why.
bool restoreDatabase(const QString& backup, const QString& database, QString* reason,
                     const std::function<void()>& beforeCopy = {});

/// Opens the connection and the card list again after a backup or restore; when that
/// fails, raises an error that says the list is closed, why, and how to open it again.
void reopenCardList(TADOConnection* connection, TADOQuery* cards);

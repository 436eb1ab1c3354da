#pragma once

#include <QString>

/// The stored form of a user password: an Argon2id hash of its exact text.
QString hashPassword(const QString& password);

/// Whether `typed` is the stored password; a stored value that is no hash (an older
/// database) is compared byte for byte.
bool passwordMatches(const QString& stored, const QString& typed);

#pragma once

#include <QStringList>

/// The side table of the duplicate finder, kept here alone so that the schema check of the
/// data library knows it without linking the finder.
namespace Duplicates {

/// One row per identifying key of a card: its kind as the key's first letter ("p" a phone,
/// "m" a mobile, "e" an e-mail, "n" a name with its company), so that one index finds them
/// all. The rows go in card order; the indexes sort them.
inline QStringList schemaStatements() {
    return {
        QStringLiteral("CREATE TABLE \"dup_keys\" (\"ID\" INTEGER NOT NULL, \"key\" TEXT NOT "
                       "NULL)"),
        QStringLiteral("CREATE INDEX \"dup_keys_key\" ON \"dup_keys\" (\"key\", \"ID\")"),
        QStringLiteral("CREATE INDEX \"dup_keys_ID\" ON \"dup_keys\" (\"ID\")"),
    };
}

} // namespace Duplicates

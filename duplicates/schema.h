#pragma once

#include "data/schema.h"

#include <QStringList>

/// The side table of the duplicate finder. Its statements live with the schema, so that the
/// data library's check knows the table without knowing the finder.
namespace Duplicates {

inline QStringList schemaStatements() {
    return Schema::duplicateKeyStatements();
}

} // namespace Duplicates

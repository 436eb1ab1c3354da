#include "follow.h"

#include "keys.h"

#include "data/adoquery.h"
#include "data/history.h"
#include "quickfind/cardindex.h"

namespace Duplicates {

void followRow(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    CardIndex::rowWritten(db, table, id, write);
    followKeys(db, table, id, write);
}

void followKeys(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    if (!CardIndex::isCardTable(table) || !hasKeys(db))
        return;
    if (write == RowWrite::Deleted)
        removeKeys(db, id);
    else
        updateKeys(db, id, History::imageOf(db, id).card);
}

} // namespace Duplicates

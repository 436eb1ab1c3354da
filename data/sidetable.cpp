#include "sidetable.h"

#include "dberror.h"
#include "sqlite.h"

namespace SideTable {

QStringList present(sqlite3* db, const QStringList& names, int* rc) {
    QStringList literals;
    for (const QString& name : names)
        literals << QLatin1Char('\'') + name + QLatin1Char('\'');
    return Sqlite::firstColumn(
        db, "SELECT name FROM sqlite_master WHERE name IN (" + literals.join(',').toUtf8() + ')',
        rc);
}

bool exists(sqlite3* db, const char* name) {
    int rc = SQLITE_OK;
    const QStringList found = present(db, {QString::fromUtf8(name)}, &rc);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    return !found.isEmpty();
}

int addMissing(sqlite3* db, std::initializer_list<Definition> definitions) {
    QStringList names;
    for (const Definition& d : definitions)
        names << QString::fromUtf8(d.name);
    int rc = SQLITE_OK;
    const QStringList found = present(db, names, &rc);
    for (auto d = definitions.begin(); rc == SQLITE_OK && d != definitions.end(); ++d) {
        if (!found.contains(QString::fromUtf8(d->name)))
            rc = Sqlite::exec(db, d->create);
    }
    return rc;
}

} // namespace SideTable

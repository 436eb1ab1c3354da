#include "search.h"

#include "adoconnection.h"
#include "dberror.h"

#include <QSqlDatabase>
#include <QSqlRecord>

QString escapeLikePattern(const QString& keyword) {
    QString escaped;
    escaped.reserve(keyword.size());
    for (const QChar c : keyword) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

SearchStatement buildSearchStatement(TADOConnection* connection, const QString& field,
                                     const QString& keyword) {
    const QSqlRecord columns =
        QSqlDatabase::database(connection->sqlConnectionName(), false).record(QStringLiteral("zl"));
    // Exact names only: the field text never becomes part of the statement unchecked.
    if (columns.indexOf(field) < 0 || columns.fieldName(columns.indexOf(field)) != field)
        throw EDatabaseError(QStringLiteral("Table zl has no column named '%1'").arg(field));
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    SearchStatement statement;
    statement.text = QStringLiteral("Select * From zl Where \"%1\" LIKE ? ESCAPE '\\'").arg(quoted);
    statement.parameters << QVariant(QLatin1Char('%') + escapeLikePattern(keyword) +
                                     QLatin1Char('%'));
    return statement;
}

#include "search.h"

#include "adoconnection.h"
#include "dberror.h"

#include "sqlite.h"

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
    // Like the dataset, the search opens its connection when it needs it.
    connection->Open();
    int rc = SQLITE_OK;
    const QStringList columns = Sqlite::columnsOf(connection->handle(), QStringLiteral("zl"), &rc);
    if (rc != SQLITE_OK)
        throw EDatabaseError(
            Sqlite::errorText(connection->handle(), rc, connection->databaseFile()));
    // Exact names only: the field text never becomes part of the statement unchecked.
    if (!columns.contains(field))
        throw EDatabaseError(QStringLiteral("名片表中没有名为“%1”的字段，无法查询。"
                                            "请从“查询字段”的列表中选择一个字段。\n"
                                            "(Table zl has no column named '%1')")
                                 .arg(field));
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    SearchStatement statement;
    statement.text = QStringLiteral("Select * From zl Where \"%1\" LIKE ? ESCAPE '\\'").arg(quoted);
    statement.parameters << QVariant(QLatin1Char('%') + escapeLikePattern(keyword) +
                                     QLatin1Char('%'));
    return statement;
}

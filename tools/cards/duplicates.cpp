// duplicates: the groups of cards that are one person's, a line each; and merging the certain.
#include "tool.h"

#include "data/adoconnection.h"
#include "duplicates/merge.h"

namespace CardsTool {

int duplicatesCommand(Context& context, QStringList args) {
    bool merge = false;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--merge-all-certain"))
            merge = true;
        else
            throw UsageError{QStringLiteral("duplicates 不认识“%1”。").arg(arg)};
    }
    sqlite3* db = context.connection().handle();
    const QVector<Duplicates::Group> groups =
        merge ? Duplicates::mergeAllCertain(db) : Duplicates::findGroups(db);
    for (const Duplicates::Group& group : groups) {
        QStringList ids;
        for (qint64 id : group.ids)
            ids << QString::number(id);
        context.out << ids.join(QLatin1Char(' ')) << '\n';
    }
    if (merge)
        context.err << QStringLiteral("已合并 %1 组重复名片。").arg(groups.size()) << Qt::endl;
    context.out.flush();
    return 0;
}

} // namespace CardsTool

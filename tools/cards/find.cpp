// find: the cards the quick find lists for a text, by the very same matching.
#include "tool.h"

#include "data/adoconnection.h"
#include "data/sqlite.h"
#include "quickfind/quickfind.h"

#include <QHash>

namespace CardsTool {

namespace {

const int kChunk = 500;

} // namespace

int findCommand(Context& context, QStringList args) {
    if (args.isEmpty())
        throw UsageError{QStringLiteral("find 需要一段要查找的文字。")};
    const QString text = args.join(QLatin1Char(' '));
    TADOConnection& connection = context.connection();
    sqlite3* db = connection.handle();
    QVector<qint64> ids;
    if (sqlite3_db_readonly(db, "main") == 1) {
        // A file we may only read keeps its index as it is: used while it knows every card,
        // else every card is read.
        ids = QuickFind::isCurrent(db) ? QuickFind::find(db, text) : QuickFind::scan(db, text);
    } else {
        QuickFind::ensureReady(db, [&context, told = false](qint64, qint64) mutable {
            if (!told)
                context.err << QStringLiteral("正在为快速查找整理名片，只需一次……") << Qt::endl;
            told = true;
            return true;
        });
        ids = QuickFind::find(db, text);
    }
    ids = QuickFind::nameMatchesFirst(db, text, ids);
    // ID and name, a line each, in the list's order.
    for (int first = 0; first < ids.size(); first += kChunk) {
        const QVector<qint64> chunk = ids.mid(first, kChunk);
        QStringList list;
        for (qint64 id : chunk)
            list << QString::number(id);
        Sqlite::Statement st(
            db,
            QStringLiteral("SELECT \"ID\", \"姓名\" FROM \"zl\" WHERE \"ID\" IN (%1)")
                .arg(list.join(QLatin1Char(',')))
                .toUtf8(),
            connection.database().failure());
        QHash<qint64, QString> names;
        while (st.next())
            names.insert(st.int64(0), st.text(1).toString());
        for (const qint64 id : chunk) {
            const auto name = names.constFind(id);
            if (name != names.constEnd())
                context.out << id << QLatin1Char('\t') << *name << '\n';
        }
    }
    context.out.flush();
    return 0;
}

} // namespace CardsTool

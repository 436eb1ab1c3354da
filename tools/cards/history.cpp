// history and undo: the operations recorded, newest first, and taking one back.
#include "tool.h"

#include "data/adoconnection.h"
#include "data/history.h"
#include "duplicates/follow.h"

#include <climits>

namespace CardsTool {

namespace {

int number(const QString& option, const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        throw UsageError{
            QStringLiteral("%1 后面要写一个不小于 0 的整数，不是“%2”。").arg(option, text)};
    return value;
}

} // namespace

int historyCommand(Context& context, QStringList args) {
    History::Limits limits;
    bool setLimits = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg != QLatin1String("--keep-days") && arg != QLatin1String("--keep-count"))
            throw UsageError{QStringLiteral("history 不认识“%1”。").arg(arg)};
        if (i + 1 >= args.size())
            throw UsageError{QStringLiteral("%1 后面要写一个数。").arg(arg)};
        if (!setLimits)
            limits = History::limits(context.connection().handle());
        setLimits = true;
        (arg == QLatin1String("--keep-days") ? limits.days : limits.count) =
            number(arg, args.at(++i));
    }
    TADOConnection& connection = context.connection();
    sqlite3* db = connection.handle();
    if (setLimits)
        History::setLimits(db, connection.databaseFile(), limits);
    for (const History::Entry& entry : History::recent(db, INT_MAX)) {
        context.out << entry.number << '\t'
                    << entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << '\t'
                    << entry.description << '\n';
    }
    context.out.flush();
    return 0;
}

int undoCommand(Context& context, QStringList args) {
    if (args.size() != 1)
        throw UsageError{QStringLiteral("undo 需要一个操作编号（history 列出的第一列）。")};
    bool ok = false;
    const qint64 operation = args.first().toLongLong(&ok);
    if (!ok || operation <= 0)
        throw UsageError{QStringLiteral("“%1”不是操作编号。").arg(args.first())};
    TADOConnection& connection = context.connection();
    const qint64 done = History::undo(connection.handle(), connection.databaseFile(), operation,
                                      Duplicates::followRow);
    context.err << QStringLiteral("已撤销操作 %1（记为操作 %2）。").arg(operation).arg(done)
                << Qt::endl;
    return 0;
}

} // namespace CardsTool

// import and export: cards from and to vCard and CSV files.
#include "tool.h"

#include "data/adoconnection.h"
#include "data/search.h"
#include "duplicates/keys.h"
#include "exchange/transfer.h"
#include "quickfind/cardindex.h"
#include "recognize/keptpicture.h"

#include <QDir>

namespace CardsTool {

int importCommand(Context& context, QStringList args) {
    if (args.isEmpty())
        throw UsageError{QStringLiteral("import 需要至少一个文件。")};
    for (const QString& arg : qAsConst(args)) {
        if (arg.startsWith(QLatin1String("--")))
            throw UsageError{QStringLiteral("import 不认识选项 %1。").arg(arg)};
    }
    TADOConnection& connection = context.connection();
    Exchange::ImportOptions options = Duplicates::importOptions();
    options.keepPicture = Recognize::keptPictureOf;
    const Exchange::ImportResult result =
        Exchange::importFiles(connection.database(), args, CardIndex::cardsAdded, nullptr, options);
    context.out << Exchange::importSummary(result.ids.size(), result.skipped, INT_MAX,
                                           result.duplicates)
                << Qt::endl;
    return 0;
}

int exportCommand(Context& context, QStringList args) {
    QString formatWord;
    QString column;
    QString keyword;
    QString path;
    bool photos = false;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--format")) {
            if (args.isEmpty())
                throw UsageError{QStringLiteral("--format 后面要写格式。")};
            formatWord = args.takeFirst();
        } else if (arg == QLatin1String("--search")) {
            if (args.size() < 2)
                throw UsageError{QStringLiteral("--search 后面要写字段和关键字。")};
            column = args.takeFirst();
            keyword = args.takeFirst();
        } else if (arg == QLatin1String("--photos")) {
            photos = true;
        } else if (arg.startsWith(QLatin1String("--")) || !path.isEmpty()) {
            throw UsageError{QStringLiteral("export 不认识参数 %1。").arg(arg)};
        } else {
            path = arg;
        }
    }
    Exchange::Format format;
    if (formatWord.isEmpty() || !Exchange::formatFromName(formatWord, &format))
        throw UsageError{QStringLiteral("请用 --format 指定格式：vcard3、vcard21、vcard4、csv 或 "
                                        "csv-gb18030。")};
    if (path.isEmpty())
        throw UsageError{QStringLiteral("export 需要一个输出文件。")};
    if (photos && !Exchange::writesPictures(format))
        throw UsageError{QStringLiteral("--photos（包含名片图片）只能用于 vcard3 和 vcard4。")};

    TADOConnection& connection = context.connection();
    QString statement = QStringLiteral("select * from zl");
    QVariantList parameters;
    if (!column.isEmpty()) {
        const SearchStatement search = buildSearchStatement(&connection, column, keyword);
        statement = search.text;
        parameters = search.parameters;
    }
    const QVector<qint64> ids = Exchange::cardIds(connection.database(), statement, parameters);
    const int written =
        Exchange::exportCards(connection.database(), ids, path, format, nullptr, photos);
    context.out
        << QStringLiteral("已导出 %1 张名片到 %2").arg(written).arg(QDir::toNativeSeparators(path))
        << Qt::endl;
    return 0;
}

} // namespace CardsTool

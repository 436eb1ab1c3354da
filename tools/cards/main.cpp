// quembe-cards: the card commands for scripts, on the program's database or another one.
#include "tool.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/connectionstring.h"

#include <sqlite3.h>

#include <QCoreApplication>

#include <climits>
#include <cstdio>

namespace CardsTool {

namespace {
// How long a command waits for another program's write before it gives up.
constexpr int kBusyTimeoutMs = 10000;
} // namespace

Context::Context(const QString& database, QTextStream& out, QTextStream& err)
    : out(out)
    , err(err)
    , m_database(database) {}

Context::~Context() = default;

TADOConnection& Context::connection() {
    if (!m_connection) {
        m_connection = std::make_unique<TADOConnection>();
        m_connection->ConnectionString = QString::fromUtf8(kStoredConnectionString);
        m_connection->setDatabaseFile(m_database);
        m_connection->Open();
        // A script has nobody to click 重试: it waits longer for another program's write.
        sqlite3_busy_timeout(m_connection->handle(), kBusyTimeoutMs);
    }
    return *m_connection;
}

} // namespace CardsTool

namespace {

const char kUsage[] =
    "用法：quembe-cards [--database 数据库文件] 命令 参数…（--database 也可以写在命令后面）\n"
    "  import 文件…\n"
    "      把 vCard（.vcf）或 CSV 文件里的名片添加到数据库：全部添加，或者一张也不添加。\n"
    "  export --format vcard3|vcard21|vcard4|csv|csv-gb18030|xlsx [--search 字段 关键字] "
    "[--photos] 文件\n"
    "      把全部名片（或“字段”含有“关键字”的名片）写到文件里；加 --photos 时 vCard 3.0 和 4.0\n"
    "      包含名片图片（文件会大很多）。\n"
    "  find 文字\n"
    "      列出快速查找会列出的名片（文字、拼音、首字母或电话号码），每张一行：ID 和姓名。\n"
    "  duplicates [--merge-all-certain]\n"
    "      列出重复的名片，每组一行：各张名片的 ID；加 --merge-all-certain 时合并有把握的各组。\n"
    "  recognize [--add] 图片…\n"
    "      识别名片照片或扫描图，每个字段一行：“字段: 内容”。不使用数据库。\n"
    "      加 --add 时把每张图片识别出的名片连同图片一起添加到数据库（全部添加，或者一张也不\n"
    "      添加），每张名片一行：ID、姓名和图片文件，用制表符隔开。\n"
    "  qr [--mecard] ID 文件\n"
    "      把这张名片写成二维码图片（.png 或 .svg），用手机扫描即可保存联系人。\n"
    "  sync-setup --server 地址 [--user 用户名] [--addressbook 路径] [--trust 指纹] "
    "[--allow-http]\n"
    "      检查与 CardDAV 服务器的连接，把账户记在数据库里（密码不记）。\n"
    "  sync\n"
    "      与服务器上的通讯录同步名片，列出发送和接收了多少。\n"
    "      密码取自环境变量 QUEMBE_SYNC_PASSWORD。\n"
    "  history [--keep-days 天数] [--keep-count 个数]\n"
    "      列出记下的操作，最新的在前，每个一行：编号、时间、说明，用制表符隔开；\n"
    "      写了 --keep-days 或 --keep-count 时先把保留期限缩短到这么多（最多 90 天、100000 个）。\n"
    "  undo 编号\n"
    "      撤销这个操作：它改动的名片全部恢复原样；之后又被改过的不撤销，并说明原因。\n"
    "不写 --database 时使用本程序自己的数据库。";

struct Command {
    const char* name;
    int (*run)(CardsTool::Context&, QStringList);
};

const Command kCommands[] = {
    {"import", CardsTool::importCommand},
    {"export", CardsTool::exportCommand},
    {"find", CardsTool::findCommand},
    {"recognize", CardsTool::recognizeCommand},
    // A card out as a picture to scan with a phone.
    {"qr", CardsTool::qrCommand},
    {"duplicates", CardsTool::duplicatesCommand},
    {"sync-setup", CardsTool::syncSetupCommand},
    {"sync", CardsTool::syncCommand},
    {"history", CardsTool::historyCommand},
    {"undo", CardsTool::undoCommand},
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The same data folder as the program's, whatever this tool's file is called.
    QCoreApplication::setApplicationName(QStringLiteral("quembe"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList args = QCoreApplication::arguments().mid(1);
    QString database;
    // --database before the command or anywhere after it.
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) != QLatin1String("--database"))
            continue;
        if (i + 1 >= args.size() || !database.isEmpty()) {
            err << (database.isEmpty() ? QStringLiteral("--database 后面要写数据库文件。\n")
                                       : QStringLiteral("--database 只能写一次。\n"))
                << QString::fromUtf8(kUsage) << Qt::endl;
            return 2;
        }
        database = args.at(i + 1);
        args.remove(i, 2);
        --i;
    }
    if (args.isEmpty() || args.first() == QLatin1String("--help") ||
        args.first() == QLatin1String("-h")) {
        (args.isEmpty() ? err : out) << QString::fromUtf8(kUsage) << Qt::endl;
        return args.isEmpty() ? 2 : 0;
    }
    const QString name = args.takeFirst();
    for (const Command& command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        CardsTool::Context context(database, out, err);
        try {
            return command.run(context, args);
        } catch (const CardsTool::UsageError& e) {
            err << e.message << QLatin1Char('\n') << QString::fromUtf8(kUsage) << Qt::endl;
            return 2;
        } catch (const EError& e) {
            err << QStringLiteral("quembe-cards：") << e.message() << Qt::endl;
            return 1;
        }
    }
    err << QStringLiteral("没有这个命令：%1\n").arg(name) << QString::fromUtf8(kUsage) << Qt::endl;
    return 2;
}

#include "progress.h"

namespace Core {

QString Progress::text(Phase phase) {
    switch (phase) {
    case Phase::Importing:
        return QStringLiteral("正在导入名片……");
    case Phase::Filing:
        return QStringLiteral("正在建立快速查找索引…");
    case Phase::Exporting:
        return QStringLiteral("正在导出名片……");
    case Phase::Indexing:
        return QStringLiteral("正在为快速查找整理名片，只需一次……");
    case Phase::Recognizing:
        return QStringLiteral("正在识别名片……");
    case Phase::SyncChecking:
        return QStringLiteral("正在查看服务器上的变化…");
    case Phase::SyncReceiving:
        return QStringLiteral("正在接收名片…");
    case Phase::SyncSending:
        return QStringLiteral("正在发送名片…");
    }
    return QString();
}

} // namespace Core

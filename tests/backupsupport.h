#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace TestSupport {
class Program;
}

namespace BackupSupport {

// The texts of the backup's and the restore's boxes.
inline const QString kCaption = QStringLiteral("提示");
inline const QString kQuestion = QStringLiteral("确认要还原数据么? ");
inline const QString kBackedUp = QStringLiteral("数据库备份成功!");
inline const QString kDamaged = QStringLiteral("备份数据已损坏,不能还原");

/// The bytes of a file; empty when it cannot be read.
QByteArray bytes(const QString& file);
/// Replaces a file's bytes.
void write(const QString& file, const QByteArray& data);
/// Every entry of a folder, hidden ones too, by name.
QStringList entries(const QString& folder);
/// Adds one card per name through the main window's dataset.
void addCards(const QStringList& cardNames);
/// 张三 backed up through the menu, then 李四 added, the boxes so far forgotten: a restore
/// takes the list back to 张三 alone.
void backedUpThenAdded(TestSupport::Program& program);
/// A database of this program grown past `megabytes` by a card with long notes.
void makeLarge(const QString& file, int megabytes);

} // namespace BackupSupport

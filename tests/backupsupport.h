#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace BackupSupport {

/// The bytes of a file; empty when it cannot be read.
QByteArray bytes(const QString& file);
/// Replaces a file's bytes.
void write(const QString& file, const QByteArray& data);
/// Every entry of a folder, hidden ones too, by name.
QStringList entries(const QString& folder);
/// 姓名 of the cards the main window lists, in its order.
QStringList names();
/// Adds one card per name through the main window's dataset.
void addCards(const QStringList& cardNames);
/// A database of this program grown past `megabytes` by a card with long notes.
void makeLarge(const QString& file, int megabytes);

} // namespace BackupSupport

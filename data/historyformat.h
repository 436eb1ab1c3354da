#pragma once

#include "history.h"

#include <QByteArray>
#include <QVector>

#include <optional>

/// The compact forms the history stores: a card's fields as lengths and bytes, the IDs an
/// operation added as runs.
namespace History::Format {

/// The card of `image` (with its day added and UID when `whole`: a deleted card needs
/// them back, a changed one keeps its own).
QByteArray encodeImage(const Image& image, bool whole);
/// The image encodeImage() made; an empty or damaged one gives a card that did not exist.
Image decodeImage(const QByteArray& bytes);

/// A checksum of a card's fields (an empty and a missing value alike); none for a card that
/// does not exist. Tells whether a card is still as an operation left it.
std::optional<qint32> sum(const Image& image);

/// IDs as runs of consecutive numbers: an import's 100,000 new cards take a few bytes.
QByteArray encodeIds(QVector<qint64> ids);
QVector<qint64> decodeIds(const QByteArray& bytes);

} // namespace History::Format

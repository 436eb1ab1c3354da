#pragma once

#include "core/card.h"
#include "recognize/qrcode.h"

#include <QImage>
#include <QList>
#include <QStringList>

/// What the QR tests share: cards that try every sign the formats escape, and reading the
/// codes we draw back.
namespace QrSupport {

/// A card of the columns given as pairs of column and value.
Card card(const QStringList& columnsAndValues);
/// Every sign the formats escape, in every column a code carries.
Card hardCard();
/// The columns a code of the format carries and the card fills.
QList<int> expectedColumns(const Card& c, Recognize::QrCode::Format format);
/// Fails the test unless the code found gave exactly the card's `columns`.
void compareFields(const Recognize::QrCode::Found& found, const Card& c, const QList<int>& columns);
/// The squares an SVG we wrote paints, drawn again four pixels a module; a null picture when
/// it is not such a file.
QImage paintedSvg(const QByteArray& svg);

} // namespace QrSupport

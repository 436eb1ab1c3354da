#pragma once

#include "recognize/qrtext.h"

#include "core/card.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QStringList>

#include <optional>

/// A card as a QR code to scan with a phone, and the QR code found on a card's picture.
namespace Recognize::QrCode {

using QrText::Format;

/// A card drawn as a QR code.
struct Code {
    int size = 0;        ///< modules a side, without the quiet zone
    QByteArray modules;  ///< size × size, row by row: 1 dark, 0 light
    QByteArray text;     ///< what a scanner reads from it
    QStringList leftOut; ///< the filled columns of the card the code does not carry

    bool dark(int x, int y) const { return modules.at(y * size + x) != 0; }
};

/// The card's code. When the card is too long for one code, columns are left out in
/// QrText::droppingOrder() until it fits; throws EDatabaseError when even its name and
/// mobile do not.
Code make(const Card& card, Format format = Format::VCard);

/// The code black on white, moduleSize pixels a module, with the four-module quiet zone.
QImage image(const Code& code, int moduleSize = 8);
/// image() as a PNG file's bytes.
QByteArray png(const Code& code, int moduleSize = 8);
/// The code as an SVG file's bytes, one path of dark modules on a white square.
QByteArray svg(const Code& code, int moduleSize = 8);

/// What a QR code on a picture gave.
struct Found {
    Card card;          ///< the columns it holds, exactly as encoded
    QList<int> columns; ///< which columns those are, in field-map order
    QByteArray text;    ///< the code's text
};

/// The first QR code on the picture that holds a vCard or MECARD; nothing when none does.
std::optional<Found> find(const QImage& picture);

/// The code's columns as they are, the others from what was read.
Card filledFrom(const Found& code, const Card& read);

} // namespace Recognize::QrCode

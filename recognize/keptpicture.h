#pragma once

#include <QByteArray>

class QImage;

namespace Recognize {

/// The longest side of a picture kept with its card.
constexpr int kKeptPictureSide = 1600;
/// About the size a kept picture is made to fit.
constexpr int kKeptPictureBytes = 150 * 1024;

/// A card's picture as it is kept with the card: at most kKeptPictureSide pixels on its
/// longest side, as JPEG of about kKeptPictureBytes or less; empty for a null picture.
QByteArray keptPicture(const QImage& picture);
/// The same for the bytes of a picture file (PNG, JPEG …); empty when they are no picture.
QByteArray keptPictureOf(const QByteArray& file);

} // namespace Recognize

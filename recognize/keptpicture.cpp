// A card's picture made small enough to keep in the database beside the card.
#include "keptpicture.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

namespace Recognize {

namespace {

QByteArray jpeg(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setOptimizedWrite(true);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace

QByteArray keptPicture(const QImage& picture) {
    if (picture.isNull())
        return QByteArray();
    // JPEG has no transparency: what is see-through lies on white, as on paper.
    QImage image(picture.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, picture);
    }
    if (qMax(image.width(), image.height()) > kKeptPictureSide)
        image = image.scaled(kKeptPictureSide, kKeptPictureSide, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    // Lower quality first, then fewer pixels: a photo full of detail still fits.
    for (;;) {
        QByteArray bytes;
        for (int quality = 85; quality >= 45; quality -= 10) {
            bytes = jpeg(image, quality);
            if (bytes.size() <= kKeptPictureBytes)
                return bytes;
        }
        if (qMax(image.width(), image.height()) < 400)
            return bytes;
        image = image.scaled(image.size() * 0.8, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
}

QByteArray keptPictureOf(const QByteArray& file) {
    return keptPicture(QImage::fromData(file));
}

} // namespace Recognize

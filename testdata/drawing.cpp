// What the drawn card sets share.
#include "drawing.h"

#include <QBuffer>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>

namespace CardImages {

int px(double points) {
    return int(std::lround(points * 300.0 / 72.0));
}

QString joined(const QStringList& parts, const QString& gap) {
    QStringList kept;
    for (const QString& s : parts) {
        if (!s.isEmpty())
            kept << s;
    }
    return kept.join(gap);
}

QImage jpegCopy(const QImage& image, int quality) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    QImage decoded;
    decoded.loadFromData(jpeg, "JPEG");
    return decoded;
}

DrawnSheet::DrawnSheet(int w, int h, QColor paper)
    : image(w, h, QImage::Format_RGB32) {
    image.fill(paper);
    image.setDotsPerMeterX(11811);
    image.setDotsPerMeterY(11811);
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
}

DrawnSheet::~DrawnSheet() {
    if (painter.isActive())
        painter.end();
}

int DrawnSheet::text(int x, int y, const QString& s, QFont f, QColor color, int maxWidth,
                     Qt::Alignment align) {
    if (s.isEmpty())
        return 0;
    int width = QFontMetrics(f).horizontalAdvance(s);
    if (maxWidth > 0 && width > maxWidth) {
        f.setPixelSize(std::max(px(5.5), f.pixelSize() * maxWidth / width));
        width = QFontMetrics(f).horizontalAdvance(s);
    }
    if (align & Qt::AlignRight)
        x -= width;
    else if (align & Qt::AlignHCenter)
        x -= width / 2;
    painter.setFont(f);
    painter.setPen(color);
    painter.drawText(QPoint(x, y), s);
    return width;
}

void DrawnSheet::line(int x1, int y1, int x2, int y2, QColor color, int width) {
    painter.setPen(QPen(color, width));
    painter.drawLine(x1, y1, x2, y2);
}

} // namespace CardImages

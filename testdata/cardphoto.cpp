// A drawn card made to look like a photo of it.
#include "cardimages.h"
#include "dice.h"
#include "drawing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace CardImages {

QImage photoCopy(const QImage& clean, quint32 seed) {
    Dice dice(seed);
    const QImage small = clean.scaled(clean.width() * 6 / 10, clean.height() * 6 / 10,
                                      Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int border = small.width() / 14;
    QImage photo(small.width() + 2 * border, small.height() + 2 * border, QImage::Format_RGB32);
    photo.fill(QColor(150, 144, 136));
    {
        const double degrees = (1.0 + 3.0 * dice.uniform()) * (dice.chance(50) ? 1 : -1);
        QPainter painter(&photo);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(photo.width() / 2.0, photo.height() / 2.0);
        painter.rotate(degrees);
        painter.drawImage(QPointF(-small.width() / 2.0, -small.height() / 2.0), small);
    }

    // Out of focus: a [1 4 6 4 1] kernel across and down.
    const int w = photo.width(), h = photo.height();
    std::vector<int> channel[3];
    for (auto& c : channel)
        c.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(photo.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            channel[0][size_t(y) * w + x] = qRed(row[x]);
            channel[1][size_t(y) * w + x] = qGreen(row[x]);
            channel[2][size_t(y) * w + x] = qBlue(row[x]);
        }
    }
    static const int kernel[5] = {1, 4, 6, 4, 1};
    std::vector<int> tmp(size_t(w) * h);
    for (auto& c : channel) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                for (int k = -2; k <= 2; ++k)
                    sum += kernel[k + 2] * c[size_t(y) * w + std::clamp(x + k, 0, w - 1)];
                tmp[size_t(y) * w + x] = sum;
            }
        }
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int sum = 0;
                for (int k = -2; k <= 2; ++k)
                    sum += kernel[k + 2] * tmp[size_t(std::clamp(y + k, 0, h - 1)) * w + x];
                c[size_t(y) * w + x] = (sum + 128) / 256;
            }
        }
    }
    // Sensor noise.
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double n = 6.0 * dice.gauss();
            auto v = [&](int i) {
                return std::clamp(int(std::lround(channel[i][size_t(y) * w + x] + n)), 0, 255);
            };
            row[x] = qRgb(v(0), v(1), v(2));
        }
    }

    return jpegCopy(photo, 55);
}

} // namespace CardImages

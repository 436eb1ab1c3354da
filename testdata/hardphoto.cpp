// A drawn card as a phone takes it: on a dark desk, turned and in keystone, lit unevenly.
#include "dice.h"
#include "drawing.h"
#include "hardcards.h"

#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace CardImages {

QImage hardShot(const QImage& clean, Shot shot, quint32 seed) {
    if (shot == Shot::Clean)
        return clean;
    Dice dice(seed);
    // The far shot is taken at twice its size and shrunk, as a camera's lens and sensor do.
    const bool far = shot == Shot::Far;
    const int w = far ? 1280 : 1800, h = far ? 960 : 1350;
    const double share = far ? 0.62 + 0.08 * dice.uniform() : 0.66 + 0.12 * dice.uniform();
    QImage photo(w, h, QImage::Format_RGB32);
    const QColor desk(40 + dice.below(30), 30 + dice.below(20), 22 + dice.below(18));
    photo.fill(desk);
    {
        QPainter painter(&photo);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        // The grain of the desk.
        for (int k = 0; k < 60; ++k) {
            painter.setPen(QPen(desk.lighter(105 + dice.below(25)), 1 + dice.below(4)));
            const int y = dice.below(h);
            painter.drawLine(0, y, w, y + dice.below(80) - 40);
        }
        const double cw = w * share, ch = cw * clean.height() / clean.width();
        const double cx = w / 2.0 + (dice.uniform() - 0.5) * (w - cw) * 0.5;
        const double cy = h / 2.0 + (dice.uniform() - 0.5) * (h - ch) * 0.5;
        // Keystone: the far edge narrower, top or one side.
        const double k = 0.03 + 0.06 * dice.uniform();
        QPolygonF quad;
        if (dice.chance(60)) {
            quad << QPointF(-cw / 2 * (1 - k), -ch / 2) << QPointF(cw / 2 * (1 - k), -ch / 2)
                 << QPointF(cw / 2, ch / 2) << QPointF(-cw / 2, ch / 2);
        } else {
            quad << QPointF(-cw / 2, -ch / 2 * (1 - k)) << QPointF(cw / 2, -ch / 2)
                 << QPointF(cw / 2, ch / 2) << QPointF(-cw / 2, ch / 2 * (1 - k));
        }
        const double degrees = (2.0 + 4.0 * dice.uniform()) * (dice.chance(50) ? 1 : -1);
        const QTransform turn = QTransform().translate(cx, cy).rotate(degrees);
        quad = turn.map(quad);
        // A soft shadow under the card.
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 70));
        painter.drawPolygon(quad.translated(w / 150.0, w / 120.0));
        QTransform toQuad;
        const QPolygonF corners = {QPointF(0, 0), QPointF(clean.width(), 0),
                                   QPointF(clean.width(), clean.height()),
                                   QPointF(0, clean.height())};
        if (QTransform::quadToQuad(corners, quad, toQuad)) {
            painter.setTransform(toQuad);
            painter.drawImage(0, 0, clean);
        }
    }

    // The lamp: light falling off across the picture, and a hot spot on the card.
    const double angle = 2 * M_PI * dice.uniform();
    const double dx = std::cos(angle), dy = std::sin(angle);
    const double low = 0.50 + 0.15 * dice.uniform();
    const double spotX = w * (0.3 + 0.4 * dice.uniform()), spotY = h * (0.3 + 0.4 * dice.uniform());
    const double spotRadius = w * (0.08 + 0.06 * dice.uniform());
    const double spotGain = 45 + 30 * dice.uniform();
    const double diagonal = std::hypot(double(w), double(h));
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double along = ((x - w / 2.0) * dx + (y - h / 2.0) * dy) / diagonal + 0.5;
            const double light = 1.05 - (1.05 - low) * std::clamp(along, 0.0, 1.0);
            const double d2 = (x - spotX) * (x - spotX) + (y - spotY) * (y - spotY);
            const double spot = spotGain * std::exp(-d2 / (2 * spotRadius * spotRadius));
            auto lit = [&](int v) { return std::clamp(int(v * light + spot), 0, 255); };
            row[x] = qRgb(lit(qRed(row[x])), lit(qGreen(row[x])), lit(qBlue(row[x])));
        }
    }

    // Out of focus, then the sensor's noise, then the phone's JPEG.
    const double blur = far ? 1.0 : 1.4 + 0.4 * dice.uniform();
    photo =
        photo.scaled(int(w / blur), int(h / blur), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (far)
        photo = photo.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < photo.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const double n = 5.0 * dice.gauss();
            auto noisy = [&](int v) { return std::clamp(int(std::lround(v + n)), 0, 255); };
            row[x] = qRgb(noisy(qRed(row[x])), noisy(qGreen(row[x])), noisy(qBlue(row[x])));
        }
    }
    return jpegCopy(photo, 50);
}

} // namespace CardImages

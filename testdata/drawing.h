#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>

/// What the drawn card sets share: a 300-dpi sheet to draw a card on, its type sizes, and a
/// phone's JPEG.
namespace CardImages {

constexpr int kWidth = 1063; // 90 mm at 300 dpi
constexpr int kHeight = 638; // 54 mm
constexpr int kMargin = 60;

/// A word of a made-up name and its pinyin.
struct Word {
    const char* hanzi;
    const char* pinyin;
};

/// Pixels at 300 dpi for a type size in points.
int px(double points);

/// The parts that are not empty, joined by `gap`.
QString joined(const QStringList& parts, const QString& gap);

/// The picture as a phone stores it: through JPEG of this quality and back.
QImage jpegCopy(const QImage& image, int quality);

/// A card's paper at 300 dpi with a painter on it.
class DrawnSheet {
public:
    DrawnSheet(int w, int h, QColor paper);
    ~DrawnSheet();
    DrawnSheet(const DrawnSheet&) = delete;
    DrawnSheet& operator=(const DrawnSheet&) = delete;

    /// Draws text with its baseline at y; shrinks the type to fit maxWidth. Returns the width.
    int text(int x, int y, const QString& s, QFont f, QColor color, int maxWidth = 0,
             Qt::Alignment align = Qt::AlignLeft);
    void line(int x1, int y1, int x2, int y2, QColor color, int width = 3);

    QImage image;
    QPainter painter;
};

} // namespace CardImages

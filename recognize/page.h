#pragma once

// Preparing a picture of a card for reading, before Tesseract sees any of it.

#include <QImage>
#include <QRect>

#include <leptonica/allheaders.h>

#include <memory>
#include <vector>

namespace Recognize::Page {

struct PixDeleter {
    void operator()(Pix* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

struct BoxaDeleter {
    void operator()(Boxa* boxa) const { boxaDestroy(&boxa); }
};
using BoxaPtr = std::unique_ptr<Boxa, BoxaDeleter>;

/// A grey picture as a Leptonica one, and back.
PixPtr toPix(const QImage& gray);
QImage toImage(Pix* pix);
/// Smaller by `scale` (below 1), averaging areas.
QImage shrunk(const QImage& gray, double scale);
/// The picture in grey, what is transparent over white.
QImage grayOf(const QImage& image);
/// The grey between ink and paper.
int inkThreshold(const QImage& gray);
/// What is darker than `threshold`, as a one-bit picture.
PixPtr darkMask(const QImage& gray, int threshold);
/// Whitens the table around a photographed card and turns light type on a dark band
/// dark on light.
void clearSurroundings(QImage& gray);
/// The height of the marks that can be characters, in pixels; 0 when there are none.
double typicalTextHeight(const QImage& gray, int threshold);
/// Whitens marks that are no text: rules, frames, marks taller than a third of the card.
void clearNonText(QImage& gray, int threshold, double textHeight);
/// The type size of a piece of text: its height, or for a lone character its width.
int typeSize(const QRect& r);
/// The boxes of the lines of text, top to bottom.
std::vector<QRect> findLines(const QImage& gray, int threshold, double textHeight);

} // namespace Recognize::Page

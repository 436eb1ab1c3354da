#pragma once

// Finding the card on a photo and flattening it, with OpenCV, inside the reading module.

#include <QImage>
#include <QPolygonF>

namespace Recognize::CardFinder {

/// The card's four corners on the picture (top left, top right, bottom right, bottom left),
/// when a card-shaped quadrilateral stands out from what it lies on; empty otherwise, and
/// for a picture that is the card alone (a scan).
QPolygonF corners(const QImage& image);

/// The card seen straight on, in grey: cut out along `quad` (when given) and drawn as a
/// flat rectangle at least `minWidth` pixels across, its lighting evened out locally, and
/// light type on a coloured band turned dark on white.
QImage flattened(const QImage& image, const QPolygonF& quad, int minWidth = 1600);

/// The card cut out along `quad` and seen straight on, in colour, at about the size it has
/// on the picture: what is kept of a photo.
QImage straightened(const QImage& image, const QPolygonF& quad);

/// The paper white and the ink dark everywhere: each pixel against the background around it
/// (the lamp's fall-off and a hot spot go), bands and panels darker than the paper turned
/// over so that their light type is dark on white.
QImage evenedLight(const QImage& gray);

} // namespace Recognize::CardFinder

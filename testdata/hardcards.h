#pragma once

#include "data/card.h"

#include <QImage>
#include <QList>
#include <QString>

/// A harder set of drawn cards than makeSet's: six type faces (Ming and Kai among them),
/// six layouts (bilingual, centred, a coloured band with white type, contacts in two
/// columns …), rare and compound surnames, every label spelling and numbers written with
/// "+86", brackets, blanks and "转"; each card also as a phone photo and a far shot.
/// Numbers are judged as printed. Needs a QGuiApplication for the fonts.
namespace CardImages {

struct HardSample {
    int number = 0; ///< from 0; odd numbers are the held-out half
    QString id;     ///< "hard07"
    QString layout; ///< "bilingual", "centred" …
    QString font;   ///< the family the card is set in
    bool rareName = false;
    Card truth;
    QImage clean; ///< 90 x 54 mm at 300 dpi
    bool heldOut() const { return number % 2 == 1; }
};

/// The same cards for the same seed.
QList<HardSample> makeHardSet(int count = 48, quint32 seed = 20261209);
/// Card `number` of that set alone.
HardSample makeHardCard(int number, quint32 seed = 20261209);

/// How a card was taken.
enum class Shot { Clean, Photo, Far };

/// The card photographed: on a dark desk, turned 2 to 6 degrees, in keystone, a lamp's light
/// falling off across it with a hot spot, out of focus, noisy, stored as JPEG of quality 50.
/// Far: the same taken from a distance, 640 pixels across.
QImage hardShot(const QImage& clean, Shot shot, quint32 seed);

} // namespace CardImages

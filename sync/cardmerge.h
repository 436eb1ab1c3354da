#pragma once

// The cards' texts on the server and the 24 columns here: reading a server's card, merging
// changes from both sides, and writing a change on top of the server's own copy so that what
// the columns do not hold (a photo, a third phone, groups, other programs' X- properties)
// stays as the server had it.

#include "data/card.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Sync {

/// A field both sides changed since the last sync: this computer's value was kept.
struct FieldConflict {
    Field column = Field::Name;
    QString kept;   ///< this computer's value
    QString server; ///< the server's value, set aside
};

/// Reads one card's vCard text. False when it holds no card this program can keep (no
/// vCard, or nothing to name it by).
bool readCard(const QByteArray& vcard, Card* card, QString* uid);

/// Field by field: a field changed on one side only takes that side's value; changed on
/// both to different values keeps `mine` and lists the server's value in `conflicts`.
/// Without a base (a card paired on the first sync) an empty field takes the other's value.
Card mergeCards(const Card* base, const Card& mine, const Card& theirs,
                QVector<FieldConflict>* conflicts);

/// The text to send for `now`: on top of the server's copy `serverCopy` (read as `synced`)
/// only the properties of the columns that changed are replaced; without a copy, a new
/// vCard 3.0 with `uid`.
QByteArray cardText(const QByteArray& serverCopy, const Card& synced, const Card& now,
                    const QString& uid);

/// The digits of a phone number as written, for comparing numbers.
QString digitsOf(const QString& text);

/// The 24 columns as stored in sync_card, and back.
QString fieldsText(const Card& card);
Card cardFromFields(const QString& text);

} // namespace Sync

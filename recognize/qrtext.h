#pragma once

#include "core/card.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

/// The text a card's QR code holds: vCard 3.0 or MECARD, both in UTF-8.
namespace Recognize::QrText {

enum class Format {
    VCard, ///< vCard 3.0: every phone scanner of today.
    MeCard ///< MECARD: shorter, for older scanners; no department, fax or postcode.
};

/// The columns a code may carry, in field-map order.
QList<int> carriedColumns();

/// The columns left out first when a card is too long for one code, in that order.
QList<int> droppingOrder();

/// The columns the format has no place for.
QList<int> notCarried(Format format);

/// The card's text in the format, without the columns in leaveOut; empty columns are
/// not written.
QByteArray encode(const Card& card, Format format, const QList<int>& leaveOut = {});

/// The card a vCard (2.1, 3.0 or 4.0) or MECARD text holds; columns tells which columns
/// it gave. False when the text is neither.
bool decode(const QByteArray& text, Card* card, QList<int>* columns = nullptr);

} // namespace Recognize::QrText

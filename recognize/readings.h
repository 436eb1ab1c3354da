#pragma once

#include "recognize/textline.h"

#include <QList>
#include <QString>

/// Two readings of one line (the model's and Tesseract's) put together where each saw what
/// the other lost.
namespace Recognize::Readings {

/// The model's reading with the "@" of a mail that Tesseract read and the model did not:
/// placed before the host Tesseract read after its "@", in place of a round letter the
/// model read for it or else in front of the host. The model's reading as it is when it
/// has an "@", Tesseract's has none, or the host is not found in it.
QString withMailSign(const QString& model, const QString& tesseract);

/// Whether the line holds a phone, fax, mobile, mail, postcode or QQ number: by its label,
/// or a run of seven digits and more.
bool isNumberLine(const QString& text);

/// Whether every number on the line has a shape one is printed in: a mobile of 11 digits
/// whole or as 3-4-4, a landline with or without its area code in groups of three and four,
/// a postcode of six digits, QQ of five to eleven, a mail with its "@" and host. A reading
/// with a digit lost or blanks the reader put in the wrong places does not fit.
bool fitsNumbers(const QString& text);

/// The blanks of a reading's digit groups placed anew where they do not fit: `gapBefore`
/// holds, for each character of `text`, the gap in the ink before it (in any unit). A blank
/// goes where the gaps are clearly wider than the others and give a printed grouping.
QString withGroupBlanks(const QString& text, const QList<double>& gapBefore);

/// `line` with its text replaced by `text`, which differs from it in blanks alone; the
/// marks of unsure characters move with the characters.
void respaced(TextLine& line, const QString& text);

} // namespace Recognize::Readings

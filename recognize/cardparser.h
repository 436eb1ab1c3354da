#pragma once

#include "recognize/textline.h"

#include "core/card.h"

#include <QList>
#include <QString>

namespace Recognize {

/// Sorts the lines read from a card into its columns: numbers by their labels or shapes,
/// mail, web site, QQ, postcode, address, organisation, department, post and title, and as
/// the name the short Chinese line that stands out (the tallest). What fits nowhere goes to
/// 备注. Numbers come out as printed, area codes and "+86" kept, several joined by ", "; an
/// extension after "转" or "ext." goes to 分机. A landline without a label is the work phone
/// unless a label gives one (then 备注 "电话: …"); an English address beside a Chinese one
/// goes to 备注 as "English address: …".
Card parseCard(const QList<TextLine>& lines);

/// The same for plain text, one card line per text line, all of one height.
Card parseCardText(const QString& text);

/// Full-width digits, letters and the signs numbers and addresses use, as ASCII; the
/// ideographic space as a space. Chinese punctuation such as "，" and "（" stays.
QString halfWidth(const QString& text);

} // namespace Recognize

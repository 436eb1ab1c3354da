#pragma once

#include "core/card.h"

#include <QString>
#include <QStringList>

#include <array>

namespace Exchange {

/// Builds one imported card: each value goes to its column when that is still empty, and
/// everything else becomes a "label: value" line after the notes.
class CardAssembler {
public:
    void clear();
    /// Puts a non-empty value into an empty column, else adds it as a note line under the
    /// column's name.
    void place(Field field, const QString& value);
    /// The same, but a value of higher rank (a work or preferred one) takes the column from
    /// one of lower rank, which becomes a note under its label (the column's name if empty).
    void placeRanked(Field field, const QString& value, int rank, const QString& label = {});
    /// The rank of the value a column holds.
    int rank(Field field) const { return m_rank[std::size_t(field)]; }
    /// Moves a column's value to the notes, under its label.
    void displace(Field field);
    /// Adds a "label: value" line to the notes; an empty value adds nothing.
    void note(const QString& label, const QString& value);
    bool isFree(Field field) const { return m_card[field].isEmpty(); }
    /// The card; the note lines follow the notes column's own text, one per line.
    Card take();

private:
    Card m_card;
    QStringList m_notes;
    std::array<int, kFieldCount> m_rank{};
    std::array<QString, kFieldCount> m_label;
};

/// Names a card without a name from its company, else its e-mail, else a phone number, and
/// says so; empty (and the card untouched) when it has a name or none of these.
QString nameNameless(Card* card);

/// True when the text holds Chinese, Japanese or Korean characters.
bool hasCjk(const QString& text);
/// A person's name from its parts: Chinese family and given names joined without a blank,
/// Western ones as "Given Middle Family".
QString joinName(const QString& family, const QString& given, const QString& middle);
/// One address line from its parts, largest first without blanks when it is Chinese, else
/// smallest first separated by ", ".
QString joinAddress(const QString& poBox, const QString& extended, const QString& street,
                    const QString& locality, const QString& region, const QString& country);
/// A guess at family and given name for programs that sort by them.
void splitName(const QString& name, QString* family, QString* given);
/// Outlook's way of writing no date ("0/0/00", "00-00-0000").
bool isZeroDate(const QString& text);

} // namespace Exchange

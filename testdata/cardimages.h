#pragma once

#include "data/card.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QStringList>

/// Business cards drawn with Qt for the recognition tests and the benchmark: each with the
/// card it shows, as a clean 300-dpi picture and as a photo-like copy. Needs a
/// QGuiApplication for the fonts.
namespace CardImages {

/// How the card is laid out.
enum class Layout {
    TopLeft,     ///< company above, large name on the left, details below
    Centered,    ///< centred company and name, details in two columns
    NameColumn,  ///< large name in a left column, details on the right, English labels
    Banner,      ///< company on a coloured band, details several to a line
    EnglishTags, ///< labels such as Tel/Mobile/Fax/Email/Add
    Serif,       ///< serif type, full Chinese labels, two phones on a line
    Vertical,    ///< columns of vertical text; not expected to be read
};

struct Sample {
    QString id; ///< "card07"
    Layout layout = Layout::TopLeft;
    Card truth;   ///< what the card shows, as the columns should receive it
    QImage clean; ///< 90 x 54 mm at 300 dpi
    bool vertical() const { return layout == Layout::Vertical; }
};

/// The same cards for the same seed: count horizontal cards cycling through the layouts,
/// followed by vertical ones.
QList<Sample> makeSet(int count = 36, int vertical = 2, quint32 seed = 20240611);

/// A photo of the picture: scaled to 60 %, turned by 1 to 4 degrees on a table, blurred,
/// noisy and stored as JPEG of quality 55.
QImage photoCopy(const QImage& clean, quint32 seed);

/// 1 - edit distance / length of the truth, over characters; 1 when both are empty.
double characterAccuracy(const QString& truth, const QString& found);

/// How well cards were read: the name by the share of cards read exactly, numbers, mail
/// and postcode by the share of their filled values read exactly, the other filled columns
/// by their characters.
class Tally {
public:
    /// The columns judged exactly, besides the name.
    static const QStringList& exactColumns();
    /// The columns judged by characters.
    static const QStringList& characterColumns();

    void add(const Card& truth, const Card& found, const QString& id = QString());

    int cards() const { return m_cards; }
    double name() const;
    double exact(const QString& column) const;
    double exactAll() const;
    double characters(const QString& column) const;
    double charactersAll() const;
    /// The characters of these columns together.
    double characters(const QStringList& columns) const;
    /// Share of cards whose name and every number, mail and postcode were read exactly.
    double whole() const { return m_cards == 0 ? 1.0 : double(m_whole) / m_cards; }
    /// Share of the numbers, mail and postcodes whose digits (only) were read right.
    double digitsAll() const { return m_values == 0 ? 1.0 : m_digits / m_values; }
    /// Values of the exact columns judged, for a column.
    int filled(const QString& column) const;
    /// One line for every column read wrong: "id column: want […] got […]".
    QStringList mismatches;

private:
    struct Count {
        double right = 0, total = 0;
    };
    int m_cards = 0, m_names = 0, m_whole = 0;
    double m_digits = 0, m_values = 0;
    QMap<QString, Count> m_columns;
};

} // namespace CardImages

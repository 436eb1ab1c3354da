#pragma once

#include "cardtext.h"

#include <QString>
#include <QVector>

#include <array>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
namespace Sqlite {
class Statement;
}

namespace QuickFind {

/// Finds the cards matching a text a part at a time, in ID order: a chunk's cards are looked
/// up in the index together, and those the index cannot vouch for are read one by one only
/// as far as the matches asked for reach. So the first screen of a list costs a few chunks'
/// look-ups, whatever the number of matches.
class Finder {
public:
    /// Over `db`, which must outlive it. With `verify`, another program may have changed
    /// cards since the index was last in line with zl: every match is read and checked, and
    /// the cards above all those the index knows are read too.
    Finder(sqlite3* db, const QString& text, bool verify);
    ~Finder();
    Finder(const Finder&) = delete;
    Finder& operator=(const Finder&) = delete;

    /// Appends the next matches to `ids`, at least `count` unless they run out; false once
    /// every match has been given. With `named`, appends for each match whether its name
    /// matches a word of the text (NameCheck), where the card was read anyway: 1 or 0, and -1
    /// where it was not.
    bool next(QVector<qint64>& ids, qsizetype count, std::vector<signed char>* named = nullptr);
    /// The matches and the cards the index alone cannot rule out, counted from the index
    /// without reading a card, and only until they pass `atMost`; -1 without an index. Call
    /// it before next().
    qint64 bound(qint64 atMost);

private:
    struct State;
    std::unique_ptr<State> d;
};

/// Whether a card's name matches a word of a text: what puts it first in a short list.
class NameCheck {
public:
    explicit NameCheck(const QString& text);
    /// From the name as zl holds it.
    bool operator()(std::string_view name);

private:
    std::vector<std::string> m_words;
    std::vector<bool> m_plainHan; // of each word: found as it is, it needs no folding
    std::array<std::string_view, kFieldCount> m_columns{};
    CardText m_card;
};

/// What the quick find lists for a text: the matches, and the card being modified (`keep`,
/// 0 for none) whether or not it matches; when they are kRankedAtMost or fewer, the cards
/// whose name matches first. Whether they are is told by the index: a long word's cards the
/// index cannot rule out count too, so that the first screen never waits for reading them.
class Listing {
public:
    Listing(sqlite3* db, const QString& text, bool verify, qint64 keep);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    /// As Finder::next.
    bool next(QVector<qint64>& ids, qsizetype count);

private:
    bool take(QVector<qint64>& ids, qsizetype count, std::vector<signed char>* named = nullptr);
    bool nameMatches(qint64 id);
    /// Gives the short list ranked, a part at a time: the name matches as they are found,
    /// then the others.
    bool rank(QVector<qint64>& ids, qsizetype count);
    /// The same while the matches are still being found: the first screen waits only for
    /// as many as it shows when names match often.
    bool sift(QVector<qint64>& ids, qsizetype count);

    sqlite3* m_db;
    // One read of the file for the whole listing: its many small reads each began one.
    bool m_reading = false;
    NameCheck m_named;
    std::optional<Finder> m_finder; // ended before the read
    qint64 m_keep;
    enum { Starting, Sifting, Ranking, Rest, Plain } m_phase = Starting;
    QVector<qint64> m_short, m_others; // the short list, and its cards whose name does not match
    qsizetype m_at = 0;                // of m_short, or of m_others
    std::unique_ptr<Sqlite::Statement> m_name;
};

} // namespace QuickFind

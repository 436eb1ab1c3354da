#pragma once

#include "core/card.h"
#include "spelling.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// A card as the quick find matches it, and the index keys that stand for it.
namespace QuickFind {

/// Pinyin is indexed by its starts up to this many letters, initials up to kInitialsKeyLength;
/// longer words are checked against the cards themselves.
constexpr int kPinyinKeyLength = 8;
constexpr int kInitialsKeyLength = 4;
/// Initials keys start with this byte, which no other key does: "zs" as initials is not "zs"
/// in the text.
constexpr char kInitialsMark = '\xFF';

/// What matching looks at in one card, in UTF-8.
class CardText {
public:
    /// From the 24 written columns in field order, as UTF-8.
    void assign(const std::array<std::string_view, kFieldCount>& columns);
    void assign(const Card& card);

    /// True when the normalized word (UTF-8, no blanks) is found in the card: in its text
    /// (phone digits included) when `text`, in its spellings when `spellings`.
    bool matches(const std::string& word, bool text = true, bool spellings = true);

    /// A column's normalized text.
    const std::string& text(Field field) const { return m_text[std::size_t(field)]; }

    /// Calls sink(const char*, size_t) for every key of the card, some more than once.
    template <class Sink> void forEachKey(Sink&& sink);

private:
    /// Spells the name (1), or the name and the company (2).
    void spell(int upTo = 2);

    std::array<std::string, kFieldCount> m_text; // normalized
    std::vector<std::string> m_phones;           // digit strings of the phone columns
    std::vector<std::uint8_t> m_phoneOf;         // the column of each
    std::vector<std::string> m_pinyin;           // of the name and the company
    std::vector<std::string> m_initials;
    int m_spelled = 0;
    std::string m_keyBytes;
    std::vector<int> m_keyStarts;
    std::vector<unsigned char> m_keyKinds;
};

/// The blank-separated words of a quick-find text, normalized and without repeats.
std::vector<std::string> wordsOf(const QString& text);

/// How a word is looked up in the index. Cards with any of `sure` match; when the word is
/// not `exact`, other matches are among the cards with all of `allOf` or any of `anyOf`, and
/// are checked one by one.
struct WordPlan {
    std::string word;
    std::vector<std::string> sure;
    std::vector<std::string> allOf; // pieces of text
    std::vector<std::string> anyOf; // starts of spellings
    bool exact() const { return allOf.empty() && anyOf.empty(); }
};
WordPlan planWord(const std::string& word);

/// A piece of normalized text (UTF-8) as the index stores it.
std::string keyOf(std::string_view utf8);

/// Text normalized straight from UTF-8; fast for plain ASCII and ideographs.
void normalizeUtf8(std::string_view in, std::string& out);

// ---- implementation of the template ----

namespace detail {
bool isOtherWhitespace(char32_t c);
inline bool isWhitespace(char32_t c) {
    if (c < 0x80)
        return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return !(c >= 0x3400 && c <= 0x9FFF) && isOtherWhitespace(c); // not an ideograph
}
char32_t decodeOther(const char* p, int& len);
/// Code point at `p` (valid UTF-8 as SQLite and Qt give it), its length in `len`.
inline char32_t decode(const char* p, int& len) {
    const unsigned char b = static_cast<unsigned char>(p[0]);
    if (b < 0x80) {
        len = 1;
        return b;
    }
    // The common ideographs: three bytes from 0xE3 to 0xE9.
    if (b >= 0xE3 && b <= 0xE9 && (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80 &&
        (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80) {
        len = 3;
        return char32_t(((b & 0x0F) << 12) | ((static_cast<unsigned char>(p[1]) & 0x3F) << 6) |
                        (static_cast<unsigned char>(p[2]) & 0x3F));
    }
    return decodeOther(p, len);
}
/// Appends a character in the form keys are stored in: ASCII as it is, an ideograph of the
/// common blocks in two bytes (a third less than UTF-8), anything else marked and in UTF-8.
inline void appendKeyChar(std::string& out, char32_t c, const char* utf8, int len) {
    if (c < 0x80) {
        out += char(c);
    } else if (c >= 0x3400 && c <= 0x9FFF) {
        const char32_t v = c - 0x3400; // lead bytes 0x80 to 0xEB
        const char pair[2] = {char(0x80 + (v >> 8)), char(v & 0xFF)};
        out.append(pair, 2);
    } else {
        out += '\xFE';
        out.append(utf8, std::size_t(len));
    }
}
} // namespace detail

template <class Sink> void CardText::forEachKey(Sink&& sink) {
    // Kept between cards: a build asks for the keys of millions.
    std::string& enc = m_keyBytes;
    std::vector<int>& starts = m_keyStarts;
    std::vector<unsigned char>& kind = m_keyKinds; // 0 other, 1 blank, 2 ideograph, 3 digit
    // Keys in their stored form, with where each character starts in it.
    auto encode = [&](const std::string& t) {
        enc.clear();
        starts.clear();
        kind.clear();
        for (int i = 0; i < int(t.size());) {
            int len = 1;
            const char32_t c = detail::decode(t.data() + i, len);
            starts.push_back(int(enc.size()));
            kind.push_back(c >= '0' && c <= '9'         ? 3
                           : c >= 0x4E00 && c <= 0x9FFF ? 2 // the common ideographs, at once
                           : detail::isWhitespace(c)    ? 1
                           : c >= 0x80 && isHan(c)      ? 2
                                                        : 0);
            detail::appendKeyChar(enc, c, t.data() + i, len);
            i += len;
        }
        starts.push_back(int(enc.size()));
        return int(kind.size());
    };
    // Text: every piece of one to three characters, and four when all are ideographs or
    // digits (the common Chinese words and phone fragments), never across a blank.
    for (const std::string& t : m_text) {
        if (t.empty())
            continue;
        const int n = encode(t);
        for (int i = 0; i < n; ++i) {
            if (kind[i] == 1)
                continue;
            int j = i + 1;
            for (; j <= i + 3 && j <= n; ++j) {
                if (kind[j - 1] == 1)
                    break;
                sink(enc.data() + starts[i], std::size_t(starts[j] - starts[i]));
            }
            if (j == i + 4 && i + 4 <= n && (kind[i] == 2 || kind[i] == 3) &&
                kind[i + 1] == kind[i] && kind[i + 2] == kind[i] && kind[i + 3] == kind[i])
                sink(enc.data() + starts[i], std::size_t(starts[i + 4] - starts[i]));
        }
    }
    // Phone digits, ASCII and stored as they are: only the pieces across the marks between
    // digit groups are new. Every digit, and any piece found as it is in the column's own
    // text, is a key of the text already (most of them: "0571-4529" gives 5714 and 7145).
    for (std::size_t k = 0; k < m_phones.size(); ++k) {
        const std::string& d = m_phones[k];
        const std::string_view column = m_text[m_phoneOf[k]];
        for (std::size_t i = 0; i < d.size(); ++i) {
            for (std::size_t n = 2; n <= 4 && i + n <= d.size(); ++n) {
                if (column.find(std::string_view(d.data() + i, n)) == std::string_view::npos)
                    sink(d.data() + i, n);
            }
        }
    }
    spell();
    // Starts of spellings: pinyin shares the keys of text (its short starts are mostly in the
    // mail addresses already), initials have keys of their own.
    for (const std::string& s : m_pinyin) {
        const int n = encode(s);
        for (int i = 1; i <= n && i <= kPinyinKeyLength; ++i)
            sink(enc.data(), std::size_t(starts[i]));
    }
    for (const std::string& s : m_initials) {
        const int n = encode(s);
        enc.insert(enc.begin(), kInitialsMark);
        // A single initial is the first letter of the pinyin: keyed there already.
        for (int i = 2; i <= n && i <= kInitialsKeyLength; ++i)
            sink(enc.data(), std::size_t(starts[i]) + 1);
    }
}

} // namespace QuickFind

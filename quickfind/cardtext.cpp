#include "cardtext.h"

#include "quickfind.h"

#include <QChar>
#include <QRegularExpression>

#include <algorithm>

namespace QuickFind {

namespace detail {

bool isOtherWhitespace(char32_t c) {
    return QChar::isSpace(c);
}

char32_t decodeOther(const char* p, int& len) {
    const unsigned char b = static_cast<unsigned char>(p[0]);
    // Qt and SQLite hand over valid UTF-8; anything else counts byte by byte.
    auto cont = [p](int i) { return static_cast<unsigned char>(p[i]) & 0x3F; };
    auto isCont = [p](int i) { return (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80; };
    if (b >= 0xC2 && b < 0xE0 && isCont(1)) {
        len = 2;
        return char32_t(((b & 0x1F) << 6) | cont(1));
    }
    if (b >= 0xE0 && b < 0xF0 && isCont(1) && isCont(2)) {
        len = 3;
        return char32_t(((b & 0x0F) << 12) | (cont(1) << 6) | cont(2));
    }
    if (b >= 0xF0 && b < 0xF5 && isCont(1) && isCont(2) && isCont(3)) {
        len = 4;
        return char32_t(((b & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3));
    }
    len = 1;
    return 0xFFFD;
}

} // namespace detail

std::string keyOf(std::string_view utf8) {
    std::string out;
    for (int i = 0; i < int(utf8.size());) {
        int len = 1;
        const char32_t c = detail::decode(utf8.data() + i, len);
        detail::appendKeyChar(out, c, utf8.data() + i, len);
        i += len;
    }
    return out;
}

namespace {

bool allDigits(const std::string& w) {
    return !w.empty() &&
           std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct WordShape {
    int chars = 0;
    bool allHan = true;
    bool allDigit = true;
    bool spellable = true; // letters and digits other than ideographs only
};

WordShape shapeOf(const std::string& w) {
    WordShape s;
    for (int i = 0; i < int(w.size());) {
        int len = 1;
        const char32_t c = detail::decode(w.data() + i, len);
        i += len;
        ++s.chars;
        const bool han = isHan(c);
        s.allHan = s.allHan && han;
        s.allDigit = s.allDigit && c >= '0' && c <= '9';
        s.spellable = s.spellable && !han && QChar::isLetterOrNumber(c);
    }
    if (s.chars == 0)
        s.allHan = s.allDigit = s.spellable = false;
    return s;
}

// Byte offsets of the first `chars` characters' end.
std::size_t prefixBytes(const std::string& w, int chars) {
    std::size_t i = 0;
    for (int n = 0; n < chars && i < w.size(); ++n) {
        int len = 1;
        detail::decode(w.data() + i, len);
        i += std::size_t(len);
    }
    return i;
}

std::vector<std::string> piecesOf(const std::string& w, int length) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < w.size();) {
        int len = 1;
        detail::decode(w.data() + i, len);
        starts.push_back(i);
        i += std::size_t(len);
    }
    starts.push_back(w.size());
    std::vector<std::string> out;
    for (std::size_t i = 0; i + std::size_t(length) < starts.size(); ++i)
        out.push_back(w.substr(starts[i], starts[i + std::size_t(length)] - starts[i]));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

} // namespace

void normalizeUtf8(std::string_view in, std::string& out) {
    // Plain ASCII, simplified ideographs and the punctuation of Chinese text are kept as they
    // are, full-width letters and digits become ASCII: folding would give the same, slower.
    enum Kind { Kept, Upper, FullWidth, Other };
    auto kindOf = [](char32_t c) {
        if (c < 0x80)
            return c >= 'A' && c <= 'Z' ? Upper : Kept;
        if (c >= 0x3400 && c <= 0x9FFF)
            return simplified(c) == c ? Kept : Other;
        if ((c >= 0xFF01 && c <= 0xFF5E) || c == 0x3000)
            return FullWidth;
        const bool punctuation = (c >= 0x3001 && c <= 0x3003) || (c >= 0x3008 && c <= 0x3011) ||
                                 c == 0x00B7 || c == 0x2014 || c == 0x2018 || c == 0x2019 ||
                                 c == 0x201C || c == 0x201D;
        return punctuation ? Kept : Other;
    };
    bool rewrite = false;
    for (std::size_t i = 0; i < in.size();) {
        int len = 1;
        const char32_t c = static_cast<unsigned char>(in[i]) < 0x80
                               ? char32_t(static_cast<unsigned char>(in[i]))
                               : detail::decode(in.data() + i, len);
        const Kind kind = kindOf(c);
        if (kind == Other) {
            out = normalized(QString::fromUtf8(in.data(), qsizetype(in.size()))).toStdString();
            return;
        }
        rewrite = rewrite || kind != Kept;
        i += std::size_t(len);
    }
    if (!rewrite) {
        out.assign(in.data(), in.size());
        return;
    }
    out.clear();
    for (std::size_t i = 0; i < in.size();) {
        int len = 1;
        const char32_t c = static_cast<unsigned char>(in[i]) < 0x80
                               ? char32_t(static_cast<unsigned char>(in[i]))
                               : detail::decode(in.data() + i, len);
        char32_t ascii = c == 0x3000 ? U' ' : c >= 0xFF01 && c <= 0xFF5E ? c - 0xFEE0 : c;
        if (ascii >= 'A' && ascii <= 'Z')
            ascii += 'a' - 'A';
        if (ascii < 0x80)
            out += char(ascii);
        else
            out.append(in.data() + i, std::size_t(len));
        i += std::size_t(len);
    }
}

void CardText::assign(const std::array<std::string_view, kFieldCount>& columns) {
    for (int i = 0; i < kFieldCount; ++i)
        normalizeUtf8(columns[std::size_t(i)], m_text[std::size_t(i)]);
    // Digit strings found as they are in the column's text add nothing to it: left out.
    m_phones.clear();
    m_phoneOf.clear();
    for (const Field phone : kPhoneFields) {
        const std::string& t = m_text[std::size_t(phone)];
        const std::size_t before = m_phones.size();
        phoneDigitsUtf8(t, m_phones);
        m_phones.erase(
            std::remove_if(m_phones.begin() + std::ptrdiff_t(before), m_phones.end(),
                           [&t](const std::string& d) { return t.find(d) != std::string::npos; }),
            m_phones.end());
        m_phoneOf.resize(m_phones.size(), std::uint8_t(phone));
    }
    m_pinyin.clear();
    m_initials.clear();
    m_spelled = 0;
}

void CardText::assign(const Card& card) {
    std::array<std::string, kFieldCount> utf8;
    std::array<std::string_view, kFieldCount> views;
    for (int i = 0; i < kFieldCount; ++i) {
        utf8[std::size_t(i)] = card.values[std::size_t(i)].toStdString();
        views[std::size_t(i)] = utf8[std::size_t(i)];
    }
    assign(views);
}

void CardText::spell(int upTo) {
    // The name first: most words spelled out are names, and a company costs five times more.
    if (m_spelled < 1 && upTo >= 1) {
        SpellingsUtf8 s;
        spellName(m_text[std::size_t(Field::Name)], s);
        m_pinyin.swap(s.pinyin);
        m_initials.swap(s.initials);
        m_spelled = 1;
    }
    if (m_spelled < 2 && upTo >= 2) {
        SpellingsUtf8 s;
        spellCompany(m_text[std::size_t(Field::Company)], s);
        m_pinyin.insert(m_pinyin.end(), s.pinyin.begin(), s.pinyin.end());
        m_initials.insert(m_initials.end(), s.initials.begin(), s.initials.end());
        m_spelled = 2;
    }
}

bool CardText::matches(const std::string& word, bool text, bool spellings) {
    if (text) {
        for (const std::string& t : m_text) {
            if (t.find(word) != std::string::npos)
                return true;
        }
        if (allDigits(word)) {
            for (const std::string& d : m_phones) {
                if (d.find(word) != std::string::npos)
                    return true;
            }
        }
    }
    if (!spellings || !shapeOf(word).spellable)
        return false;
    for (int upTo = 1; upTo <= 2; ++upTo) {
        spell(upTo);
        for (const auto* list : {&m_pinyin, &m_initials}) {
            for (const std::string& s : *list) {
                if (s.compare(0, word.size(), word) == 0)
                    return true;
            }
        }
    }
    return false;
}

namespace {

/// The digits a word stands for when it is a phone number however written ("010-62751234",
/// "(010)", "138.1234.5678", "+8613812345678", without the country code); else the word.
QString phoneWord(const QString& word) {
    static const QRegularExpression phone(QStringLiteral("^[0-9+().\\-/]+$"));
    static const QRegularExpression areaCode(QStringLiteral("^\\([0-9]{2,4}\\)$"));
    static const QRegularExpression date(
        QStringLiteral("^[0-9]{4}[-./][0-9]{1,2}([-./][0-9]{1,2})?$"));
    if (!phone.match(word).hasMatch() || date.match(word).hasMatch())
        return word;
    QString digits;
    for (const QChar c : word) {
        if (c.isDigit())
            digits += c;
    }
    if (digits == word)
        return word;
    if (word.startsWith(QLatin1String("+86")) && digits.size() > 2)
        digits.remove(0, 2);
    else if (word.startsWith(QLatin1String("0086")) && digits.size() > 4)
        digits.remove(0, 4);
    return digits.size() >= 7 || areaCode.match(word).hasMatch() ? digits : word;
}

} // namespace

std::vector<std::string> wordsOf(const QString& text) {
    std::vector<std::string> words;
    const QString folded = normalized(text);
    // Compiled once for each thread, not at every key.
    thread_local const QRegularExpression blanks(QStringLiteral("\\s+"));
    for (const QString& w : folded.split(blanks, Qt::SkipEmptyParts)) {
        const std::string utf8 = phoneWord(w).toStdString();
        if (std::find(words.begin(), words.end(), utf8) == words.end())
            words.push_back(utf8);
    }
    return words;
}

bool matches(const Card& card, const QString& text) {
    CardText t;
    t.assign(card);
    for (const std::string& w : wordsOf(text)) {
        if (!t.matches(w))
            return false;
    }
    return true;
}

WordPlan planWord(const std::string& word) {
    WordPlan plan;
    plan.word = word;
    const WordShape s = shapeOf(word);
    const std::string key = keyOf(word);
    plan.sure.push_back(key);
    if (s.spellable && s.chars >= 2 && s.chars <= kInitialsKeyLength)
        plan.sure.push_back(kInitialsMark + key);
    const bool textExact = s.chars <= 3 || (s.chars == 4 && (s.allHan || s.allDigit));
    if (!textExact) {
        for (const std::string& piece : piecesOf(word, s.allHan || s.allDigit ? 4 : 3))
            plan.allOf.push_back(keyOf(piece));
    }
    if (s.spellable && s.chars > kPinyinKeyLength)
        plan.anyOf.push_back(keyOf(word.substr(0, prefixBytes(word, kPinyinKeyLength))));
    if (s.spellable && s.chars > kInitialsKeyLength)
        plan.anyOf.push_back(kInitialsMark +
                             keyOf(word.substr(0, prefixBytes(word, kInitialsKeyLength))));
    return plan;
}

} // namespace QuickFind

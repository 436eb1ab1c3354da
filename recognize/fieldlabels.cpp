// The labels of a card's lines ("手机:", "Tel", "邮编" …), also misread ones.
#include "fieldpatterns.h"

#include <algorithm>
#include <cstdlib>

namespace Recognize::Patterns {

bool isColon(QChar c) {
    return c == QLatin1Char(':') || c == QChar(0xFF1A) || c == QLatin1Char(';') ||
           c == QChar(0xFF1B);
}

namespace {

struct Label {
    const char* text;
    Kind kind;
};

// Where one label begins another, the longer comes first.
const Label kLabels[] = {
    {"移动电话", Kind::Mobile},
    {"手机号码", Kind::Mobile},
    {"手机", Kind::Mobile},
    {"mobile", Kind::Mobile},
    {"mob", Kind::Mobile},
    {"cell", Kind::Mobile},
    {"m", Kind::Mobile},
    {"办公电话", Kind::Phone},
    {"工作电话", Kind::Phone},
    {"联系电话", Kind::Phone},
    {"电话", Kind::Phone},
    {"座机", Kind::Phone},
    {"总机", Kind::Phone},
    {"机", Kind::Phone}, // 座机 or 手机 with its first character lost, alone before a number
    {"telephone", Kind::Phone},
    {"tel", Kind::Phone},
    {"phone", Kind::Phone},
    {"t", Kind::Phone},
    {"传真", Kind::Fax},
    {"fax", Kind::Fax},
    {"f", Kind::Fax},
    {"分机", Kind::Extension},
    {"电子邮箱", Kind::Mail},
    {"电子邮件", Kind::Mail},
    {"邮箱", Kind::Mail},
    {"部箱", Kind::Mail}, // "邮" misread, also below
    {"由箱", Kind::Mail},
    {"电子部箱", Kind::Mail},
    {"电子由箱", Kind::Mail},
    {"电邮", Kind::Mail},
    {"e-mail", Kind::Mail},
    {"email", Kind::Mail},
    {"mail", Kind::Mail},
    {"e", Kind::Mail},
    {"网址", Kind::Web},
    {"网站", Kind::Web},
    {"主页", Kind::Web},
    {"website", Kind::Web},
    {"web", Kind::Web},
    {"url", Kind::Web},
    {"w", Kind::Web},
    {"oicq", Kind::QQ},
    {"qq", Kind::QQ},
    {"qo", Kind::QQ},
    {"q0", Kind::QQ}, // the second Q of a blurred "QQ"
    {"公司地址", Kind::Address},
    {"办公地址", Kind::Address},
    {"通讯地址", Kind::Address},
    {"联系地址", Kind::Address},
    {"地址", Kind::Address},
    {"address", Kind::Address},
    {"addr", Kind::Address},
    {"add", Kind::Address},
    {"a", Kind::Address},
    {"邮政编码", Kind::Postcode},
    {"邮编", Kind::Postcode},
    {"部编", Kind::Postcode},
    {"由编", Kind::Postcode},
    {"zip code", Kind::Postcode},
    {"zip", Kind::Postcode},
    {"post code", Kind::Postcode},
    {"postcode", Kind::Postcode},
    {"p.c.", Kind::Postcode},
    {"p.c", Kind::Postcode},
};

// After a label at `end`: blanks and specks, then where the colon is, or -1.
int colonAfter(const QString& s, int end) {
    int k = end;
    while (k < s.size() && (QStringLiteral(" .'`\"").contains(s[k]) || s[k] == QChar(0x2018) ||
                            s[k] == QChar(0x2019)))
        ++k;
    return k < s.size() && isColon(s[k]) ? k : -1;
}

// One letter changed, or, for labels of five letters or more, one lost or added.
bool oneEditApart(const QString& word, const QString& label) {
    const qsizetype n = word.size(), m = label.size();
    if (n == m) {
        int wrong = 0;
        for (qsizetype k = 0; k < n; ++k)
            wrong += word[k] != label[k];
        return wrong == 1;
    }
    if (std::min(n, m) < 5 || std::abs(n - m) != 1)
        return false;
    const QString& longer = n > m ? word : label;
    const QString& shorter = n > m ? label : word;
    qsizetype k = 0;
    while (k < shorter.size() && shorter[k] == longer[k])
        ++k;
    return QStringView(shorter).mid(k) == QStringView(longer).mid(k + 1);
}

// A label with one character misread ("传頁：", "Fex:"): the rest of it, and a colon or, for
// the numbers' labels, a number right after it, still say what it is.
bool fuzzyLabel(const QString& s, int i, FoundLabel& found) {
    struct Near {
        const char* text;
        Kind kind;
    };
    // The ones whose surviving character says most come first.
    static const Near han[] = {{"传真", Kind::Fax},     {"手机", Kind::Mobile},
                               {"座机", Kind::Phone},   {"电话", Kind::Phone},
                               {"地址", Kind::Address}, {"网址", Kind::Web}};
    static const Near latin[] = {
        {"fax", Kind::Fax},         {"tel", Kind::Phone},   {"mob", Kind::Mobile},
        {"mobile", Kind::Mobile},   {"phone", Kind::Phone}, {"email", Kind::Mail},
        {"e-mail", Kind::Mail},     {"web", Kind::Web},     {"zip", Kind::Postcode},
        {"address", Kind::Address}, {"add", Kind::Address}};
    auto valueAfter = [&](int end, Kind kind) {
        const int colon = colonAfter(s, end);
        int value = colon >= 0 ? colon + 1 : end;
        while (value < s.size() && s[value].isSpace())
            ++value;
        const bool number =
            value < s.size() && (isAsciiDigit(s[value]) || s[value] == QLatin1Char('+') ||
                                 s[value] == QLatin1Char('('));
        const bool numberLabel = kind == Kind::Fax || kind == Kind::Phone || kind == Kind::Mobile;
        if (colon < 0 && !(numberLabel && number))
            return -1;
        return value;
    };
    if (i + 1 < s.size() && isHan(s[i]) && isHan(s[i + 1]) && (i == 0 || !isHan(s[i - 1])) &&
        (i + 2 >= s.size() || !isHan(s[i + 2]))) {
        for (const Near& n : han) {
            const QString t = u(n.text);
            if ((s[i] == t[0]) == (s[i + 1] == t[1]))
                continue; // both right is an exact label, both wrong no label
            const int value = valueAfter(i + 2, n.kind);
            if (value >= 0) {
                found = {i, value, n.kind};
                return true;
            }
        }
        return false;
    }
    if (!isAsciiLetter(s[i]) || (i > 0 && (isAsciiLetter(s[i - 1]) || isAsciiDigit(s[i - 1]))))
        return false;
    // Inside a word, digits stand for the letters they look like ("Addres5").
    int end = i;
    QString word;
    bool lookalike = false;
    for (; end < s.size(); ++end) {
        const QChar c = s[end];
        const int digit = QStringLiteral("015").indexOf(c);
        if (isAsciiLetter(c) || c == QLatin1Char('-')) {
            word += c.toLower();
        } else if (digit >= 0 && word.size() >= 2) {
            word += QStringLiteral("ols")[digit];
            lookalike = true;
        } else {
            break;
        }
    }
    if (colonAfter(s, end) < 0)
        return false; // too many words are a letter from "tel" or "web"
    for (const Near& n : latin) {
        const QString t = QLatin1String(n.text);
        if (oneEditApart(word, t) || (lookalike && word == t)) {
            found = {i, valueAfter(end, n.kind), n.kind};
            return true;
        }
    }
    return false;
}

// A Latin label the reading set a blank in ("E-mai l:", "Z i p:", "Mobi 1e:"), a narrow
// letter standing apart on a blurred photo, or whose "l" it read as "1" ("Te1:"). Only
// before a colon.
bool spacedLabel(const QString& s, int i, FoundLabel& found) {
    if (!isAsciiLetter(s[i]) || (i > 0 && (isAsciiLetter(s[i - 1]) || isAsciiDigit(s[i - 1]))))
        return false;
    QString word;
    bool spaced = false, one = false;
    int k = i;
    for (; k < s.size() && word.size() < 10; ++k) {
        const QChar c = s[k];
        if (c == QLatin1Char(' ')) {
            spaced = spaced || (k + 1 < s.size() && !isColon(s[k + 1]));
            continue;
        }
        if (!(isAsciiLetter(c) || c == QLatin1Char('-') || c == QLatin1Char('.') ||
              c == QLatin1Char('1')))
            break;
        one = one || c == QLatin1Char('1');
        word += c == QLatin1Char('1') ? QLatin1Char('l') : c.toLower();
    }
    if (!(spaced || one) || k >= s.size() || !isColon(s[k]))
        return false;
    static const struct {
        const char* text;
        Kind kind;
    } labels[] = {{"mobile", Kind::Mobile}, {"mob", Kind::Mobile},      {"tel", Kind::Phone},
                  {"phone", Kind::Phone},   {"fax", Kind::Fax},         {"e-mail", Kind::Mail},
                  {"email", Kind::Mail},    {"web", Kind::Web},         {"zip", Kind::Postcode},
                  {"p.c.", Kind::Postcode}, {"address", Kind::Address}, {"add", Kind::Address}};
    for (const auto& l : labels) {
        const QString t = QLatin1String(l.text);
        if (word.size() != t.size())
            continue;
        int wrong = 0;
        for (int n = 0; n < t.size(); ++n)
            wrong += word[n] != t[n];
        if (wrong <= (t.size() >= 5 ? 1 : 0)) {
            int value = k + 1;
            while (value < s.size() && s[value].isSpace())
                ++value;
            found = {i, value, l.kind};
            return true;
        }
    }
    return false;
}

// A label of one letter before a number, its colon lost ("F 010 …") or itself read as a
// character ("了: 010 …"). Unreadable, after the work phone on its line, it is the fax:
// cards set the two side by side.
bool loneLetterLabel(const QString& s, int i, bool phoneBefore,
                     const std::vector<FoundLabel>& before, FoundLabel& found) {
    const QChar c = s[i];
    if (!(isHan(c) || isAsciiLetter(c)) || c == QChar(0x8F6C) || c.toLower() == QLatin1Char('x') ||
        (i > 0 && (s[i - 1].isLetterOrNumber())) ||
        (i + 1 < s.size() && s[i + 1].isLetterOrNumber()))
        return false;
    const int colon = colonAfter(s, i + 1);
    int value = colon >= 0 ? colon + 1 : i + 1;
    if (colon < 0 && (value >= s.size() || !s[value].isSpace()))
        return false;
    while (value < s.size() && s[value].isSpace())
        ++value;
    if (value >= s.size() ||
        !(isAsciiDigit(s[value]) || s[value] == QLatin1Char('+') || s[value] == QLatin1Char('(')))
        return false;
    const QChar letter = c.toLower();
    Kind kind = Kind::Fax;
    if (letter == QLatin1Char('t'))
        kind = Kind::Phone;
    else if (letter == QLatin1Char('m'))
        kind = Kind::Mobile;
    else if (letter != QLatin1Char('f') &&
             (s[value] == QLatin1Char('1') ||
              (!phoneBefore && std::none_of(before.begin(), before.end(), [](const FoundLabel& l) {
                  return l.kind == Kind::Phone;
              }))))
        return false; // a mobile's shape tells it without a label
    found = {i, value, kind};
    return true;
}

} // namespace

std::vector<FoundLabel> findLabels(const QString& s, bool phoneBefore) {
    static const std::vector<std::pair<QString, Kind>> labels = [] {
        std::vector<std::pair<QString, Kind>> v;
        for (const Label& l : kLabels)
            v.emplace_back(u(l.text), l.kind);
        return v;
    }();
    std::vector<FoundLabel> found;
    int i = 0;
    while (i < s.size()) {
        // "邮编", "邮箱" with the first character misread ("剖编", "由箱"): the second and a
        // colon still tell the label.
        if (i + 2 < s.size() && isHan(s[i]) && (i == 0 || !isHan(s[i - 1])) &&
            (s[i + 1] == QChar(0x7F16) || s[i + 1] == QChar(0x7BB1))) {
            int k = i + 2;
            while (k < s.size() && s[k] == QLatin1Char(' '))
                ++k;
            if (k < s.size() && isColon(s[k])) {
                int value = k + 1;
                while (value < s.size() && s[value].isSpace())
                    ++value;
                found.push_back(
                    {i, value, s[i + 1] == QChar(0x7F16) ? Kind::Postcode : Kind::Mail});
                i = value;
                continue;
            }
        }
        bool matched = false;
        for (const auto& [text, kind] : labels) {
            if (QStringView(s).mid(i, text.size()).compare(text, Qt::CaseInsensitive) != 0)
                continue;
            const int end = i + int(text.size());
            int k = end;
            // Blanks, a dot ("Tel."), and the specks OCR puts before a colon ("T':").
            while (k < s.size() && (QStringLiteral(" .'`\"").contains(s[k]) ||
                                    s[k] == QChar(0x2018) || s[k] == QChar(0x2019)))
                ++k;
            const bool colon = k < s.size() && isColon(s[k]);
            if (isAsciiLetter(text[0])) {
                // A Latin label is a word of its own; a single letter needs its colon.
                const QChar before = i > 0 ? s[i - 1] : QChar(' ');
                if (isAsciiLetter(before) || isAsciiDigit(before) ||
                    QStringLiteral("@._-/").contains(before))
                    continue;
                if (end < s.size() && isAsciiLetter(s[end]))
                    continue;
                if (text.size() == 1 && !colon)
                    continue;
                // "Fax-free", a last word "Address": words, no labels.
                if (!colon && (k >= s.size() || s[end] == QLatin1Char('-')))
                    continue;
            } else {
                // A Chinese label inside a word is no label: "手机" in a company's name.
                const bool wordStart = i == 0 || !isHan(s[i - 1]);
                if (!colon && !(wordStart && (i == 0 || end >= s.size() || !isHan(s[end]))))
                    continue;
            }
            int value = colon ? k + 1 : k;
            while (value < s.size() && s[value].isSpace())
                ++value;
            found.push_back({i, value, kind});
            i = value;
            matched = true;
            break;
        }
        if (!matched) {
            FoundLabel near{};
            if (spacedLabel(s, i, near)) {
                found.push_back(near);
                i = near.valueStart;
            } else if (loneLetterLabel(s, i, phoneBefore, found, near)) {
                found.push_back(near);
                i = near.valueStart;
            } else if (fuzzyLabel(s, i, near)) {
                found.push_back(near);
                i = near.valueStart;
            } else {
                ++i;
            }
        }
    }
    return found;
}

} // namespace Recognize::Patterns

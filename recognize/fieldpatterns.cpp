// The shapes of the things a card line holds: numbers, mail and web addresses, and
// the words that make an organisation, a department, a post or an address.
#include "fieldpatterns.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace Recognize::Patterns {

QString u(const char* s) {
    return QString::fromUtf8(s);
}

bool isHan(QChar c) {
    const ushort v = c.unicode();
    return (v >= 0x4E00 && v <= 0x9FFF) || (v >= 0x3400 && v <= 0x4DBF) || v == 0x3007;
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool allHan(const QString& s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), isHan);
}

int countOf(const QString& s, bool (*test)(QChar)) {
    return int(std::count_if(s.begin(), s.end(), test));
}

// Spaces next to a Chinese character carry no meaning in a value (OCR puts them between
// widely set characters); spaces between Latin words do.
QString withoutHanSpaces(const QString& s) {
    QString out;
    for (int i = 0; i < s.size(); ++i) {
        if (s[i].isSpace()) {
            int j = i;
            while (j < s.size() && s[j].isSpace())
                ++j;
            const bool hanBefore = !out.isEmpty() && isHan(out.back());
            const bool hanAfter = j < s.size() && isHan(s[j]);
            if (!hanBefore && !hanAfter && !out.isEmpty() && j < s.size())
                out += QLatin1Char(' ');
            i = j - 1;
            continue;
        }
        out += s[i];
    }
    return out;
}

// Marks OCR leaves at the ends of a piece: stray strokes, bars, dots.
QString trimmedPiece(const QString& s) {
    static const QString junk = u(" \t|｜_—-~·.,，。、;；:：'\"‘’“”!！*•");
    int a = 0, b = int(s.size());
    while (a < b && junk.contains(s[a]))
        ++a;
    // A dot after a Latin word is its own ("Ltd.").
    while (b > a && junk.contains(s[b - 1]) &&
           !(s[b - 1] == QLatin1Char('.') && b - 2 >= a && isAsciiLetter(s[b - 2])))
        --b;
    return s.mid(a, b - a);
}

// --- numbers -----------------------------------------------------------------------

// Letters OCR gives for digits, where they touch a digit.
QString digitsFixed(const QString& text) {
    QString t = text;
    auto digitAt = [&](int k) { return k >= 0 && k < t.size() && isAsciiDigit(t[k]); };
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < t.size(); ++i) {
            const QChar c = t[i];
            const bool before = digitAt(i - 1), after = digitAt(i + 1);
            if (!before && !after)
                continue;
            if (QStringLiteral("OoDQ").contains(c) || c == QChar(0x3007))
                t[i] = QLatin1Char('0');
            else if (QStringLiteral("lI|i!").contains(c))
                t[i] = QLatin1Char('1');
            else if (c == QLatin1Char('S'))
                t[i] = QLatin1Char('5');
            else if (c == QLatin1Char('B'))
                t[i] = QLatin1Char('8');
            else if (c == QLatin1Char('Z'))
                t[i] = QLatin1Char('2');
            else if ((c == QChar(0x4E00) || c == QChar(0x2014)) && before && after)
                t[i] = QLatin1Char('-'); // "一" read for a dash
        }
    }
    return t;
}

namespace {

struct Group {
    QString digits;
    int start = 0;             // where it is printed, with its "+" or bracket
    int end = 0;               // after its last digit
    bool plus = false;         // "+" before it
    bool dash = false;         // "-" right before it
    bool extension = false;    // "转", "ext", "分机" before it
    bool separated = false;    // "/", ",", words: another number may start
    bool afterCountry = false; // follows "+86"
};

std::vector<Group> groupsOf(const QString& s) {
    static const QStringList extensionWords = {u("分机号"), u("分机"), u("转"),
                                               QStringLiteral("ext"), QStringLiteral("x")};
    std::vector<Group> groups;
    Group next;
    int opening = -1; // a "+" or an opening bracket right before the digits
    int i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (isAsciiDigit(c)) {
            int j = i;
            while (j < s.size() && isAsciiDigit(s[j]))
                ++j;
            next.digits = s.mid(i, j - i);
            next.start = opening >= 0 ? opening : i;
            next.end = j;
            groups.push_back(next);
            next = Group();
            opening = -1;
            i = j;
            continue;
        }
        if (c == QLatin1Char('+') || c == QLatin1Char('(') || c == QLatin1Char('[') ||
            c == QChar(0xFF08)) {
            if (opening < 0)
                opening = i;
        } else if (!c.isSpace()) {
            opening = -1;
        }
        bool word = false;
        for (const QString& w : extensionWords) {
            if (QStringView(s).mid(i, w.size()).compare(w, Qt::CaseInsensitive) == 0 &&
                !(w.size() == 1 && isAsciiLetter(w[0]) && i > 0 && isAsciiLetter(s[i - 1]))) {
                const int end = i + int(w.size());
                if (end < s.size() && isAsciiLetter(s[end]) && isAsciiLetter(w[0]))
                    continue;
                next.extension = true;
                i = end;
                word = true;
                break;
            }
        }
        if (word)
            continue;
        if (c == QLatin1Char('+'))
            next.plus = true;
        else if (c == QLatin1Char('-'))
            next.dash = true;
        else if (c.isSpace() || QStringLiteral("()[]{}.*").contains(c) || c == QChar(0xFF08) ||
                 c == QChar(0xFF09) || isColon(c))
            ; // inside one number
        else
            next.separated = true;
        ++i;
    }
    return groups;
}

} // namespace

// Mobiles (11 digits from 1), landlines with their area codes, extensions, and digits
// that are neither.
namespace {

// Mobiles are printed whole or as 3-4-4 (4-3-4 now and then), after "+86" or not. A blank
// elsewhere ("1 50 2567 2236", "1353901 1408") is the reading's, beside a narrow "1": the
// first one whose going leaves a printed grouping goes, else every one.
QString mobileAsPrinted(const QString& shown) {
    static const QRegularExpression country(QStringLiteral("^(?:\\+86|0086)[ -]?"));
    const QRegularExpressionMatch m = country.match(shown);
    const QString prefix = m.hasMatch() ? m.captured() : QString();
    const QString number = shown.mid(prefix.size());
    static const QRegularExpression grouped(
        QStringLiteral("^(?:\\d{11}|\\d{3}([ -])\\d{4}\\1\\d{4}|\\d{4}([ -])\\d{3}\\2\\d{4}|"
                       "\\d{3}[ -]\\d{8})$"));
    if (grouped.match(number).hasMatch() || !number.contains(QLatin1Char(' ')))
        return shown;
    for (int i = 0; i < number.size(); ++i) {
        if (number[i] == QLatin1Char(' ') && grouped.match(QString(number).remove(i, 1)).hasMatch())
            return prefix + QString(number).remove(i, 1);
    }
    return prefix + QString(number).remove(QLatin1Char(' '));
}

} // namespace

Numbers numbersIn(const QString& text) {
    Numbers out;
    QString fixed = digitsFixed(text);
    // On a far shot the "+" of the country code is read as a dash or lost ("-86 150 2567
    // 2236", "86 571 6293 8895"), its 6 as another digit ("+88-25-…": no country has that
    // code), and the 0 of an area code ("21 6323 5701"): a group of 86 before ten digits
    // more is the country code, one of two or three digits before a landline of seven or
    // eight the area code. No number is printed otherwise.
    static const QRegularExpression lostPlus(QStringLiteral(
        "(^|[^\\d+\\-])\\s*[+-]?\\s?8[035689](?=[ -](?:[ -]?\\d){10,11}(?![ -]?\\d))"));
    fixed.replace(lostPlus, QStringLiteral("\\1+86"));
    static const QRegularExpression lostZero(
        QStringLiteral("(?<![\\d+\\-])(?<!86 )(?<!86-)(10|2\\d|[3-9]\\d\\d)(?=[ -]\\d{3,4}[ "
                       "-]?\\d{4}(?![ -]?\\d))"));
    fixed.replace(lostZero, QStringLiteral("0\\1"));
    std::vector<Group> g = groupsOf(fixed);
    // The number as printed from group `first` to the one before `last`, blanks made one.
    auto printed = [&](size_t first, size_t last) {
        const int from = g[first].start, to = g[last - 1].end;
        QString shown = fixed.mid(from, to - from).simplified();
        shown.replace(QChar(0xFF08), QLatin1Char('(')).replace(QChar(0xFF09), QLatin1Char(')'));
        shown.replace(QLatin1Char('['), QLatin1Char('('))
            .replace(QLatin1Char(']'), QLatin1Char(')'));
        // Marks a photo blurs: a dash read as a dot (Chinese numbers are not set with dots),
        // a bracket lost or doubled.
        static const QRegularExpression dashes(QStringLiteral("(?<=\\d)[-.]+(?=\\d)"));
        shown.replace(dashes, QStringLiteral("-"));
        static const QRegularExpression doubled(QStringLiteral("([()])\\1+"));
        shown.replace(doubled, QStringLiteral("\\1"));
        if (shown.contains(QLatin1Char(')')) && !shown.contains(QLatin1Char('(')) &&
            isAsciiDigit(shown[0]))
            shown.prepend(QLatin1Char('('));
        // The gap after a bracketed area code lost where the number is printed in groups:
        // the bracket stands well apart from its neighbour only on a sharp picture.
        static const QRegularExpression bracketGap(QStringLiteral("^(\\(\\d{3,4}\\))(?=\\d+ \\d)"));
        shown.replace(bracketGap, QStringLiteral("\\1 "));
        // The gap after the country code, which no card leaves out, lost.
        if (shown.startsWith(QLatin1String("+86")) && shown.size() > 3 && isAsciiDigit(shown[3]))
            shown.insert(3, shown.contains(QLatin1Char('-')) ? QLatin1Char('-') : QLatin1Char(' '));
        return shown;
    };
    auto joinable = [&](size_t j) {
        return j < g.size() && !g[j].separated && !g[j].extension && !g[j].plus;
    };
    QString lastArea;
    size_t i = 0;
    size_t country = g.size(); // the "+86" group before the number, when there is one
    while (i < g.size()) {
        const Group& a = g[i];
        QString d = a.digits;
        if (a.extension) {
            (d.size() <= 6 ? out.extensions : out.others) << d;
            ++i;
            continue;
        }
        if ((a.plus && d == QLatin1String("86")) || d == QLatin1String("0086")) {
            if (i + 1 < g.size())
                g[i + 1].afterCountry = true;
            country = i;
            ++i;
            continue;
        }
        const size_t first = country + 1 == i ? country : i;
        country = g.size();
        bool afterCountry = a.afterCountry;
        if (a.plus && d.startsWith(QLatin1String("86")) && d.size() > 2) {
            d = d.mid(2); // "+86512 5164 1069": the blank after the country code missed
            afterCountry = true;
        }
        size_t j = i + 1;
        // Mobile: 11 digits from a 1, in any grouping.
        {
            QString all = d;
            size_t k = j;
            while (all.size() < 11 && joinable(k))
                all += g[k++].digits;
            if (d[0] == QLatin1Char('1') && all.size() == 11) {
                out.mobiles << mobileAsPrinted(printed(first, k));
                i = k;
                continue;
            }
        }
        QString area, local;
        int gluedArea = 0; // digits of an area code OCR glued to the number after it
        if (d[0] == QLatin1Char('0') && (d.size() == 3 || d.size() == 4) && joinable(j)) {
            area = d;
        } else if (afterCountry && (d.size() == 2 || d.size() == 3) && joinable(j)) {
            area = QLatin1Char('0') + d;
        } else if (afterCountry && d.size() >= 6 && d.size() <= 11 && d[0] != QLatin1Char('0')) {
            // "+86213613 9025": Beijing (10) and the 2x cities have two digits, the others three.
            gluedArea = d.startsWith(QLatin1String("10")) || d[0] == QLatin1Char('2') ? 2 : 3;
            area = QLatin1Char('0') + d.left(gluedArea);
            local = d.mid(gluedArea);
        } else if (d[0] == QLatin1Char('0') && d.size() >= 10 && d.size() <= 12) {
            // Area codes of the big cities have three digits (010, 02x), the others four.
            const int n = (d[1] == QLatin1Char('1') || d[1] == QLatin1Char('2')) ? 3 : 4;
            area = d.left(n);
            local = d.mid(n);
        } else {
            local = d;
        }
        if (!area.isEmpty() && (local.isEmpty() || gluedArea > 0)) {
            while (local.size() < 7 && joinable(j))
                local += g[j++].digits;
        } else if (area.isEmpty()) {
            while (local.size() < 7 && joinable(j) && local.size() + g[j].digits.size() <= 8)
                local += g[j++].digits;
        }
        if (local.size() >= 7 && local.size() <= 8) {
            QString shown = printed(first, j);
            if (gluedArea > 0 && shown.startsWith(QLatin1String("+86")) && shown.size() > 4) {
                const int after = 4 + gluedArea;
                if (after < shown.size() && isAsciiDigit(shown[after]))
                    shown.insert(after, shown[3]);
            }
            // "010-62531234 / 62531235": the second shares the first one's area code.
            if (area.isEmpty() && !lastArea.isEmpty())
                shown = lastArea + QLatin1Char('-') + shown;
            out.landlines << shown;
            if (!area.isEmpty())
                lastArea = area;
            if (j < g.size() && !g[j].separated && (g[j].extension || g[j].dash) &&
                g[j].digits.size() <= 5) {
                out.extensions << g[j].digits;
                ++j;
            }
            i = j;
            continue;
        }
        out.others << a.digits;
        ++i;
    }
    return out;
}

// Where the words after a run of numbers begin: the first word that is neither a number nor
// a sign or word that goes with numbers ("转", "ext."); the length when there is none.
int wordsAfterNumbers(const QString& value) {
    static const QRegularExpression word(QStringLiteral("\\S+"));
    static const QStringList numberWords = {u("转"),
                                            u("分机"),
                                            u("分机号"),
                                            QStringLiteral("ext"),
                                            QStringLiteral("ext."),
                                            QStringLiteral("x")};
    bool seenNumber = false;
    for (auto it = word.globalMatch(value); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString t = m.captured();
        const bool number = countOf(digitsFixed(t), isAsciiDigit) > 0;
        const bool sign = std::none_of(t.begin(), t.end(), [](QChar c) { return c.isLetter(); });
        if (number || sign || numberWords.contains(t, Qt::CaseInsensitive)) {
            seenNumber = seenNumber || number;
            continue;
        }
        if (seenNumber)
            return int(m.capturedStart());
    }
    return int(value.size());
}

QString digitsOnly(const QString& s) {
    QString out;
    for (const QChar c : s) {
        if (isAsciiDigit(c))
            out += c;
    }
    return out;
}

// --- mail and web ------------------------------------------------------------------

namespace {

// An "l" read as "1" in a mail or web address: a one among letters, or beginning a part
// of it before a letter, is the letter. Digits are left where a digit stands beside them.
QString lettersForOnes(QString s) {
    auto letter = [](QChar c) { return isAsciiLetter(c); };
    for (int i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != QLatin1Char('1') || !letter(s[i + 1]))
            continue;
        const QChar before = i > 0 ? s[i - 1] : QChar();
        if (before.isNull() || letter(before) || QStringLiteral(".@_-/").contains(before))
            s[i] = QLatin1Char('l');
    }
    return s;
}

} // namespace

QString mailIn(QString s) {
    s.replace(QChar(0xA9), QLatin1Char('@')).replace(QChar(0xAE), QLatin1Char('@'));
    s.replace(QStringLiteral("(at)"), QStringLiteral("@"));
    s.replace(QChar(0x3002), QLatin1Char('.'));
    // A dot of the name read as a comma ("zhou, haoxin@").
    static const QRegularExpression comma(
        QStringLiteral("([A-Za-z0-9])\\s*[,\\x{FF0C}]\\s*(?=[A-Za-z0-9._\\-]*\\s*@)"));
    s.replace(comma, QStringLiteral("\\1."));
    static const QRegularExpression spaced(QStringLiteral("\\s*([@._])\\s*"));
    s.replace(spaced, QStringLiteral("\\1"));
    // The dot before the last part lost in a gap ("lanhai cn"), or that part read twice.
    static const QRegularExpression lostDot(
        QStringLiteral("(@[A-Za-z0-9.\\-]+) +(com|cn|net|org|edu|gov)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    s.replace(lostDot, QStringLiteral("\\1.\\2"));
    static const QRegularExpression twice(QStringLiteral("(\\.[A-Za-z]{2,3})\\1\\b"));
    s.replace(twice, QStringLiteral("\\1"));
    // OCR reads the low line of "ding_j@" as a gap.
    static const QRegularExpression lowLine(QStringLiteral("([a-z0-9]) +([A-Za-z0-9]+@)"));
    s.replace(lowLine, QStringLiteral("\\1_\\2"));
    const int at = int(s.indexOf(QLatin1Char('@')));
    if (at < 0)
        return QString();
    for (int k = at + 1; k < s.size(); ++k) {
        if (s[k] == QLatin1Char(',') || s[k] == QChar(0xFF0C))
            s[k] = QLatin1Char('.');
    }
    static const QRegularExpression mail(
        QStringLiteral("[A-Za-z0-9][A-Za-z0-9._%+\\-]*@[A-Za-z0-9\\-]+(?:\\.[A-Za-z0-9\\-]+)+"));
    const QRegularExpressionMatch m = mail.match(s);
    if (!m.hasMatch())
        return QString();
    const QString found = m.captured();
    const int sign = int(found.indexOf(QLatin1Char('@')));
    // Before the sign, capitals beside digits are digits misread ("songd9S"), a zero among
    // letters an o ("ga0_s"); addresses are written in small letters.
    QString local = found.left(sign);
    auto letter = [](QChar c) { return isAsciiLetter(c); };
    for (int i = 0; i < local.size(); ++i) {
        const QChar before = i > 0 ? local[i - 1] : QChar();
        const QChar after = i + 1 < local.size() ? local[i + 1] : QChar();
        const int digit = int(QStringLiteral("OIZSB").indexOf(local[i]));
        if (digit >= 0 && (isAsciiDigit(before) || isAsciiDigit(after)))
            local[i] = QStringLiteral("01258")[digit];
        else if (local[i] == QLatin1Char('0') && letter(before) &&
                 (letter(after) || QStringLiteral("._-").contains(after)))
            local[i] = QLatin1Char('o');
    }
    // An "l" read as a capital "I" ("xiaokun.Iinghu"): where the address has no other
    // capital, one after a small letter or a sign and before a small letter. A first one
    // may be the writer's ("Ivan@").
    if (!std::any_of(local.begin(), local.end(),
                     [](QChar c) { return c.isUpper() && c != QLatin1Char('I'); })) {
        for (int i = 1; i + 1 < local.size(); ++i) {
            if (local[i] == QLatin1Char('I') && local[i + 1].isLower() &&
                (local[i - 1].isLower() || QStringLiteral("._-").contains(local[i - 1])))
                local[i] = QLatin1Char('l');
        }
    }
    return lettersForOnes(local + found.mid(sign)).toLower();
}

QString webIn(QString s, bool labelled) {
    s.replace(QChar(0x3002), QLatin1Char('.'));
    // What is left of a misread label's colon ("Web+ nw.zhengtai") is no part of the address.
    static const QRegularExpression leadingSigns(QStringLiteral("^[^A-Za-z0-9]+"));
    s.remove(leadingSigns);
    static const QRegularExpression spaced(QStringLiteral("\\s*\\.\\s*"));
    s.replace(spaced, QStringLiteral("."));
    static const QRegularExpression commaAfterW(QStringLiteral("^(w{3}),"),
                                                QRegularExpression::CaseInsensitiveOption);
    s.replace(commaAfterW, QStringLiteral("\\1."));
    // Its dot lost ("wwwjiahe.com"), one or two of its w ("ww.huitong", "w.hongtu"), or a w
    // read as the letters a blurred one looks like ("uww.lanhai", "nw.zhengtai"); before a
    // host of two parts at least.
    static const QRegularExpression blurredW(
        QStringLiteral("^(?:www(?=[a-z][a-z0-9\\-]*\\.)|(?=[uvnw]{0,2}w\\.)(?!www\\.)[uvnw]{1,3}"
                       "\\.(?=[a-z0-9\\-]+\\.[a-z]))"),
        QRegularExpression::CaseInsensitiveOption);
    s.replace(blurredW, QStringLiteral("www."));
    static const QRegularExpression web(
        QStringLiteral("(?:https?://)?(?:[A-Za-z0-9\\-]+\\.)+[A-Za-z]{2,}(?:/[^\\s]*)?"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = web.match(s);
    if (!m.hasMatch())
        return QString();
    const QString found = lettersForOnes(m.captured());
    if (!labelled && !found.startsWith(QLatin1String("www."), Qt::CaseInsensitive) &&
        !found.startsWith(QLatin1String("http"), Qt::CaseInsensitive))
        return QString();
    const int slash = int(found.indexOf(QLatin1Char('/'), found.indexOf(QLatin1String("//")) + 2));
    return slash < 0 || found.indexOf(QLatin1String("//")) < 0
               ? found.toLower()
               : found.left(slash).toLower() + found.mid(slash);
}

QString mailWithHost(const QString& s, const QStringList& hosts) {
    QString t = s.simplified().remove(QLatin1Char(' ')).toLower();
    for (QString host : hosts) {
        host = host.toLower();
        if (host.size() < 3)
            continue;
        // The last place the host starts with one character (the misread sign) before it.
        const int at = int(t.lastIndexOf(host));
        if (at < 2)
            continue;
        const QString mended = mailIn(t.left(at - 1) + QLatin1Char('@') + t.mid(at));
        if (!mended.isEmpty())
            return mended;
    }
    return QString();
}

namespace {

// Whether a host ends in a domain cards print: a misread one ends in letters that are none.
bool knownEnding(const QString& host) {
    static const QStringList endings = {
        QStringLiteral("com"),  QStringLiteral("cn"),  QStringLiteral("net"),
        QStringLiteral("org"),  QStringLiteral("edu"), QStringLiteral("gov"),
        QStringLiteral("info"), QStringLiteral("biz"), QStringLiteral("cc"),
        QStringLiteral("tv"),   QStringLiteral("hk"),  QStringLiteral("tw"),
        QStringLiteral("mo"),   QStringLiteral("io"),  QStringLiteral("co"),
        QStringLiteral("me"),   QStringLiteral("top"), QStringLiteral("xyz"),
        QStringLiteral("asia"), QStringLiteral("vip"), QStringLiteral("site"),
        QStringLiteral("ltd"),  QStringLiteral("jp"),  QStringLiteral("uk"),
        QStringLiteral("us"),   QStringLiteral("de"),  QStringLiteral("sg")};
    const int dot = int(host.lastIndexOf(QLatin1Char('.')));
    return dot > 0 && endings.contains(host.mid(dot + 1));
}

// Whether the characters of `part` stand in `whole` in the same order: what a far shot
// leaves of a host that lost a few.
bool inOrder(const QString& part, const QString& whole) {
    int at = 0;
    for (const QChar c : whole) {
        if (at < part.size() && part[at] == c)
            ++at;
    }
    return at == part.size();
}

// The host of a web address: where it starts after the scheme and "www.", and its end.
std::pair<int, int> hostSpan(const QString& web) {
    static const QRegularExpression host(
        QStringLiteral("^(?:https?://)?(?:www\\.)?([A-Za-z0-9.\\-]+)"));
    const QRegularExpressionMatch m = host.match(web);
    return m.hasMatch() ? std::make_pair(int(m.capturedStart(1)), int(m.capturedEnd(1)))
                        : std::make_pair(0, 0);
}

} // namespace

void agreeHosts(QStringList& mails, QStringList& webs) {
    for (QString& mail : mails) {
        const int sign = int(mail.indexOf(QLatin1Char('@')));
        if (sign < 0)
            continue;
        for (QString& web : webs) {
            const auto [from, to] = hostSpan(web);
            const QString mailHost = mail.mid(sign + 1), webHost = web.mid(from, to - from);
            if (webHost.size() < 4 || mailHost.size() < 4 || mailHost == webHost ||
                mailHost.left(3) != webHost.left(3))
                continue;
            if (!knownEnding(mailHost) && knownEnding(webHost) && inOrder(mailHost, webHost))
                mail = mail.left(sign + 1) + webHost;
            else if (knownEnding(mailHost) && !knownEnding(webHost) && inOrder(webHost, mailHost))
                web = web.left(from) + mailHost + web.mid(to);
        }
    }
}

namespace {

// Beijing (010) and the 02x cities have area codes of three digits, every other city four
// from 03 to 09: "016" is a misread one.
bool isAreaCode(const QString& code) {
    if (code.size() == 3)
        return code == QLatin1String("010") || code.startsWith(QLatin1String("02"));
    return code.size() == 4 && code[1] >= QLatin1Char('3');
}

// The area code of a printed landline ("(016) …", "016-…", "+86 16 …"), with its 0.
QString areaCodeOf(const QString& number, int* from) {
    static const QRegularExpression area(
        QStringLiteral("^(?:\\+86[ -]?)?\\(?(0?)(\\d{2,3})\\)?[ -]"));
    const QRegularExpressionMatch m = area.match(number);
    if (!m.hasMatch() || (m.captured(1).isEmpty() && !number.startsWith(QLatin1Char('+'))))
        return QString();
    *from = int(m.capturedStart(2));
    return QLatin1Char('0') + m.captured(2);
}

} // namespace

void agreeAreaCodes(const QList<QStringList*>& lists) {
    QStringList codes;
    for (const QStringList* list : lists) {
        for (const QString& number : *list) {
            int from = 0;
            const QString code = areaCodeOf(number, &from);
            if (isAreaCode(code) && !codes.contains(code))
                codes << code;
        }
    }
    for (QStringList* list : lists) {
        for (QString& number : *list) {
            int from = 0;
            const QString code = areaCodeOf(number, &from);
            if (code.isEmpty() || isAreaCode(code))
                continue;
            // The card's other numbers share their area code: one that differs by a digit.
            QStringList near;
            for (const QString& other : codes) {
                if (other.size() != code.size())
                    continue;
                int differ = 0;
                for (int i = 0; i < other.size(); ++i)
                    differ += other[i] != code[i];
                if (differ == 1)
                    near << other;
            }
            if (near.size() == 1)
                number.replace(from, code.size() - 1, near.first().mid(1));
        }
    }
}

bool isEnglishAddress(const QString& s) {
    if (countOf(s, isHan) > 0 || countOf(s, isAsciiLetter) < 8)
        return false;
    static const QRegularExpression words(
        QStringLiteral("\\b(Road|Rd|Street|St|Avenue|Ave|Lane|District|Dist|Room|Rm|Floor|Fl|"
                       "Building|Bldg|Tower|Plaza|Park|Province|City|No|Block|Suite|Unit|Town|"
                       "China|P\\.?R\\.?C)\\b\\.?"),
        QRegularExpression::CaseInsensitiveOption);
    int count = 0;
    for (auto it = words.globalMatch(s); it.hasNext(); it.next())
        ++count;
    return count >= 2 || (count >= 1 && countOf(s, isAsciiDigit) > 0);
}

// --- words ---------------------------------------------------------------------------

namespace {

const QRegularExpression& rankPattern() {
    static const QRegularExpression r(
        u("(工程师|教授|讲师|研究员|会计师|经济师|医师|护师|药师|律师|建筑师|审计师|统计师|"
          "规划师|导师|编审|记者)$"));
    return r;
}

const QRegularExpression& postPattern() {
    static const QRegularExpression r(
        u("(董事长|董事|总经理|经理|总监|主任|主管|总裁|院长|校长|处长|科长|部长|所长|厂长|局长|"
          "秘书长|秘书|主席|总工程师|代表|专员|助理|顾问|合伙人|行长|组长|书记|设计师|主编|总编|"
          "店长|创始人|CEO|CTO|CFO|COO)$"),
        QRegularExpression::CaseInsensitiveOption);
    return r;
}

// The organisation words, strongest first.
const char* const kStrongOrganisation[] = {
    "公司",   "集团",   "有限",   "大学",   "医院", "研究所", "研究院",
    "科学院", "银行",   "事务所", "委员会", "协会", "学会",   "出版社",
    "报社",   "电视台", "基金会", "中学",   "小学", "学校",   "幼儿园"};
const char* const kWeakOrganisation[] = {"学院", "工作室", "酒店", "宾馆", "商行"};

// Firms named by their last character: a factory, a shop, an office, a trading house.
bool firmEnding(const QString& t) {
    static const QRegularExpression r(u("^\\p{Han}{3,}(厂|店|所|行)$"));
    static const QRegularExpression notFirm(u("(执行|进行|发行|旅行|流行|派出所|厕所|场所|住所)$"));
    return r.match(t).hasMatch() && !notFirm.match(t).hasMatch();
}

} // namespace

int organisationStrength(const QString& t) {
    if (t.size() < 4)
        return 0;
    for (const char* w : kStrongOrganisation) {
        if (t.contains(u(w)))
            return 2;
    }
    if (firmEnding(t))
        return t.size() >= 5 ? 2 : 1;
    for (const char* w : kWeakOrganisation) {
        if (t.contains(u(w)))
            return 1;
    }
    return 0;
}

namespace {

bool isDepartment(const QString& t) {
    static const QRegularExpression r(u("^\\p{Han}{1,12}(部|处|科|中心|室|系|组|分公司|学院|事业部|"
                                        "分院|车间)$"));
    return t.size() >= 2 && r.match(t).hasMatch();
}

} // namespace

// Post or rank by the longer matching ending: "总工程师" is a post, "主任医师" a rank.
Role titleRole(const QString& t) {
    // Longer are sentences, but a department, a post and a title run together may reach 14.
    if (t.size() > 14)
        return Role::Other;
    const QRegularExpressionMatch rank = rankPattern().match(t);
    const QRegularExpressionMatch post = postPattern().match(t);
    const int rankLength = rank.hasMatch() ? int(rank.capturedLength(1)) : 0;
    const int postLength = post.hasMatch() ? int(post.capturedLength(1)) : 0;
    if (rankLength == 0 && postLength == 0)
        return Role::Other;
    return postLength > rankLength ? Role::Post : Role::Rank;
}

Role roleOf(const QString& t) {
    if (organisationStrength(t) == 2)
        return Role::Company;
    const Role title = titleRole(t);
    if (title != Role::Other)
        return title;
    if (isDepartment(t))
        return Role::Department;
    if (organisationStrength(t) == 1)
        return Role::Company;
    if (allHan(t) && t.size() >= 2 && t.size() <= 4)
        return Role::Name;
    return Role::Other;
}

bool isAddress(const QString& s) {
    static const QRegularExpression strong(u("省|市|区|县|路|街|大道|镇|乡|村|巷|弄"));
    static const QRegularExpression marker(u("省|市|区|县|路|街|道|号|大厦|广场|楼|室|层|镇|"
                                             "乡|村|园|座|巷|弄"));
    static const QRegularExpression organisationEnd(
        u("(公司|集团|大学|学院|医院|研究所|研究院|银行|事务所|分公司|厂|店|所|行)$"));
    // "华东区销售部市场总监": a department and a post, though 区 and 市 are in it.
    if (organisationEnd.match(s).hasMatch() ||
        (countOf(s, isAsciiDigit) == 0 && titleRole(s) != Role::Other))
        return false;
    int strongCount = 0, markerCount = 0;
    for (auto it = strong.globalMatch(s); it.hasNext(); it.next())
        ++strongCount;
    for (auto it = marker.globalMatch(s); it.hasNext(); it.next())
        ++markerCount;
    const bool digits = countOf(s, isAsciiDigit) > 0;
    return countOf(s, isHan) >= 4 && ((digits && markerCount >= 2) || strongCount >= 2);
}

} // namespace Recognize::Patterns

#include "recognize/readings.h"

#include "recognize/fieldpatterns.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace Recognize::Readings {

namespace {

bool hostCharacter(QChar c) {
    return c.unicode() < 0x80 &&
           (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-'));
}

// The last letters and digits of a text, small.
QString lastLetters(const QString& text, int count) {
    QString out;
    for (int i = int(text.size()) - 1; i >= 0 && out.size() < count; --i) {
        if (text[i].isLetterOrNumber())
            out.prepend(text[i].toLower());
    }
    return out;
}

// A number as read: an optional "+86", then digits with the blanks, dashes and brackets
// numbers are printed with between them.
struct Run {
    int start = 0, end = 0; // in the text
    int prefix = 0;         // characters of "+86 " or "0086-" at its start
};

std::vector<Run> runsOf(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("(?:(?:\\+|00)\\s?86[ -]?)?[(]?\\d(?:[\\d()-]| (?=[\\d(]))*\\d[)]?"));
    static const QRegularExpression country(QStringLiteral("^(?:\\+|00)\\s?86[ -]?"));
    std::vector<Run> runs;
    auto it = number.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QRegularExpressionMatch c = country.match(m.captured());
        runs.push_back({int(m.capturedStart()), int(m.capturedEnd()),
                        c.hasMatch() ? int(c.capturedLength()) : 0});
    }
    return runs;
}

// The lengths of the digit groups of a number, "(010) 6253-1234" as 3, 4, 4.
std::vector<int> groupLengths(const QString& number) {
    std::vector<int> lengths;
    int run = 0;
    for (const QChar c : number) {
        if (c.isDigit()) {
            ++run;
        } else if (run > 0) {
            lengths.push_back(run);
            run = 0;
        }
    }
    if (run > 0)
        lengths.push_back(run);
    return lengths;
}

// Whether groups are a local number as printed: 7 or 8 digits whole, or a group of three
// or four and one of four (four and three now and then).
bool localShape(const std::vector<int>& l) {
    return (l.size() == 1 && (l[0] == 7 || l[0] == 8)) ||
           (l.size() == 2 && (l[0] == 3 || l[0] == 4) && (l[1] == 4 || (l[0] == 4 && l[1] == 3)));
}

// Whether `digits`, grouped as `l`, is a phone number as cards print one; `country` when
// "+86" stands before it (area codes without their 0); `lostZero` takes an area code that
// lost its 0 to the reading as one.
bool phoneShape(const QString& digits, const std::vector<int>& l, bool country,
                bool lostZero = true) {
    if (l.empty())
        return false;
    int n = 0;
    for (const int length : l)
        n += length;
    if (digits.startsWith(QLatin1Char('1')) && n == 11)
        return l == std::vector<int>{11} || l == std::vector<int>{3, 4, 4} ||
               l == std::vector<int>{4, 3, 4} || l == std::vector<int>{3, 8};
    const std::vector<int> local(l.begin() + 1, l.end());
    const bool zero = digits.startsWith(QLatin1Char('0'));
    const bool area = (zero && !country && (l[0] == 3 || l[0] == 4)) ||
                      (!zero && (country || lostZero) && (l[0] == 2 || l[0] == 3));
    return (area && localShape(local)) || (!zero && !country && localShape(l));
}

// The same, or a number without an area code, a postcode or QQ alone.
bool printedShape(const QString& digits, const std::vector<int>& l, bool country) {
    return phoneShape(digits, l, country) || (!country && !digits.startsWith(QLatin1Char('0')) &&
                                              l.size() == 1 && l[0] >= 3 && l[0] <= 11);
}

QString digitsOf(const QString& s) {
    QString d;
    for (const QChar c : s) {
        if (c.isDigit())
            d += c;
    }
    return d;
}

QString halfWidthSigns(QString s) {
    for (QChar& c : s) {
        if (c.unicode() >= 0xFF01 && c.unicode() <= 0xFF5E)
            c = QChar(c.unicode() - 0xFEE0);
        else if (c.unicode() == 0x3000)
            c = QLatin1Char(' ');
    }
    return s;
}

bool afterExtensionWord(const QString& text, int at) {
    const QString before = text.left(at).trimmed();
    return before.endsWith(QChar(0x8F6C)) ||
           before.endsWith(QLatin1String("ext"), Qt::CaseInsensitive) ||
           before.endsWith(QLatin1String("ext."), Qt::CaseInsensitive);
}

// The number from `numberStart` to `numberEnd` of `text` with the digits and blanks from
// `from` to `to` grouped by `blanks` (a blank after each digit flagged).
QString regrouped(const QString& text, int from, int to, const std::vector<bool>& blanks) {
    QString stretch;
    size_t d = 0;
    for (int k = from; k < to; ++k) {
        if (!text[k].isDigit())
            continue;
        stretch += text[k];
        if (d < blanks.size() && blanks[d])
            stretch += QLatin1Char(' ');
        ++d;
    }
    return text.left(from) + stretch + text.mid(to);
}

} // namespace

QString withMailSign(const QString& model, const QString& tesseract) {
    const QChar at = QLatin1Char('@');
    const int sign = int(tesseract.indexOf(at));
    if (model.contains(at) || sign <= 0)
        return model;
    int end = sign + 1;
    while (end < tesseract.size() && hostCharacter(tesseract[end]))
        ++end;
    // Tesseract runs a host into what follows it now and then ("tianyu.comLianyu."): the
    // longest beginning of it the model read too is the host; one without a dot is too
    // short to say.
    const QString host = tesseract.mid(sign + 1, end - sign - 1);
    for (int length = int(host.size()); length >= 4; --length) {
        const QString part = host.left(length);
        if (!part.contains(QLatin1Char('.')) || part.endsWith(QLatin1Char('.')))
            continue;
        const int p = int(model.lastIndexOf(part, -1, Qt::CaseInsensitive));
        if (p <= 0 || !model[p - 1].isLetterOrNumber())
            continue;
        QString mended = model;
        // "yao@" read "yaoo": the round letter is the sign when what stands before it ends
        // as the name before Tesseract's "@" does.
        const QString name = lastLetters(tesseract.left(sign), 2);
        if (QStringLiteral("oaecgQO0").contains(model[p - 1]) && !name.isEmpty() &&
            lastLetters(model.left(p - 1), int(name.size())) == name)
            mended[p - 1] = at;
        else
            mended.insert(p, at);
        return mended;
    }
    return model;
}

bool isNumberLine(const QString& raw) {
    using Patterns::Kind;
    const QString text = halfWidthSigns(raw);
    for (const Patterns::FoundLabel& l : Patterns::findLabels(text)) {
        if (l.kind != Kind::Web && l.kind != Kind::Address)
            return true;
    }
    static const QRegularExpression digits(QStringLiteral("\\d(?:[ ()-]?\\d){6}"));
    return digits.match(text).hasMatch();
}

bool fitsNumbers(const QString& raw) {
    using Patterns::Kind;
    const QString text = halfWidthSigns(raw);
    const std::vector<Patterns::FoundLabel> labels = Patterns::findLabels(text);
    for (size_t i = 0; i < labels.size(); ++i) {
        const int end = i + 1 < labels.size() ? labels[i + 1].start : int(text.size());
        QString value = text.mid(labels[i].valueStart, end - labels[i].valueStart);
        value = value.left(int(value.indexOf(QLatin1Char('\t')))).trimmed();
        static const QRegularExpression mail(QStringLiteral(
            "^[a-z0-9][a-z0-9._-]*@[a-z0-9-]+(\\.[a-z0-9-]+)*\\.(com|cn|net|org|edu|gov)$"));
        const Kind kind = labels[i].kind;
        if ((kind == Kind::Mail && !mail.match(value).hasMatch()) ||
            (kind == Kind::Postcode &&
             (digitsOf(value).size() != 6 || groupLengths(value).size() != 1)) ||
            (kind == Kind::QQ && (digitsOf(value).size() < 5 || groupLengths(value).size() != 1)) ||
            ((kind == Kind::Mobile || kind == Kind::Phone || kind == Kind::Fax) &&
             runsOf(value).empty()))
            return false;
        if (kind != Kind::Mobile && kind != Kind::Phone && kind != Kind::Fax)
            continue;
        // A phone's number has its area code or is a mobile; a mobile's has 11 digits.
        for (const Run& r : runsOf(value)) {
            const QString number = value.mid(r.start + r.prefix, r.end - r.start - r.prefix);
            const QString digits = digitsOf(number);
            if (!afterExtensionWord(value, r.start) &&
                (!phoneShape(digits, groupLengths(number), r.prefix > 0) ||
                 (kind == Kind::Mobile &&
                  !(digits.size() == 11 && digits.startsWith(QLatin1Char('1'))))))
                return false;
        }
    }
    for (const Run& r : runsOf(text)) {
        const QString number = text.mid(r.start + r.prefix, r.end - r.start - r.prefix);
        if (!afterExtensionWord(text, r.start) &&
            !printedShape(digitsOf(number), groupLengths(number), r.prefix > 0))
            return false;
    }
    return true;
}

// What a "1" leaves of its place on either side, more than other digits, in heights of the
// type.
const double kOneSideGap = 0.08;

QString withGroupBlanks(const QString& text, const QList<double>& gapBefore) {
    if (gapBefore.size() != text.size())
        return text;
    // Blanks narrower than this, in heights of the type, are no blanks.
    const double narrowest = 0.15;
    // A grouping replaces the one read only when its blanks stand out this much more.
    const double clearly = 0.05;
    // Found on the half-width text, changed in the text as read.
    QString out = text;
    QList<double> gaps = gapBefore;
    const std::vector<Run> runs = runsOf(halfWidthSigns(text));
    // Postcodes, QQ and what follows other labels than a phone's are no phone numbers.
    const std::vector<Patterns::FoundLabel> labels = Patterns::findLabels(halfWidthSigns(text));
    auto phoneLabelled = [&](const Run& r) {
        using Patterns::Kind;
        const Patterns::FoundLabel* last = nullptr;
        for (const Patterns::FoundLabel& l : labels) {
            if (l.start < r.start)
                last = &l;
        }
        return !last ||
               text.mid(last->valueStart, r.start - last->valueStart).contains(QLatin1Char('\t')) ||
               last->kind == Kind::Mobile || last->kind == Kind::Phone || last->kind == Kind::Fax;
    };
    // Last first: a blank put in or taken out moves what follows.
    for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
        if (afterExtensionWord(halfWidthSigns(out), r->start) || !phoneLabelled(*r))
            continue;
        const int numberStart = r->start + r->prefix;
        // Each stretch of digits and blanks; dashes and brackets stay as printed.
        std::vector<std::pair<int, int>> stretches;
        for (int k = numberStart; k < r->end;) {
            while (k < r->end && !out[k].isDigit())
                ++k;
            int to = k;
            while (to < r->end && (out[to].isDigit() || out[to] == QLatin1Char(' ')))
                ++to;
            while (to > k && !out[to - 1].isDigit())
                --to;
            if (to > k)
                stretches.emplace_back(k, to);
            k = std::max(to, k + 1);
        }
        int end = r->end;
        for (auto s = stretches.rbegin(); s != stretches.rend(); ++s) {
            const auto [from, to] = *s;
            std::vector<double> gap; // after each digit but the last
            std::vector<bool> read;  // a blank read there
            int previous = -1;
            for (int k = from; k < to; ++k) {
                if (!out[k].isDigit())
                    continue;
                if (previous >= 0) {
                    double g = 0;
                    for (int j = previous + 1; j <= k; ++j)
                        g = std::max(g, gaps[j]);
                    // A "1" is narrower than its place: the ink leaves a wider gap beside it.
                    const int ones =
                        int(out[previous] == QLatin1Char('1')) + int(out[k] == QLatin1Char('1'));
                    gap.push_back(g - kOneSideGap * ones);
                    read.push_back(k - previous > 1);
                }
                previous = k;
            }
            if (gap.size() < 5)
                continue;
            const size_t n = gap.size();
            // How far the blanks of a grouping stand out from the gaps between its digits.
            auto margin = [&](const std::vector<bool>& blanks) {
                double lowest = 2 * narrowest, highest = narrowest;
                bool any = false;
                for (size_t b = 0; b < n; ++b) {
                    if (blanks[b]) {
                        lowest = any ? std::min(lowest, gap[b]) : gap[b];
                        any = true;
                    } else {
                        highest = std::max(highest, gap[b]);
                    }
                }
                return lowest - highest;
            };
            auto shapeOf = [&](const std::vector<bool>& blanks) {
                const int grown =
                    int(n) + 1 + int(std::count(blanks.begin(), blanks.end(), true)) - (to - from);
                const QString number = halfWidthSigns(
                    regrouped(out, from, to, blanks).mid(numberStart, end + grown - numberStart));
                // Nine digits are no phone for an area code that lost its 0 unless the
                // reading set those apart: QQ numbers have nine.
                const auto first = std::find(blanks.begin(), blanks.end(), true);
                const bool apart = first != blanks.end() && *first &&
                                   std::find(read.begin(), read.end(), true) - read.begin() ==
                                       first - blanks.begin();
                return phoneShape(digitsOf(number), groupLengths(number), r->prefix > 0, apart);
            };
            const bool readFits = shapeOf(read);
            // A number set with dashes has no blanks inside.
            const bool dashed = out.mid(numberStart, end - numberStart).contains(QLatin1Char('-'));
            double best = readFits ? margin(read) + clearly : -1e9;
            std::vector<bool> chosen = read;
            // Groupings of none, one and two blanks.
            for (size_t a = 0; a <= n; ++a) {
                for (size_t b = a; b <= n; ++b) {
                    if (b == a && a != n)
                        continue;
                    std::vector<bool> blanks(n, false);
                    if (a < n)
                        blanks[a] = true;
                    if (b < n)
                        blanks[b] = true;
                    // A reading in a printed grouping keeps its blanks: one lost may come.
                    bool keeps = true;
                    for (size_t k = 0; k < n && readFits; ++k)
                        keeps = keeps && (blanks[k] || !read[k]);
                    if (!keeps || (dashed && a < n) || !shapeOf(blanks))
                        continue;
                    const double m = margin(blanks);
                    if (m > best) {
                        best = m;
                        chosen = blanks;
                    }
                }
            }
            if (chosen == read)
                continue;
            const QString before = out;
            out = regrouped(out, from, to, chosen);
            QList<double> moved = gaps.mid(0, from);
            for (int k = from, d = 0; k < to; ++k) {
                if (!before[k].isDigit())
                    continue;
                moved << gaps[k];
                if (size_t(d) < n && chosen[size_t(d)])
                    moved << gap[size_t(d)];
                ++d;
            }
            moved << gaps.mid(to);
            gaps = moved;
            end += int(out.size() - before.size());
        }
    }
    return out;
}

void respaced(TextLine& line, const QString& text) {
    if (text == line.text)
        return;
    // The unsure characters counted without blanks, then found again in the new text.
    QList<int> marked;
    int solid = 0;
    for (int i = 0; i < line.text.size(); ++i) {
        if (line.text[i] == QLatin1Char(' '))
            continue;
        if (line.unsure.contains(i))
            marked << solid;
        ++solid;
    }
    line.unsure.clear();
    solid = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char(' '))
            continue;
        if (marked.contains(solid))
            line.unsure << i;
        ++solid;
    }
    line.text = text;
}

} // namespace Recognize::Readings

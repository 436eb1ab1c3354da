#include "cardparser.h"

#include "recognize/names.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace Recognize {

namespace {

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

// --- labels ------------------------------------------------------------------------

enum class Kind { Mobile, Phone, Fax, Extension, Mail, Web, QQ, Address, Postcode };

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

bool isColon(QChar c) {
    return c == QLatin1Char(':') || c == QChar(0xFF1A) || c == QLatin1Char(';') ||
           c == QChar(0xFF1B);
}

struct FoundLabel {
    int start;
    int valueStart;
    Kind kind;
};

std::vector<FoundLabel> findLabels(const QString& s) {
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
        if (!matched)
            ++i;
    }
    return found;
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

struct Group {
    QString digits;
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
    int i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        if (isAsciiDigit(c)) {
            int j = i;
            while (j < s.size() && isAsciiDigit(s[j]))
                ++j;
            next.digits = s.mid(i, j - i);
            groups.push_back(next);
            next = Group();
            i = j;
            continue;
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

struct Numbers {
    QStringList mobiles, landlines, extensions, others;
};

// Mobiles (11 digits from 1), landlines with their area codes, extensions, and digits
// that are neither.
Numbers numbersIn(const QString& text) {
    Numbers out;
    std::vector<Group> g = groupsOf(digitsFixed(text));
    auto joinable = [&](size_t j) {
        return j < g.size() && !g[j].separated && !g[j].extension && !g[j].plus;
    };
    QString lastArea;
    size_t i = 0;
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
            ++i;
            continue;
        }
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
                out.mobiles << all;
                i = k;
                continue;
            }
        }
        QString area, local;
        if (d[0] == QLatin1Char('0') && (d.size() == 3 || d.size() == 4) && joinable(j)) {
            area = d;
        } else if (afterCountry && (d.size() == 2 || d.size() == 3) && joinable(j)) {
            area = QLatin1Char('0') + d;
        } else if (d[0] == QLatin1Char('0') && d.size() >= 10 && d.size() <= 12) {
            // Area codes of the big cities have three digits (010, 02x), the others four.
            const int n = (d[1] == QLatin1Char('1') || d[1] == QLatin1Char('2')) ? 3 : 4;
            area = d.left(n);
            local = d.mid(n);
        } else {
            local = d;
        }
        if (!area.isEmpty() && local.isEmpty()) {
            while (local.size() < 7 && joinable(j))
                local += g[j++].digits;
        } else if (area.isEmpty()) {
            while (local.size() < 7 && joinable(j) && local.size() + g[j].digits.size() <= 8)
                local += g[j++].digits;
        }
        if (local.size() >= 7 && local.size() <= 8) {
            if (area.isEmpty())
                area = lastArea; // "010-62531234 / 62531235"
            out.landlines << (area.isEmpty() ? local : area + QLatin1Char('-') + local);
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

QString mailIn(QString s) {
    s.replace(QChar(0xA9), QLatin1Char('@')).replace(QChar(0xAE), QLatin1Char('@'));
    s.replace(QStringLiteral("(at)"), QStringLiteral("@"));
    s.replace(QChar(0x3002), QLatin1Char('.'));
    static const QRegularExpression spaced(QStringLiteral("\\s*([@.])\\s*"));
    s.replace(spaced, QStringLiteral("\\1"));
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
    return (local + found.mid(sign)).toLower();
}

QString webIn(QString s, bool labelled) {
    s.replace(QChar(0x3002), QLatin1Char('.'));
    static const QRegularExpression spaced(QStringLiteral("\\s*\\.\\s*"));
    s.replace(spaced, QStringLiteral("."));
    static const QRegularExpression commaAfterW(QStringLiteral("^(w{3}),"),
                                                QRegularExpression::CaseInsensitiveOption);
    s.replace(commaAfterW, QStringLiteral("\\1."));
    static const QRegularExpression web(
        QStringLiteral("(?:https?://)?(?:[A-Za-z0-9\\-]+\\.)+[A-Za-z]{2,}(?:/[^\\s]*)?"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = web.match(s);
    if (!m.hasMatch())
        return QString();
    const QString found = m.captured();
    if (!labelled && !found.startsWith(QLatin1String("www."), Qt::CaseInsensitive) &&
        !found.startsWith(QLatin1String("http"), Qt::CaseInsensitive))
        return QString();
    const int slash = int(found.indexOf(QLatin1Char('/'), found.indexOf(QLatin1String("//")) + 2));
    return slash < 0 || found.indexOf(QLatin1String("//")) < 0
               ? found.toLower()
               : found.left(slash).toLower() + found.mid(slash);
}

// --- words ---------------------------------------------------------------------------

enum class Role { Company, Department, Post, Rank, Name, Other };

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

int organisationStrength(const QString& t) {
    if (t.size() < 4)
        return 0;
    for (const char* w : kStrongOrganisation) {
        if (t.contains(u(w)))
            return 2;
    }
    for (const char* w : kWeakOrganisation) {
        if (t.contains(u(w)))
            return 1;
    }
    return 0;
}

bool isDepartment(const QString& t) {
    static const QRegularExpression r(u("^\\p{Han}{1,12}(部|处|科|中心|室|系|组|分公司|学院|事业部|"
                                        "分院|车间)$"));
    return t.size() >= 2 && r.match(t).hasMatch();
}

// Post or rank by the longer matching ending: "总工程师" is a post, "主任医师" a rank.
Role titleRole(const QString& t) {
    if (t.size() > 10)
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
        u("(公司|集团|大学|学院|医院|研究所|研究院|银行|事务所|分公司)$"));
    if (organisationEnd.match(s).hasMatch())
        return false;
    int strongCount = 0, markerCount = 0;
    for (auto it = strong.globalMatch(s); it.hasNext(); it.next())
        ++strongCount;
    for (auto it = marker.globalMatch(s); it.hasNext(); it.next())
        ++markerCount;
    const bool digits = countOf(s, isAsciiDigit) > 0;
    return countOf(s, isHan) >= 4 && ((digits && markerCount >= 2) || strongCount >= 2);
}

// --- the parser -----------------------------------------------------------------------

class Parser {
public:
    void line(const TextLine& line);
    Card card();

private:
    struct Piece {
        QString text;
        int candidate = -1; // index into m_names when the piece may be the name
    };
    struct NameCandidate {
        QString text;
        double score;
    };

    void labelled(Kind kind, const QString& value);
    void freeText(const QString& text, int height);
    void words(const QStringList& tokens, int height);
    void numbers(const Numbers& n, Kind kind);
    void address(const QString& value);
    void note(const QString& text) { m_pieces.push_back({text, -1}); }

    QStringList m_mobiles, m_phones, m_faxes, m_extensions, m_mails, m_webs, m_qqs, m_addresses,
        m_postcodes, m_guessedPostcodes, m_posts, m_ranks, m_departments;
    std::vector<std::pair<QString, int>> m_companies; // with their strength
    std::vector<NameCandidate> m_names;
    std::vector<Piece> m_pieces;
    std::vector<std::vector<Piece>> m_lines; // unplaced pieces, line by line
};

void Parser::line(const TextLine& line) {
    const QString s = halfWidth(line.text).simplified();
    m_pieces.clear();
    const std::vector<FoundLabel> labels = findLabels(s);
    const int height = std::max(1, line.box.height());
    freeText(labels.empty() ? s : s.left(labels.front().start), height);
    for (size_t k = 0; k < labels.size(); ++k) {
        const int end = k + 1 < labels.size() ? labels[k + 1].start : int(s.size());
        labelled(labels[k].kind, s.mid(labels[k].valueStart, end - labels[k].valueStart).trimmed());
    }
    m_lines.push_back(m_pieces);
}

void Parser::numbers(const Numbers& n, Kind kind) {
    for (const QString& m : n.mobiles)
        (kind == Kind::Fax ? m_faxes : m_mobiles) << m;
    for (const QString& l : n.landlines)
        (kind == Kind::Fax ? m_faxes : m_phones) << l;
    m_extensions << n.extensions;
}

void Parser::labelled(Kind kind, const QString& rawValue) {
    const QString value = trimmedPiece(rawValue);
    if (value.isEmpty())
        return;
    switch (kind) {
    case Kind::Mobile:
    case Kind::Phone:
    case Kind::Fax: {
        // What follows the numbers without a label of its own ("部箱 a@b.cn" where OCR
        // garbled the label) is read as free text.
        const int rest = wordsAfterNumbers(value);
        if (rest < value.size()) {
            labelled(kind, value.left(rest));
            freeText(value.mid(rest), 1);
            return;
        }
        const Numbers n = numbersIn(value);
        if (n.mobiles.isEmpty() && n.landlines.isEmpty()) {
            // Misread: the digits are still better in their box than in the notes.
            const QString digits = digitsOnly(digitsFixed(value));
            if (digits.size() >= 5)
                (kind == Kind::Mobile ? m_mobiles
                 : kind == Kind::Fax  ? m_faxes
                                      : m_phones)
                    << digits;
            else
                note(value);
            return;
        }
        numbers(n, kind);
        return;
    }
    case Kind::Extension: {
        const QString digits = digitsOnly(digitsFixed(value));
        if (digits.isEmpty())
            note(value);
        else
            m_extensions << digits;
        return;
    }
    case Kind::Mail: {
        const QString mail = mailIn(value);
        if (mail.isEmpty())
            note(value);
        else
            m_mails << mail;
        return;
    }
    case Kind::Web: {
        const QString web = webIn(value, true);
        if (web.isEmpty())
            note(value);
        else
            m_webs << web;
        return;
    }
    case Kind::QQ: {
        const QString digits = digitsOnly(digitsFixed(value));
        if (digits.size() >= 5 && digits.size() <= 12)
            m_qqs << digits;
        else
            note(value);
        return;
    }
    case Kind::Address:
        address(value);
        return;
    case Kind::Postcode: {
        static const QRegularExpression six(QStringLiteral("(?<!\\d)\\d{6}(?!\\d)"));
        const QString fixed = digitsFixed(value);
        const QRegularExpressionMatch m = six.match(fixed);
        const QString digits = m.hasMatch() ? m.captured() : digitsOnly(fixed);
        if (digits.isEmpty())
            note(value);
        else
            m_postcodes << digits;
        return;
    }
    }
}

void Parser::address(const QString& value) {
    QString a = withoutHanSpaces(value);
    // A postcode printed after the address, bare or in brackets.
    static const QRegularExpression trailingCode(u("[\\s(（]*(?<!\\d)(\\d{6})[)）]?$"));
    const QRegularExpressionMatch m = trailingCode.match(digitsFixed(a));
    if (m.hasMatch() && m.capturedStart() > 0) {
        m_guessedPostcodes << m.captured(1);
        a = a.left(m.capturedStart());
    }
    a = trimmedPiece(a);
    if (!a.isEmpty())
        m_addresses << a;
}

void Parser::freeText(const QString& text, int height) {
    const QString s = trimmedPiece(text);
    if (s.isEmpty())
        return;
    if (s.contains(QLatin1Char('@')) && countOf(s, isHan) == 0) {
        const QString mail = mailIn(s);
        if (!mail.isEmpty()) {
            m_mails << mail;
            return;
        }
    }
    if (!s.contains(QLatin1Char('@')) && isAddress(withoutHanSpaces(s))) {
        address(s);
        return;
    }
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList tokens = s.split(blanks, Qt::SkipEmptyParts);
    QStringList wordTokens, numberTokens;
    auto flushNumbers = [&] {
        if (numberTokens.isEmpty())
            return;
        const Numbers n = numbersIn(numberTokens.join(QLatin1Char(' ')));
        numbers(n, Kind::Phone);
        for (const QString& other : n.others) {
            if (other.size() == 6)
                m_guessedPostcodes << other;
            else
                note(other);
        }
        numberTokens.clear();
    };
    auto flushWords = [&] {
        words(wordTokens, height);
        wordTokens.clear();
    };
    for (const QString& token : tokens) {
        const QString fixed = digitsFixed(token);
        const int digits = countOf(fixed, isAsciiDigit);
        if (token.contains(QLatin1Char('@')) || token.contains(QChar(0xA9))) {
            // "gong y@…": the part before a low line OCR read as a gap.
            static const QRegularExpression lowerPart(QStringLiteral("^[a-z0-9]+$"));
            QString whole = token;
            if (!wordTokens.isEmpty() && lowerPart.match(wordTokens.last()).hasMatch())
                whole = wordTokens.takeLast() + QLatin1Char(' ') + token;
            flushWords();
            flushNumbers();
            const QString mail = mailIn(whole);
            mail.isEmpty() ? note(token) : void(m_mails << mail);
        } else if (token.startsWith(QLatin1String("www"), Qt::CaseInsensitive) ||
                   token.startsWith(QLatin1String("http"), Qt::CaseInsensitive)) {
            flushWords();
            flushNumbers();
            const QString web = webIn(token, false);
            web.isEmpty() ? note(token) : void(m_webs << web);
        } else if (digits > 0 && 2 * digits >= token.size()) {
            flushWords();
            numberTokens << token;
        } else {
            flushNumbers();
            wordTokens << token;
        }
    }
    flushWords();
    flushNumbers();
}

void Parser::words(const QStringList& blankSeparated, int height) {
    static const QRegularExpression separators(u("[|/｜·•、，;；]+"));
    QStringList raw;
    for (const QString& t : blankSeparated)
        raw << t.split(separators, Qt::SkipEmptyParts);
    if (raw.isEmpty())
        return;
    // Characters set wide apart come as one-character words: join runs of them ("张 伟");
    // a lone one belongs to the word before ("市场 部"). Latin words keep their signs.
    QStringList tokens, originals;
    for (int i = 0; i < raw.size(); ++i) {
        const QString t = trimmedPiece(raw[i]);
        if (t.isEmpty())
            continue;
        if (t.size() == 1 && isHan(t[0])) {
            QString run = t;
            int j = i + 1;
            while (j < raw.size() && raw[j].size() == 1 && isHan(raw[j][0]))
                run += raw[j++];
            if (run.size() == 1 && !tokens.isEmpty() && allHan(tokens.last())) {
                tokens.last() += run;
                originals.last() += run;
            } else {
                tokens << run;
                originals << run;
            }
            i = j - 1;
        } else {
            tokens << t;
            originals << raw[i];
        }
    }

    std::vector<Role> roles;
    for (const QString& t : tokens)
        roles.push_back(roleOf(t));

    // An organisation's name split by a blank: "华创科技 有限公司", "东海师范 大学".
    for (int i = 1; i < tokens.size(); ++i) {
        const size_t r = size_t(i);
        const bool loose =
            [&](Role role) {
                return role == Role::Name || role == Role::Other || role == Role::Company;
            }(roles[r - 1]) &&
            (roles[r] == Role::Name || roles[r] == Role::Other || roles[r] == Role::Company);
        const QString joined = tokens[i - 1] + tokens[i];
        if (loose && allHan(tokens[i - 1]) && allHan(tokens[i]) &&
            organisationStrength(tokens[i - 1]) < 2 &&
            organisationStrength(joined) > organisationStrength(tokens[i - 1])) {
            tokens[i - 1] = joined;
            originals[i - 1] = joined;
            tokens.removeAt(i);
            originals.removeAt(i);
            roles.erase(roles.begin() + i);
            roles[r - 1] = Role::Company;
            --i;
        }
    }

    QStringList latin;
    auto flushLatin = [&] {
        if (!latin.isEmpty())
            note(latin.join(QLatin1Char(' ')));
        latin.clear();
    };
    for (int i = 0; i < tokens.size(); ++i) {
        const QString& t = tokens[i];
        if (roles[size_t(i)] != Role::Other || countOf(t, isHan) > 0)
            flushLatin();
        switch (roles[size_t(i)]) {
        case Role::Company:
            m_companies.emplace_back(withoutHanSpaces(t), organisationStrength(t));
            break;
        case Role::Department:
            m_departments << t;
            break;
        case Role::Post:
        case Role::Rank: {
            // "市场部经理": department and post written together.
            static const QRegularExpression joined(
                u("^(\\p{Han}{2,}?(?:部|处|科|中心|室|系))(\\p{Han}{2,})$"));
            const QRegularExpressionMatch m = joined.match(t);
            if (m.hasMatch() && titleRole(m.captured(2)) != Role::Other) {
                m_departments << m.captured(1);
                (titleRole(m.captured(2)) == Role::Post ? m_posts : m_ranks) << m.captured(2);
            } else {
                (roles[size_t(i)] == Role::Post ? m_posts : m_ranks) << t;
            }
            break;
        }
        case Role::Name:
            m_names.push_back({t, height * (Names::hasSurname(t) ? 1.25 : 1.0)});
            m_pieces.push_back({t, int(m_names.size()) - 1});
            break;
        case Role::Other:
            if (countOf(t, isHan) == 0)
                latin << originals[i];
            else
                note(t);
            break;
        }
    }
    flushLatin();
}

QString joinedUnique(const QStringList& values, const QString& gap) {
    QStringList unique;
    for (const QString& v : values) {
        if (!v.isEmpty() && !unique.contains(v))
            unique << v;
    }
    return unique.join(gap);
}

Card Parser::card() {
    Card c;
    const QString comma = QStringLiteral(", ");
    const QString space = QStringLiteral(" ");

    // The name: the tallest candidate, a known surname weighing a little more; the first
    // of equals.
    int chosen = -1;
    for (int i = 0; i < int(m_names.size()); ++i) {
        if (chosen < 0 || m_names[size_t(i)].score > m_names[size_t(chosen)].score)
            chosen = i;
    }
    if (chosen >= 0)
        c.setValue(u("姓名"), m_names[size_t(chosen)].text);

    // The organisation: the strongest; a school or institute beside a university is the
    // department.
    std::stable_sort(m_companies.begin(), m_companies.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList notes;
    for (size_t i = 0; i < m_companies.size(); ++i) {
        if (i == 0)
            c.setValue(u("单位"), m_companies[i].first);
        else if (m_departments.isEmpty())
            m_departments << m_companies[i].first;
        else
            notes << m_companies[i].first;
    }
    c.setValue(u("部门"), joinedUnique(m_departments, space));
    c.setValue(u("职务"), joinedUnique(m_posts, space));
    c.setValue(u("职称"), joinedUnique(m_ranks, space));
    c.setValue(u("手机"), joinedUnique(m_mobiles, comma));
    c.setValue(u("工作电话"), joinedUnique(m_phones, comma));
    c.setValue(u("分机"), joinedUnique(m_extensions, comma));
    c.setValue(u("传真"), joinedUnique(m_faxes, comma));
    c.setValue(u("E-mail"), joinedUnique(m_mails, comma));
    c.setValue(u("主页"), joinedUnique(m_webs, comma));
    c.setValue(u("OICQ"), joinedUnique(m_qqs, comma));
    c.setValue(u("工作地址"), m_addresses.join(QString()));
    // A labelled postcode before six digits found elsewhere (a misread QQ number).
    m_postcodes << m_guessedPostcodes;
    c.setValue(u("工作邮编"), m_postcodes.isEmpty() ? QString() : m_postcodes.first());

    for (const std::vector<Piece>& pieces : m_lines) {
        QStringList texts;
        for (const Piece& p : pieces) {
            if (p.candidate < 0 || p.candidate != chosen)
                texts << p.text;
        }
        if (!texts.isEmpty())
            notes << texts.join(space);
    }
    c.setValue(u("备注"), notes.join(QLatin1Char('\n')));
    return c;
}

} // namespace

QString halfWidth(const QString& text) {
    static const QString signs = QStringLiteral(":@.-+/#_&");
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort v = c.unicode();
        const bool alnum = (v >= 0xFF10 && v <= 0xFF19) || (v >= 0xFF21 && v <= 0xFF3A) ||
                           (v >= 0xFF41 && v <= 0xFF5A);
        if (v == 0x3000)
            out += QLatin1Char(' ');
        else if (alnum || (v >= 0xFF01 && v <= 0xFF5E && signs.contains(QChar(v - 0xFEE0))))
            out += QChar(v - 0xFEE0);
        else if (v == 0x2010 || v == 0x2012 || v == 0x2013 || v == 0x2212 || v == 0xFE63)
            out += QLatin1Char('-');
        else
            out += c;
    }
    return out;
}

Card parseCard(const QList<TextLine>& lines) {
    Parser parser;
    for (const TextLine& l : lines)
        parser.line(l);
    return parser.card();
}

Card parseCardText(const QString& text) {
    QList<TextLine> lines;
    int y = 0;
    for (const QString& s : text.split(QLatin1Char('\n'))) {
        lines << TextLine{s, QRect(0, y, 400, 30), 100};
        y += 40;
    }
    return parseCard(lines);
}

} // namespace Recognize

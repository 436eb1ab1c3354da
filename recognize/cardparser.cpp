#include "cardparser.h"

#include "recognize/fieldpatterns.h"
#include "recognize/names.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace Recognize {

namespace {

using namespace Patterns;

// A line read with less confidence than this is doubted: the readers give the lines of a
// card 90 and more, and the edge of a card or a logo read as text far less.
constexpr int kDoubtedBelow = 70;

// Titles written together, split where a post or title ends and another begins; the
// whole when no split leaves two titles.
QStringList splitTitles(const QString& t) {
    for (int k = 2; k + 2 <= t.size(); ++k) {
        const QString head = t.left(k), tail = t.mid(k);
        // "主任医师", "主管护师" are one title.
        static const QRegularExpression bare(u("^(医师|护师|药师|技师)$"));
        if (titleRole(head) != Role::Other && titleRole(tail) != Role::Other &&
            !bare.match(tail).hasMatch())
            return QStringList{head} + splitTitles(tail);
    }
    return {t};
}

// "转", "ext." between a number and its extension.
bool extensionWord(const QString& token) {
    static const QRegularExpression word(u("^(转|分机|ext\\.?|x)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return word.match(token).hasMatch();
}

// --- the parser -----------------------------------------------------------------------

class Parser {
public:
    void line(const TextLine& line);
    Card card();

private:
    // Pieces that are not the name: where each goes is decided once the whole card is seen.
    enum : int { kNote = -1, kLoosePhone = -2, kEnglishAddress = -3 };
    struct Piece {
        QString text;
        int candidate = kNote; // index into m_names when the piece may be the name
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
    void segment(const QString& s, int height);
    void note(const QString& text) { m_pieces.push_back({text, kNote}); }

    QStringList m_mobiles, m_phones, m_faxes, m_extensions, m_mails, m_webs, m_qqs, m_addresses,
        m_postcodes, m_guessedPostcodes, m_posts, m_ranks, m_departments, m_loosePhones,
        m_unreadMails, m_latinWords;
    struct Organisation {
        QString text;
        int strength;
        bool doubted; // its line was read with little confidence
    };
    std::vector<Organisation> m_companies;
    int m_confidence = 100; // of the line being parsed
    std::vector<NameCandidate> m_names;
    std::vector<Piece> m_pieces;
    std::vector<std::vector<Piece>> m_lines; // unplaced pieces, line by line
};

void Parser::line(const TextLine& line) {
    m_pieces.clear();
    m_confidence = line.confidence;
    const int height = std::max(1, line.box.height());
    // Items set wide apart on one line ("销售经理      高级工程师") are read apart.
    static const QRegularExpression wideGap(QStringLiteral("\\t| {3,}|\u3000{2,}"));
    for (const QString& part : halfWidth(line.text).split(wideGap, Qt::SkipEmptyParts))
        segment(part.simplified(), height);
    m_lines.push_back(m_pieces);
}

void Parser::segment(const QString& s, int height) {
    if (s.isEmpty())
        return;
    const std::vector<FoundLabel> labels = findLabels(s, !m_phones.isEmpty());
    freeText(labels.empty() ? s : s.left(labels.front().start), height);
    for (size_t k = 0; k < labels.size(); ++k) {
        const int end = k + 1 < labels.size() ? labels[k + 1].start : int(s.size());
        labelled(labels[k].kind, s.mid(labels[k].valueStart, end - labels[k].valueStart).trimmed());
    }
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
        if (!mail.isEmpty())
            m_mails << mail;
        else if (countOf(value, isHan) == 0 && value.contains(QLatin1Char('.')))
            m_unreadMails << value; // its "@" misread: mended once the card's web site is known
        else
            note(value);
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
        if (isEnglishAddress(value))
            m_pieces.push_back({value, kEnglishAddress});
        else
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
    if (isEnglishAddress(s)) {
        m_pieces.push_back({s, kEnglishAddress});
        return;
    }
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList tokens = s.split(blanks, Qt::SkipEmptyParts);
    QStringList wordTokens, numberTokens;
    auto flushNumbers = [&] {
        if (numberTokens.isEmpty())
            return;
        Numbers n = numbersIn(numberTokens.join(QLatin1Char(' ')));
        // A landline without a label is the work phone only when no label names one.
        for (const QString& l : n.landlines)
            m_pieces.push_back({l, kLoosePhone});
        n.landlines.clear();
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
        } else if ((digits > 0 && 2 * digits >= token.size()) ||
                   (!numberTokens.isEmpty() && extensionWord(token))) {
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
    static const QRegularExpression separators(u("[|/｜·•、，;；“”‘’\"]+"));
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
            m_companies.push_back(
                {withoutHanSpaces(t), organisationStrength(t), m_confidence < kDoubtedBelow});
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
            const bool withDepartment = m.hasMatch() && titleRole(m.captured(2)) != Role::Other;
            if (withDepartment)
                m_departments << m.captured(1);
            // "销售经理高级工程师": a post and a title read as one.
            for (const QString& title : splitTitles(withDepartment ? m.captured(2) : t))
                (titleRole(title) == Role::Post ? m_posts : m_ranks) << title;
            break;
        }
        case Role::Name:
            m_names.push_back({t, height * (Names::hasSurname(t) ? 1.25 : 1.0)});
            m_pieces.push_back({t, int(m_names.size()) - 1});
            break;
        case Role::Other:
            if (countOf(t, isHan) == 0) {
                latin << originals[i];
                m_latinWords << t.toLower();
            } else
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
        c[Field::Name] = m_names[size_t(chosen)].text;

    // The organisation: the strongest; a school or institute beside a university is the
    // department. A line read with little confidence (the edge of a photographed card read
    // with the name of the firm under it) yields to a sure one, and fills no other column.
    std::stable_sort(m_companies.begin(), m_companies.end(), [](const auto& a, const auto& b) {
        return a.strength != b.strength ? a.strength > b.strength : b.doubted && !a.doubted;
    });
    QStringList notes;
    for (size_t i = 0; i < m_companies.size(); ++i) {
        if (i == 0)
            c[Field::Company] = m_companies[i].text;
        else if (m_departments.isEmpty() && !m_companies[i].doubted)
            m_departments << m_companies[i].text;
        else
            notes << m_companies[i].text;
    }
    c[Field::Department] = joinedUnique(m_departments, space);
    c[Field::Position] = joinedUnique(m_posts, space);
    c[Field::Title] = joinedUnique(m_ranks, space);
    c[Field::Mobile] = joinedUnique(m_mobiles, comma);
    // Landlines without a label: the work phone when no label gave one, else kept in the
    // notes, never added to a number a label vouches for.
    const bool phoneLabelled = !m_phones.isEmpty();
    for (const std::vector<Piece>& pieces : m_lines) {
        for (const Piece& p : pieces) {
            if (p.candidate == kLoosePhone && !phoneLabelled && !m_faxes.contains(p.text))
                m_phones << p.text;
        }
    }
    agreeAreaCodes({&m_phones, &m_faxes});
    c[Field::WorkPhone] = joinedUnique(m_phones, comma);
    // An "@" misread: the card's web site or Latin words tell where the host begins.
    QStringList hosts;
    for (const QString& web : m_webs)
        hosts << QString(web).remove(QRegularExpression(QStringLiteral("^(https?://)?(www\\.)?")));
    hosts << m_latinWords;
    for (const QString& unread : m_unreadMails) {
        const QString mail = mailWithHost(unread, hosts);
        if (!mail.isEmpty())
            m_mails << mail;
        else
            notes << unread;
    }
    agreeHosts(m_mails, m_webs);
    c[Field::Extension] = joinedUnique(m_extensions, comma);
    c[Field::Fax] = joinedUnique(m_faxes, comma);
    c[Field::Email] = joinedUnique(m_mails, comma);
    c[Field::Homepage] = joinedUnique(m_webs, comma);
    c[Field::Oicq] = joinedUnique(m_qqs, comma);
    c[Field::WorkAddress] = m_addresses.join(QString());
    // A labelled postcode before six digits found elsewhere (a misread QQ number).
    m_postcodes << m_guessedPostcodes;
    c[Field::WorkPostcode] = m_postcodes.isEmpty() ? QString() : m_postcodes.first();

    for (const std::vector<Piece>& pieces : m_lines) {
        QStringList texts;
        for (const Piece& p : pieces) {
            if (p.candidate == kLoosePhone) {
                if (phoneLabelled && !m_faxes.contains(p.text) && !m_phones.contains(p.text))
                    texts << QStringLiteral("电话: ") + p.text;
            } else if (p.candidate == kEnglishAddress) {
                if (m_addresses.isEmpty())
                    c[Field::WorkAddress] = p.text;
                else
                    texts << QStringLiteral("English address: ") + p.text;
            } else if (p.candidate < 0 || p.candidate != chosen) {
                texts << p.text;
            }
        }
        if (!texts.isEmpty())
            notes << texts.join(space);
    }
    c[Field::Notes] = notes.join(QLatin1Char('\n'));
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

namespace {

// `b` appended to `a`, after `gap`, its unsure characters with it.
void append(TextLine& a, const TextLine& b, const QString& gap) {
    const int offset = int(a.text.size() + gap.size());
    a.text += gap + b.text;
    for (const int u : b.unsure)
        a.unsure << offset + u;
    a.box = a.box.united(b.box);
}

// Lines the line finder parted that are one item: the end of a mail address set a little
// lower (".com.cn"), and a label alone ("QQ:") beside the bare number it labels, a little
// above or below it.
QList<TextLine> rejoined(QList<TextLine> lines) {
    static const QRegularExpression mailEnd(QStringLiteral("^\\s*\\.[A-Za-z][A-Za-z.]*\\s*$"));
    static const QRegularExpression bareNumber(
        QStringLiteral("^\\s*[+(]?\\d[\\d ()+\\-]{4,}\\s*$"));
    for (int i = 1; i < lines.size(); ++i) {
        const QString& previous = lines[i - 1].text;
        if (mailEnd.match(lines[i].text).hasMatch() && previous.contains(QLatin1Char('@')) &&
            !previous.isEmpty() && previous.back().isLetter()) {
            append(lines[i - 1], lines[i], QString());
            lines.removeAt(i--);
        }
    }
    for (int i = 0; i < lines.size(); ++i) {
        const QString text = lines[i].text.trimmed();
        const std::vector<FoundLabel> labels = findLabels(text);
        if (labels.size() != 1 || labels[0].start != 0 || labels[0].valueStart < text.size())
            continue;
        for (const int j : {i + 1, i - 1}) {
            if (j >= 0 && j < lines.size() && bareNumber.match(lines[j].text).hasMatch()) {
                lines[i].text = text;
                append(lines[i], lines[j], QStringLiteral(" "));
                lines.removeAt(j);
                break;
            }
        }
    }
    return lines;
}

} // namespace

Card parseCard(const QList<TextLine>& lines) {
    Parser parser;
    for (const TextLine& l : rejoined(lines))
        parser.line(l);
    return parser.card();
}

Card parseCardText(const QString& text) {
    QList<TextLine> lines;
    int y = 0;
    for (const QString& s : text.split(QLatin1Char('\n'))) {
        lines << TextLine{s, QRect(0, y, 400, 30), 100, {}};
        y += 40;
    }
    return parseCard(lines);
}

} // namespace Recognize

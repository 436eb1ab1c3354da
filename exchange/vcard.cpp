#include "vcard.h"

#include "textsource.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cstring>
#include <tuple>

namespace Exchange {

// One content line: "group.NAME;param=value;BARE:value".
struct VCardParser::Property {
    QByteArray group; // upper case
    QByteArray name;  // upper case
    QByteArray writtenName;
    QList<QByteArray> types; // upper case, from TYPE= and bare 2.1 parameters
    QByteArray encoding;     // upper case
    QByteArray charset;
    QByteArray valueType; // upper case
    QByteArray service;   // X-SERVICE-TYPE, upper case
    QByteArray breaks;    // X-QUEMBE-EOL
    QByteArray customType;
    QByteArray raw;
    qint64 line = 0;
    int kind = 0;   // what the name means: a Kind
    int column = 0; // for our own properties

    bool has(const char* type) const { return types.contains(QByteArray(type)); }
};

namespace {

// Our own parameter saying which line breaks of a value were not plain LF: one letter per
// break (L = LF, C = CR, W = CR LF), or one letter for all of them.
const QByteArray kBreaksParam = "X-QUEMBE-EOL";

struct OwnProperty {
    const char* name;
    Column column;
};
// The columns vCard has no property for.
const OwnProperty kOwnProperties[] = {
    {"X-QUEMBE-MAJOR", kMajor},         {"X-QUEMBE-EDUCATION", kEducation},
    {"X-QUEMBE-SCHOOL", kSchool},       {"X-QUEMBE-GRADUATION", kGraduation},
    {"X-QUEMBE-EXTENSION", kExtension},
};

// What a property name means here.
namespace Prop {
enum Kind {
    Unknown,
    Ignored,
    Fn,
    N,
    Org,
    Title,
    Role,
    Bday,
    Tel,
    Email,
    Url,
    Adr,
    Label,
    Note,
    Qq,
    Msn,
    Impp,
    WabGender,
    AbLabel,
    Own
};
} // namespace Prop

bool isIgnored(const QByteArray& name);

std::pair<int, int> kindOf(const QByteArray& name) {
    static const QHash<QByteArray, std::pair<int, int>> kinds = [] {
        QHash<QByteArray, std::pair<int, int>> k = {
            {"FN", {Prop::Fn, 0}},
            {"N", {Prop::N, 0}},
            {"ORG", {Prop::Org, 0}},
            {"TITLE", {Prop::Title, 0}},
            {"ROLE", {Prop::Role, 0}},
            {"BDAY", {Prop::Bday, 0}},
            {"TEL", {Prop::Tel, 0}},
            {"EMAIL", {Prop::Email, 0}},
            {"URL", {Prop::Url, 0}},
            {"ADR", {Prop::Adr, 0}},
            {"LABEL", {Prop::Label, 0}},
            {"NOTE", {Prop::Note, 0}},
            {"X-QQ", {Prop::Qq, 0}},
            {"X-MSN", {Prop::Msn, 0}},
            {"X-MS-IMADDRESS", {Prop::Msn, 0}},
            {"IMPP", {Prop::Impp, 0}},
            {"X-WAB-GENDER", {Prop::WabGender, 0}},
            {"X-ABLABEL", {Prop::AbLabel, 0}},
        };
        for (const OwnProperty& o : kOwnProperties)
            k.insert(o.name, {Prop::Own, o.column});
        return k;
    }();
    const auto it = kinds.constFind(name);
    if (it != kinds.constEnd())
        return it.value();
    return {isIgnored(name) ? Prop::Ignored : Prop::Unknown, 0};
}

// Bookkeeping and pictures: nothing a card keeps.
bool isIgnored(const QByteArray& name) {
    static const QSet<QByteArray> names = {
        "VERSION",
        "PRODID",
        "REV",
        "UID",
        "PHOTO",
        "LOGO",
        "SOUND",
        "KEY",
        "CLASS",
        "SOURCE",
        "NAME",
        "PROFILE",
        "MAILER",
        "KIND",
        "CLIENTPIDMAP",
        "XML",
        "SORT-STRING",
        "X-ABUID",
        "X-ABLABEL",
        "X-ABADR",
        "X-ABSHOWAS",
        "X-IMAGETYPE",
        "X-IMAGEHASH",
        "X-MS-OL-DEFAULT-POSTAL-ADDRESS",
        "X-MS-OL-DESIGN",
        "X-MS-CARDPICTURE",
        "X-EVOLUTION-FILE-AS",
        "X-MOZILLA-HTML",
    };
    return names.contains(name);
}

QString labelFor(const QByteArray& name) {
    static const QHash<QByteArray, QString> labels = {
        {"NICKNAME", QStringLiteral("昵称")},
        {"CATEGORIES", QStringLiteral("分组")},
        {"GEO", QStringLiteral("位置")},
        {"TZ", QStringLiteral("时区")},
        {"ANNIVERSARY", QStringLiteral("纪念日")},
        {"X-ANNIVERSARY", QStringLiteral("纪念日")},
        {"X-MS-ANNIVERSARY", QStringLiteral("纪念日")},
        {"GENDER", QStringLiteral("性别")},
        {"LANG", QStringLiteral("语言")},
        {"RELATED", QStringLiteral("相关的人")},
        {"X-SPOUSE", QStringLiteral("配偶")},
        {"X-MS-SPOUSE", QStringLiteral("配偶")},
        {"X-ASSISTANT", QStringLiteral("助理")},
        {"X-MS-ASSISTANT", QStringLiteral("助理")},
        {"X-MANAGER", QStringLiteral("上司")},
        {"X-MS-MANAGER", QStringLiteral("上司")},
        {"X-PHONETIC-FIRST-NAME", QStringLiteral("名（拼音）")},
        {"X-PHONETIC-MIDDLE-NAME", QStringLiteral("中间名（拼音）")},
        {"X-PHONETIC-LAST-NAME", QStringLiteral("姓（拼音）")},
        {"X-PHONETIC-ORG", QStringLiteral("单位（拼音）")},
        {"AGENT", QStringLiteral("代理人")},
        {"FBURL", QStringLiteral("日程")},
        {"CALURI", QStringLiteral("日历")},
        {"X-WECHAT", QStringLiteral("微信")},
        {"X-WEIXIN", QStringLiteral("微信")},
        {"X-SKYPE", QStringLiteral("Skype")},
        {"X-SKYPE-USERNAME", QStringLiteral("Skype")},
        {"X-AIM", QStringLiteral("AIM")},
        {"X-ICQ", QStringLiteral("ICQ")},
        {"X-JABBER", QStringLiteral("Jabber")},
        {"X-YAHOO", QStringLiteral("Yahoo")},
        {"X-GOOGLE-TALK", QStringLiteral("Google Talk")},
        {"X-GTALK", QStringLiteral("Google Talk")},
    };
    return labels.value(name);
}

// iPhone's built-in labels look like "_$!<Mobile>!$_".
bool appleLabel(const QString& label, QString* inner) {
    if (!label.startsWith(QLatin1String("_$!<")) || !label.endsWith(QLatin1String(">!$_")))
        return false;
    *inner = label.mid(4, label.size() - 8);
    return true;
}

QString readableLabel(const QString& label) {
    QString inner;
    if (!appleLabel(label, &inner))
        return label;
    static const QHash<QString, QString> names = {
        {QStringLiteral("Mobile"), QStringLiteral("手机")},
        {QStringLiteral("iPhone"), QStringLiteral("手机")},
        {QStringLiteral("Home"), QStringLiteral("家庭")},
        {QStringLiteral("Work"), QStringLiteral("工作")},
        {QStringLiteral("Main"), QStringLiteral("总机")},
        {QStringLiteral("HomeFAX"), QStringLiteral("家庭传真")},
        {QStringLiteral("WorkFAX"), QStringLiteral("工作传真")},
        {QStringLiteral("OtherFAX"), QStringLiteral("其他传真")},
        {QStringLiteral("Pager"), QStringLiteral("寻呼机")},
        {QStringLiteral("Other"), QStringLiteral("其他")},
        {QStringLiteral("HomePage"), QStringLiteral("主页")},
        {QStringLiteral("Anniversary"), QStringLiteral("纪念日")},
        {QStringLiteral("Spouse"), QStringLiteral("配偶")},
        {QStringLiteral("Child"), QStringLiteral("子女")},
        {QStringLiteral("Father"), QStringLiteral("父亲")},
        {QStringLiteral("Mother"), QStringLiteral("母亲")},
        {QStringLiteral("Parent"), QStringLiteral("父母")},
        {QStringLiteral("Brother"), QStringLiteral("兄弟")},
        {QStringLiteral("Sister"), QStringLiteral("姐妹")},
        {QStringLiteral("Friend"), QStringLiteral("朋友")},
        {QStringLiteral("Assistant"), QStringLiteral("助理")},
        {QStringLiteral("Manager"), QStringLiteral("上司")},
        {QStringLiteral("Partner"), QStringLiteral("伴侣")},
    };
    return names.value(inner, inner);
}

bool startsWithNoCase(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

QByteArray trimmedUpper(const QByteArray& text) {
    return text.trimmed().toUpper();
}

bool isBlankLine(const QByteArray& line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t' && c != '\x1a') // Ctrl-Z: DOS end of file
            return false;
    }
    return true;
}

// The line is this text, give or take blanks and letter case.
bool isLine(const QByteArray& line, const char* text) {
    const char* b = line.constData();
    const char* e = b + line.size();
    while (b < e && (*b == ' ' || *b == '\t'))
        ++b;
    while (e > b && (e[-1] == ' ' || e[-1] == '\t'))
        --e;
    const auto n = qsizetype(std::strlen(text));
    return e - b == n && qstrnicmp(b, text, n) == 0;
}

// The parameters (before the first colon) say ENCODING=QUOTED-PRINTABLE, in whatever form.
bool isQuotedPrintable(const QByteArray& line) {
    static const char kWord[] = "QUOTED-PRINTABLE";
    const qsizetype size = sizeof kWord - 1;
    const char* d = line.constData();
    const auto* colon = static_cast<const char*>(std::memchr(d, ':', line.size()));
    const qsizetype end = colon ? colon - d : line.size();
    for (qsizetype i = 0; i + size <= end; ++i) {
        if ((d[i] == 'Q' || d[i] == 'q') && qstrnicmp(d + i, kWord, size) == 0)
            return true;
    }
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray& in) {
    QByteArray out(in.size(), Qt::Uninitialized);
    char* o = out.data();
    const char* d = in.constData();
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (d[i] == '=' && i + 2 < n) {
            const int hi = hexValue(d[i + 1]);
            const int lo = hexValue(d[i + 2]);
            if (hi >= 0 && lo >= 0) {
                *o++ = char(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        *o++ = d[i];
    }
    out.truncate(o - out.constData());
    return out;
}

// Hands out the line breaks of one value: LF unless our own parameter says otherwise.
struct Breaks {
    QByteArray kinds;
    int index = 0;

    void add(QString& out) {
        char kind = 'L';
        if (kinds.size() == 1)
            kind = kinds[0];
        else if (index < kinds.size())
            kind = kinds[index];
        ++index;
        if (kind == 'C')
            out += QLatin1Char('\r');
        else if (kind == 'W')
            out += QLatin1String("\r\n");
        else
            out += QLatin1Char('\n');
    }
};

// Splits a value into its ';'-separated components (when compound) and undoes backslash
// escapes; raw line breaks (quoted-printable ones) and "\n" are both line breaks.
QStringList unescape(const QString& text, bool compound, Breaks& breaks,
                     QChar listSeparator = QChar()) {
    bool plain = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '\r' || u == '\n' || (compound && u == ';') ||
            (!listSeparator.isNull() && u == ',')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return {text};
    QStringList parts;
    QString cur;
    cur.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == '\\' && i + 1 < n) {
            const char16_t e = text[i + 1].unicode();
            if (e == 'n' || e == 'N') {
                breaks.add(cur);
                ++i;
            } else if (e == '\\' || e == ';' || e == ',' || e == ':' || e == '"') {
                cur += QChar(e);
                ++i;
            } else {
                cur += QChar(c); // not an escape: the backslash stays
            }
        } else if (c == ';' && compound) {
            parts << cur;
            cur.clear();
        } else if (c == ',' && !listSeparator.isNull()) {
            cur += listSeparator;
        } else if (c == '\r') {
            if (i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            breaks.add(cur);
        } else if (c == '\n') {
            breaks.add(cur);
        } else {
            cur += QChar(c);
        }
    }
    parts << cur;
    return parts;
}

QString joinNonEmpty(const QStringList& parts, qsizetype from, const QString& separator) {
    QStringList kept;
    for (qsizetype i = from; i < parts.size(); ++i) {
        if (!parts[i].isEmpty())
            kept << parts[i];
    }
    return kept.join(separator);
}

QString part(const QStringList& parts, qsizetype i) {
    return i < parts.size() ? parts[i] : QString();
}

} // namespace

// ---- Reading ------------------------------------------------------------------------------

VCardParser::VCardParser(LineSource& source, TextDecoder& decoder, QList<Skipped>& skipped)
    : m_source(source)
    , m_decoder(decoder)
    , m_skipped(skipped) {}

VCardParser::~VCardParser() = default;

bool VCardParser::readPhysical(QByteArray* line) {
    if (m_hasPending) {
        *line = m_pending;
        m_hasPending = false;
        return true;
    }
    if (!m_source.readLine(line))
        return false;
    m_pendingLine = m_source.lineNumber();
    return true;
}

// One property's line: folded lines (CR LF and a blank; 2.1 keeps the blank) and
// quoted-printable soft line breaks ("=" at the end) joined.
bool VCardParser::readLogical(QByteArray* line, qint64* lineNumber) {
    if (!readPhysical(line))
        return false;
    *lineNumber = m_pendingLine;
    int qp = -1; // not looked at yet
    auto quoted = [&] {
        if (qp < 0)
            qp = isQuotedPrintable(*line) ? 1 : 0;
        return qp == 1;
    };
    QByteArray next;
    for (;;) {
        if (line->endsWith('=') && quoted()) {
            if (!readPhysical(&next))
                break;
            if (isLine(next, "END:VCARD")) { // a writer's stray "=" before the end
                m_pending = next;
                m_pendingLine = m_source.lineNumber();
                m_hasPending = true;
                break;
            }
            line->chop(1);
            *line += next;
            continue;
        }
        if (!readPhysical(&next))
            break;
        if (!next.isEmpty() && (next[0] == ' ' || next[0] == '\t')) {
            if (m_version21)
                *line += next;
            else
                line->append(next.constData() + 1, next.size() - 1);
            if (qp == 0)
                qp = -1; // the parameters may go on in the folded part
            continue;
        }
        m_pending = next;
        m_pendingLine = m_source.lineNumber();
        m_hasPending = true;
        break;
    }
    return true;
}

bool VCardParser::parseProperty(const QByteArray& line, qint64 lineNumber, Property* p) const {
    const char* d = line.constData();
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && d[i] != ';' && d[i] != ':')
        ++i;
    if (i == n)
        return false;
    const QByteArray fullName = line.left(i).trimmed();
    const qsizetype dot = fullName.lastIndexOf('.');
    if (dot >= 0)
        p->group = fullName.left(dot).toUpper();
    p->writtenName = fullName.mid(dot + 1);
    p->name = p->writtenName.toUpper();
    std::tie(p->kind, p->column) = kindOf(p->name);
    p->line = lineNumber;
    while (i < n && d[i] == ';') {
        const qsizetype start = ++i;
        bool quoted = false;
        while (i < n && (quoted || (d[i] != ';' && d[i] != ':'))) {
            if (d[i] == '"')
                quoted = !quoted;
            ++i;
        }
        if (i == n)
            return false;
        const QByteArray param = line.mid(start, i - start);
        const qsizetype eq = param.indexOf('=');
        if (eq < 0) {
            const QByteArray bare = trimmedUpper(param);
            if (bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT")
                p->encoding = bare;
            else if (bare.startsWith("X-"))
                p->customType = param.trimmed().mid(2);
            else if (!bare.isEmpty())
                p->types << bare;
            continue;
        }
        const QByteArray key = trimmedUpper(param.left(eq));
        QByteArray value = param.mid(eq + 1).trimmed();
        value.replace('"', QByteArray());
        if (key == "TYPE") {
            for (const QByteArray& t : value.split(',')) {
                const QByteArray type = trimmedUpper(t);
                if (!type.isEmpty())
                    p->types << type;
            }
        } else if (key == "ENCODING") {
            p->encoding = value.toUpper();
        } else if (key == "CHARSET") {
            p->charset = value;
        } else if (key == "VALUE") {
            p->valueType = value.toUpper();
        } else if (key == "PREF") {
            p->types << "PREF";
        } else if (key == "X-SERVICE-TYPE") {
            p->service = value.toUpper();
        } else if (key == kBreaksParam) {
            p->breaks = value.toUpper();
        }
    }
    p->raw = line.mid(i + 1);
    return true;
}

QString VCardParser::text(const Property& p) const {
    QByteArray bytes = p.raw;
    if (p.encoding == "QUOTED-PRINTABLE" || p.encoding == "QP") {
        bytes = decodeQuotedPrintable(bytes);
    } else if (p.encoding == "BASE64" || p.encoding == "B") {
        bytes = QByteArray::fromBase64(bytes.simplified().replace(' ', QByteArray()));
    }
    return m_decoder.decode(bytes, p.line, p.charset);
}

QStringList VCardParser::components(const Property& p, bool compound) const {
    Breaks breaks{p.breaks};
    // N lists several given or additional names with commas.
    const QChar lists = p.name == "N" ? QLatin1Char(' ') : QChar();
    return unescape(text(p), compound, breaks, lists);
}

bool VCardParser::next(Card* card) {
    QByteArray line;
    qint64 number = 0;
    bool inCard = false;
    int depth = 0;
    qint64 begin = 0;
    bool strayNoted = false;
    QList<Property> props;
    for (;;) {
        if (!readLogical(&line, &number)) {
            if (inCard)
                failAtLine(begin, QStringLiteral("名片从这一行的 BEGIN:VCARD 开始，但到文件结尾也"
                                                 "没有 END:VCARD，文件不完整。请重新导出这个文件"
                                                 "后再导入。"));
            return false;
        }
        if (isBlankLine(line))
            continue;
        if (!inCard) {
            if (isLine(line, "BEGIN:VCARD")) {
                inCard = true;
                depth = 1;
                begin = number;
                m_version21 = false;
                props.clear();
            } else if (!strayNoted) {
                strayNoted = true;
                m_skipped << Skipped{number, QStringLiteral("名片之外的内容“%1”已忽略。")
                                                 .arg(QString::fromUtf8(line.left(40)))};
            }
            continue;
        }
        if (isLine(line, "BEGIN:VCARD")) {
            if (++depth == 2)
                m_skipped << Skipped{number, QStringLiteral("名片里嵌套的名片未导入。")};
            continue;
        }
        if (isLine(line, "END:VCARD")) {
            if (--depth > 0)
                continue;
            inCard = false;
            strayNoted = false;
            assemble(props);
            Card c = m_card.take();
            if (c.values[kName].isEmpty()) {
                m_skipped << Skipped{begin, QStringLiteral("这张名片没有姓名，未导入。")};
                continue;
            }
            *card = c;
            return true;
        }
        if (depth > 1)
            continue;
        Property p;
        if (!parseProperty(line, number, &p)) {
            // A line without a name: some phones break long values without folding.
            if (!props.isEmpty())
                props.last().raw += '\n' + line;
            continue;
        }
        if (p.name == "VERSION")
            m_version21 = p.raw.trimmed().startsWith("2.");
        props << std::move(p);
    }
}

void VCardParser::assemble(const QList<Property>& props) {
    m_card.clear();
    if (!m_decoder.isDecided()) {
        QByteArray entry;
        for (const Property& p : props) {
            if (p.charset.isEmpty() && (p.encoding == "QUOTED-PRINTABLE" || p.encoding == "QP"))
                entry += decodeQuotedPrintable(p.raw);
            else if (p.charset.isEmpty())
                entry += p.raw;
        }
        m_decoder.guessFromEntry(entry);
    }
    QHash<QByteArray, QString> groupLabels;
    bool hasAddress = false;
    int nameSource = -1; // the FN used, else the N used
    for (int i = 0; i < props.size(); ++i) {
        const Property& p = props[i];
        if (p.kind == Prop::AbLabel && !p.group.isEmpty())
            groupLabels.insert(p.group, components(p, false).join(QString()));
        else if (p.kind == Prop::Adr)
            hasAddress = true;
        else if (p.kind == Prop::Fn && (nameSource < 0 || props[nameSource].kind != Prop::Fn) &&
                 !p.raw.isEmpty())
            nameSource = i;
        else if (p.kind == Prop::N && nameSource < 0)
            nameSource = i;
    }
    const bool nameFromFn = nameSource >= 0 && props[nameSource].kind == Prop::Fn;

    // The name first, so that notes about it come first.
    if (nameSource >= 0) {
        const Property& p = props[nameSource];
        if (nameFromFn) {
            m_card.place(kName, components(p, false).join(QString()));
        } else {
            const QStringList n = components(p, true);
            m_card.place(kName, joinName(part(n, 0), part(n, 1), part(n, 2)));
            m_card.note(QStringLiteral("称谓"), part(n, 3));
            m_card.note(QStringLiteral("后缀"), part(n, 4));
        }
    }

    for (int i = 0; i < props.size(); ++i) {
        const Property& p = props[i];
        if (i == nameSource || p.kind == Prop::Ignored || p.kind == Prop::AbLabel)
            continue;
        const QString groupLabel =
            p.group.isEmpty() ? QString() : readableLabel(groupLabels.value(p.group));
        auto single = [&] { return components(p, false).join(QString()); };
        switch (p.kind) {
        case Prop::Fn:
            m_card.place(kName, single());
            break;
        case Prop::N:
            if (!nameFromFn) {
                const QStringList n = components(p, true);
                m_card.note(columnName(kName), joinName(part(n, 0), part(n, 1), part(n, 2)));
            }
            break;
        case Prop::Org: {
            const QStringList org = components(p, true);
            m_card.place(kCompany, part(org, 0));
            m_card.place(kDepartment, joinNonEmpty(org, 1, QStringLiteral(" ")));
            break;
        }
        case Prop::Title:
            m_card.place(kPost, single());
            break;
        case Prop::Role:
            m_card.place(kProTitle, single());
            break;
        case Prop::Bday:
            m_card.place(kBirthday, single());
            break;
        case Prop::Tel:
            addTel(p, groupLabel);
            break;
        case Prop::Email:
            m_card.place(kEmail, single());
            break;
        case Prop::Url:
            m_card.place(kHomepage, single());
            break;
        case Prop::Adr:
            addAddress(p, components(p, true), groupLabel);
            break;
        case Prop::Label:
            // A printed form of an address; only worth keeping when the address is missing.
            if (!hasAddress)
                addAddress(p, {QString(), QString(), single()}, groupLabel);
            break;
        case Prop::Note:
            m_card.place(kNotes, single());
            break;
        case Prop::Qq:
            m_card.place(kOicq, single());
            break;
        case Prop::Msn:
            m_card.place(kMsn, single());
            break;
        case Prop::Impp:
            addImpp(p);
            break;
        case Prop::WabGender: {
            const QString g = single();
            m_card.note(QStringLiteral("性别"), g == QLatin1String("1")   ? QStringLiteral("女")
                                                : g == QLatin1String("2") ? QStringLiteral("男")
                                                                          : g);
            break;
        }
        case Prop::Own:
            m_card.place(p.column, single());
            break;
        default: {
            QString label = groupLabel;
            if (label.isEmpty())
                label = labelFor(p.name);
            if (label.isEmpty())
                label = QString::fromUtf8(p.writtenName);
            if (p.encoding == "BASE64" || p.encoding == "B") {
                const QByteArray bytes = QByteArray::fromBase64(p.raw.simplified());
                if (!isUtf8(bytes.constData(), bytes.size())) {
                    m_card.note(label, QStringLiteral("（二进制数据，未导入）"));
                    break;
                }
            }
            m_card.note(label, single());
            break;
        }
        }
    }
}

void VCardParser::addTel(const Property& p, const QString& groupLabel) {
    QString value = components(p, false).join(QString());
    QList<QByteArray> types = p.types;
    // A label of its own: iPhone's group label, or Android's "TEL;X-Assistant:".
    QString custom = groupLabel.isEmpty() ? QString::fromUtf8(p.customType) : groupLabel;
    // iPhone's built-in labels (already in Chinese) name a kind of phone.
    static const QHash<QString, QList<QByteArray>> appleKinds = {
        {QStringLiteral("手机"), {"CELL"}},    {QStringLiteral("家庭"), {"HOME"}},
        {QStringLiteral("工作"), {"WORK"}},    {QStringLiteral("总机"), {"WORK"}},
        {QStringLiteral("家庭传真"), {"FAX"}}, {QStringLiteral("工作传真"), {"FAX"}},
        {QStringLiteral("其他传真"), {"FAX"}}, {QStringLiteral("寻呼机"), {"PAGER"}},
        {QStringLiteral("其他"), {"OTHER"}},
    };
    const auto kind = appleKinds.constFind(custom);
    if (kind != appleKinds.constEnd()) {
        types += kind.value();
        custom.clear();
    }
    auto has = [&](const char* t) { return types.contains(QByteArray(t)); };

    const bool uri = p.valueType == "URI" && startsWithNoCase(value, "tel:");
    if (uri)
        value = value.mid(4);
    int column = -1;
    QString label;
    if (has("FAX")) {
        column = kFax;
    } else if (has("CELL") || has("MOBILE") || has("IPHONE")) {
        column = kMobile;
    } else if (has("PAGER")) {
        label = QStringLiteral("寻呼机");
    } else if (has("CAR")) {
        label = QStringLiteral("车载电话");
    } else if (has("ISDN") || has("BBS") || has("MODEM")) {
        label = QString::fromLatin1(has("ISDN") ? "ISDN" : has("BBS") ? "BBS" : "MODEM");
    } else if (has("HOME")) {
        column = kHomePhone;
    } else if (has("WORK")) {
        column = kWorkPhone;
    } else if (!custom.isEmpty()) {
        label = custom;
    } else if (has("OTHER")) {
        label = QStringLiteral("其他电话");
    } else {
        column = kWorkPhone; // a voice number by default
    }
    if (!custom.isEmpty() && column >= 0 && label.isEmpty() && !m_card.isFree(column))
        label = custom;
    if (uri && column == kWorkPhone && m_card.isFree(kWorkPhone) && m_card.isFree(kExtension)) {
        // "tel:+86-10-1234;ext=56"
        static const QRegularExpression ext(QStringLiteral(";ext=([^;]*)"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = ext.match(value);
        if (m.hasMatch()) {
            m_card.place(kExtension, m.captured(1));
            value.remove(m.capturedStart(), m.capturedLength());
        }
    }
    if (column >= 0 && (label.isEmpty() || m_card.isFree(column)))
        m_card.place(column, value);
    else
        m_card.note(label.isEmpty() ? columnName(column) : label, value);
}

void VCardParser::addAddress(const Property& p, const QStringList& parts,
                             const QString& groupLabel) {
    const QString address = joinAddress(part(parts, 0), part(parts, 1), part(parts, 2),
                                        part(parts, 3), part(parts, 4), part(parts, 6));
    const QString postcode = part(parts, 5);
    QString custom = groupLabel.isEmpty() ? QString::fromUtf8(p.customType) : groupLabel;
    bool work = p.has("WORK") || custom == QStringLiteral("工作");
    bool home = p.has("HOME") || custom == QStringLiteral("家庭");
    if (work || home)
        custom.clear();
    if (!work && !home && custom.isEmpty() && !p.has("OTHER"))
        work = true; // an address without a kind is a work address by default
    if (work || home) {
        m_card.place(work ? kWorkAddress : kHomeAddress, address);
        m_card.place(work ? kWorkPostcode : kHomePostcode, postcode);
        return;
    }
    const QString label = custom.isEmpty() ? QStringLiteral("其他地址") : custom;
    m_card.note(label, address);
    m_card.note(label + QStringLiteral("邮编"), postcode);
}

void VCardParser::addImpp(const Property& p) {
    const QString value = components(p, false).join(QString());
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    const QString scheme = colon < 0 ? QString() : value.left(colon).toLower();
    QString handle = colon < 0 ? value : value.mid(colon + 1);
    if (scheme == QLatin1String("qq") || scheme == QLatin1String("x-qq") || p.service == "QQ") {
        m_card.place(kOicq, handle);
    } else if (scheme == QLatin1String("msnim") || scheme == QLatin1String("msn") ||
               p.service == "MSN") {
        if (startsWithNoCase(handle, "chat?contact="))
            handle = handle.mid(13);
        m_card.place(kMsn, handle);
    } else {
        m_card.note(p.service.isEmpty() ? QStringLiteral("即时通讯") : QString::fromUtf8(p.service),
                    value);
    }
}

// ---- Writing ------------------------------------------------------------------------------

namespace {

// Escapes a component; line breaks become "\n" (or CR LF in 2.1, which quoted-printable
// carries), and each break's kind is added to `breaks`.
QString escape(const QString& text, int version, QByteArray* breaks) {
    bool plain = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == ';' || u == ',' || u == '\r' || u == '\n') {
            plain = false;
            break;
        }
    }
    if (plain)
        return text;
    const QString lineBreak = version == 21 ? QStringLiteral("\r\n") : QStringLiteral("\\n");
    QString out;
    out.reserve(text.size() + 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c == '\\') {
            out += QLatin1String("\\\\");
        } else if (c == ';') {
            out += QLatin1String("\\;");
        } else if (c == ',') {
            out += version == 21 ? QStringLiteral(",") : QStringLiteral("\\,");
        } else if (c == '\r') {
            const bool crlf = i + 1 < n && text[i + 1] == QLatin1Char('\n');
            *breaks += crlf ? 'W' : 'C';
            i += crlf ? 1 : 0;
            out += lineBreak;
        } else if (c == '\n') {
            *breaks += 'L';
            out += lineBreak;
        } else {
            out += QChar(c);
        }
    }
    return out;
}

// Folds a content line at 75 octets, never inside a UTF-8 sequence.
void appendFolded(QByteArray* out, const QByteArray& line) {
    qsizetype pos = 0;
    qsizetype limit = 75;
    const qsizetype n = line.size();
    while (n - pos > limit) {
        qsizetype cut = pos + limit;
        while (cut > pos + 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out->append(line.constData() + pos, cut - pos);
        out->append("\r\n ");
        pos = cut;
        limit = 74;
    }
    out->append(line.constData() + pos, n - pos);
    out->append("\r\n");
}

// Quoted-printable with soft line breaks so that no line passes 75 octets; a blank that would
// end a line or the value is written as =20.
void appendQuotedPrintable(QByteArray* out, const QByteArray& head, const QByteArray& value) {
    static const char hex[] = "0123456789ABCDEF";
    out->append(head);
    qsizetype length = head.size();
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        char unit[3];
        int size = 1;
        const bool blank = c == ' ' || c == '\t';
        if ((c > 32 && c < 127 && c != '=' && length > 0) || (blank && i + 1 < n && length > 0)) {
            unit[0] = char(c);
        } else {
            unit[0] = '=';
            unit[1] = hex[c >> 4];
            unit[2] = hex[c & 15];
            size = 3;
        }
        if (length + size > 74) {
            out->append("=\r\n");
            length = 0;
            // A continuation line starts with "=": never a blank, never "END:VCARD".
            unit[0] = '=';
            unit[1] = hex[c >> 4];
            unit[2] = hex[c & 15];
            size = 3;
        }
        out->append(unit, size);
        length += size;
    }
    out->append("\r\n");
}

bool needsQuotedPrintable(const QByteArray& value, qsizetype headSize) {
    if (headSize + value.size() > 75)
        return true;
    if (!value.isEmpty()) {
        const char first = value.front();
        const char last = value.back();
        if (first == ' ' || first == '\t' || last == ' ' || last == '\t')
            return true;
    }
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x7F || (u < 0x20 && u != '\t'))
            return true;
    }
    return false;
}

bool isVCard4Date(const QString& text) {
    static const QRegularExpression date(
        QStringLiteral("^(\\d{8}|\\d{4}|\\d{4}-\\d{2}|--\\d{4}|--\\d{2}|---\\d{2})$"));
    return date.match(text).hasMatch();
}

} // namespace

VCardEncoder::VCardEncoder(int version)
    : m_version(version) {}

void VCardEncoder::property(QByteArray* out, const QByteArray& nameAndParams,
                            const QStringList& components) const {
    QByteArray breaks;
    QString value;
    for (int i = 0; i < components.size(); ++i) {
        if (i > 0)
            value += QLatin1Char(';');
        value += escape(components[i], m_version, &breaks);
    }
    QByteArray head = nameAndParams;
    if (breaks.contains('C') || breaks.contains('W')) {
        const bool same = breaks.count(breaks[0]) == breaks.size();
        head += ';' + kBreaksParam + '=' + (same ? breaks.left(1) : breaks);
    }
    const QByteArray bytes = value.toUtf8();
    if (m_version == 21 && needsQuotedPrintable(bytes, head.size() + 1)) {
        appendQuotedPrintable(out, head + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:", bytes);
        return;
    }
    appendFolded(out, head + ':' + bytes);
}

void VCardEncoder::encode(const Card& card, QByteArray* out) const {
    const auto& v = card.values;
    const bool v21 = m_version == 21;
    const bool v4 = m_version == 40;
    out->append("BEGIN:VCARD\r\n");
    out->append(v21 ? "VERSION:2.1\r\n" : v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n");
    if (!v21)
        out->append("PRODID:-//Quembe//Cards//ZH\r\n");
    QString family, given;
    splitName(v[kName], &family, &given);
    property(out, "N", {family, given, QString(), QString(), QString()});
    property(out, "FN", {v[kName]});
    if (!v[kCompany].isEmpty() || !v[kDepartment].isEmpty()) {
        if (v[kDepartment].isEmpty())
            property(out, "ORG", {v[kCompany]});
        else
            property(out, "ORG", {v[kCompany], v[kDepartment]});
    }
    auto single = [&](const char* name, int column) {
        if (!v[column].isEmpty())
            property(out, name, {v[column]});
    };
    single("TITLE", kPost);
    single("ROLE", kProTitle);
    if (!v[kBirthday].isEmpty())
        property(out, v4 && !isVCard4Date(v[kBirthday]) ? "BDAY;VALUE=text" : "BDAY",
                 {v[kBirthday]});
    for (const OwnProperty& o : kOwnProperties) {
        if (o.column != kExtension)
            single(o.name, o.column);
    }
    single(v21 ? "TEL;WORK;VOICE" : v4 ? "TEL;TYPE=work,voice" : "TEL;TYPE=WORK,VOICE", kWorkPhone);
    single("X-QUEMBE-EXTENSION", kExtension);
    single(v21 ? "TEL;CELL" : v4 ? "TEL;TYPE=cell" : "TEL;TYPE=CELL", kMobile);
    single(v21 ? "TEL;HOME;VOICE" : v4 ? "TEL;TYPE=home,voice" : "TEL;TYPE=HOME,VOICE", kHomePhone);
    single(v21 ? "TEL;WORK;FAX" : v4 ? "TEL;TYPE=work,fax" : "TEL;TYPE=WORK,FAX", kFax);
    single("X-QQ", kOicq);
    single("X-MSN", kMsn);
    single(v21 ? "EMAIL;INTERNET" : v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET", kEmail);
    single("URL", kHomepage);
    auto address = [&](const char* name, int addressColumn, int postcodeColumn) {
        if (!v[addressColumn].isEmpty() || !v[postcodeColumn].isEmpty())
            property(out, name,
                     {QString(), QString(), v[addressColumn], QString(), QString(),
                      v[postcodeColumn], QString()});
    };
    address(v21 ? "ADR;WORK" : v4 ? "ADR;TYPE=work" : "ADR;TYPE=WORK", kWorkAddress, kWorkPostcode);
    address(v21 ? "ADR;HOME" : v4 ? "ADR;TYPE=home" : "ADR;TYPE=HOME", kHomeAddress, kHomePostcode);
    single("NOTE", kNotes);
    out->append("END:VCARD\r\n");
}

} // namespace Exchange

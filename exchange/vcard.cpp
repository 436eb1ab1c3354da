#include "vcard.h"

#include "textsource.h"
#include "vcardnames.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cstring>
#include <tuple>

namespace Exchange {

using namespace VCardNames;

namespace VCardNames {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

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

} // namespace VCardNames

namespace {

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
        if (line->size() > kMaxLine) // folded on and on: refused before it fills the memory
            failLongLine(*lineNumber);
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
            else if (!bare.isEmpty()) {
                p->types << bare;
                p->writtenTypes << param.trimmed();
            }
            continue;
        }
        const QByteArray key = trimmedUpper(param.left(eq));
        QByteArray value = param.mid(eq + 1).trimmed();
        value.replace('"', QByteArray());
        if (key == "TYPE") {
            for (const QByteArray& t : value.split(',')) {
                const QByteArray type = trimmedUpper(t);
                if (!type.isEmpty()) {
                    p->types << type;
                    p->writtenTypes << t.trimmed();
                }
            }
        } else if (key == "ENCODING") {
            p->encoding = value.toUpper();
        } else if (key == "CHARSET") {
            p->charset = value;
        } else if (key == "VALUE") {
            p->valueType = value.toUpper();
        } else if (key == "PREF") {
            p->types << "PREF";
            p->writtenTypes << "PREF";
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
    qint64 cardBytes = 0;
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
                cardBytes = 0;
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
            m_begin = begin;
            assemble(props);
            Card c = m_card.take();
            const QString named = nameNameless(&c);
            if (!named.isEmpty())
                m_skipped << Skipped{begin, named, true};
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
        cardBytes += p.raw.size();
        if (cardBytes > kMaxLine)
            failAtLine(begin, QStringLiteral("从这一行开始的名片超过 64 MB 还没有结束，不是通讯录"
                                             "程序导出的名片。请选择正确的文件后再导入。"));
        props << std::move(p);
    }
}

} // namespace Exchange

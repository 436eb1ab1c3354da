#include "vcardline.h"

#include "textsource.h"

#include <cstring>

namespace Exchange {
namespace VCardSyntax {

namespace {

QByteArray trimmedUpper(const QByteArray& text) {
    return text.trimmed().toUpper();
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

// Escapes a component; line breaks become "\n" (or CR LF in 2.1, which quoted-printable
// carries), and each break's kind is added to `breaks`.
QString escape(const QString& text, int version, QByteArray* breaks, bool single) {
    // vCard 4.0 text and 2.1 values allow a plain ';' where the value has one part; 3.0's
    // grammar wants it escaped everywhere.
    const bool keepSemicolon = single && version != 30;
    bool plain = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || (u == ';' && !keepSemicolon) || u == ',' || u == '\r' || u == '\n') {
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
            out += keepSemicolon ? QStringLiteral(";") : QStringLiteral("\\;");
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
        // A character's bytes stay on one line, so that no reader sees half of one.
        int sequence = 1;
        if (c >= 0xF0)
            sequence = 4;
        else if (c >= 0xE0)
            sequence = 3;
        else if (c >= 0xC0)
            sequence = 2;
        if (length + (sequence > 1 ? 3 * sequence : size) > 74) {
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

// The line "head:value", folded; in 2.1 quoted-printable where the value needs it.
void appendValue(QByteArray* out, int version, const QByteArray& head, const QByteArray& value) {
    if (version == 21 && needsQuotedPrintable(value, head.size() + 1)) {
        appendQuotedPrintable(out, head + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:", value);
        return;
    }
    appendFolded(out, head + ':' + value);
}

} // namespace

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

bool isBlank(const QByteArray& line) {
    for (const char c : line) {
        if (c != ' ' && c != '\t' && c != '\x1a') // Ctrl-Z: DOS end of file
            return false;
    }
    return true;
}

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

LineReader::LineReader(LineSource& source)
    : m_source(source) {}

bool LineReader::readPhysical(QByteArray* line) {
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

bool LineReader::read(QByteArray* line, qint64* lineNumber) {
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

bool parse(const QByteArray& line, qint64 lineNumber, ContentLine* p) {
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

QString text(const ContentLine& p, TextDecoder& decoder) {
    QByteArray bytes = p.raw;
    if (p.encoding == "QUOTED-PRINTABLE" || p.encoding == "QP") {
        bytes = decodeQuotedPrintable(bytes);
    } else if (p.encoding == "BASE64" || p.encoding == "B") {
        bytes = QByteArray::fromBase64(bytes.simplified().replace(' ', QByteArray()));
    }
    return decoder.decode(bytes, p.line, p.charset);
}

QStringList components(const ContentLine& line, TextDecoder& decoder, bool compound,
                       QChar listSeparator) {
    Breaks breaks{line.breaks};
    return unescape(text(line, decoder), compound, breaks, listSeparator);
}

void write(QByteArray* out, int version, const QByteArray& nameAndParams,
           const QStringList& components) {
    QByteArray breaks;
    QString value;
    for (int i = 0; i < components.size(); ++i) {
        if (i > 0)
            value += QLatin1Char(';');
        value += escape(components[i], version, &breaks, components.size() == 1);
    }
    QByteArray head = nameAndParams;
    if (breaks.contains('C') || breaks.contains('W')) {
        const bool same = breaks.count(breaks[0]) == breaks.size();
        head += ';' + kBreaksParam + '=' + (same ? breaks.left(1) : breaks);
    }
    appendValue(out, version, head, value.toUtf8());
}

void writeUri(QByteArray* out, int version, const QByteArray& nameAndParams, const QString& uri) {
    // A URI carries no text escapes; only one with a backslash or a line break, which no
    // URI has, is written as text so that it comes back as it was.
    if (uri.contains(QLatin1Char('\\')) || uri.contains(QLatin1Char('\n')) ||
        uri.contains(QLatin1Char('\r'))) {
        write(out, version, nameAndParams, {uri});
        return;
    }
    appendValue(out, version, nameAndParams, uri.toUtf8());
}

} // namespace VCardSyntax
} // namespace Exchange

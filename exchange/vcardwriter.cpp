#include "vcard.h"

#include "vcardnames.h"

#include <QRegularExpression>

namespace Exchange {

using namespace VCardNames;

// ---- Writing ------------------------------------------------------------------------------

namespace {

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
        value += escape(components[i], m_version, &breaks, components.size() == 1);
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

void VCardEncoder::uriProperty(QByteArray* out, const QByteArray& nameAndParams,
                               const QString& uri) const {
    // A URI carries no text escapes; only one with a backslash or a line break, which no
    // URI has, is written as text so that it comes back as it was.
    if (uri.contains(QLatin1Char('\\')) || uri.contains(QLatin1Char('\n')) ||
        uri.contains(QLatin1Char('\r'))) {
        property(out, nameAndParams, {uri});
        return;
    }
    const QByteArray bytes = uri.toUtf8();
    if (m_version == 21 && needsQuotedPrintable(bytes, nameAndParams.size() + 1)) {
        appendQuotedPrintable(out,
                              nameAndParams + ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:", bytes);
        return;
    }
    appendFolded(out, nameAndParams + ':' + bytes);
}

void VCardEncoder::encode(const Card& card, const QString& uid, QByteArray* out) const {
    const auto& v = card.values;
    const bool v21 = m_version == 21;
    const bool v4 = m_version == 40;
    out->append("BEGIN:VCARD\r\n");
    out->append(v21 ? "VERSION:2.1\r\n" : v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n");
    if (!v21)
        out->append("PRODID:-//Quembe//Cards//ZH\r\n");
    if (!uid.isEmpty()) {
        // 4.0 takes a URI unless told it is text; 2.1 and 3.0 take any text.
        static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:\\S+$"));
        if (v4 && !scheme.match(uid).hasMatch())
            property(out, "UID;VALUE=text", {uid});
        else if (v4)
            uriProperty(out, "UID", uid);
        else
            property(out, "UID", {uid});
    }
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
    if (!v[kHomepage].isEmpty())
        uriProperty(out, "URL", v[kHomepage]);
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

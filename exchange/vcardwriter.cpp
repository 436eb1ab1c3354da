#include "vcard.h"

#include "vcardline.h"
#include "vcardnames.h"

#include <QRegularExpression>

namespace Exchange {

using namespace VCardNames;

// ---- Writing ------------------------------------------------------------------------------

namespace {

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
    VCardSyntax::write(out, m_version, nameAndParams, components);
}

void VCardEncoder::uriProperty(QByteArray* out, const QByteArray& nameAndParams,
                               const QString& uri) const {
    VCardSyntax::writeUri(out, m_version, nameAndParams, uri);
}

void VCardEncoder::encode(const Card& card, const QString& uid, QByteArray* out,
                          const QByteArray& photo) const {
    const Card& v = card;
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
    splitName(v[Field::Name], &family, &given);
    property(out, "N", {family, given, QString(), QString(), QString()});
    property(out, "FN", {v[Field::Name]});
    if (!v[Field::Company].isEmpty() || !v[Field::Department].isEmpty()) {
        if (v[Field::Department].isEmpty())
            property(out, "ORG", {v[Field::Company]});
        else
            property(out, "ORG", {v[Field::Company], v[Field::Department]});
    }
    auto single = [&](const char* name, Field field) {
        if (!v[field].isEmpty())
            property(out, name, {v[field]});
    };
    single("TITLE", Field::Position);
    single("ROLE", Field::Title);
    if (!v[Field::Birthday].isEmpty())
        property(out, v4 && !isVCard4Date(v[Field::Birthday]) ? "BDAY;VALUE=text" : "BDAY",
                 {v[Field::Birthday]});
    for (const OwnProperty& o : kOwnProperties) {
        if (o.column != Field::Extension)
            single(o.name, o.column);
    }
    single(v21  ? "TEL;WORK;VOICE"
           : v4 ? "TEL;TYPE=work,voice"
                : "TEL;TYPE=WORK,VOICE",
           Field::WorkPhone);
    single("X-QUEMBE-EXTENSION", Field::Extension);
    single(v21 ? "TEL;CELL" : v4 ? "TEL;TYPE=cell" : "TEL;TYPE=CELL", Field::Mobile);
    single(v21  ? "TEL;HOME;VOICE"
           : v4 ? "TEL;TYPE=home,voice"
                : "TEL;TYPE=HOME,VOICE",
           Field::HomePhone);
    single(v21 ? "TEL;WORK;FAX" : v4 ? "TEL;TYPE=work,fax" : "TEL;TYPE=WORK,FAX", Field::Fax);
    single("X-QQ", Field::Oicq);
    single("X-MSN", Field::Msn);
    single(v21 ? "EMAIL;INTERNET" : v4 ? "EMAIL" : "EMAIL;TYPE=INTERNET", Field::Email);
    if (!v[Field::Homepage].isEmpty())
        uriProperty(out, "URL", v[Field::Homepage]);
    auto address = [&](const char* name, Field addressColumn, Field postcodeColumn) {
        if (!v[addressColumn].isEmpty() || !v[postcodeColumn].isEmpty())
            property(out, name,
                     {QString(), QString(), v[addressColumn], QString(), QString(),
                      v[postcodeColumn], QString()});
    };
    address(v21  ? "ADR;WORK"
            : v4 ? "ADR;TYPE=work"
                 : "ADR;TYPE=WORK",
            Field::WorkAddress, Field::WorkPostcode);
    address(v21  ? "ADR;HOME"
            : v4 ? "ADR;TYPE=home"
                 : "ADR;TYPE=HOME",
            Field::HomeAddress, Field::HomePostcode);
    single("NOTE", Field::Notes);
    // Folded like any line; base64 has nothing to escape.
    if (!photo.isEmpty() && !v21)
        VCardSyntax::appendFolded(out, (v4 ? QByteArray("PHOTO:data:image/jpeg;base64,")
                                           : QByteArray("PHOTO;ENCODING=b;TYPE=JPEG:")) +
                                           photo.toBase64());
    out->append("END:VCARD\r\n");
}

} // namespace Exchange

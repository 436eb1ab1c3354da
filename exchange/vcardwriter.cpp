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

#pragma once

#include "assemble.h"
#include "vcard.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace Exchange {

// One content line: "group.NAME;param=value;BARE:value".
struct VCardParser::Property {
    QByteArray group; // upper case
    QByteArray name;  // upper case
    QByteArray writtenName;
    QList<QByteArray> types;        // upper case, from TYPE= and bare 2.1 parameters
    QList<QByteArray> writtenTypes; // the same as written
    QByteArray encoding;            // upper case
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

// What the vCard reader and writer share: our own properties and parameters, and what the
// reader's two halves (content lines and their meaning) share.
namespace VCardNames {

// Our own parameter saying which line breaks of a value were not plain LF: one letter per
// break (L = LF, C = CR, W = CR LF), or one letter for all of them.
inline const QByteArray kBreaksParam = "X-QUEMBE-EOL";

struct OwnProperty {
    const char* name;
    Column column;
};
// The columns vCard has no property for.
inline const OwnProperty kOwnProperties[] = {
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

/// What a property name means: a Prop::Kind and, for our own properties, the column.
std::pair<int, int> kindOf(const QByteArray& name);
QByteArray decodeQuotedPrintable(const QByteArray& in);
bool startsWithNoCase(const QString& text, const char* prefix);
/// Part i of a list, empty when it has fewer.
QString part(const QStringList& parts, qsizetype i);
QString joinNonEmpty(const QStringList& parts, qsizetype from, const QString& separator);

} // namespace VCardNames
} // namespace Exchange

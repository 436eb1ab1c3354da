#pragma once

#include "assemble.h"
#include "vcard.h"
#include "vcardline.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace Exchange {

// A content line and what its name means here.
struct VCardParser::Property : VCardSyntax::ContentLine {
    int kind = 0;               // a Prop::Kind
    Field column = Field::Name; // for our own properties
};

// What the vCard reader and writer share: our own properties, and what the names mean.
namespace VCardNames {

struct OwnProperty {
    const char* name;
    Field column;
};
// The columns vCard has no property for.
inline const OwnProperty kOwnProperties[] = {
    {"X-QUEMBE-MAJOR", Field::Major},         {"X-QUEMBE-EDUCATION", Field::Education},
    {"X-QUEMBE-SCHOOL", Field::School},       {"X-QUEMBE-GRADUATION", Field::GraduationDate},
    {"X-QUEMBE-EXTENSION", Field::Extension},
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
std::pair<int, Field> kindOf(const QByteArray& name);
bool startsWithNoCase(const QString& text, const char* prefix);
/// Part i of a list, empty when it has fewer.
QString part(const QStringList& parts, qsizetype i);
QString joinNonEmpty(const QStringList& parts, qsizetype from, const QString& separator);

} // namespace VCardNames
} // namespace Exchange

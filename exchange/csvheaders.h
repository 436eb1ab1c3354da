#pragma once

#include "csv.h"

#include <QString>

// Which columns of a card each header of a CSV file feeds: the headers of Outlook (English
// and Chinese), Thunderbird, Google Contacts and sheets made by hand, as tables.
namespace Exchange {

// What one header column feeds.
struct CsvParser::Target {
    enum Kind { Note, Ignore, Column, Name, Address, Birth, Groups, Gender, Entry };
    Kind kind = Note;
    Field column = Field::Name;
    bool later = false; // a column's second source: used only while the column is still empty
    bool date = false;  // Outlook writes "0/0/00" for no date
    int part = 0;       // which part of a name, address, birth date or entry
    int group = 0;      // which address, or which numbered entry
    int entry = 0;      // which kind of numbered entry
    QString label;      // the header as written, for notes
};

namespace CsvHeaders {

enum NamePart { kFull, kFamily, kGiven, kMiddle, kPrefix, kSuffix };
enum AddressPart {
    kStreet,
    kStreet2,
    kStreet3,
    kCity,
    kRegion,
    kPostal,
    kCountry,
    kPoBox,
    kExtended,
    kFormatted,
    kAddressType,
    kAddressParts
};
enum AddressGroup { kWork, kHome, kOther, kNumbered = 10 }; // numbered: 10 + N
enum EntryKind { kPhone, kMail, kWebsite, kIm, kOrganization, kOtherEntry };
enum EntryPart { kType, kValue, kService, kOrgName, kOrgTitle, kOrgDepartment };

/// What a header feeds; a Note target when it feeds no column.
CsvParser::Target targetFor(const QString& header);

} // namespace CsvHeaders
} // namespace Exchange

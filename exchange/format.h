#pragma once

#include <QString>

#include <array>

namespace Exchange {

/// The file formats cards are exported in.
enum class Format { VCard30, VCard21, VCard40, CsvUtf8, CsvGb18030, Xlsx };

/// Every format, the default (vCard 3.0) first, in the order the export dialog lists them.
const std::array<Format, 6>& allFormats();
/// The command-line word: vcard3, vcard21, vcard4, csv, csv-gb18030 or xlsx.
QString formatName(Format format);
/// The format a command-line word names; false when it names none.
bool formatFromName(const QString& name, Format* format);
/// The export dialog's filter, e.g. "vCard 3.0 (*.vcf)".
QString formatFilter(Format format);
/// The format a filter of formatFilter() names; false when it names none.
bool formatFromFilter(const QString& filter, Format* format);
/// The file name suffix, without the dot: "vcf", "csv" or "xlsx".
QString formatSuffix(Format format);

} // namespace Exchange

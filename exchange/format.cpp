#include "format.h"

namespace Exchange {

namespace {

struct FormatInfo {
    Format format;
    const char* name;
    const char* filter;
};

const FormatInfo kFormats[] = {
    {Format::VCard30, "vcard3", "vCard 3.0 (*.vcf)"},
    {Format::VCard21, "vcard21", "vCard 2.1, 旧手机/Outlook (*.vcf)"},
    {Format::VCard40, "vcard4", "vCard 4.0 (*.vcf)"},
    {Format::CsvUtf8, "csv", "CSV UTF-8, Excel (*.csv)"},
    {Format::CsvGb18030, "csv-gb18030", "CSV GB18030 (*.csv)"},
    {Format::Xlsx, "xlsx", "Excel 工作簿 (*.xlsx)"},
};

const FormatInfo& info(Format format) {
    for (const FormatInfo& i : kFormats) {
        if (i.format == format)
            return i;
    }
    return kFormats[0];
}

} // namespace

const std::array<Format, 6>& allFormats() {
    static const std::array<Format, 6> formats = {Format::VCard30,    Format::VCard21,
                                                  Format::VCard40,    Format::CsvUtf8,
                                                  Format::CsvGb18030, Format::Xlsx};
    return formats;
}

QString formatName(Format format) {
    return QString::fromLatin1(info(format).name);
}

bool formatFromName(const QString& name, Format* format) {
    for (const FormatInfo& i : kFormats) {
        if (name == QLatin1String(i.name)) {
            *format = i.format;
            return true;
        }
    }
    return false;
}

QString formatFilter(Format format) {
    return QString::fromUtf8(info(format).filter);
}

bool formatFromFilter(const QString& filter, Format* format) {
    for (const FormatInfo& i : kFormats) {
        if (filter == QString::fromUtf8(i.filter)) {
            *format = i.format;
            return true;
        }
    }
    return false;
}

QString formatSuffix(Format format) {
    if (format == Format::Xlsx)
        return QStringLiteral("xlsx");
    return format == Format::CsvUtf8 || format == Format::CsvGb18030 ? QStringLiteral("csv")
                                                                     : QStringLiteral("vcf");
}

} // namespace Exchange

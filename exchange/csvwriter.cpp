// Cards as CSV rows, and the guard against spreadsheet formulas.
#include "csv.h"

#include "textsource.h"

namespace Exchange {

namespace {

QString csvField(const QString& value) {
    bool quote = false;
    if (!value.isEmpty()) {
        const QChar first = value.front();
        const QChar last = value.back();
        quote = first == QLatin1Char(' ') || first == QLatin1Char('\t') ||
                last == QLatin1Char(' ') || last == QLatin1Char('\t');
    }
    for (const QChar c : value) {
        if (quote)
            break;
        const char16_t u = c.unicode();
        quote = u == ',' || u == '"' || u == '\r' || u == '\n';
    }
    if (!quote)
        return value;
    QString out = value;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

// A spreadsheet takes a cell starting with = + - @ tab or CR for a formula (OWASP's CSV
// injection). Such a value, and one that starts with apostrophes before one of these, gets
// one apostrophe more, which reading our own file takes off again.
bool needsFormulaGuard(const QString& value) {
    qsizetype i = 0;
    while (i < value.size() && value[i] == QLatin1Char('\''))
        ++i;
    if (i >= value.size())
        return false;
    const char16_t c = value[i].unicode();
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

QString withFormulaGuard(const QString& value) {
    return needsFormulaGuard(value) ? QLatin1Char('\'') + value : value;
}

QString withoutFormulaGuard(const QString& value) {
    return value.startsWith(QLatin1Char('\'')) && needsFormulaGuard(value) ? value.mid(1) : value;
}

CsvEncoder::CsvEncoder(bool gb18030)
    : m_gb(gb18030 ? std::make_unique<Gb18030Encoder>() : nullptr) {}

CsvEncoder::~CsvEncoder() = default;

void CsvEncoder::row(const QString& line, QByteArray* out) {
    if (m_gb)
        out->append(m_gb->encode(line));
    else
        out->append(line.toUtf8());
}

void CsvEncoder::header(QByteArray* out) {
    if (!m_gb)
        out->append("\xEF\xBB\xBF"); // Excel reads UTF-8 only with its mark
    QStringList names;
    for (Field f : kFields)
        names << columnText(f);
    row(names.join(QLatin1Char(',')) + QLatin1String("\r\n"), out);
}

void CsvEncoder::encode(const Card& card, QByteArray* out) {
    QString line;
    for (int i = 0; i < kFieldCount; ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        line += csvField(withFormulaGuard(card.values[i]));
    }
    line += QLatin1String("\r\n");
    row(line, out);
}

} // namespace Exchange

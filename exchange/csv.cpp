#include "csv.h"

#include "csvheaders.h"
#include "data/fieldmap.h"
#include "textsource.h"

#include <QHash>
#include <QRegularExpression>

#include <cstring>
#include <map>
#include <optional>

namespace Exchange {

using namespace CsvHeaders;

namespace {

using Target = CsvParser::Target;

// The field a phone's type names, none for a type of its own.
std::optional<Field> phoneField(QString type) {
    type = type.toLower();
    if (type.contains(QLatin1String("fax")) || type.contains(QStringLiteral("传真")))
        return Field::Fax;
    static const QHash<QString, Field> columns = {
        {QStringLiteral("mobile"), Field::Mobile},
        {QStringLiteral("cell"), Field::Mobile},
        {QStringLiteral("手机"), Field::Mobile},
        {QStringLiteral("移动电话"), Field::Mobile},
        {QStringLiteral("work"), Field::WorkPhone},
        {QStringLiteral("business"), Field::WorkPhone},
        {QStringLiteral("main"), Field::WorkPhone},
        {QStringLiteral("company main"), Field::WorkPhone},
        {QString(), Field::WorkPhone},
        {QStringLiteral("工作"), Field::WorkPhone},
        {QStringLiteral("单位"), Field::WorkPhone},
        {QStringLiteral("公司"), Field::WorkPhone},
        {QStringLiteral("商务"), Field::WorkPhone},
        {QStringLiteral("办公"), Field::WorkPhone},
        {QStringLiteral("home"), Field::HomePhone},
        {QStringLiteral("住宅"), Field::HomePhone},
        {QStringLiteral("家庭"), Field::HomePhone},
        {QStringLiteral("家"), Field::HomePhone},
    };
    const auto it = columns.constFind(type);
    if (it == columns.constEnd())
        return std::nullopt;
    return it.value();
}

int addressGroup(QString type) {
    type = type.toLower();
    if (type == QLatin1String("work") || type == QLatin1String("business") ||
        type == QStringLiteral("工作") || type == QStringLiteral("商务") ||
        type == QStringLiteral("单位"))
        return kWork;
    if (type == QLatin1String("home") || type == QStringLiteral("住宅") ||
        type == QStringLiteral("家庭"))
        return kHome;
    return kOther;
}

// Google marks its own entries with "* " ("* Mobile", "* myContacts").
QString withoutStar(const QString& text) {
    return text.startsWith(QLatin1String("* ")) ? text.mid(2) : text;
}

QStringList googleValues(const QString& text) {
    return text.split(QStringLiteral(" ::: "), Qt::SkipEmptyParts);
}

QString joinStreets(const QString& a, const QString& b, const QString& c) {
    QStringList parts;
    for (const QString& s : {a, b, c}) {
        if (!s.isEmpty())
            parts << s;
    }
    return parts.join(hasCjk(parts.join(QString())) ? QString() : QStringLiteral(", "));
}

bool isBlank(const QString& text) {
    for (const QChar c : text) {
        if (!c.isSpace())
            return false;
    }
    return true;
}

} // namespace

CsvParser::CsvParser(LineSource& source, TextDecoder& decoder, QList<Skipped>& skipped)
    : m_source(source)
    , m_decoder(decoder)
    , m_skipped(skipped) {
    // Excel may name the delimiter on a first line of its own: "sep=;".
    const QByteArray hint = source.peek(8);
    if (hint.size() >= 5 && qstrnicmp(hint.constData(), "sep=", 4) == 0 &&
        (hint.size() == 5 || hint[5] == '\r' || hint[5] == '\n')) {
        m_delimiter = hint[4];
        QByteArray line;
        source.readLine(&line);
        return;
    }
    // The delimiter is whichever of , ; and tab the header row uses most (Excel in some
    // countries writes ;).
    const QByteArray start = source.peek(64 * 1024);
    int counts[3] = {0, 0, 0};
    bool quoted = false;
    for (const char c : start) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '\n' || c == '\r'))
            break;
        else if (!quoted && c == ',')
            ++counts[0];
        else if (!quoted && c == ';')
            ++counts[1];
        else if (!quoted && c == '\t')
            ++counts[2];
    }
    if (counts[1] > counts[0] && counts[1] >= counts[2])
        m_delimiter = ';';
    else if (counts[2] > counts[0] && counts[2] > counts[1])
        m_delimiter = '\t';
}

CsvParser::~CsvParser() = default;

bool CsvParser::readRecord(QList<QByteArray>* fields, qint64* line) {
    fields->clear();
    QByteArray text, terminator;
    if (!m_source.readLine(&text, &terminator))
        return false;
    *line = m_source.lineNumber();
    enum { Start, Plain, Quoted, AfterQuote } state = Start;
    qint64 quoteLine = 0;
    QByteArray field;
    for (;;) {
        const char* d = text.constData();
        const qsizetype n = text.size();
        qsizetype i = 0;
        while (i < n) {
            switch (state) {
            case Start:
                if (d[i] == '"') {
                    state = Quoted;
                    quoteLine = m_source.lineNumber();
                    ++i;
                } else {
                    state = Plain;
                }
                break;
            case Plain:
            case AfterQuote: { // text after a closing quote is kept, as spreadsheets do
                const auto* stop = static_cast<const char*>(std::memchr(d + i, m_delimiter, n - i));
                const qsizetype end = stop ? stop - d : n;
                field.append(d + i, end - i);
                i = end;
                if (stop) {
                    *fields << field;
                    field.clear();
                    state = Start;
                    ++i;
                }
                break;
            }
            case Quoted: {
                const auto* quote = static_cast<const char*>(std::memchr(d + i, '"', n - i));
                const qsizetype end = quote ? quote - d : n;
                field.append(d + i, end - i);
                i = end;
                if (quote) {
                    if (i + 1 < n && d[i + 1] == '"') {
                        field += '"';
                        i += 2;
                    } else {
                        state = AfterQuote;
                        ++i;
                    }
                }
                break;
            }
            }
        }
        if (state != Quoted)
            break;
        if (field.size() > kMaxLine) // a quote that never closes does not fill the memory
            failLongLine(quoteLine);
        field += terminator; // a line break inside quotes is kept as written
        if (!m_source.readLine(&text, &terminator))
            failAtLine(quoteLine, QStringLiteral("这里有一个用引号括起的字段，到文件结尾也没有"
                                                 "结束的引号，文件不完整。请检查这一行的引号，"
                                                 "或重新导出这个文件后再导入。"));
    }
    *fields << field;
    return true;
}

void CsvParser::readHeader() {
    m_headerRead = true;
    QList<QByteArray> fields;
    qint64 line = 0;
    if (!readRecord(&fields, &line))
        return;
    for (const QByteArray& f : std::as_const(fields)) {
        QString h = m_decoder.decode(f, line).trimmed();
        if (h.startsWith(QChar(0xFEFF)))
            h = h.mid(1).trimmed();
        m_headers << h;
    }
    m_ownHeader = m_headers.size() == kFieldCount;
    for (int i = 0; i < kFieldCount && m_ownHeader; ++i)
        m_ownHeader = m_headers[i] == columnText(Field(i));
    bool hasName = false;
    for (const QString& h : std::as_const(m_headers)) {
        Target t = targetFor(h);
        t.label = h;
        hasName = hasName || (t.kind == Target::Column && t.column == Field::Name) ||
                  (t.kind == Target::Name && t.part != kPrefix && t.part != kSuffix);
        m_targets << t;
    }
    if (!hasName)
        failAtLine(line, QStringLiteral("CSV 文件的第一行（表头）里没有姓名列，例如“姓名”、"
                                        "“Name”、“First Name”或“姓”“名”，无法知道每张名片的"
                                        "姓名。请在第一行写上各列的名称后再导入。"));
}

bool CsvParser::next(Card* card) {
    if (!m_headerRead)
        readHeader();
    QList<QByteArray> fields;
    qint64 line = 0;
    while (readRecord(&fields, &line)) {
        bool blank = true;
        for (const QByteArray& f : std::as_const(fields))
            blank = blank && f.isEmpty();
        if (blank)
            continue; // spreadsheets leave empty rows
        assemble(fields, line);
        Card c = m_card.take();
        const QString named = nameNameless(&c);
        if (!named.isEmpty())
            m_skipped << Skipped{line, named, true};
        if (c[Field::Name].isEmpty()) {
            m_skipped << Skipped{line, QStringLiteral("这一行没有姓名，未导入。")};
            continue;
        }
        *card = c;
        return true;
    }
    return false;
}

// A row's values sorted by what they feed, before they go on the card.
struct CsvParser::Row {
    QString names[kSuffix + 1];
    QString birth[3];
    std::map<int, std::array<QString, kAddressParts>> addresses;
    struct EntryValues {
        QString type, value, service, orgName, orgTitle, orgDepartment;
    };
    std::map<std::pair<int, int>, EntryValues> entries;
    QList<std::pair<int, QString>> later; // header index, value
    QList<std::pair<int, QString>> notes;
};

void CsvParser::assemble(const QList<QByteArray>& fields, qint64 line) {
    m_card.clear();
    // Each row by its own bytes: a file pieced together from two programs may mix them.
    m_decoder.decideForEntry(fields.join(','), line);
    if (m_ownHeader) {
        assembleOwnRow(fields, line);
        return;
    }
    Row row;
    sortFields(fields, line, &row);
    placeName(row);
    placeBirthday(row);
    placeAddresses(row);
    placeEntries(row);
    placeLeftovers(row);
}

// Our own export: the 24 columns in order, values as they stand.
void CsvParser::assembleOwnRow(const QList<QByteArray>& fields, qint64 line) {
    for (int i = 0; i < fields.size(); ++i) {
        const QString value = withoutFormulaGuard(m_decoder.decode(fields[i], line));
        if (i < kFieldCount)
            m_card.place(Field(i), value);
        else if (!isBlank(value))
            m_card.note(QStringLiteral("第 %1 列").arg(i + 1), value);
    }
}

void CsvParser::sortFields(const QList<QByteArray>& fields, qint64 line, Row* row) {
    for (int i = 0; i < fields.size(); ++i) {
        if (fields[i].isEmpty())
            continue;
        // Line breaks come in as typed ones (LF), whatever the other program wrote.
        QString value = m_decoder.decode(fields[i], line);
        if (value.contains(QLatin1Char('\r')))
            value.replace(QLatin1String("\r\n"), QLatin1String("\n"))
                .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        const bool known = i < m_targets.size();
        const Target t = known ? m_targets[i] : Target();
        if (t.date && isZeroDate(value))
            continue;
        switch (t.kind) {
        case Target::Column:
            if (t.later)
                row->later << std::make_pair(i, value);
            else if (m_card.isFree(t.column))
                m_card.place(t.column, value);
            else
                m_card.note(t.label, value);
            break;
        case Target::Name:
            if (row->names[t.part].isEmpty())
                row->names[t.part] = value;
            break;
        case Target::Address:
            row->addresses[t.group][t.part] = value;
            break;
        case Target::Birth:
            row->birth[t.part] = value;
            break;
        case Target::Entry: {
            Row::EntryValues& e = row->entries[{t.entry, t.group}];
            QString* slot = t.part == kType       ? &e.type
                            : t.part == kValue    ? &e.value
                            : t.part == kService  ? &e.service
                            : t.part == kOrgName  ? &e.orgName
                            : t.part == kOrgTitle ? &e.orgTitle
                                                  : &e.orgDepartment;
            *slot = value;
            break;
        }
        case Target::Groups: {
            QStringList groups;
            for (const QString& g : googleValues(value)) {
                if (!g.startsWith(QLatin1String("* ")))
                    groups << g;
            }
            m_card.note(QStringLiteral("分组"), groups.join(QStringLiteral("、")));
            break;
        }
        case Target::Gender: {
            const QString g = value.trimmed().toLower();
            if (g != QLatin1String("unspecified") && g != QStringLiteral("未指定") && !g.isEmpty())
                row->notes << std::make_pair(i, value);
            break;
        }
        case Target::Ignore:
            break;
        case Target::Note:
            if (!isBlank(value))
                row->notes << std::make_pair(i, value);
            break;
        }
    }
}

void CsvParser::placeName(const Row& row) {
    if (m_card.isFree(Field::Name)) {
        QString full = row.names[kFull];
        if (full.isEmpty())
            full = joinName(row.names[kFamily], row.names[kGiven], row.names[kMiddle]);
        m_card.place(Field::Name, full);
        if (row.names[kFull].isEmpty()) {
            m_card.note(QStringLiteral("称谓"), row.names[kPrefix]);
            m_card.note(QStringLiteral("后缀"), row.names[kSuffix]);
        }
    }
}

void CsvParser::placeBirthday(const Row& row) {
    if (!row.birth[0].isEmpty() || !row.birth[1].isEmpty() || !row.birth[2].isEmpty()) {
        QStringList parts;
        for (const QString& p : row.birth) {
            if (!p.isEmpty())
                parts << p;
        }
        m_card.place(Field::Birthday, parts.join(QLatin1Char('-')));
    }
}

void CsvParser::placeAddresses(const Row& row) {
    for (const auto& [group, a] : row.addresses) {
        QString text =
            joinAddress(a[kPoBox], a[kExtended], joinStreets(a[kStreet], a[kStreet2], a[kStreet3]),
                        a[kCity], a[kRegion], a[kCountry]);
        if (text.isEmpty())
            text = a[kFormatted];
        const int kindOf = group >= kNumbered ? addressGroup(withoutStar(a[kAddressType])) : group;
        if (kindOf == kWork || kindOf == kHome) {
            m_card.place(kindOf == kWork ? Field::WorkAddress : Field::HomeAddress, text);
            m_card.place(kindOf == kWork ? Field::WorkPostcode : Field::HomePostcode, a[kPostal]);
        } else {
            QString label = withoutStar(a[kAddressType]);
            label = label.isEmpty() ? QStringLiteral("其他地址") : label + QStringLiteral("地址");
            m_card.note(label, text);
            m_card.note(label + QStringLiteral("邮编"), a[kPostal]);
        }
    }
}

void CsvParser::placeEntries(const Row& row) {
    for (const auto& [key, e] : row.entries) {
        const QString type = withoutStar(e.type);
        switch (key.first) {
        case kOrganization:
            m_card.place(Field::Company, e.orgName);
            m_card.place(Field::Department, e.orgDepartment);
            m_card.place(Field::Position, e.orgTitle);
            break;
        case kPhone:
            for (const QString& v : googleValues(e.value)) {
                const std::optional<Field> f = phoneField(type);
                if (f)
                    m_card.place(*f, v);
                else
                    m_card.note(type, v);
            }
            break;
        case kMail:
            for (const QString& v : googleValues(e.value))
                m_card.place(Field::Email, v);
            break;
        case kWebsite:
            for (const QString& v : googleValues(e.value))
                m_card.place(Field::Homepage, v);
            break;
        case kIm:
            for (const QString& v : googleValues(e.value)) {
                const QString service = withoutStar(e.service).toLower();
                if (service == QLatin1String("qq"))
                    m_card.place(Field::Oicq, v);
                else if (service == QLatin1String("msn") ||
                         service == QLatin1String("windows live"))
                    m_card.place(Field::Msn, v);
                else
                    m_card.note(e.service.isEmpty() ? QStringLiteral("即时通讯") : e.service, v);
            }
            break;
        default:
            for (const QString& v : googleValues(e.value))
                m_card.note(type.isEmpty() ? QStringLiteral("其他") : type, v);
            break;
        }
    }
}

// Second sources of columns still empty, then what has no column, as notes.
void CsvParser::placeLeftovers(const Row& row) {
    for (const auto& [index, value] : row.later) {
        const Target& t = m_targets[index];
        if (m_card.isFree(t.column))
            m_card.place(t.column, value);
        else
            m_card.note(t.label, value);
    }
    for (const auto& [index, value] : row.notes) {
        const QString label = index < m_headers.size() && !m_headers[index].isEmpty()
                                  ? m_headers[index]
                                  : QStringLiteral("第 %1 列").arg(index + 1);
        m_card.note(label, value);
    }
}

} // namespace Exchange

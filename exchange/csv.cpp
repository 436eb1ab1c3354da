#include "csv.h"

#include "data/fieldmap.h"
#include "textsource.h"

#include <QHash>
#include <QRegularExpression>

#include <cstring>
#include <map>

namespace Exchange {

// What one header column feeds.
struct CsvParser::Target {
    enum Kind { Note, Ignore, Column, Name, Address, Birth, Groups, Gender, Entry };
    Kind kind = Note;
    int column = -1;
    bool later = false; // a column's second source: used only while the column is still empty
    bool date = false;  // Outlook writes "0/0/00" for no date
    int part = 0;       // which part of a name, address, birth date or entry
    int group = 0;      // which address, or which numbered entry
    int entry = 0;      // which kind of numbered entry
    QString label;      // the header as written, for notes
};

namespace {

using Target = CsvParser::Target;

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

Target column(int c, bool later = false, bool date = false) {
    Target t;
    t.kind = Target::Column;
    t.column = c;
    t.later = later;
    t.date = date;
    return t;
}

Target name(int part) {
    Target t;
    t.kind = Target::Name;
    t.part = part;
    return t;
}

Target address(int group, int part) {
    Target t;
    t.kind = Target::Address;
    t.group = group;
    t.part = part;
    return t;
}

Target kind(Target::Kind k, int part = 0) {
    Target t;
    t.kind = k;
    t.part = part;
    return t;
}

// Addresses as Outlook and Thunderbird name them: prefix + part.
void addAddressHeaders(QHash<QString, Target>& map, int group, const QStringList& prefixes,
                       const QList<std::pair<const char*, int>>& parts) {
    for (const QString& prefix : prefixes) {
        for (const auto& [suffix, part] : parts)
            map.insert(prefix + QString::fromUtf8(suffix), address(group, part));
    }
}

const QHash<QString, Target>& knownHeaders() {
    static const QHash<QString, Target> map = [] {
        QHash<QString, Target> m;
        for (int i = 0; i < kColumnCount; ++i)
            m.insert(columnName(i).toLower(), column(i, false, i == kBirthday || i == kGraduation));
        auto add = [&m](const char* header, const Target& t) {
            m.insert(QString::fromUtf8(header), t);
        };
        // Outlook, English.
        add("title", name(kPrefix));
        add("first name", name(kGiven));
        add("middle name", name(kMiddle));
        add("last name", name(kFamily));
        add("suffix", name(kSuffix));
        add("company", column(kCompany));
        add("department", column(kDepartment));
        add("job title", column(kPost));
        add("profession", column(kProTitle));
        add("business phone", column(kWorkPhone));
        add("business phone 2", column(kWorkPhone, true));
        add("company main phone", column(kWorkPhone, true));
        add("primary phone", column(kWorkPhone, true));
        add("mobile phone", column(kMobile));
        add("home phone", column(kHomePhone));
        add("home phone 2", column(kHomePhone, true));
        add("business fax", column(kFax));
        add("home fax", column(kFax, true));
        add("other fax", column(kFax, true));
        add("e-mail address", column(kEmail));
        add("e-mail 2 address", column(kEmail, true));
        add("e-mail 3 address", column(kEmail, true));
        add("web page", column(kHomepage));
        add("birthday", column(kBirthday, false, true));
        add("notes", column(kNotes));
        add("anniversary", [] {
            Target t;
            t.date = true;
            return t;
        }());
        add("gender", kind(Target::Gender));
        for (const char* ignored :
             {"e-mail type", "e-mail display name", "e-mail 2 type", "e-mail 2 display name",
              "e-mail 3 type", "e-mail 3 display name", "initials", "priority", "private",
              "sensitivity", "photo", "file as"}) {
            add(ignored, kind(Target::Ignore));
        }
        const QList<std::pair<const char*, int>> outlookParts = {
            {" street", kStreet},          {" street 2", kStreet2},
            {" street 3", kStreet3},       {" city", kCity},
            {" state", kRegion},           {" postal code", kPostal},
            {" country/region", kCountry}, {" country", kCountry},
            {" address po box", kPoBox},
        };
        addAddressHeaders(m, kWork, {QStringLiteral("business")}, outlookParts);
        addAddressHeaders(m, kHome, {QStringLiteral("home")}, outlookParts);
        addAddressHeaders(m, kOther, {QStringLiteral("other")}, outlookParts);
        // Thunderbird.
        add("display name", name(kFull));
        add("primary email", column(kEmail));
        add("secondary email", column(kEmail, true));
        add("work phone", column(kWorkPhone));
        add("fax number", column(kFax));
        add("mobile number", column(kMobile));
        add("organization", column(kCompany));
        add("web page 1", column(kHomepage));
        add("web page 2", column(kHomepage, true));
        add("birth year", kind(Target::Birth, 0));
        add("birth month", kind(Target::Birth, 1));
        add("birth day", kind(Target::Birth, 2));
        const QList<std::pair<const char*, int>> birdParts = {
            {" address", kStreet}, {" address 2", kStreet2}, {" city", kCity},
            {" state", kRegion},   {" zipcode", kPostal},    {" country", kCountry},
        };
        addAddressHeaders(m, kWork, {QStringLiteral("work")}, birdParts);
        addAddressHeaders(m, kHome, {QStringLiteral("home")}, birdParts);
        // Google Contacts, old and new.
        add("name", name(kFull));
        add("given name", name(kGiven));
        add("additional name", name(kMiddle));
        add("family name", name(kFamily));
        add("name prefix", name(kPrefix));
        add("name suffix", name(kSuffix));
        add("organization name", column(kCompany));
        add("organization title", column(kPost));
        add("organization department", column(kDepartment));
        add("group membership", kind(Target::Groups));
        add("labels", kind(Target::Groups));
        // Outlook, Chinese.
        add("称谓", name(kPrefix));
        add("名", name(kGiven));
        add("中间名", name(kMiddle));
        add("姓", name(kFamily));
        add("后缀", name(kSuffix));
        add("公司", column(kCompany));
        add("职业", column(kProTitle));
        add("商务电话", column(kWorkPhone));
        add("商务电话 2", column(kWorkPhone, true));
        add("公司主要电话", column(kWorkPhone, true));
        add("主要电话", column(kWorkPhone, true));
        add("移动电话", column(kMobile));
        add("住宅电话", column(kHomePhone));
        add("住宅电话 2", column(kHomePhone, true));
        add("商务传真", column(kFax));
        add("住宅传真", column(kFax, true));
        add("其他传真", column(kFax, true));
        add("电子邮件地址", column(kEmail));
        add("电子邮件 2 地址", column(kEmail, true));
        add("电子邮件 3 地址", column(kEmail, true));
        add("网页", column(kHomepage));
        add("附注", column(kNotes));
        add("纪念日", [] {
            Target t;
            t.date = true;
            return t;
        }());
        add("性别", kind(Target::Gender));
        for (const char* ignored :
             {"电子邮件类型", "电子邮件显示名称", "电子邮件 2 类型", "电子邮件 2 显示名称",
              "电子邮件 3 类型", "电子邮件 3 显示名称", "缩写", "优先级", "私有", "敏感度"}) {
            add(ignored, kind(Target::Ignore));
        }
        const QList<std::pair<const char*, int>> chineseParts = {
            {"地址 街道", kStreet}, {"地址 街道 2", kStreet2},      {"地址 街道 3", kStreet3},
            {"地址 市/县", kCity},  {"地址 省/市/自治区", kRegion}, {"地址 邮政编码", kPostal},
            {"邮政编码", kPostal},  {"地址 国家/地区", kCountry},   {"地址邮政信箱", kPoBox},
        };
        addAddressHeaders(m, kWork, {QStringLiteral("商务")}, chineseParts);
        addAddressHeaders(m, kHome, {QStringLiteral("住宅")}, chineseParts);
        addAddressHeaders(m, kOther, {QStringLiteral("其他")}, chineseParts);
        // Sheets people make by hand.
        for (const char* h : {"公司名称", "单位名称", "工作单位"})
            add(h, column(kCompany));
        add("职位", column(kPost));
        for (const char* h : {"电话", "办公电话", "联系电话", "座机", "电话号码"})
            add(h, column(kWorkPhone));
        for (const char* h : {"手机号", "手机号码"})
            add(h, column(kMobile));
        for (const char* h : {"宅电", "家庭电话号码"})
            add(h, column(kHomePhone));
        add("传真号码", column(kFax));
        for (const char* h : {"邮箱", "电子邮件", "电子邮箱", "邮件", "email"})
            add(h, column(kEmail));
        for (const char* h : {"地址", "公司地址", "单位地址", "办公地址"})
            add(h, column(kWorkAddress));
        for (const char* h : {"邮编", "邮政编码"})
            add(h, column(kWorkPostcode));
        for (const char* h : {"家庭住址", "住址"})
            add(h, column(kHomeAddress));
        for (const char* h : {"qq", "qq号", "qq号码"})
            add(h, column(kOicq));
        for (const char* h : {"网址", "网站"})
            add(h, column(kHomepage));
        add("出生日期", column(kBirthday, false, true));
        add("学校", column(kSchool));
        add("说明", column(kNotes));
        return m;
    }();
    return map;
}

// Google's numbered headers: "Phone 1 - Value", "Address 2 - City"...
Target numberedHeader(const QString& header) {
    static const QRegularExpression re(QStringLiteral(
        "^(phone|e-mail|email|website|im|address|organization|relation|event|custom field|"
        "external id) (\\d+) - (.+)$"));
    const QRegularExpressionMatch m = re.match(header);
    Target t;
    if (!m.hasMatch())
        return t;
    const QString what = m.captured(1);
    const int number = m.captured(2).toInt();
    const QString part = m.captured(3);
    if (what == QLatin1String("address")) {
        static const QHash<QString, int> parts = {
            {QStringLiteral("type"), kAddressType},
            {QStringLiteral("label"), kAddressType},
            {QStringLiteral("formatted"), kFormatted},
            {QStringLiteral("street"), kStreet},
            {QStringLiteral("city"), kCity},
            {QStringLiteral("po box"), kPoBox},
            {QStringLiteral("region"), kRegion},
            {QStringLiteral("postal code"), kPostal},
            {QStringLiteral("country"), kCountry},
            {QStringLiteral("extended address"), kExtended},
        };
        const auto it = parts.constFind(part);
        if (it == parts.constEnd())
            return t;
        return address(kNumbered + number, it.value());
    }
    t.kind = Target::Entry;
    t.group = number;
    if (what == QLatin1String("organization")) {
        t.entry = kOrganization;
        if (part == QLatin1String("name"))
            t.part = kOrgName;
        else if (part == QLatin1String("title"))
            t.part = kOrgTitle;
        else if (part == QLatin1String("department"))
            t.part = kOrgDepartment;
        else
            t.kind = Target::Note;
        return t;
    }
    t.entry = what == QLatin1String("phone")                                      ? kPhone
              : what == QLatin1String("e-mail") || what == QLatin1String("email") ? kMail
              : what == QLatin1String("website")                                  ? kWebsite
              : what == QLatin1String("im")                                       ? kIm
                                                                                  : kOtherEntry;
    if (part == QLatin1String("type") || part == QLatin1String("label"))
        t.part = kType;
    else if (part == QLatin1String("value"))
        t.part = kValue;
    else if (part == QLatin1String("service"))
        t.part = kService;
    else
        t.kind = Target::Note;
    return t;
}

Target targetFor(const QString& header) {
    const QString key = header.simplified().toLower();
    const auto& known = knownHeaders();
    const auto it = known.constFind(key);
    if (it != known.constEnd())
        return it.value();
    return numberedHeader(key);
}

// The column a phone's type names, -1 for none.
int phoneColumn(QString type) {
    type = type.toLower();
    if (type.contains(QLatin1String("fax")) || type.contains(QStringLiteral("传真")))
        return kFax;
    static const QHash<QString, int> columns = {
        {QStringLiteral("mobile"), kMobile},
        {QStringLiteral("cell"), kMobile},
        {QStringLiteral("手机"), kMobile},
        {QStringLiteral("移动电话"), kMobile},
        {QStringLiteral("work"), kWorkPhone},
        {QStringLiteral("business"), kWorkPhone},
        {QStringLiteral("main"), kWorkPhone},
        {QStringLiteral("company main"), kWorkPhone},
        {QString(), kWorkPhone},
        {QStringLiteral("工作"), kWorkPhone},
        {QStringLiteral("单位"), kWorkPhone},
        {QStringLiteral("公司"), kWorkPhone},
        {QStringLiteral("商务"), kWorkPhone},
        {QStringLiteral("办公"), kWorkPhone},
        {QStringLiteral("home"), kHomePhone},
        {QStringLiteral("住宅"), kHomePhone},
        {QStringLiteral("家庭"), kHomePhone},
        {QStringLiteral("家"), kHomePhone},
    };
    return columns.value(type, -1);
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
    m_ownHeader = m_headers.size() == kColumnCount;
    for (int i = 0; i < kColumnCount && m_ownHeader; ++i)
        m_ownHeader = m_headers[i] == columnName(i);
    bool hasName = false;
    for (const QString& h : std::as_const(m_headers)) {
        Target t = targetFor(h);
        t.label = h;
        hasName = hasName || (t.kind == Target::Column && t.column == kName) ||
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
        if (c.values[kName].isEmpty()) {
            m_skipped << Skipped{line, QStringLiteral("这一行没有姓名，未导入。")};
            continue;
        }
        *card = c;
        return true;
    }
    return false;
}

void CsvParser::assemble(const QList<QByteArray>& fields, qint64 line) {
    m_card.clear();
    // Each row by its own bytes: a file pieced together from two programs may mix them.
    m_decoder.decideForEntry(fields.join(','), line);
    if (m_ownHeader) {
        for (int i = 0; i < fields.size(); ++i) {
            const QString value = withoutFormulaGuard(m_decoder.decode(fields[i], line));
            if (i < kColumnCount)
                m_card.place(i, value);
            else if (!isBlank(value))
                m_card.note(QStringLiteral("第 %1 列").arg(i + 1), value);
        }
        return;
    }

    QString names[kSuffix + 1];
    QString birth[3];
    std::map<int, std::array<QString, kAddressParts>> addresses;
    struct EntryValues {
        QString type, value, service, orgName, orgTitle, orgDepartment;
    };
    std::map<std::pair<int, int>, EntryValues> entries;
    QList<std::pair<int, QString>> later; // header index, value
    QList<std::pair<int, QString>> notes;

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
                later << std::make_pair(i, value);
            else if (m_card.isFree(t.column))
                m_card.place(t.column, value);
            else
                m_card.note(t.label, value);
            break;
        case Target::Name:
            if (names[t.part].isEmpty())
                names[t.part] = value;
            break;
        case Target::Address:
            addresses[t.group][t.part] = value;
            break;
        case Target::Birth:
            birth[t.part] = value;
            break;
        case Target::Entry: {
            EntryValues& e = entries[{t.entry, t.group}];
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
                notes << std::make_pair(i, value);
            break;
        }
        case Target::Ignore:
            break;
        case Target::Note:
            if (!isBlank(value))
                notes << std::make_pair(i, value);
            break;
        }
    }

    if (m_card.isFree(kName)) {
        QString full = names[kFull];
        if (full.isEmpty())
            full = joinName(names[kFamily], names[kGiven], names[kMiddle]);
        m_card.place(kName, full);
        if (names[kFull].isEmpty()) {
            m_card.note(QStringLiteral("称谓"), names[kPrefix]);
            m_card.note(QStringLiteral("后缀"), names[kSuffix]);
        }
    }
    if (!birth[0].isEmpty() || !birth[1].isEmpty() || !birth[2].isEmpty()) {
        QStringList parts;
        for (const QString& p : birth) {
            if (!p.isEmpty())
                parts << p;
        }
        m_card.place(kBirthday, parts.join(QLatin1Char('-')));
    }

    for (const auto& [group, a] : addresses) {
        QString text =
            joinAddress(a[kPoBox], a[kExtended], joinStreets(a[kStreet], a[kStreet2], a[kStreet3]),
                        a[kCity], a[kRegion], a[kCountry]);
        if (text.isEmpty())
            text = a[kFormatted];
        const int kindOf = group >= kNumbered ? addressGroup(withoutStar(a[kAddressType])) : group;
        if (kindOf == kWork || kindOf == kHome) {
            m_card.place(kindOf == kWork ? kWorkAddress : kHomeAddress, text);
            m_card.place(kindOf == kWork ? kWorkPostcode : kHomePostcode, a[kPostal]);
        } else {
            QString label = withoutStar(a[kAddressType]);
            label = label.isEmpty() ? QStringLiteral("其他地址") : label + QStringLiteral("地址");
            m_card.note(label, text);
            m_card.note(label + QStringLiteral("邮编"), a[kPostal]);
        }
    }

    for (const auto& [key, e] : entries) {
        const QString type = withoutStar(e.type);
        switch (key.first) {
        case kOrganization:
            m_card.place(kCompany, e.orgName);
            m_card.place(kDepartment, e.orgDepartment);
            m_card.place(kPost, e.orgTitle);
            break;
        case kPhone:
            for (const QString& v : googleValues(e.value)) {
                const int c = phoneColumn(type);
                if (c >= 0)
                    m_card.place(c, v);
                else
                    m_card.note(type, v);
            }
            break;
        case kMail:
            for (const QString& v : googleValues(e.value))
                m_card.place(kEmail, v);
            break;
        case kWebsite:
            for (const QString& v : googleValues(e.value))
                m_card.place(kHomepage, v);
            break;
        case kIm:
            for (const QString& v : googleValues(e.value)) {
                const QString service = withoutStar(e.service).toLower();
                if (service == QLatin1String("qq"))
                    m_card.place(kOicq, v);
                else if (service == QLatin1String("msn") ||
                         service == QLatin1String("windows live"))
                    m_card.place(kMsn, v);
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

    for (const auto& [index, value] : std::as_const(later)) {
        const Target& t = m_targets[index];
        if (m_card.isFree(t.column))
            m_card.place(t.column, value);
        else
            m_card.note(t.label, value);
    }
    for (const auto& [index, value] : std::as_const(notes)) {
        const QString label = index < m_headers.size() && !m_headers[index].isEmpty()
                                  ? m_headers[index]
                                  : QStringLiteral("第 %1 列").arg(index + 1);
        m_card.note(label, value);
    }
}

} // namespace Exchange

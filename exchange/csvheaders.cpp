#include "csvheaders.h"

#include "assemble.h"

#include <QHash>
#include <QRegularExpression>

#include <cstddef>

namespace Exchange {
namespace CsvHeaders {

namespace {

using Target = CsvParser::Target;

Target column(Field c, bool later = false, bool date = false) {
    Target t;
    t.kind = Target::Column;
    t.column = c;
    t.later = later;
    t.date = date;
    return t;
}

Target address(int group, int part) {
    Target t;
    t.kind = Target::Address;
    t.group = group;
    t.part = part;
    return t;
}

// What a header feeds, as the tables below write it: for a column the column, for a name or
// a birth date the part.
struct Feed {
    Target::Kind kind;
    int which;
    bool later; // a column's second source
    bool date;
};
constexpr Feed to(Field c) {
    return {Target::Column, int(c), false, false};
}
constexpr Feed toLater(Field c) {
    return {Target::Column, int(c), true, false};
}
constexpr Feed toDate(Field c) {
    return {Target::Column, int(c), false, true};
}
constexpr Feed toName(int part) {
    return {Target::Name, part, false, false};
}
constexpr Feed toBirth(int part) {
    return {Target::Birth, part, false, false};
}
constexpr Feed toKind(Target::Kind kind) {
    return {kind, 0, false, false};
}
// A date there is no column for: noted, unless it is Outlook's empty date.
constexpr Feed kOtherDate = {Target::Note, 0, false, true};
constexpr Feed kIgnored = toKind(Target::Ignore);

Target targetOf(const Feed& feed) {
    Target t;
    t.kind = feed.kind;
    if (feed.kind == Target::Column)
        t.column = Field(feed.which);
    else
        t.part = feed.which;
    t.later = feed.later;
    t.date = feed.date;
    return t;
}

// Outlook's headers in its English and its Chinese edition; nullptr where one has none.
struct OutlookHeader {
    const char* english;
    const char* chinese;
    Feed feed;
};
const OutlookHeader kOutlookHeaders[] = {
    {"title", "称谓", toName(kPrefix)},
    {"first name", "名", toName(kGiven)},
    {"middle name", "中间名", toName(kMiddle)},
    {"last name", "姓", toName(kFamily)},
    {"suffix", "后缀", toName(kSuffix)},
    {"company", "公司", to(Field::Company)},
    {"department", nullptr, to(Field::Department)},
    {"job title", nullptr, to(Field::Position)},
    {"profession", "职业", to(Field::Title)},
    {"business phone", "商务电话", to(Field::WorkPhone)},
    {"business phone 2", "商务电话 2", toLater(Field::WorkPhone)},
    {"company main phone", "公司主要电话", toLater(Field::WorkPhone)},
    {"primary phone", "主要电话", toLater(Field::WorkPhone)},
    {"mobile phone", "移动电话", to(Field::Mobile)},
    {"home phone", "住宅电话", to(Field::HomePhone)},
    {"home phone 2", "住宅电话 2", toLater(Field::HomePhone)},
    {"business fax", "商务传真", to(Field::Fax)},
    {"home fax", "住宅传真", toLater(Field::Fax)},
    {"other fax", "其他传真", toLater(Field::Fax)},
    {"e-mail address", "电子邮件地址", to(Field::Email)},
    {"e-mail 2 address", "电子邮件 2 地址", toLater(Field::Email)},
    {"e-mail 3 address", "电子邮件 3 地址", toLater(Field::Email)},
    {"web page", "网页", to(Field::Homepage)},
    {"birthday", nullptr, toDate(Field::Birthday)},
    {"notes", "附注", to(Field::Notes)},
    {"anniversary", "纪念日", kOtherDate},
    {"gender", "性别", toKind(Target::Gender)},
    {"e-mail type", "电子邮件类型", kIgnored},
    {"e-mail display name", "电子邮件显示名称", kIgnored},
    {"e-mail 2 type", "电子邮件 2 类型", kIgnored},
    {"e-mail 2 display name", "电子邮件 2 显示名称", kIgnored},
    {"e-mail 3 type", "电子邮件 3 类型", kIgnored},
    {"e-mail 3 display name", "电子邮件 3 显示名称", kIgnored},
    {"initials", "缩写", kIgnored},
    {"priority", "优先级", kIgnored},
    {"private", "私有", kIgnored},
    {"sensitivity", "敏感度", kIgnored},
    {"photo", nullptr, kIgnored},
    {"file as", nullptr, kIgnored},
};

struct Header {
    const char* header;
    Feed feed;
};
const Header kOtherHeaders[] = {
    // Thunderbird.
    {"display name", toName(kFull)},
    {"primary email", to(Field::Email)},
    {"secondary email", toLater(Field::Email)},
    {"work phone", to(Field::WorkPhone)},
    {"fax number", to(Field::Fax)},
    {"mobile number", to(Field::Mobile)},
    {"organization", to(Field::Company)},
    {"web page 1", to(Field::Homepage)},
    {"web page 2", toLater(Field::Homepage)},
    {"birth year", toBirth(0)},
    {"birth month", toBirth(1)},
    {"birth day", toBirth(2)},
    // Google Contacts, old and new.
    {"name", toName(kFull)},
    {"given name", toName(kGiven)},
    {"additional name", toName(kMiddle)},
    {"family name", toName(kFamily)},
    {"name prefix", toName(kPrefix)},
    {"name suffix", toName(kSuffix)},
    {"organization name", to(Field::Company)},
    {"organization title", to(Field::Position)},
    {"organization department", to(Field::Department)},
    {"group membership", toKind(Target::Groups)},
    {"labels", toKind(Target::Groups)},
    // Sheets people make by hand.
    {"公司名称", to(Field::Company)},
    {"单位名称", to(Field::Company)},
    {"工作单位", to(Field::Company)},
    {"职位", to(Field::Position)},
    {"电话", to(Field::WorkPhone)},
    {"办公电话", to(Field::WorkPhone)},
    {"联系电话", to(Field::WorkPhone)},
    {"座机", to(Field::WorkPhone)},
    {"电话号码", to(Field::WorkPhone)},
    {"手机号", to(Field::Mobile)},
    {"手机号码", to(Field::Mobile)},
    {"宅电", to(Field::HomePhone)},
    {"家庭电话号码", to(Field::HomePhone)},
    {"传真号码", to(Field::Fax)},
    {"邮箱", to(Field::Email)},
    {"电子邮件", to(Field::Email)},
    {"电子邮箱", to(Field::Email)},
    {"邮件", to(Field::Email)},
    {"email", to(Field::Email)},
    {"地址", to(Field::WorkAddress)},
    {"公司地址", to(Field::WorkAddress)},
    {"单位地址", to(Field::WorkAddress)},
    {"办公地址", to(Field::WorkAddress)},
    {"邮编", to(Field::WorkPostcode)},
    {"邮政编码", to(Field::WorkPostcode)},
    {"家庭住址", to(Field::HomeAddress)},
    {"住址", to(Field::HomeAddress)},
    {"qq", to(Field::Oicq)},
    {"qq号", to(Field::Oicq)},
    {"qq号码", to(Field::Oicq)},
    {"网址", to(Field::Homepage)},
    {"网站", to(Field::Homepage)},
    {"出生日期", toDate(Field::Birthday)},
    {"学校", to(Field::School)},
    {"说明", to(Field::Notes)},
};

// Addresses as Outlook and Thunderbird name them: a prefix for which address, then the part.
struct AddressPartHeader {
    const char* suffix;
    int part;
};
const AddressPartHeader kOutlookParts[] = {
    {" street", kStreet},          {" street 2", kStreet2},
    {" street 3", kStreet3},       {" city", kCity},
    {" state", kRegion},           {" postal code", kPostal},
    {" country/region", kCountry}, {" country", kCountry},
    {" address po box", kPoBox},
};
const AddressPartHeader kThunderbirdParts[] = {
    {" address", kStreet}, {" address 2", kStreet2}, {" city", kCity},
    {" state", kRegion},   {" zipcode", kPostal},    {" country", kCountry},
};
const AddressPartHeader kOutlookChineseParts[] = {
    {"地址 街道", kStreet}, {"地址 街道 2", kStreet2},      {"地址 街道 3", kStreet3},
    {"地址 市/县", kCity},  {"地址 省/市/自治区", kRegion}, {"地址 邮政编码", kPostal},
    {"邮政编码", kPostal},  {"地址 国家/地区", kCountry},   {"地址邮政信箱", kPoBox},
};
struct AddressHeaders {
    const char* prefix;
    int group;
    const AddressPartHeader* parts;
    std::size_t count;
};
template <std::size_t N>
constexpr AddressHeaders addresses(const char* prefix, int group,
                                   const AddressPartHeader (&parts)[N]) {
    return {prefix, group, parts, N};
}
const AddressHeaders kAddressHeaders[] = {
    addresses("business", kWork, kOutlookParts),    addresses("home", kHome, kOutlookParts),
    addresses("other", kOther, kOutlookParts),      addresses("work", kWork, kThunderbirdParts),
    addresses("home", kHome, kThunderbirdParts),    addresses("商务", kWork, kOutlookChineseParts),
    addresses("住宅", kHome, kOutlookChineseParts), addresses("其他", kOther, kOutlookChineseParts),
};

const QHash<QString, Target>& knownHeaders() {
    static const QHash<QString, Target> map = [] {
        QHash<QString, Target> m;
        for (Field f : kFields)
            m.insert(columnText(f).toLower(),
                     column(f, false, f == Field::Birthday || f == Field::GraduationDate));
        for (const OutlookHeader& h : kOutlookHeaders) {
            for (const char* header : {h.english, h.chinese}) {
                if (header)
                    m.insert(QString::fromUtf8(header), targetOf(h.feed));
            }
        }
        for (const Header& h : kOtherHeaders)
            m.insert(QString::fromUtf8(h.header), targetOf(h.feed));
        for (const AddressHeaders& a : kAddressHeaders) {
            for (std::size_t i = 0; i < a.count; ++i)
                m.insert(QString::fromUtf8(a.prefix) + QString::fromUtf8(a.parts[i].suffix),
                         address(a.group, a.parts[i].part));
        }
        return m;
    }();
    return map;
}

// Google's numbered headers: "Phone 1 - Value", "Address 2 - City"...
Target numberedHeader(const QString& header) {
    static const QRegularExpression re(
        QStringLiteral("^(phone|e-mail|email|website|im|address|organization|"
                       "relation|event|custom field|"
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

} // namespace

Target targetFor(const QString& header) {
    const QString key = header.simplified().toLower();
    const auto& known = knownHeaders();
    const auto it = known.constFind(key);
    if (it != known.constEnd())
        return it.value();
    return numberedHeader(key);
}

} // namespace CsvHeaders
} // namespace Exchange

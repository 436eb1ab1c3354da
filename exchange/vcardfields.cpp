// What each vCard property becomes in a card.
#include "vcard.h"

#include "textsource.h"
#include "vcardnames.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <optional>

namespace Exchange {

namespace VCardNames {

bool isIgnored(const QByteArray& name);

std::pair<int, Field> kindOf(const QByteArray& name) {
    static const QHash<QByteArray, std::pair<int, Field>> kinds = [] {
        QHash<QByteArray, std::pair<int, Field>> k = {
            {"FN", {Prop::Fn, Field::Name}},
            {"N", {Prop::N, Field::Name}},
            {"ORG", {Prop::Org, Field::Name}},
            {"TITLE", {Prop::Title, Field::Name}},
            {"ROLE", {Prop::Role, Field::Name}},
            {"BDAY", {Prop::Bday, Field::Name}},
            {"TEL", {Prop::Tel, Field::Name}},
            {"EMAIL", {Prop::Email, Field::Name}},
            {"URL", {Prop::Url, Field::Name}},
            {"ADR", {Prop::Adr, Field::Name}},
            {"LABEL", {Prop::Label, Field::Name}},
            {"NOTE", {Prop::Note, Field::Name}},
            {"X-QQ", {Prop::Qq, Field::Name}},
            {"X-MSN", {Prop::Msn, Field::Name}},
            {"X-MS-IMADDRESS", {Prop::Msn, Field::Name}},
            {"IMPP", {Prop::Impp, Field::Name}},
            {"X-WAB-GENDER", {Prop::WabGender, Field::Name}},
            {"X-ABLABEL", {Prop::AbLabel, Field::Name}},
        };
        for (const OwnProperty& o : kOwnProperties)
            k.insert(o.name, {Prop::Own, o.column});
        return k;
    }();
    const auto it = kinds.constFind(name);
    if (it != kinds.constEnd())
        return it.value();
    return {isIgnored(name) ? Prop::Ignored : Prop::Unknown, Field::Name};
}

// Bookkeeping and pictures: nothing a card keeps.
bool isIgnored(const QByteArray& name) {
    static const QSet<QByteArray> names = {
        "VERSION",
        "PRODID",
        "REV",
        "UID",
        "PHOTO",
        "LOGO",
        "SOUND",
        "KEY",
        "NAME",
        "PROFILE",
        "KIND",
        "CLIENTPIDMAP",
        "XML",
        "X-ABUID",
        "X-ABLABEL",
        "X-ABADR",
        "X-ABSHOWAS",
        "X-IMAGETYPE",
        "X-IMAGEHASH",
        "X-MS-OL-DEFAULT-POSTAL-ADDRESS",
        "X-MS-OL-DESIGN",
        "X-MS-CARDPICTURE",
        "X-EVOLUTION-FILE-AS",
        "X-MOZILLA-HTML",
    };
    return names.contains(name);
}

QString labelFor(const QByteArray& name) {
    static const QHash<QByteArray, QString> labels = {
        {"NICKNAME", QStringLiteral("昵称")},
        {"SOURCE", QStringLiteral("来源")},
        {"CLASS", QStringLiteral("公开范围")},
        {"SORT-STRING", QStringLiteral("排序名")},
        {"MAILER", QStringLiteral("邮件程序")},
        {"CATEGORIES", QStringLiteral("分组")},
        {"GEO", QStringLiteral("位置")},
        {"TZ", QStringLiteral("时区")},
        {"ANNIVERSARY", QStringLiteral("纪念日")},
        {"X-ANNIVERSARY", QStringLiteral("纪念日")},
        {"X-MS-ANNIVERSARY", QStringLiteral("纪念日")},
        {"GENDER", QStringLiteral("性别")},
        {"LANG", QStringLiteral("语言")},
        {"RELATED", QStringLiteral("相关的人")},
        {"X-SPOUSE", QStringLiteral("配偶")},
        {"X-MS-SPOUSE", QStringLiteral("配偶")},
        {"X-ASSISTANT", QStringLiteral("助理")},
        {"X-MS-ASSISTANT", QStringLiteral("助理")},
        {"X-MANAGER", QStringLiteral("上司")},
        {"X-MS-MANAGER", QStringLiteral("上司")},
        {"X-PHONETIC-FIRST-NAME", QStringLiteral("名（拼音）")},
        {"X-PHONETIC-MIDDLE-NAME", QStringLiteral("中间名（拼音）")},
        {"X-PHONETIC-LAST-NAME", QStringLiteral("姓（拼音）")},
        {"X-PHONETIC-ORG", QStringLiteral("单位（拼音）")},
        {"AGENT", QStringLiteral("代理人")},
        {"FBURL", QStringLiteral("日程")},
        {"CALURI", QStringLiteral("日历")},
        {"X-WECHAT", QStringLiteral("微信")},
        {"X-WEIXIN", QStringLiteral("微信")},
        {"X-SKYPE", QStringLiteral("Skype")},
        {"X-SKYPE-USERNAME", QStringLiteral("Skype")},
        {"X-AIM", QStringLiteral("AIM")},
        {"X-ICQ", QStringLiteral("ICQ")},
        {"X-JABBER", QStringLiteral("Jabber")},
        {"X-YAHOO", QStringLiteral("Yahoo")},
        {"X-GOOGLE-TALK", QStringLiteral("Google Talk")},
        {"X-GTALK", QStringLiteral("Google Talk")},
    };
    return labels.value(name);
}

// iPhone's built-in labels look like "_$!<Mobile>!$_".
bool appleLabel(const QString& label, QString* inner) {
    if (!label.startsWith(QLatin1String("_$!<")) || !label.endsWith(QLatin1String(">!$_")))
        return false;
    *inner = label.mid(4, label.size() - 8);
    return true;
}

QString readableLabel(const QString& label) {
    QString inner;
    if (!appleLabel(label, &inner))
        return label;
    static const QHash<QString, QString> names = {
        {QStringLiteral("Mobile"), QStringLiteral("手机")},
        {QStringLiteral("iPhone"), QStringLiteral("手机")},
        {QStringLiteral("Home"), QStringLiteral("家庭")},
        {QStringLiteral("Work"), QStringLiteral("工作")},
        {QStringLiteral("Main"), QStringLiteral("总机")},
        {QStringLiteral("HomeFAX"), QStringLiteral("家庭传真")},
        {QStringLiteral("WorkFAX"), QStringLiteral("工作传真")},
        {QStringLiteral("OtherFAX"), QStringLiteral("其他传真")},
        {QStringLiteral("Pager"), QStringLiteral("寻呼机")},
        {QStringLiteral("Other"), QStringLiteral("其他")},
        {QStringLiteral("HomePage"), QStringLiteral("主页")},
        {QStringLiteral("Anniversary"), QStringLiteral("纪念日")},
        {QStringLiteral("Spouse"), QStringLiteral("配偶")},
        {QStringLiteral("Child"), QStringLiteral("子女")},
        {QStringLiteral("Father"), QStringLiteral("父亲")},
        {QStringLiteral("Mother"), QStringLiteral("母亲")},
        {QStringLiteral("Parent"), QStringLiteral("父母")},
        {QStringLiteral("Brother"), QStringLiteral("兄弟")},
        {QStringLiteral("Sister"), QStringLiteral("姐妹")},
        {QStringLiteral("Friend"), QStringLiteral("朋友")},
        {QStringLiteral("Assistant"), QStringLiteral("助理")},
        {QStringLiteral("Manager"), QStringLiteral("上司")},
        {QStringLiteral("Partner"), QStringLiteral("伴侣")},
    };
    return names.value(inner, inner);
}

bool startsWithNoCase(const QString& text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix), Qt::CaseInsensitive);
}

QString joinNonEmpty(const QStringList& parts, qsizetype from, const QString& separator) {
    QStringList kept;
    for (qsizetype i = from; i < parts.size(); ++i) {
        if (!parts[i].isEmpty())
            kept << parts[i];
    }
    return kept.join(separator);
}

QString part(const QStringList& parts, qsizetype i) {
    return i < parts.size() ? parts[i] : QString();
}

} // namespace VCardNames

namespace {

// Which of several phones, faxes, e-mails or addresses takes the column: a work or
// preferred one over one without a kind, and that over a home one.
int rankOf(const VCardParser::Property& p) {
    if (p.has("PREF") || p.has("WORK"))
        return 2;
    return p.has("HOME") ? 0 : 1;
}

// A picture held in the property itself: base64 (2.1 BASE64, 3.0 b) or a 4.0 data: URI.
// A link to a picture elsewhere is none; bytes that do not decode stay empty.
CardPhoto photoOf(const VCardParser::Property& p) {
    CardPhoto photo;
    photo.line = p.line;
    QByteArray data = p.raw;
    if (p.encoding == "BASE64" || p.encoding == "B") {
        photo.present = true;
    } else if (data.left(5).toLower() == "data:") {
        photo.present = true;
        const qsizetype comma = data.indexOf(',');
        if (comma < 0)
            return photo;
        const bool base64 = data.left(comma).toLower().endsWith(";base64");
        data = data.mid(comma + 1);
        if (!base64) {
            photo.bytes = QByteArray::fromPercentEncoding(data);
            return photo;
        }
    } else {
        return photo;
    }
    data.replace(' ', QByteArray()).replace('\t', QByteArray()).replace('\r', QByteArray());
    data.replace('\n', QByteArray());
    const auto decoded =
        QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded)
        photo.bytes = *decoded;
    return photo;
}

} // namespace

using namespace VCardNames;

void VCardParser::assemble(const QList<Property>& props) {
    m_card.clear();
    m_uid.clear();
    // Text without a charset is read as its own card's bytes show, never as another's.
    QByteArray entry;
    for (const Property& p : props) {
        if (p.charset.isEmpty() && (p.encoding == "QUOTED-PRINTABLE" || p.encoding == "QP"))
            entry += VCardSyntax::decodeQuotedPrintable(p.raw) + '\n';
        else if (p.charset.isEmpty() && p.encoding != "BASE64" && p.encoding != "B")
            entry += p.raw + '\n';
    }
    m_decoder.decideForEntry(entry, m_begin);
    QHash<QByteArray, QString> groupLabels;
    bool hasAddress = false;
    int nameSource = -1; // the FN used, else the N used
    for (int i = 0; i < props.size(); ++i) {
        const Property& p = props[i];
        if (p.kind == Prop::AbLabel && !p.group.isEmpty())
            groupLabels.insert(p.group, components(p, false).join(QString()));
        else if (p.kind == Prop::Adr)
            hasAddress = true;
        else if (p.kind == Prop::Fn && (nameSource < 0 || props[nameSource].kind != Prop::Fn) &&
                 !p.raw.isEmpty())
            nameSource = i;
        else if (p.kind == Prop::N && nameSource < 0)
            nameSource = i;
    }
    const bool nameFromFn = nameSource >= 0 && props[nameSource].kind == Prop::Fn;
    int firstN = -1;
    for (int i = 0; i < props.size() && firstN < 0; ++i) {
        if (props[i].kind == Prop::N)
            firstN = i;
        else if (props[i].name == "UID")
            m_uid = components(props[i], false).join(QString()).trimmed();
    }
    for (const Property& p : props) {
        if (p.name == "UID" && m_uid.isEmpty())
            m_uid = components(p, false).join(QString()).trimmed();
    }
    // The first picture the card holds is its front; phones write one.
    m_photo = CardPhoto();
    for (const Property& p : props) {
        if (p.name == "PHOTO" && !m_photo.present)
            m_photo = photoOf(p);
    }

    // The name first, so that notes about it come first.
    if (nameSource >= 0) {
        const Property& p = props[nameSource];
        if (nameFromFn) {
            m_card.place(Field::Name, components(p, false).join(QString()));
        } else {
            const QStringList n = components(p, true);
            m_card.place(Field::Name, joinName(part(n, 0), part(n, 1), part(n, 2)));
            m_card.note(QStringLiteral("称谓"), part(n, 3));
            m_card.note(QStringLiteral("后缀"), part(n, 4));
        }
    }

    for (int i = 0; i < props.size(); ++i) {
        const Property& p = props[i];
        if (i == nameSource || p.kind == Prop::Ignored || p.kind == Prop::AbLabel)
            continue;
        const QString groupLabel =
            p.group.isEmpty() ? QString() : readableLabel(groupLabels.value(p.group));
        auto single = [&] { return components(p, false).join(QString()); };
        switch (p.kind) {
        case Prop::Fn:
            m_card.place(Field::Name, single());
            break;
        case Prop::N: {
            const QStringList n = components(p, true);
            if (!nameFromFn) {
                m_card.note(columnText(Field::Name), joinName(part(n, 0), part(n, 1), part(n, 2)));
            } else if (i == firstN) {
                // FN gave the name; what only N holds is kept.
                m_card.note(QStringLiteral("称谓"), part(n, 3));
                m_card.note(QStringLiteral("后缀"), part(n, 4));
            }
            break;
        }
        case Prop::Org: {
            const QStringList org = components(p, true);
            m_card.place(Field::Company, part(org, 0));
            m_card.place(Field::Department, joinNonEmpty(org, 1, QStringLiteral(" ")));
            break;
        }
        case Prop::Title:
            m_card.place(Field::Position, single());
            break;
        case Prop::Role:
            m_card.place(Field::Title, single());
            break;
        case Prop::Bday:
            m_card.place(Field::Birthday, single());
            break;
        case Prop::Tel:
            addTel(p, groupLabel);
            break;
        case Prop::Email:
            m_card.placeRanked(Field::Email, single(), rankOf(p), groupLabel);
            break;
        case Prop::Url:
            m_card.placeRanked(Field::Homepage, single(), rankOf(p), groupLabel);
            break;
        case Prop::Adr:
            addAddress(p, components(p, true), groupLabel);
            break;
        case Prop::Label:
            // A printed form of an address; only worth keeping when the address is missing.
            if (!hasAddress)
                addAddress(p, {QString(), QString(), single()}, groupLabel);
            break;
        case Prop::Note:
            m_card.place(Field::Notes, single());
            break;
        case Prop::Qq:
            m_card.place(Field::Oicq, single());
            break;
        case Prop::Msn:
            m_card.place(Field::Msn, single());
            break;
        case Prop::Impp:
            addImpp(p);
            break;
        case Prop::WabGender: {
            const QString g = single();
            m_card.note(QStringLiteral("性别"), g == QLatin1String("1")   ? QStringLiteral("女")
                                                : g == QLatin1String("2") ? QStringLiteral("男")
                                                                          : g);
            break;
        }
        case Prop::Own:
            m_card.place(p.column, single());
            break;
        default: {
            QString label = groupLabel;
            if (label.isEmpty())
                label = labelFor(p.name);
            if (label.isEmpty())
                label = QString::fromUtf8(p.writtenName);
            if (p.encoding == "BASE64" || p.encoding == "B") {
                const QByteArray bytes = QByteArray::fromBase64(p.raw.simplified());
                if (!isUtf8(bytes.constData(), bytes.size())) {
                    m_card.note(label, QStringLiteral("（二进制数据，未导入）"));
                    break;
                }
            }
            m_card.note(label, single());
            break;
        }
        }
    }
}

void VCardParser::addTel(const Property& p, const QString& groupLabel) {
    QString value = components(p, false).join(QString());
    QList<QByteArray> types = p.types;
    // A label of its own: iPhone's group label, or Android's "TEL;X-Assistant:".
    QString custom = groupLabel.isEmpty() ? QString::fromUtf8(p.customType) : groupLabel;
    // iPhone's built-in labels (already in Chinese) name a kind of phone.
    static const QHash<QString, QList<QByteArray>> appleKinds = {
        {QStringLiteral("手机"), {"CELL"}},    {QStringLiteral("家庭"), {"HOME"}},
        {QStringLiteral("工作"), {"WORK"}},    {QStringLiteral("总机"), {"WORK"}},
        {QStringLiteral("家庭传真"), {"FAX"}}, {QStringLiteral("工作传真"), {"FAX"}},
        {QStringLiteral("其他传真"), {"FAX"}}, {QStringLiteral("寻呼机"), {"PAGER"}},
        {QStringLiteral("其他"), {"OTHER"}},
    };
    const auto kind = appleKinds.constFind(custom);
    if (kind != appleKinds.constEnd()) {
        types += kind.value();
        custom.clear();
    }
    auto has = [&](const char* t) { return types.contains(QByteArray(t)); };

    const bool uri = p.valueType == "URI" && startsWithNoCase(value, "tel:");
    if (uri)
        value = value.mid(4);
    std::optional<Field> column;
    QString label;
    QString faxLabel;
    if (has("FAX")) {
        column = Field::Fax;
        faxLabel = has("HOME") ? QStringLiteral("家庭传真") : QString();
    } else if (has("CELL") || has("MOBILE") || has("IPHONE")) {
        column = Field::Mobile;
    } else if (has("PAGER")) {
        label = QStringLiteral("寻呼机");
    } else if (has("CAR")) {
        label = QStringLiteral("车载电话");
    } else if (has("ISDN") || has("BBS") || has("MODEM")) {
        label = QString::fromLatin1(has("ISDN") ? "ISDN" : has("BBS") ? "BBS" : "MODEM");
    } else if (has("HOME")) {
        column = Field::HomePhone;
    } else if (has("WORK")) {
        column = Field::WorkPhone;
    } else if (!custom.isEmpty()) {
        label = custom;
    } else if (has("OTHER")) {
        label = QStringLiteral("其他电话");
    } else {
        column = Field::WorkPhone; // a voice number by default
    }
    if (!custom.isEmpty() && column && label.isEmpty() && !m_card.isFree(*column))
        label = custom;
    if (uri && column == Field::WorkPhone && m_card.isFree(Field::WorkPhone) &&
        m_card.isFree(Field::Extension)) {
        // "tel:+86-10-1234;ext=56"
        static const QRegularExpression ext(QStringLiteral(";ext=([^;]*)"),
                                            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = ext.match(value);
        if (m.hasMatch()) {
            m_card.place(Field::Extension, m.captured(1));
            value.remove(m.capturedStart(), m.capturedLength());
        }
    }
    if (column && (label.isEmpty() || m_card.isFree(*column)))
        m_card.placeRanked(*column, value, rankOf(p), custom.isEmpty() ? faxLabel : custom);
    else
        m_card.note(label.isEmpty() ? columnText(*column) : label, value);
}

void VCardParser::addAddress(const Property& p, const QStringList& parts,
                             const QString& groupLabel) {
    const QString address = joinAddress(part(parts, 0), part(parts, 1), part(parts, 2),
                                        part(parts, 3), part(parts, 4), part(parts, 6));
    const QString postcode = part(parts, 5);
    QString custom = groupLabel.isEmpty() ? QString::fromUtf8(p.customType) : groupLabel;
    if (custom.isEmpty()) {
        // "ADR;TYPE=school:": a kind of its own, labelled by its own name.
        static const QSet<QByteArray> known = {"WORK", "HOME", "PREF",   "OTHER",
                                               "DOM",  "INTL", "POSTAL", "PARCEL"};
        for (const QByteArray& type : p.types) {
            if (!known.contains(type)) {
                custom = QString::fromUtf8(p.writtenTypes.value(p.types.indexOf(type), type));
                break;
            }
        }
    }
    bool work = p.has("WORK") || custom == QStringLiteral("工作");
    bool home = p.has("HOME") || custom == QStringLiteral("家庭");
    if (work || home)
        custom.clear();
    if (!work && !home && custom.isEmpty() && !p.has("OTHER"))
        work = true; // an address without a kind is a work address by default
    if (work || home) {
        const Field addressColumn = work ? Field::WorkAddress : Field::HomeAddress;
        const Field postcodeColumn = work ? Field::WorkPostcode : Field::HomePostcode;
        const int rank = rankOf(p);
        if (!m_card.isFree(addressColumn) && rank > m_card.rank(addressColumn)) {
            // The postcode goes with its address.
            m_card.displace(addressColumn);
            m_card.displace(postcodeColumn);
        }
        m_card.placeRanked(addressColumn, address, rank);
        m_card.placeRanked(postcodeColumn, postcode, rank);
        return;
    }
    const QString label = custom.isEmpty() ? QStringLiteral("其他地址") : custom;
    m_card.note(label, address);
    m_card.note(label + QStringLiteral("邮编"), postcode);
}

void VCardParser::addImpp(const Property& p) {
    const QString value = components(p, false).join(QString());
    const qsizetype colon = value.indexOf(QLatin1Char(':'));
    const QString scheme = colon < 0 ? QString() : value.left(colon).toLower();
    QString handle = colon < 0 ? value : value.mid(colon + 1);
    if (scheme == QLatin1String("qq") || scheme == QLatin1String("x-qq") || p.service == "QQ") {
        m_card.place(Field::Oicq, handle);
    } else if (scheme == QLatin1String("msnim") || scheme == QLatin1String("msn") ||
               p.service == "MSN") {
        if (startsWithNoCase(handle, "chat?contact="))
            handle = handle.mid(13);
        m_card.place(Field::Msn, handle);
    } else {
        m_card.note(p.service.isEmpty() ? QStringLiteral("即时通讯") : QString::fromUtf8(p.service),
                    value);
    }
}

} // namespace Exchange

// The harder drawn cards: who is on them, and how each layout sets them.
#include "hardcards.h"
#include "dice.h"
#include "drawing.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace CardImages {

namespace {

const Word kCommonSurnames[] = {
    {"王", "Wang"}, {"李", "Li"},    {"张", "Zhang"}, {"刘", "Liu"},   {"陈", "Chen"},
    {"杨", "Yang"}, {"黄", "Huang"}, {"赵", "Zhao"},  {"吴", "Wu"},    {"周", "Zhou"},
    {"徐", "Xu"},   {"孙", "Sun"},   {"马", "Ma"},    {"朱", "Zhu"},   {"胡", "Hu"},
    {"郭", "Guo"},  {"林", "Lin"},   {"罗", "Luo"},   {"郑", "Zheng"}, {"梁", "Liang"},
    {"谢", "Xie"},  {"宋", "Song"},  {"唐", "Tang"},  {"许", "Xu"},
};
const Word kRareSurnames[] = {
    {"邝", "Kuang"},    {"冼", "Xian"},     {"禤", "Xuan"},      {"郗", "Xi"},
    {"亓", "Qi"},       {"綦", "Qi"},       {"蒯", "Kuai"},      {"隗", "Wei"},
    {"逯", "Lu"},       {"昝", "Zan"},      {"笪", "Da"},        {"郜", "Gao"},
    {"欧阳", "Ouyang"}, {"司马", "Sima"},   {"诸葛", "Zhuge"},   {"上官", "Shangguan"},
    {"慕容", "Murong"}, {"端木", "Duanmu"}, {"皇甫", "Huangfu"}, {"司徒", "Situ"},
    {"令狐", "Linghu"}, {"宇文", "Yuwen"},  {"尉迟", "Yuchi"},   {"公孙", "Gongsun"},
};
const Word kCommonGiven[] = {
    {"伟", "wei"},  {"芳", "fang"}, {"敏", "min"},  {"静", "jing"}, {"强", "qiang"}, {"磊", "lei"},
    {"军", "jun"},  {"洋", "yang"}, {"勇", "yong"}, {"杰", "jie"},  {"涛", "tao"},   {"明", "ming"},
    {"超", "chao"}, {"平", "ping"}, {"辉", "hui"},  {"华", "hua"},  {"红", "hong"},  {"玲", "ling"},
    {"飞", "fei"},  {"宇", "yu"},   {"浩", "hao"},  {"凯", "kai"},  {"建", "jian"},  {"国", "guo"},
    {"文", "wen"},  {"海", "hai"},  {"波", "bo"},   {"东", "dong"}, {"佳", "jia"},   {"欣", "xin"},
};
const Word kRareGiven[] = {
    {"淼", "miao"},  {"垚", "yao"}, {"彧", "yu"},   {"堃", "kun"},   {"玥", "yue"}, {"睿", "rui"},
    {"昶", "chang"}, {"珺", "jun"}, {"璟", "jing"}, {"翀", "chong"}, {"喆", "zhe"}, {"旻", "min"},
    {"婕", "jie"},   {"钰", "yu"},  {"骁", "xiao"}, {"晟", "sheng"}, {"煜", "yu"},  {"琦", "qi"},
};

const Word kBrands[] = {
    {"华创", "Huachuang"}, {"博远", "Boyuan"},  {"鼎新", "Dingxin"},  {"恒达", "Hengda"},
    {"天宇", "Tianyu"},    {"金桥", "Jinqiao"}, {"瑞丰", "Ruifeng"},  {"远景", "Yuanjing"},
    {"蓝海", "Lanhai"},    {"宏图", "Hongtu"},  {"正泰", "Zhengtai"}, {"海纳", "Haina"},
    {"星辰", "Xingchen"},  {"云帆", "Yunfan"},  {"汇通", "Huitong"},  {"嘉禾", "Jiahe"},
};
const Word kIndustries[] = {
    {"科技", "Technology"},        {"电子", "Electronics"},   {"贸易", "Trading"},
    {"医药", "Pharmaceutical"},    {"物流", "Logistics"},     {"软件", "Software"},
    {"文化传媒", "Culture Media"}, {"机械设备", "Machinery"}, {"咨询", "Consulting"},
};
// Firms whose names end in 厂, 店, 所 or 行.
const char* const kSmallFirms[] = {"机械厂",     "印刷厂",       "书店", "眼镜店",
                                   "律师事务所", "会计师事务所", "琴行", "车行"};

const char* const kDepartments[] = {"市场部", "销售部",     "技术部",       "研发中心",
                                    "财务部", "人力资源部", "客户服务中心", "国际业务部",
                                    "采购部", "工程部",     "华东区销售部", "质量管理部"};
const char* const kPosts[] = {"总经理",   "副总经理", "销售经理", "项目经理", "市场总监",
                              "技术总监", "部门经理", "客户经理", "董事长",   "销售代表"};
const char* const kRanks[] = {"高级工程师", "工程师", "会计师", "经济师", "律师"};

struct Place {
    const char* province;
    const char* city;
    const char* cityPinyin;
    const char* district;
    const char* districtPinyin;
    const char* area;
    const char* post;
};
const Place kPlaces[] = {
    {"", "北京", "Beijing", "海淀区", "Haidian", "010", "100"},
    {"", "上海", "Shanghai", "浦东新区", "Pudong", "021", "200"},
    {"广东省", "深圳", "Shenzhen", "南山区", "Nanshan", "0755", "518"},
    {"广东省", "广州", "Guangzhou", "天河区", "Tianhe", "020", "510"},
    {"浙江省", "杭州", "Hangzhou", "西湖区", "Xihu", "0571", "310"},
    {"江苏省", "南京", "Nanjing", "鼓楼区", "Gulou", "025", "210"},
    {"四川省", "成都", "Chengdu", "武侯区", "Wuhou", "028", "610"},
    {"湖北省", "武汉", "Wuhan", "洪山区", "Hongshan", "027", "430"},
};
const Word kRoads[] = {{"中山", "Zhongshan"}, {"人民", "Renmin"},  {"建设", "Jianshe"},
                       {"科技", "Keji"},      {"学院", "Xueyuan"}, {"长江", "Changjiang"},
                       {"和平", "Heping"},    {"创业", "Chuangye"}};
const char* const kMailHosts[] = {"com", "com.cn", "cn", "net"};

QString u(const char* s) {
    return QString::fromUtf8(s);
}

QString capitalised(const QString& s) {
    return s.isEmpty() ? s : s.left(1).toUpper() + s.mid(1);
}

/// One card's person and firm, each number in the form it is printed.
struct Person {
    QString name, pinyin, company, companyEnglish, department, post, rank;
    QString phone, extension, phone2, mobile, fax, mail, web, qq, address, addressEnglish, postcode;
    bool rare = false;
};

QString shownLandline(Dice& dice, const QString& area, const QString& local) {
    const QString a = local.left(4), b = local.mid(4), bare = area.mid(1);
    switch (dice.below(6)) {
    case 0:
        return area + QLatin1Char('-') + local;
    case 1:
        return QStringLiteral("(%1) %2 %3").arg(area, a, b);
    case 2:
        return QStringLiteral("+86 %1 %2 %3").arg(bare, a, b);
    case 3:
        return QStringLiteral("+86-%1-%2").arg(bare, local);
    case 4:
        return QStringLiteral("%1 %2 %3").arg(area, a, b);
    default:
        return QStringLiteral("(%1)%2").arg(area, local);
    }
}

QString shownMobile(Dice& dice, const QString& m) {
    const QString a = m.left(3), b = m.mid(3, 4), c = m.mid(7);
    switch (dice.below(5)) {
    case 0:
        return m;
    case 1:
        return QStringLiteral("%1 %2 %3").arg(a, b, c);
    case 2:
        return QStringLiteral("%1-%2-%3").arg(a, b, c);
    case 3:
        return QStringLiteral("+86 %1 %2 %3").arg(a, b, c);
    default:
        return QStringLiteral("+86-%1").arg(m);
    }
}

Person makePerson(Dice& dice, bool rare) {
    Person p;
    p.rare = rare;
    const Word& surname = rare ? dice.pick(kRareSurnames) : dice.pick(kCommonSurnames);
    p.name = u(surname.hanzi);
    QString given;
    const int count = p.name.size() == 2 ? 1 + dice.below(2) : (dice.chance(30) ? 1 : 2);
    for (int i = 0; i < count; ++i) {
        const Word& g =
            rare && (i == 0 || dice.chance(50)) ? dice.pick(kRareGiven) : dice.pick(kCommonGiven);
        p.name += u(g.hanzi);
        given += u(g.pinyin);
    }
    p.pinyin = capitalised(given) + QLatin1Char(' ') + u(surname.pinyin);

    const Place& place = dice.pick(kPlaces);
    const Word& brand = dice.pick(kBrands);
    const QString city = u(place.city);
    if (dice.chance(25)) {
        const QString firm = u(dice.pick(kSmallFirms));
        p.company = city + u(brand.hanzi) + firm;
        if (firm.endsWith(u("所")))
            p.rank = u("律师");
        else
            p.post = u(dice.pick(kPosts));
    } else {
        const Word& industry = dice.pick(kIndustries);
        p.company = city + u(brand.hanzi) + u(industry.hanzi) +
                    (dice.chance(30) ? u("股份有限公司") : u("有限公司"));
        p.companyEnglish =
            QStringLiteral("%1 %2 Co., Ltd.").arg(u(brand.pinyin), u(industry.pinyin));
        if (dice.chance(80))
            p.department = u(dice.pick(kDepartments));
        p.post = u(dice.pick(kPosts));
        if (dice.chance(40))
            p.rank = u(dice.pick(kRanks));
    }

    const QString area = u(place.area);
    const QString local = QString(QChar(u'2' + dice.below(7))) + dice.digits(7);
    p.phone = shownLandline(dice, area, local);
    if (dice.chance(30))
        p.extension = QString::number(100 + dice.below(900));
    if (dice.chance(25))
        p.phone2 = area + QLatin1Char('-') + local.left(6) + dice.digits(2);
    static const char* const prefixes[] = {"135", "138", "139", "150", "158", "186", "189"};
    p.mobile = shownMobile(dice, u(dice.pick(prefixes)) + dice.digits(8));
    if (dice.chance(70))
        p.fax = shownLandline(dice, area, local.left(5) + dice.digits(3));
    const QString host = u(brand.pinyin).toLower() + QLatin1Char('.') + u(dice.pick(kMailHosts));
    const QString given0 = given.toLower();
    const QString family = QString::fromUtf8(surname.pinyin).toLower();
    static const char* const mailShapes[] = {"%1.%2", "%2%1", "%1_%2", "%2.%1"};
    p.mail = QString::fromUtf8(dice.pick(mailShapes)).arg(given0, family) + QLatin1Char('@') + host;
    if (dice.chance(60))
        p.web = QStringLiteral("www.") + host;
    if (dice.chance(35))
        p.qq = QString::number(1 + dice.below(9)) + dice.digits(5 + dice.below(4));
    const Word& road = dice.pick(kRoads);
    const int number = 1 + dice.below(300), room = 101 + dice.below(20) * 100 + dice.below(9);
    p.address = u(place.province) + city + u("市") + u(place.district) + u(road.hanzi) + u("路") +
                QString::number(number) + u("号") + u(brand.hanzi) + u("大厦") +
                QString::number(room) + u("室");
    p.addressEnglish = QStringLiteral("Room %1, No. %2 %3 Road, %4 District, %5")
                           .arg(room)
                           .arg(number)
                           .arg(u(road.pinyin), u(place.districtPinyin), u(place.cityPinyin));
    p.postcode = u(place.post) + dice.digits(3);
    return p;
}

// --- labels --------------------------------------------------------------------------

enum Item { Phone, Mobile, Fax, Mail, Web, QQ, Address, Postcode };

// Every spelling cards use; Chinese ones take a full-width colon, Latin ones ": ".
const char* const kSpellings[][4] = {
    {"电话", "Tel", "T", "座机"},        {"手机", "Mobile", "M", "Mob"},
    {"传真", "Fax", "F", nullptr},       {"邮箱", "E-mail", "Email", "E"},
    {"网址", "Web", "W", nullptr},       {"QQ", nullptr, nullptr, nullptr},
    {"地址", "Add", "Address", nullptr}, {"邮编", "P.C.", "Zip", nullptr},
};

QString labelOf(Dice& dice, Item item) {
    int n = 0;
    while (n < 4 && kSpellings[item][n])
        ++n;
    const QString label = u(kSpellings[item][dice.below(n)]);
    const bool latin = label[0].unicode() < 0x80;
    if (latin)
        return label + QStringLiteral(": ");
    return label + (dice.chance(80) ? u("：") : QStringLiteral(" "));
}

struct Lines {
    QString phone, mobile, fax, mail, web, qq, address, postcode;
};

Lines labelledLines(Dice& dice, const Person& p) {
    Lines l;
    auto one = [&](Item item, const QString& value) {
        return value.isEmpty() ? QString() : labelOf(dice, item) + value;
    };
    QString phone = p.phone;
    if (!p.extension.isEmpty())
        phone += u(" 转 ") + p.extension;
    l.phone = one(Phone, phone);
    l.mobile = one(Mobile, p.mobile);
    l.fax = one(Fax, p.fax);
    l.mail = one(Mail, p.mail);
    l.web = one(Web, p.web);
    l.qq = one(QQ, p.qq);
    l.address = one(Address, p.address);
    l.postcode = one(Postcode, p.postcode);
    return l;
}

// --- drawing -------------------------------------------------------------------------

QString familyLike(const QString& wanted) {
    const QStringList families = QFontDatabase::families();
    for (const QString& f : families) {
        if (f.startsWith(wanted))
            return f;
    }
    return QStringLiteral("Noto Sans CJK SC");
}

// The sheet in one family of type, sizes in points.
class Sheet : public DrawnSheet {
public:
    Sheet(const QString& family, QColor paper)
        : DrawnSheet(kWidth, kHeight, paper)
        , family(family) {}

    /// Text with its baseline at y, shrunk to fit maxWidth; returns its width.
    int text(int x, int y, const QString& s, double points, QColor color, int maxWidth = 0,
             Qt::Alignment align = Qt::AlignLeft, bool bold = false) {
        if (s.isEmpty())
            return 0;
        QFont f(family);
        f.setPixelSize(px(points));
        f.setBold(bold);
        f.setHintingPreference(QFont::PreferNoHinting);
        return DrawnSheet::text(x, y, s, f, color, maxWidth, align);
    }
    /// Lines stacked from y down, the empty ones left out; returns the y after them.
    int stack(int x, int y, const QStringList& lines, double points, QColor color, int maxWidth,
              int step = 48, Qt::Alignment align = Qt::AlignLeft) {
        for (const QString& s : lines) {
            if (!s.isEmpty()) {
                text(x, y, s, points, color, maxWidth, align);
                y += step;
            }
        }
        return y;
    }

    QString family;
};

// A wide gap between items sharing a line.
const QString kGap = QStringLiteral("      ");

QString spaced(const QString& name) {
    return name.size() == 2 ? name.left(1) + QChar(0x3000) + name.mid(1) : name;
}

const QColor kInk(25, 25, 25);

void drawBilingual(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList& notes) {
    const QColor accent = dice.chance(50) ? QColor(20, 60, 140) : QColor(150, 30, 40);
    const int width = kWidth - 2 * kMargin;
    s.text(kMargin, 95, p.company, 11, accent, width, Qt::AlignLeft, true);
    s.text(kMargin, 140, p.companyEnglish, 6.5, accent, width);
    const int nameWidth = s.text(kMargin, 250, spaced(p.name), 20, kInk, 0, Qt::AlignLeft, true);
    s.text(kMargin + nameWidth + 40, 250, p.pinyin, 8, kInk);
    s.text(kMargin, 305, joined({p.department, p.post, p.rank}, QStringLiteral("  ")), 8.5, kInk,
           width);
    notes << p.companyEnglish << p.pinyin;
    int y = s.stack(kMargin, 370, {joined({l.phone, l.mobile}, kGap), l.fax}, 7, kInk, width, 42);
    if (!p.phone2.isEmpty()) {
        s.text(kMargin, y, p.phone2, 7, kInk, width);
        notes << u("电话: ") + p.phone2;
        y += 42;
    }
    y = s.stack(kMargin, y, {joined({l.mail, l.web}, kGap), l.address}, 7, kInk, width, 42);
    s.text(kMargin, y, p.addressEnglish, 6.5, kInk, width);
    notes << QStringLiteral("English address: ") + p.addressEnglish;
    s.stack(kMargin, y + 42, {joined({l.postcode, l.qq}, kGap)}, 7, kInk, width, 42);
}

void drawCentred(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList&) {
    const QColor accent = dice.chance(50) ? QColor(10, 90, 60) : QColor(40, 40, 110);
    const int mid = kWidth / 2, width = kWidth - 2 * kMargin;
    s.text(mid, 90, p.company, 11, accent, width, Qt::AlignHCenter, true);
    s.text(mid, 215, spaced(p.name), 22, kInk, 0, Qt::AlignHCenter);
    s.text(mid, 280, joined({p.department, p.post, p.rank}, QStringLiteral("  ")), 8.5, kInk, width,
           Qt::AlignHCenter);
    s.stack(mid, 355,
            {joined({l.phone, l.fax}, kGap), joined({l.mobile, l.qq}, kGap),
             joined({l.mail, l.web}, kGap), l.address, l.postcode},
            7, kInk, width, 50, Qt::AlignHCenter);
}

void drawBand(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList&) {
    static const QColor bands[] = {QColor(30, 50, 100), QColor(120, 20, 30), QColor(0, 110, 100),
                                   QColor(200, 90, 20)};
    const QColor band = bands[dice.below(4)];
    const int width = kWidth - 2 * kMargin;
    s.painter.fillRect(QRect(0, 0, kWidth, 300), band);
    s.text(kMargin, 85, p.company, 10, Qt::white, width, Qt::AlignLeft, true);
    const int nameWidth =
        s.text(kMargin, 210, spaced(p.name), 20, Qt::white, 0, Qt::AlignLeft, true);
    s.text(kMargin + nameWidth + 40, 210, joined({p.post, p.rank}, QStringLiteral("  ")), 8.5,
           Qt::white, width - nameWidth - 40);
    s.text(kMargin, 265, p.department, 8, Qt::white, width);
    s.stack(kMargin, 365,
            {joined({l.phone, l.mobile}, kGap), joined({l.fax, l.mail}, kGap), l.address,
             joined({l.postcode, l.web, l.qq}, kGap)},
            7, kInk, width, 62);
}

void drawColumns(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList& notes) {
    const QColor accent = dice.chance(50) ? QColor(0, 100, 80) : QColor(90, 40, 120);
    const int width = kWidth - 2 * kMargin;
    s.text(kMargin, 130, spaced(p.name), 20, kInk, 0, Qt::AlignLeft, true);
    s.text(kMargin, 190, joined({p.post, p.rank}, QStringLiteral("  ")), 8.5, kInk, 420);
    s.text(kWidth - kMargin, 110, p.company, 9, accent, 520, Qt::AlignRight, true);
    s.text(kWidth - kMargin, 160, p.department, 8, accent, 520, Qt::AlignRight);
    s.painter.setPen(QPen(accent, 3));
    s.painter.drawLine(kMargin, 230, kWidth - kMargin, 230);
    QStringList left = {l.phone};
    if (!p.phone2.isEmpty()) {
        left << p.phone2;
        notes << u("电话: ") + p.phone2;
    }
    left << l.mobile << l.fax;
    s.stack(kMargin, 290, left, 7, kInk, 440, 50);
    s.stack(540, 290, {l.mail, l.web, l.qq}, 7, kInk, kWidth - 540 - kMargin, 50);
    s.stack(kMargin, 520, {l.address, l.postcode}, 7, kInk, width, 50);
}

void drawNameColumn(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList&) {
    const QColor accent = dice.chance(50) ? QColor(200, 100, 0) : QColor(0, 110, 150);
    const int column = 200;
    s.text(column, 270, spaced(p.name), 22, kInk, 320, Qt::AlignHCenter, true);
    s.text(column, 340, p.post.isEmpty() ? p.rank : p.post, 9, kInk, 320, Qt::AlignHCenter);
    s.painter.setPen(QPen(accent, 4));
    s.painter.drawLine(385, 70, 385, 570);
    const int x = 420, width = kWidth - x - 40;
    s.text(x, 105, p.company, 9.5, accent, width, Qt::AlignLeft, true);
    s.text(x, 160, joined({p.department, p.post.isEmpty() ? QString() : p.rank}, kGap), 8, kInk,
           width);
    s.stack(x, 230, {l.phone, l.mobile, l.fax, l.mail, l.web, l.qq, l.address, l.postcode}, 6.5,
            kInk, width, 44);
}

void drawGaps(Sheet& s, const Person& p, const Lines& l, Dice& dice, QStringList& notes) {
    const QColor strip = dice.chance(50) ? QColor(20, 70, 130) : QColor(60, 60, 60);
    const int width = kWidth - 2 * kMargin;
    s.text(kMargin, 100, p.company, 10.5, kInk, width, Qt::AlignLeft, true);
    s.text(kMargin, 215, spaced(p.name), 20, kInk, 0, Qt::AlignLeft, true);
    // Department, post and title on one line, wide apart.
    s.text(kMargin, 280, joined({p.department, p.post, p.rank}, kGap), 8.5, kInk, width);
    int y = s.stack(kMargin, 345, {joined({l.phone, l.fax}, kGap)}, 7, kInk, width, 46);
    if (!p.phone2.isEmpty()) {
        s.text(kMargin, y, p.phone2, 7, kInk, width);
        notes << u("电话: ") + p.phone2;
        y += 46;
    }
    s.stack(kMargin, y, {joined({l.mobile, l.mail}, kGap), l.address}, 7, kInk, width, 46);
    // Light type on a dark strip at the foot.
    s.painter.fillRect(QRect(0, kHeight - 95, kWidth, 95), strip);
    s.text(kMargin, kHeight - 35, joined({l.postcode, l.web, l.qq}, kGap), 7, Qt::white, width);
}

using Draw = void (*)(Sheet&, const Person&, const Lines&, Dice&, QStringList&);
struct LayoutKind {
    const char* name;
    Draw draw;
};
const LayoutKind kLayouts[] = {
    {"bilingual", drawBilingual}, {"centred", drawCentred},       {"band", drawBand},
    {"columns", drawColumns},     {"namecolumn", drawNameColumn}, {"gaps", drawGaps}};
const char* const kFaces[] = {"Noto Sans CJK SC",  "AR PL UMing CN",    "AR PL UKai CN",
                              "WenQuanYi Zen Hei", "Noto Serif CJK SC", "Droid Sans Fallback"};

Card truthOf(const Person& p, const QStringList& notes) {
    Card c;
    c.setValue(QStringLiteral("姓名"), p.name);
    c.setValue(QStringLiteral("单位"), p.company);
    c.setValue(QStringLiteral("部门"), p.department);
    c.setValue(QStringLiteral("职务"), p.post);
    c.setValue(QStringLiteral("职称"), p.rank);
    c.setValue(QStringLiteral("工作电话"), p.phone);
    c.setValue(QStringLiteral("分机"), p.extension);
    c.setValue(QStringLiteral("手机"), p.mobile);
    c.setValue(QStringLiteral("传真"), p.fax);
    c.setValue(QStringLiteral("E-mail"), p.mail);
    c.setValue(QStringLiteral("主页"), p.web);
    c.setValue(QStringLiteral("OICQ"), p.qq);
    c.setValue(QStringLiteral("工作地址"), p.address);
    c.setValue(QStringLiteral("工作邮编"), p.postcode);
    c.setValue(QStringLiteral("备注"), notes.join(QLatin1Char('\n')));
    return c;
}

} // namespace

HardSample makeHardCard(int number, quint32 seed) {
    const int i = number;
    Dice dice(seed + 104729u * quint32(i));
    HardSample s;
    s.number = i;
    s.id = QStringLiteral("hard%1").arg(i + 1, 2, 10, QLatin1Char('0'));
    // Pairs of neighbours share layout and face, so both halves hold every one.
    const LayoutKind& layout = kLayouts[(i / 2) % 6];
    s.layout = u(layout.name);
    s.font = familyLike(u(kFaces[(i / 2 + i / 12) % 6]));
    s.rareName = (i / 2 + i / 4) % 2 == 1;
    const Person person = makePerson(dice, s.rareName);
    const Lines lines = labelledLines(dice, person);
    Sheet sheet(s.font, dice.chance(70) ? QColor(Qt::white) : QColor(250, 247, 238));
    QStringList notes;
    layout.draw(sheet, person, lines, dice, notes);
    notes.removeAll(QString());
    s.truth = truthOf(person, notes);
    sheet.painter.end();
    s.clean = sheet.image;
    return s;
}

QList<HardSample> makeHardSet(int count, quint32 seed) {
    QList<HardSample> set;
    for (int i = 0; i < count; ++i)
        set << makeHardCard(i, seed);
    return set;
}

} // namespace CardImages

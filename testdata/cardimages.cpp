#include "cardimages.h"
#include "dice.h"
#include "drawing.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <vector>

namespace CardImages {

namespace {

const Word kSurnames[] = {
    {"王", "Wang"},  {"李", "Li"},    {"张", "Zhang"}, {"刘", "Liu"},  {"陈", "Chen"},
    {"杨", "Yang"},  {"黄", "Huang"}, {"赵", "Zhao"},  {"吴", "Wu"},   {"周", "Zhou"},
    {"徐", "Xu"},    {"孙", "Sun"},   {"马", "Ma"},    {"朱", "Zhu"},  {"胡", "Hu"},
    {"郭", "Guo"},   {"何", "He"},    {"高", "Gao"},   {"林", "Lin"},  {"罗", "Luo"},
    {"郑", "Zheng"}, {"梁", "Liang"}, {"谢", "Xie"},   {"宋", "Song"}, {"唐", "Tang"},
    {"韩", "Han"},   {"冯", "Feng"},  {"邓", "Deng"},  {"曹", "Cao"},  {"彭", "Peng"},
    {"曾", "Zeng"},  {"肖", "Xiao"},  {"田", "Tian"},  {"董", "Dong"}, {"袁", "Yuan"},
    {"潘", "Pan"},   {"蒋", "Jiang"}, {"蔡", "Cai"},   {"余", "Yu"},   {"杜", "Du"},
    {"叶", "Ye"},    {"程", "Cheng"}, {"苏", "Su"},    {"魏", "Wei"},  {"吕", "Lv"},
    {"丁", "Ding"},  {"任", "Ren"},   {"沈", "Shen"},  {"姚", "Yao"},  {"卢", "Lu"},
    {"崔", "Cui"},   {"钟", "Zhong"}, {"谭", "Tan"},   {"陆", "Lu"},   {"范", "Fan"},
    {"金", "Jin"},   {"石", "Shi"},   {"廖", "Liao"},  {"贾", "Jia"},  {"夏", "Xia"},
    {"方", "Fang"},  {"白", "Bai"},   {"邹", "Zou"},   {"孟", "Meng"}, {"熊", "Xiong"},
    {"秦", "Qin"},   {"邱", "Qiu"},   {"江", "Jiang"}, {"薛", "Xue"},  {"雷", "Lei"},
    {"侯", "Hou"},   {"龙", "Long"},  {"陶", "Tao"},   {"贺", "He"},   {"顾", "Gu"},
    {"毛", "Mao"},   {"郝", "Hao"},   {"龚", "Gong"},  {"邵", "Shao"}, {"钱", "Qian"},
    {"严", "Yan"},   {"戴", "Dai"},   {"孔", "Kong"},  {"汤", "Tang"}, {"尹", "Yin"},
};

const Word kCompoundSurnames[] = {
    {"欧阳", "Ouyang"},    {"司马", "Sima"},   {"诸葛", "Zhuge"},
    {"上官", "Shangguan"}, {"慕容", "Murong"},
};

const Word kGiven[] = {
    {"伟", "wei"},  {"芳", "fang"},  {"娜", "na"},   {"敏", "min"},   {"静", "jing"},
    {"丽", "li"},   {"强", "qiang"}, {"磊", "lei"},  {"军", "jun"},   {"洋", "yang"},
    {"勇", "yong"}, {"艳", "yan"},   {"杰", "jie"},  {"娟", "juan"},  {"涛", "tao"},
    {"明", "ming"}, {"超", "chao"},  {"霞", "xia"},  {"平", "ping"},  {"刚", "gang"},
    {"辉", "hui"},  {"鹏", "peng"},  {"华", "hua"},  {"红", "hong"},  {"玲", "ling"},
    {"飞", "fei"},  {"斌", "bin"},   {"宇", "yu"},   {"浩", "hao"},   {"凯", "kai"},
    {"秀", "xiu"},  {"英", "ying"},  {"建", "jian"}, {"国", "guo"},   {"志", "zhi"},
    {"文", "wen"},  {"海", "hai"},   {"波", "bo"},   {"晓", "xiao"},  {"东", "dong"},
    {"佳", "jia"},  {"欣", "xin"},   {"婷", "ting"}, {"雪", "xue"},   {"琳", "lin"},
    {"晨", "chen"}, {"俊", "jun"},   {"博", "bo"},   {"思", "si"},    {"雨", "yu"},
    {"嘉", "jia"},  {"涵", "han"},   {"睿", "rui"},  {"泽", "ze"},    {"轩", "xuan"},
    {"慧", "hui"},  {"立", "li"},    {"春", "chun"}, {"永", "yong"},  {"德", "de"},
    {"荣", "rong"}, {"成", "cheng"}, {"振", "zhen"}, {"亮", "liang"}, {"燕", "yan"},
};

const Word kBrands[] = {
    {"华创", "huachuang"}, {"博远", "boyuan"},   {"鼎新", "dingxin"}, {"恒达", "hengda"},
    {"天宇", "tianyu"},    {"金桥", "jinqiao"},  {"瑞丰", "ruifeng"}, {"远景", "yuanjing"},
    {"新锐", "xinrui"},    {"智联", "zhilian"},  {"蓝海", "lanhai"},  {"盛世", "shengshi"},
    {"宏图", "hongtu"},    {"正泰", "zhengtai"}, {"海纳", "haina"},   {"星辰", "xingchen"},
    {"云帆", "yunfan"},    {"卓越", "zhuoyue"},  {"汇通", "huitong"}, {"联创", "lianchuang"},
    {"明德", "mingde"},    {"嘉禾", "jiahe"},    {"润泽", "runze"},   {"启航", "qihang"},
};

// Industry, its English words, and the departments and posts such a firm has.
const Word kIndustries[] = {
    {"科技", "Technology"},
    {"信息技术", "Information Technology"},
    {"电子", "Electronics"},
    {"网络科技", "Network Technology"},
    {"贸易", "Trading"},
    {"建筑工程", "Construction Engineering"},
    {"医药", "Pharmaceutical"},
    {"文化传媒", "Culture Media"},
    {"投资管理", "Investment Management"},
    {"物流", "Logistics"},
    {"机械设备", "Machinery"},
    {"软件", "Software"},
    {"环保科技", "Environmental Technology"},
    {"咨询", "Consulting"},
};

const char* const kCompanyDepartments[] = {
    "市场部",     "销售部", "技术部", "研发中心", "财务部",       "人力资源部", "客户服务中心",
    "国际业务部", "采购部", "工程部", "产品部",   "华东区销售部", "行政部",     "质量管理部",
};
const char* const kCompanyPosts[] = {
    "总经理",   "副总经理", "销售经理", "项目经理", "市场总监", "技术总监", "部门经理",
    "区域经理", "客户经理", "产品经理", "董事长",   "总裁",     "财务主管", "销售代表",
};
const char* const kCompanyRanks[] = {"高级工程师", "工程师", "会计师", "高级会计师", "经济师"};

const char* const kUniversities[] = {"江南工业大学", "东海师范大学", "西部交通大学",
                                     "北方理工大学", "南华医科大学", "中原财经学院"};
const char* const kSchools[] = {"计算机学院", "外国语学院", "机械工程学院", "经济管理学院",
                                "教务处",     "科研处",     "信息工程系"};
const char* const kUniversityPosts[] = {"院长", "副院长", "系主任", "处长", "副处长"};
const char* const kUniversityRanks[] = {"教授", "副教授", "讲师", "研究员", "副研究员"};

const char* const kHospitalDepartments[] = {"心内科",   "外科",   "儿科",  "骨科",
                                            "神经内科", "放射科", "医务处"};
const char* const kHospitalRanks[] = {"主任医师", "副主任医师", "主治医师"};

const char* const kInstituteFields[] = {"软件", "声学", "化学", "物理", "电子学"};
const char* const kInstituteDepartments[] = {"科技处", "第三研究室", "综合办公室", "测试中心"};

struct Place {
    const char* province; // empty for the cities that are their own province
    const char* city;
    const char* districts[3];
    const char* area; // telephone area code
    const char* post; // first three digits of the postcodes
};

const Place kPlaces[] = {
    {"", "北京", {"海淀区", "朝阳区", "西城区"}, "010", "100"},
    {"", "上海", {"浦东新区", "徐汇区", "静安区"}, "021", "200"},
    {"", "天津", {"和平区", "南开区", "河西区"}, "022", "300"},
    {"", "重庆", {"渝中区", "江北区", "南岸区"}, "023", "400"},
    {"广东省", "广州", {"天河区", "越秀区", "海珠区"}, "020", "510"},
    {"广东省", "深圳", {"南山区", "福田区", "罗湖区"}, "0755", "518"},
    {"浙江省", "杭州", {"西湖区", "滨江区", "拱墅区"}, "0571", "310"},
    {"江苏省", "南京", {"鼓楼区", "玄武区", "建邺区"}, "025", "210"},
    {"四川省", "成都", {"武侯区", "锦江区", "青羊区"}, "028", "610"},
    {"湖北省", "武汉", {"洪山区", "江汉区", "武昌区"}, "027", "430"},
    {"陕西省", "西安", {"雁塔区", "碑林区", "未央区"}, "029", "710"},
    {"江苏省", "苏州", {"姑苏区", "吴中区", "相城区"}, "0512", "215"},
};

const char* const kRoads[] = {"中山", "人民", "解放", "建设", "科技", "学院", "长江", "黄河",
                              "和平", "新华", "文化", "友谊", "光明", "创业", "东风", "学府"};
const char* const kRoadKinds[] = {"路", "大道", "街", "北路", "南路", "东路", "西路"};
const char* const kBuildings[] = {"大厦", "广场", "科技园", "国际中心"};
const char* const kMobilePrefixes[] = {"130", "133", "135", "136", "137", "138",
                                       "139", "150", "152", "158", "159", "177",
                                       "180", "186", "187", "189", "199"};
const char* const kMailHosts[] = {"com", "com.cn", "cn", "net"};

QString u(const char* s) {
    return QString::fromUtf8(s);
}

/// Everything one card shows, in the forms it shows them.
struct Person {
    QString name, pinyin, company, companyEnglish, department, post, rank;
    QString phone, phone2, extension, mobile, fax, mail, web, qq, address, shortAddress, postcode;
    // Shown forms of the numbers.
    QString phoneShown, phone2Shown, mobileShown, faxShown;
    bool withPinyin = false, withEnglish = false;
};

QString capitalised(const QString& s) {
    return s.isEmpty() ? s : s.left(1).toUpper() + s.mid(1);
}

// Local number in one of the ways cards print it; the stored form is "area-number".
QString shownPhone(Dice& dice, const QString& area, const QString& number, int style) {
    const QString spaced = number.left(4) + QLatin1Char(' ') + number.mid(4);
    switch (style) {
    case 0:
        return area + QLatin1Char('-') + number;
    case 1:
        return area + QLatin1Char('-') + spaced;
    case 2:
        return QStringLiteral("(%1) %2").arg(area, spaced);
    default:
        return dice.chance(50) ? QStringLiteral("+86-%1-%2").arg(area.mid(1), number)
                               : QStringLiteral("+86 %1 %2").arg(area.mid(1), spaced);
    }
}

QString shownMobile(const QString& m, int style) {
    switch (style) {
    case 0:
        return m;
    case 1:
        return m.left(3) + QLatin1Char(' ') + m.mid(3, 4) + QLatin1Char(' ') + m.mid(7);
    case 2:
        return m.left(3) + QLatin1Char('-') + m.mid(3, 4) + QLatin1Char('-') + m.mid(7);
    default:
        return QStringLiteral("+86 ") + m.left(3) + QLatin1Char(' ') + m.mid(3, 4) +
               QLatin1Char(' ') + m.mid(7);
    }
}

Person makePerson(Dice& dice, Layout layout) {
    Person p;
    // Name: mostly three characters, some two, a few compound surnames.
    QString pinyinSurname, pinyinGiven;
    const int shape = dice.below(100);
    if (shape < 8) {
        const Word& s = dice.pick(kCompoundSurnames);
        p.name = u(s.hanzi);
        pinyinSurname = u(s.pinyin);
    } else {
        const Word& s = dice.pick(kSurnames);
        p.name = u(s.hanzi);
        pinyinSurname = u(s.pinyin);
    }
    const int givenCount = shape < 4 ? 1 : (shape < 8 ? 2 : (shape < 38 ? 1 : 2));
    for (int i = 0; i < givenCount; ++i) {
        const Word& g = dice.pick(kGiven);
        p.name += u(g.hanzi);
        pinyinGiven += u(g.pinyin);
    }
    p.pinyin = capitalised(pinyinGiven) + QLatin1Char(' ') + pinyinSurname;
    if (dice.chance(50))
        p.pinyin = pinyinSurname + QLatin1Char(' ') + capitalised(pinyinGiven);

    const Place& place = dice.pick(kPlaces);
    const Word& brand = dice.pick(kBrands);
    QString domain = u(brand.pinyin) + QLatin1Char('.') + u(dice.pick(kMailHosts));

    const int kind = dice.below(100);
    if (kind < 70) {
        const Word& industry = dice.pick(kIndustries);
        const bool group = dice.chance(15);
        p.company = u(place.city) + u(brand.hanzi) + u(industry.hanzi) +
                    (group ? QStringLiteral("集团有限公司")
                           : (dice.chance(30) ? QStringLiteral("股份有限公司")
                                              : QStringLiteral("有限公司")));
        p.companyEnglish =
            capitalised(u(brand.pinyin)) + QLatin1Char(' ') + u(industry.pinyin) +
            (group ? QStringLiteral(" Group Co., Ltd.") : QStringLiteral(" Co., Ltd."));
        if (dice.chance(88))
            p.department = u(dice.pick(kCompanyDepartments));
        if (dice.chance(90))
            p.post = u(dice.pick(kCompanyPosts));
        if (p.post.isEmpty() || dice.chance(20))
            p.rank = u(dice.pick(kCompanyRanks));
    } else if (kind < 82) {
        p.company = u(dice.pick(kUniversities));
        p.companyEnglish = QString();
        p.department = u(dice.pick(kSchools));
        p.rank = u(dice.pick(kUniversityRanks));
        if (dice.chance(40))
            p.post = u(dice.pick(kUniversityPosts));
        domain = u(brand.pinyin) + QStringLiteral(".edu.cn");
    } else if (kind < 92) {
        static const char* const numbers[] = {"第一", "第二", "第三", "第五"};
        p.company = u(place.city) + QStringLiteral("市") + u(dice.pick(numbers)) +
                    QStringLiteral("人民医院");
        p.department = u(dice.pick(kHospitalDepartments));
        p.rank = u(dice.pick(kHospitalRanks));
        if (dice.chance(40))
            p.post = QStringLiteral("科主任");
    } else {
        p.company = QStringLiteral("中国科学院") + u(dice.pick(kInstituteFields)) +
                    QStringLiteral("研究所");
        p.department = u(dice.pick(kInstituteDepartments));
        p.rank = u(dice.pick(kUniversityRanks));
        domain = u(brand.pinyin) + QStringLiteral(".ac.cn");
    }

    // Numbers.
    const QString area = u(place.area);
    const int localDigits = area.size() == 3 ? 8 : (dice.chance(80) ? 8 : 7);
    const QString number = QString::number(2 + dice.below(7)) + dice.digits(localDigits - 1);
    const int phoneStyle = dice.below(4);
    p.phone = area + QLatin1Char('-') + number;
    p.phoneShown = shownPhone(dice, area, number, phoneStyle);
    if (layout == Layout::Serif && dice.chance(60)) {
        const QString second = number.left(localDigits - 2) + dice.digits(2);
        if (second != number) {
            p.phone2 = area + QLatin1Char('-') + second;
            p.phone2Shown = shownPhone(dice, area, second, phoneStyle);
        }
    }
    if (dice.chance(25))
        p.extension = QString::number(1 + dice.below(9)) + dice.digits(dice.below(3) + 1);
    if (dice.chance(85)) {
        const QString faxNumber = number.left(localDigits - 3) + dice.digits(3);
        p.fax = area + QLatin1Char('-') + faxNumber;
        p.faxShown = shownPhone(dice, area, faxNumber, phoneStyle);
    }
    p.mobile = u(dice.pick(kMobilePrefixes)) + dice.digits(8);
    p.mobileShown = shownMobile(p.mobile, dice.below(4));

    // Mail in one of the usual shapes of the pinyin name.
    const QString surname = pinyinSurname.toLower();
    const QString given = pinyinGiven.toLower();
    QString local;
    switch (dice.below(4)) {
    case 0:
        local = surname + given;
        break;
    case 1:
        local = given + QLatin1Char('.') + surname;
        break;
    case 2:
        local = surname + QLatin1Char('_') + given.left(1);
        break;
    default:
        local = surname + given.left(1) + QString::number(10 + dice.below(90));
        break;
    }
    p.mail = local + QLatin1Char('@') + domain;
    if (dice.chance(50))
        p.web = QStringLiteral("www.") + domain;
    if (dice.chance(40))
        p.qq = QString::number(1 + dice.below(9)) + dice.digits(5 + dice.below(5));

    // Address: district, road and number, sometimes a building and a room.
    const QString district = u(place.districts[dice.below(3)]);
    const QString road = u(dice.pick(kRoads)) + u(dice.pick(kRoadKinds)) +
                         QString::number(1 + dice.below(300)) + QStringLiteral("号");
    const QString city = u(place.city) + QStringLiteral("市");
    QString building;
    if (dice.chance(55)) {
        building = u(dice.pick(kBrands).hanzi) + u(dice.pick(kBuildings));
        building += dice.chance(50) ? QStringLiteral("%1座%2室")
                                          .arg(QChar(u'A' + dice.below(3)))
                                          .arg(100 * (2 + dice.below(20)) + 1 + dice.below(20))
                                    : QStringLiteral("%1层").arg(2 + dice.below(25));
    }
    p.address = u(place.province) + city + district + road + building;
    p.shortAddress = city + district + road;
    p.postcode = u(place.post) + dice.digits(3);

    p.withPinyin = dice.chance(50);
    p.withEnglish = !p.companyEnglish.isEmpty() && dice.chance(50);
    return p;
}

// --- drawing -----------------------------------------------------------------------

QString familyLike(const char* wanted) {
    const QStringList families = QFontDatabase::families();
    const QString w = u(wanted);
    if (families.contains(w))
        return w;
    for (const QString& f : families) {
        if (f.startsWith(w))
            return f;
    }
    return w;
}

QFont font(const QString& family, double points, bool bold = false) {
    QFont f(family);
    f.setPixelSize(px(points));
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

using Sheet = DrawnSheet;

QString labelled(const char* label, const QString& value) {
    return value.isEmpty() ? QString() : u(label) + value;
}

QString phoneWithExtension(const Person& p, const char* word) {
    QString s = p.phoneShown;
    if (!p.phone2.isEmpty())
        s += QStringLiteral("，") + p.phone2Shown;
    if (!p.extension.isEmpty())
        s += u(word) + p.extension;
    return s;
}

void drawLogo(Sheet& sheet, int x, int y, int size, QColor color) {
    sheet.painter.setPen(Qt::NoPen);
    sheet.painter.setBrush(color);
    sheet.painter.drawRoundedRect(QRect(x, y, size, size), size / 5, size / 5);
    sheet.painter.setBrush(Qt::white);
    sheet.painter.drawEllipse(QRect(x + size / 4, y + size / 4, size / 2, size / 2));
    sheet.painter.setBrush(Qt::NoBrush);
}

QString titleLine(const Person& p) {
    return joined({p.post, p.rank}, QStringLiteral("  "));
}

// Names of two characters are set with a wide space between, as many cards print them.
QString spacedName(const QString& name) {
    return name.size() == 2 ? name.left(1) + QChar(0x3000) + name.mid(1) : name;
}

QImage drawTopLeft(const Person& p, Dice& dice) {
    const QString sans = familyLike("Noto Sans CJK SC");
    const QColor accent = dice.chance(50) ? QColor(20, 60, 140) : QColor(170, 30, 40);
    const QColor ink(30, 30, 30);
    Sheet s(kWidth, kHeight, Qt::white);
    drawLogo(s, kMargin, 45, 80, accent);
    s.text(kMargin + 105, 105, p.company, font(sans, 11, true), accent, kWidth - 2 * kMargin - 105);
    const int nameWidth = s.text(kMargin, 250, spacedName(p.name), font(sans, 22, true), ink);
    s.text(kMargin + nameWidth + 45, 250, titleLine(p), font(sans, 9), ink);
    s.text(kMargin, 312, p.department, font(sans, 9), ink);
    s.line(kMargin, 345, kWidth - kMargin, 345, accent);
    const int maxWidth = kWidth - 2 * kMargin;
    QStringList lines;
    const QString phones =
        joined({labelled("电话：", phoneWithExtension(p, " 转 ")), labelled("传真：", p.faxShown)},
               QStringLiteral("    "));
    lines << phones;
    lines << joined({labelled("手机：", p.mobileShown), labelled("QQ：", p.qq)},
                    QStringLiteral("    "));
    lines << joined({labelled("邮箱：", p.mail), labelled("网址：", p.web)},
                    QStringLiteral("    "));
    lines << labelled("地址：", p.address) << labelled("邮编：", p.postcode);
    int y = 395;
    for (const QString& line : lines) {
        s.text(kMargin, y, line, font(sans, 7.5), ink, maxWidth);
        y += 50;
    }
    return s.image;
}

QImage drawCentered(const Person& p, Dice& dice) {
    const QString serif = familyLike("Noto Serif CJK SC");
    const QColor accent = dice.chance(50) ? QColor(10, 90, 60) : QColor(40, 40, 110);
    const QColor ink(20, 20, 20);
    Sheet s(kWidth, kHeight, QColor(252, 249, 240));
    const int mid = kWidth / 2;
    s.text(mid, 92, p.company, font(serif, 12, true), accent, kWidth - 2 * kMargin,
           Qt::AlignHCenter);
    if (p.withEnglish)
        s.text(mid, 135, p.companyEnglish, font(serif, 6.5), accent, kWidth - 2 * kMargin,
               Qt::AlignHCenter);
    s.text(mid, 262, spacedName(p.name), font(serif, 24), ink, 0, Qt::AlignHCenter);
    s.text(mid, 325, joined({p.department, p.post, p.rank}, QStringLiteral("  ")), font(serif, 9),
           ink, 0, Qt::AlignHCenter);
    const QFont small = font(serif, 7.5);
    const QStringList left = {labelled("电话：", phoneWithExtension(p, " 转 ")),
                              labelled("传真：", p.faxShown), labelled("手机：", p.mobileShown)};
    const QStringList right = {labelled("网址：", p.web), labelled("QQ：", p.qq)};
    int y = 395;
    for (const QString& line : left) {
        if (!line.isEmpty()) {
            s.text(70, y, line, small, ink, 460);
            y += 48;
        }
    }
    y = 395;
    for (const QString& line : right) {
        if (!line.isEmpty()) {
            s.text(560, y, line, small, ink, kWidth - 560 - 50);
            y += 48;
        }
    }
    s.text(mid, 545, labelled("E-mail：", p.mail), small, ink, kWidth - 2 * kMargin,
           Qt::AlignHCenter);
    s.text(mid, 595,
           joined({labelled("地址：", p.address), labelled("邮编：", p.postcode)},
                  QStringLiteral("  ")),
           small, ink, kWidth - 2 * kMargin, Qt::AlignHCenter);
    return s.image;
}

QImage drawNameColumn(const Person& p, Dice& dice) {
    const QString sans = familyLike("Noto Sans CJK SC");
    const QColor accent = dice.chance(50) ? QColor(200, 100, 0) : QColor(0, 110, 150);
    const QColor ink(40, 40, 40);
    Sheet s(kWidth, kHeight, Qt::white);
    const int column = 215;
    s.text(column, 270, spacedName(p.name), font(sans, 24, true), ink, 330, Qt::AlignHCenter);
    s.text(column, 340, titleLine(p), font(sans, 9), ink, 330, Qt::AlignHCenter);
    if (p.withPinyin)
        s.text(column, 392, p.pinyin, font(sans, 8), ink, 330, Qt::AlignHCenter);
    s.line(405, 80, 405, 560, accent, 4);
    const int x = 440;
    const int width = kWidth - x - 45;
    s.text(x, 110, p.company, font(sans, 10, true), accent, width);
    s.text(x, 168, p.department, font(sans, 8.5), ink, width);
    const QFont small = font(sans, 7.5);
    const QStringList lines = {
        labelled("T: ", phoneWithExtension(p, " ext. ")),
        labelled("M: ", p.mobileShown),
        labelled("F: ", p.faxShown),
        labelled("E: ", p.mail),
        labelled("W: ", p.web),
        labelled("QQ: ", p.qq),
        labelled("A: ", p.shortAddress + QStringLiteral(" (%1)").arg(p.postcode)),
    };
    int y = 240;
    for (const QString& line : lines) {
        if (!line.isEmpty()) {
            s.text(x, y, line, small, ink, width);
            y += 50;
        }
    }
    return s.image;
}

QImage drawBanner(const Person& p, Dice& dice) {
    const QString sans = familyLike("Noto Sans CJK SC");
    const QColor band = dice.chance(50) ? QColor(30, 50, 100) : QColor(120, 20, 30);
    const QColor ink(25, 25, 25);
    Sheet s(kWidth, kHeight, Qt::white);
    s.painter.fillRect(QRect(0, 0, kWidth, 140), band);
    s.text(kMargin, 90, p.company, font(sans, 11, true), Qt::white, kWidth - 2 * kMargin);
    s.text(kMargin, 270, spacedName(p.name), font(sans, 20, true), ink);
    s.text(kMargin, 332, joined({p.department, p.post, p.rank}, QStringLiteral(" | ")),
           font(sans, 9), ink);
    const QFont small = font(sans, 7.5);
    const int maxWidth = kWidth - 2 * kMargin;
    const QStringList lines = {
        joined({labelled("电话 ", phoneWithExtension(p, " 转 ")), labelled("手机 ", p.mobileShown)},
               QStringLiteral("   ")),
        joined({labelled("传真 ", p.faxShown), labelled("邮箱 ", p.mail)}, QStringLiteral("   ")),
        labelled("地址 ", p.address),
        joined({labelled("邮编 ", p.postcode), labelled("网址 ", p.web), labelled("QQ ", p.qq)},
               QStringLiteral("   ")),
    };
    int y = 425;
    for (const QString& line : lines) {
        if (!line.isEmpty()) {
            s.text(kMargin, y, line, small, ink, maxWidth);
            y += 52;
        }
    }
    return s.image;
}

QImage drawEnglishTags(const Person& p, Dice& dice) {
    const QString sans = familyLike("Noto Sans CJK SC");
    const QColor accent = dice.chance(50) ? QColor(0, 100, 80) : QColor(90, 40, 120);
    const QColor ink(30, 30, 30);
    Sheet s(kWidth, kHeight, Qt::white);
    const int nameWidth = s.text(kMargin, 135, spacedName(p.name), font(sans, 20, true), ink);
    if (p.withPinyin)
        s.text(kMargin + nameWidth + 40, 135, p.pinyin, font(sans, 9), ink);
    s.text(kMargin, 195, titleLine(p), font(sans, 9), ink);
    drawLogo(s, kWidth - kMargin - 90, 50, 90, accent);
    s.line(kMargin, 225, kWidth - kMargin, 225, accent, 2);
    s.text(kMargin, 280, p.company, font(sans, 10, true), accent, kWidth - 2 * kMargin);
    s.text(kMargin, 328, p.department, font(sans, 8), ink, kWidth - 2 * kMargin);
    const QFont small = font(sans, 7.5);
    const QStringList lines = {
        joined({labelled("Tel: ", phoneWithExtension(p, " ext. ")), labelled("Fax: ", p.faxShown)},
               QStringLiteral("   ")),
        joined({labelled("Mobile: ", p.mobileShown), labelled("QQ: ", p.qq)},
               QStringLiteral("   ")),
        joined({labelled("Email: ", p.mail), labelled("Web: ", p.web)}, QStringLiteral("   ")),
        labelled("Add: ", p.address),
        labelled("Zip: ", p.postcode),
    };
    int y = 385;
    for (const QString& line : lines) {
        if (!line.isEmpty()) {
            s.text(kMargin, y, line, small, ink, kWidth - 2 * kMargin);
            y += 50;
        }
    }
    return s.image;
}

QImage drawSerif(const Person& p, Dice& dice) {
    const QString serif = familyLike("Noto Serif CJK SC");
    const QColor accent = dice.chance(50) ? QColor(120, 0, 0) : QColor(0, 0, 0);
    const QColor ink(15, 15, 15);
    Sheet s(kWidth, kHeight, QColor(255, 253, 248));
    const int right = kWidth - kMargin;
    s.text(kMargin, 100, p.company, font(serif, 11, true), accent, 600);
    s.text(kMargin, 155, p.department, font(serif, 8.5), ink, 500);
    s.text(right, 232, spacedName(p.name), font(serif, 22), ink, 0, Qt::AlignRight);
    s.text(right, 292, titleLine(p), font(serif, 9), ink, 0, Qt::AlignRight);
    const QFont small = font(serif, 7.5);
    const QStringList lines = {
        labelled("电话：", phoneWithExtension(p, "-")),
        labelled("手机：", p.mobileShown),
        joined({labelled("传真：", p.faxShown), labelled("网址：", p.web)}, QStringLiteral("   ")),
        joined({labelled("电子邮箱：", p.mail), labelled("QQ：", p.qq)}, QStringLiteral("   ")),
        joined({labelled("地址：", p.address), labelled("邮编：", p.postcode)},
               QStringLiteral("  ")),
    };
    int y = 380;
    for (const QString& line : lines) {
        if (!line.isEmpty()) {
            s.text(kMargin, y, line, small, ink, kWidth - 2 * kMargin);
            y += 50;
        }
    }
    return s.image;
}

QImage drawVertical(const Person& p, Dice&) {
    const QString serif = familyLike("Noto Serif CJK SC");
    const QColor ink(20, 20, 20);
    Sheet s(kHeight, kWidth, Qt::white);
    auto column = [&](int x, int y, const QString& text, const QFont& f) {
        s.painter.setFont(f);
        s.painter.setPen(ink);
        const int step = QFontMetrics(f).height();
        for (const QChar c : text) {
            s.painter.drawText(QRect(x - step / 2, y, step, step), Qt::AlignCenter, QString(c));
            y += step;
        }
    };
    column(520, 100, p.company, font(serif, 9, true));
    column(380, 180, p.name, font(serif, 22, true));
    column(260, 200, titleLine(p), font(serif, 9));
    column(160, 100, p.shortAddress, font(serif, 7));
    column(80, 100, QStringLiteral("电话") + p.phone, font(serif, 7));
    return s.image;
}

Card truthOf(const Person& p, Layout layout) {
    Card c;
    c.setValue(QStringLiteral("姓名"), p.name);
    c.setValue(QStringLiteral("单位"), p.company);
    c.setValue(QStringLiteral("部门"), p.department);
    c.setValue(QStringLiteral("职务"), p.post);
    c.setValue(QStringLiteral("职称"), p.rank);
    // Numbers as printed.
    c.setValue(QStringLiteral("工作电话"),
               p.phone2.isEmpty() ? p.phoneShown
                                  : p.phoneShown + QStringLiteral(", ") + p.phone2Shown);
    c.setValue(QStringLiteral("分机"), p.extension);
    c.setValue(QStringLiteral("手机"), p.mobileShown);
    c.setValue(QStringLiteral("传真"), p.faxShown);
    c.setValue(QStringLiteral("E-mail"), p.mail);
    c.setValue(QStringLiteral("工作邮编"), p.postcode);
    if (layout == Layout::Vertical) {
        // Only what the vertical card carries.
        c = Card();
        c.setValue(QStringLiteral("姓名"), p.name);
        c.setValue(QStringLiteral("单位"), p.company);
        c.setValue(QStringLiteral("职务"), p.post);
        c.setValue(QStringLiteral("职称"), p.rank);
        c.setValue(QStringLiteral("工作电话"), p.phone);
        c.setValue(QStringLiteral("工作地址"), p.shortAddress);
        return c;
    }
    c.setValue(QStringLiteral("主页"), p.web);
    c.setValue(QStringLiteral("OICQ"), p.qq);
    c.setValue(QStringLiteral("工作地址"),
               layout == Layout::NameColumn ? p.shortAddress : p.address);
    QStringList notes;
    if (layout == Layout::Centered && p.withEnglish)
        notes << p.companyEnglish;
    if ((layout == Layout::NameColumn || layout == Layout::EnglishTags) && p.withPinyin)
        notes << p.pinyin;
    c.setValue(QStringLiteral("备注"), notes.join(QLatin1Char('\n')));
    return c;
}

} // namespace

QList<Sample> makeSet(int count, int vertical, quint32 seed) {
    static const Layout horizontal[] = {Layout::TopLeft, Layout::Centered,    Layout::NameColumn,
                                        Layout::Banner,  Layout::EnglishTags, Layout::Serif};
    QList<Sample> set;
    for (int i = 0; i < count + vertical; ++i) {
        Dice dice(seed + 7919u * quint32(i));
        Sample sample;
        sample.id = QStringLiteral("card%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        sample.layout = i < count ? horizontal[i % 6] : Layout::Vertical;
        const Person person = makePerson(dice, sample.layout);
        switch (sample.layout) {
        case Layout::TopLeft:
            sample.clean = drawTopLeft(person, dice);
            break;
        case Layout::Centered:
            sample.clean = drawCentered(person, dice);
            break;
        case Layout::NameColumn:
            sample.clean = drawNameColumn(person, dice);
            break;
        case Layout::Banner:
            sample.clean = drawBanner(person, dice);
            break;
        case Layout::EnglishTags:
            sample.clean = drawEnglishTags(person, dice);
            break;
        case Layout::Serif:
            sample.clean = drawSerif(person, dice);
            break;
        case Layout::Vertical:
            sample.clean = drawVertical(person, dice);
            break;
        }
        sample.truth = truthOf(person, sample.layout);
        set << sample;
    }
    return set;
}

} // namespace CardImages

// A labelled set of cards: people written two or three ways, and people made to look alike.
#include "duplicates_labelled.h"

#include <QStringList>

namespace Bench {

namespace {

const char* const kDuplicateKinds[] = {
    "mobile +86/0086/brackets", "mobile full-width",    "traditional name",
    "Latin name reversed",      "company full/short",   "e-mail case",
    "name contained + mobile",  "same pinyin + mobile", "landline trunk 0",
    "extension written apart",  "new job, same e-mail", "moved on: only the name left"};
const char* const kTrapKinds[] = {"same name, other company",     "colleague on the switchboard",
                                  "same pinyin, own phones",      "单/曾 surname alike",
                                  "extension of a shared number", "near name on the switchboard"};

struct Pair {
    const char* simplified;
    const char* traditional;
};
const Pair kSurnames[] = {{"张", "張"}, {"陈", "陳"}, {"刘", "劉"}, {"杨", "楊"}, {"黄", "黃"},
                          {"赵", "趙"}, {"吴", "吳"}, {"孙", "孫"}, {"马", "馬"}, {"郑", "鄭"},
                          {"王", "王"}, {"李", "李"}, {"周", "周"}, {"徐", "徐"}, {"林", "林"},
                          {"单", "單"}, {"曾", "曾"}, {"何", "何"}, {"高", "高"}, {"罗", "羅"}};
// Same pinyin, another character: 张/章, 单/山, 曾/增 …
const Pair kHomophones[] = {{"张", "章"}, {"王", "汪"}, {"李", "黎"}, {"刘", "柳"},
                            {"单", "山"}, {"曾", "增"}, {"林", "临"}, {"何", "和"}};
const Pair kGiven[] = {{"伟", "偉"}, {"华", "華"}, {"国", "國"}, {"东", "東"}, {"丽", "麗"},
                       {"军", "軍"}, {"红", "紅"}, {"龙", "龍"}, {"凤", "鳳"}, {"涛", "濤"},
                       {"明", "明"}, {"芳", "芳"}, {"静", "靜"}, {"敏", "敏"}, {"强", "強"},
                       {"磊", "磊"}, {"洋", "洋"}, {"艳", "艷"}, {"勇", "勇"}, {"杰", "傑"},
                       {"娟", "娟"}, {"秀", "秀"}, {"霞", "霞"}, {"平", "平"}, {"刚", "剛"},
                       {"桂", "桂"}, {"文", "文"}, {"辉", "輝"}, {"玲", "玲"}, {"斌", "斌"}};
const char* const kFirst[] = {"John",  "Mary",  "David", "Anna",  "Peter", "Linda", "James",
                              "Susan", "Kevin", "Grace", "Henry", "Alice", "Frank", "Helen"};
const char* const kLast[] = {"Smith", "Brown", "Taylor", "Wilson", "Clark", "Lewis", "Walker",
                             "Hall",  "Young", "King",   "Wright", "Green", "Baker", "Adams"};
const char* const kLatinBrands[] = {"Acme",  "Globex", "Initech", "Umbra",  "Stark",
                                    "Wayne", "Hooli",  "Tyrell",  "Zenith", "Vertex"};
const char* const kCities[] = {"北京", "上海", "广州", "深圳", "杭州", "成都", "武汉", "南京"};
const char* const kBrand[] = {"星", "河", "远", "达", "华", "信", "安", "泰", "恒", "瑞",
                              "博", "通", "海", "鑫", "宏", "盛", "光", "捷", "联", "创",
                              "智", "天", "嘉", "锦", "佳", "润", "新", "正", "鼎", "卓"};
const char* const kTrade[] = {"科技", "贸易", "电子", "咨询", "传媒", "物流"};
const char* const kEndings[] = {"有限公司", "股份有限公司", "有限责任公司", "集团"};
const char* const kLatinEndings[] = {"Co., Ltd.", "Inc.", "Corp.", "LLC", "Co. Ltd"};
const char* const kAreas[] = {"010", "021", "020", "0755", "0571", "028", "027", "025"};

class Dice {
public:
    explicit Dice(std::uint64_t seed)
        : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::uint64_t m_state;
};

template <typename T, std::size_t N> const T& pick(Dice& d, const T (&a)[N]) {
    return a[d.below(int(N))];
}

QString u(const char* s) {
    return QString::fromUtf8(s);
}

struct Person {
    bool latin = false;
    int surname = 0;     // index into kSurnames
    QVector<int> given;  // indexes into kGiven
    QString first, last; // a Latin name
    QString brand, city, trade;
    int area = 0;
    QString switchboard; // digits after the area code
    QString mobile;      // 11 digits
    QString email;

    QString name(bool traditional = false) const {
        if (latin)
            return first + QLatin1Char(' ') + last;
        QString n = u(traditional ? kSurnames[surname].traditional : kSurnames[surname].simplified);
        for (int g : given)
            n += u(traditional ? kGiven[g].traditional : kGiven[g].simplified);
        return n;
    }
    QString company(const char* ending) const {
        if (latin)
            return brand + QLatin1Char(' ') + QString::fromUtf8(ending);
        return city + brand + trade + u(ending);
    }
    QString shortCompany() const { return latin ? brand : city + brand + trade; }
    QString office() const { return u(kAreas[area]) + QLatin1Char('-') + switchboard; }
};

QString spaced(const QString& m) {
    return m.left(3) + QLatin1Char('-') + m.mid(3, 4) + QLatin1Char('-') + m.mid(7);
}

QString fullWidth(const QString& digits) {
    QString out;
    for (QChar c : digits)
        out += c.isDigit() ? QChar(0xff10 + c.digitValue()) : c;
    return out;
}

} // namespace

const char* const* duplicateKinds(int* count) {
    *count = int(std::size(kDuplicateKinds));
    return kDuplicateKinds;
}

const char* const* trapKinds(int* count) {
    *count = int(std::size(kTrapKinds));
    return kTrapKinds;
}

QVector<LabelledCard> labelledCards(std::uint64_t seed, int families) {
    Dice d(seed);
    QVector<LabelledCard> out;
    int people = 0;
    std::uint64_t serial = 0;
    auto person = [&](int family) {
        Person p;
        p.latin = d.chance(12);
        p.surname = d.below(int(std::size(kSurnames)));
        p.given = {d.below(int(std::size(kGiven)))};
        if (d.chance(60))
            p.given << d.below(int(std::size(kGiven)));
        p.first = u(pick(d, kFirst));
        p.last = u(pick(d, kLast));
        if (p.latin)
            p.brand = u(pick(d, kLatinBrands)) + QString::number(d.below(1000));
        else
            p.brand = u(pick(d, kBrand)) + u(pick(d, kBrand));
        p.city = u(pick(d, kCities));
        p.trade = u(pick(d, kTrade));
        p.area = d.below(int(std::size(kAreas)));
        p.switchboard = QString::number(20000000 + d.below(79999999));
        // Every person's own number and address: a person made alike shares only what it is
        // made to share.
        const std::uint64_t n = ++serial * 104729ull % 1000000000ull;
        p.mobile = QStringLiteral("1%1%2")
                       .arg(u(pick(d, {"3", "5", "8"})))
                       .arg(n, 9, 10, QLatin1Char('0'));
        p.email =
            QStringLiteral("p%1.%2@mail%3.example.com").arg(family).arg(people).arg(d.below(20));
        return p;
    };
    auto add = [&](int who, int family, int kind, int trap,
                   std::initializer_list<std::pair<const char*, QString>> fields) {
        LabelledCard c{Card(), who, family, kind, trap};
        for (const auto& [column, value] : fields)
            c.card.setValue(u(column), value);
        out.append(c);
    };
    for (int f = 0; f < families; ++f) {
        Person p = person(f);
        const int me = people++;
        const char* ending = p.latin ? pick(d, kLatinEndings) : pick(d, kEndings);
        add(me, f, -1, -1,
            {{"姓名", p.name()},
             {"单位", p.company(ending)},
             {"手机", p.mobile},
             {"工作电话", p.office()},
             {"E-mail", p.email}});
        // About half the people have a second card, a few a third, each of one kind.
        const int copies = d.chance(50) ? (d.chance(20) ? 2 : 1) : 0;
        for (int c = 0; c < copies; ++c) {
            // What the rule cannot see (a card with nothing in common but the name) is rare.
            int kind = d.chance(3) ? int(std::size(kDuplicateKinds)) - 1
                                   : d.below(int(std::size(kDuplicateKinds)) - 1);
            if (p.latin && (kind == 2 || kind == 6 || kind == 7))
                kind = 3;
            if (!p.latin && kind == 3)
                kind = 2;
            switch (kind) {
            case 0:
                add(me, f, kind, -1,
                    {{"姓名", p.name()},
                     {"手机", (d.chance(50) ? QStringLiteral("+86 ") : QStringLiteral("0086 ")) +
                                  spaced(p.mobile)}});
                break;
            case 1:
                add(me, f, kind, -1, {{"姓名", p.name()}, {"手机", fullWidth(p.mobile)}});
                break;
            case 2:
                add(me, f, kind, -1, {{"姓名", p.name(true)}, {"手机", p.mobile}});
                break;
            case 3:
                add(me, f, kind, -1,
                    {{"姓名", p.last + QLatin1Char(' ') + p.first},
                     {"E-mail", p.email.toUpper()},
                     {"单位", p.shortCompany()}});
                break;
            case 4:
                add(me, f, kind, -1, {{"姓名", p.name()}, {"单位", p.shortCompany()}});
                break;
            case 5:
                add(me, f, kind, -1, {{"姓名", p.name()}, {"E-mail", p.email.toUpper()}});
                break;
            case 6: {
                QString name = p.name();
                name = p.given.size() > 1 ? name.chopped(1) : name + u(pick(d, kGiven).simplified);
                add(me, f, kind, -1, {{"姓名", name}, {"手机", spaced(p.mobile)}});
                break;
            }
            case 7: {
                QString name = p.name();
                for (const Pair& h : kHomophones)
                    if (name.startsWith(u(h.simplified))) {
                        name = u(h.traditional) + name.mid(1);
                        break;
                    }
                add(me, f, kind, -1, {{"姓名", name}, {"手机", p.mobile}});
                break;
            }
            case 8:
                add(me, f, kind, -1,
                    {{"姓名", p.name()},
                     {"工作电话", QStringLiteral("+86 ") + p.office().mid(1)},
                     {"传真", QStringLiteral("(") + u(kAreas[p.area]) + QStringLiteral(")") +
                                  QString::number(30000000 + d.below(60000000))}});
                break;
            case 10: {
                const Person q = person(f);
                add(me, f, kind, -1,
                    {{"姓名", p.name()},
                     {"单位", q.company(ending)},
                     {"手机", q.mobile.left(3) + QStringLiteral("0") + q.mobile.mid(4)},
                     {"E-mail", p.email}});
                break;
            }
            case 11: {
                const Person q = person(f);
                add(me, f, kind, -1,
                    {{"姓名", p.name()},
                     {"单位", q.company(ending)},
                     {"手机", q.mobile.left(3) + QStringLiteral("1") + q.mobile.mid(4)}});
                break;
            }
            default:
                add(me, f, kind, -1,
                    {{"姓名", p.name()},
                     {"工作电话",
                      p.office() + QStringLiteral(" 转 ") + QString::number(800 + f % 100)},
                     {"E-mail", p.email}});
                break;
            }
        }
        // About a third of the families also hold somebody else made alike.
        if (!d.chance(35))
            continue;
        const int trap = d.below(int(std::size(kTrapKinds)));
        Person q = person(f);
        const int other = people++;
        switch (trap) {
        case 0: // a namesake elsewhere
            add(other, f, -1, trap,
                {{"姓名", p.name()}, {"单位", q.company(ending)}, {"手机", q.mobile}});
            break;
        case 1: // a colleague: the same company and switchboard
            add(other, f, -1, trap,
                {{"姓名", q.name()}, {"单位", p.company(ending)}, {"工作电话", p.office()}});
            break;
        case 2:
        case 3: { // a name alike in pinyin, at the same company
            QString name = p.name();
            if (trap == 3 && !p.latin)
                name = u(d.chance(50) ? "单" : "曾") + name.mid(1);
            bool changed = false;
            for (const Pair& h : kHomophones)
                if (name.startsWith(u(h.simplified))) {
                    name = u(h.traditional) + name.mid(1);
                    changed = true;
                    break;
                }
            if (!changed)
                name = q.name();
            add(other, f, -1, trap,
                {{"姓名", name}, {"单位", p.company(ending)}, {"手机", q.mobile}});
            break;
        }
        case 4: // the same name on another extension of the same number, at another company
            add(other, f, -1, trap,
                {{"姓名", p.name()},
                 {"单位", q.company(ending)},
                 {"工作电话",
                  p.office() + QStringLiteral(" 分机 ") + QString::number(8000 + f % 999)}});
            break;
        default: // a near name on the same switchboard
            add(other, f, -1, trap,
                {{"姓名", p.name() + (p.latin ? QStringLiteral(" Jr") : u("明"))},
                 {"工作电话", p.office()}});
            break;
        }
    }
    return out;
}

} // namespace Bench

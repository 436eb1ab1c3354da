#include "testcards.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace Bench {

namespace {

struct Word {
    const char* text;
    const char* pinyin;
    int weight; // relative frequency
};

// Surnames roughly in their real proportions (per mille of the population).
const Word kSurnames[] = {
    {"李", "li", 79},    {"王", "wang", 74},   {"张", "zhang", 71}, {"刘", "liu", 54},
    {"陈", "chen", 45},  {"杨", "yang", 31},   {"黄", "huang", 22}, {"赵", "zhao", 20},
    {"吴", "wu", 20},    {"周", "zhou", 19},   {"徐", "xu", 16},    {"孙", "sun", 15},
    {"马", "ma", 15},    {"朱", "zhu", 14},    {"胡", "hu", 13},    {"郭", "guo", 12},
    {"何", "he", 12},    {"林", "lin", 12},    {"高", "gao", 12},   {"罗", "luo", 11},
    {"郑", "zheng", 10}, {"梁", "liang", 10},  {"谢", "xie", 8},    {"宋", "song", 8},
    {"唐", "tang", 8},   {"许", "xu", 7},      {"韩", "han", 7},    {"邓", "deng", 7},
    {"冯", "feng", 7},   {"曹", "cao", 7},     {"彭", "peng", 6},   {"曾", "zeng", 6},
    {"肖", "xiao", 6},   {"田", "tian", 6},    {"董", "dong", 5},   {"潘", "pan", 5},
    {"袁", "yuan", 5},   {"蔡", "cai", 5},     {"蒋", "jiang", 5},  {"余", "yu", 5},
    {"于", "yu", 5},     {"杜", "du", 5},      {"叶", "ye", 4},     {"程", "cheng", 4},
    {"魏", "wei", 4},    {"苏", "su", 4},      {"吕", "lv", 4},     {"丁", "ding", 4},
    {"任", "ren", 4},    {"卢", "lu", 4},      {"姚", "yao", 4},    {"沈", "shen", 4},
    {"钟", "zhong", 4},  {"姜", "jiang", 4},   {"崔", "cui", 4},    {"谭", "tan", 3},
    {"陆", "lu", 3},     {"范", "fan", 3},     {"汪", "wang", 3},   {"廖", "liao", 3},
    {"石", "shi", 3},    {"金", "jin", 3},     {"韦", "wei", 3},    {"贾", "jia", 3},
    {"夏", "xia", 3},    {"付", "fu", 3},      {"方", "fang", 3},   {"邹", "zou", 2},
    {"熊", "xiong", 2},  {"白", "bai", 2},     {"孟", "meng", 2},   {"秦", "qin", 2},
    {"邱", "qiu", 2},    {"侯", "hou", 2},     {"江", "jiang", 2},  {"尹", "yin", 2},
    {"薛", "xue", 2},    {"闫", "yan", 2},     {"段", "duan", 2},   {"雷", "lei", 2},
    {"龙", "long", 2},   {"黎", "li", 2},      {"史", "shi", 2},    {"陶", "tao", 2},
    {"贺", "he", 2},     {"毛", "mao", 2},     {"郝", "hao", 2},    {"顾", "gu", 2},
    {"龚", "gong", 2},   {"邵", "shao", 2},    {"万", "wan", 2},    {"钱", "qian", 2},
    {"戴", "dai", 2},    {"严", "yan", 2},     {"武", "wu", 2},     {"欧阳", "ouyang", 1},
    {"司马", "sima", 1}, {"诸葛", "zhuge", 1},
};

const Word kGiven[] = {
    {"伟", "wei", 6},   {"芳", "fang", 5},  {"娜", "na", 4},   {"敏", "min", 4},  {"静", "jing", 4},
    {"丽", "li", 4},    {"强", "qiang", 4}, {"磊", "lei", 4},  {"军", "jun", 4},  {"洋", "yang", 3},
    {"勇", "yong", 3},  {"艳", "yan", 3},   {"杰", "jie", 3},  {"娟", "juan", 3}, {"涛", "tao", 3},
    {"明", "ming", 3},  {"超", "chao", 3},  {"霞", "xia", 3},  {"平", "ping", 3}, {"刚", "gang", 3},
    {"英", "ying", 3},  {"华", "hua", 3},   {"建", "jian", 3}, {"国", "guo", 3},  {"文", "wen", 3},
    {"红", "hong", 3},  {"玲", "ling", 2},  {"燕", "yan", 2},  {"辉", "hui", 2},  {"鹏", "peng", 2},
    {"飞", "fei", 2},   {"斌", "bin", 2},   {"宇", "yu", 2},   {"浩", "hao", 2},  {"凯", "kai", 2},
    {"婷", "ting", 2},  {"雪", "xue", 2},   {"琳", "lin", 2},  {"晶", "jing", 2}, {"波", "bo", 2},
    {"宁", "ning", 2},  {"海", "hai", 2},   {"峰", "feng", 2}, {"鑫", "xin", 2},  {"俊", "jun", 2},
    {"帅", "shuai", 1}, {"慧", "hui", 2},   {"颖", "ying", 2}, {"倩", "qian", 2}, {"欣", "xin", 2},
    {"玉", "yu", 2},    {"梅", "mei", 2},   {"兰", "lan", 2},  {"东", "dong", 2}, {"春", "chun", 2},
    {"志", "zhi", 2},   {"秀", "xiu", 2},   {"小", "xiao", 2}, {"晓", "xiao", 2}, {"子", "zi", 2},
    {"佳", "jia", 2},   {"思", "si", 2},    {"雨", "yu", 2},   {"嘉", "jia", 2},  {"萍", "ping", 2},
    {"亮", "liang", 2}, {"成", "cheng", 2}, {"荣", "rong", 2}, {"新", "xin", 2},  {"立", "li", 2},
    {"博", "bo", 2},    {"振", "zhen", 1},  {"桂", "gui", 1},  {"德", "de", 1},   {"永", "yong", 1},
    {"晨", "chen", 1},
};

const Word kBrand[] = {
    {"华", "hua", 1},    {"信", "xin", 1},   {"中", "zhong", 1}, {"天", "tian", 1},
    {"东", "dong", 1},   {"方", "fang", 1},  {"新", "xin", 1},   {"达", "da", 1},
    {"盛", "sheng", 1},  {"通", "tong", 1},  {"远", "yuan", 1},  {"宏", "hong", 1},
    {"恒", "heng", 1},   {"泰", "tai", 1},   {"海", "hai", 1},   {"宇", "yu", 1},
    {"创", "chuang", 1}, {"联", "lian", 1},  {"科", "ke", 1},    {"安", "an", 1},
    {"金", "jin", 1},    {"鑫", "xin", 1},   {"博", "bo", 1},    {"瑞", "rui", 1},
    {"嘉", "jia", 1},    {"鼎", "ding", 1},  {"隆", "long", 1},  {"兴", "xing", 1},
    {"汇", "hui", 1},    {"凯", "kai", 1},   {"润", "run", 1},   {"德", "de", 1},
    {"明", "ming", 1},   {"光", "guang", 1}, {"威", "wei", 1},   {"正", "zheng", 1},
    {"合", "he", 1},     {"力", "li", 1},    {"美", "mei", 1},   {"佳", "jia", 1},
};

struct City {
    const char* name;
    const char* areaCode;
    const char* postcode; // first three digits
    std::vector<const char*> districts;
    std::vector<const char*> roads;
};

const std::vector<City>& cities() {
    static const std::vector<City> list = {
        {"北京",
         "010",
         "100",
         {"海淀区", "朝阳区", "东城区", "西城区", "丰台区"},
         {"中关村大街", "建国路", "长安街", "学院路", "知春路", "复兴路"}},
        {"上海",
         "021",
         "200",
         {"浦东新区", "徐汇区", "静安区", "黄浦区", "长宁区"},
         {"世纪大道", "南京西路", "淮海中路", "漕溪北路", "延安西路"}},
        {"广州",
         "020",
         "510",
         {"天河区", "越秀区", "海珠区", "白云区"},
         {"天河路", "中山大道", "环市东路", "江南大道"}},
        {"深圳",
         "0755",
         "518",
         {"南山区", "福田区", "罗湖区", "宝安区"},
         {"深南大道", "科技园路", "滨海大道", "华强北路"}},
        {"杭州",
         "0571",
         "310",
         {"西湖区", "拱墅区", "滨江区", "上城区"},
         {"文三路", "延安路", "江南大道", "天目山路"}},
        {"南京",
         "025",
         "210",
         {"鼓楼区", "玄武区", "秦淮区", "建邺区"},
         {"中山路", "汉中路", "北京东路", "江东中路"}},
        {"成都",
         "028",
         "610",
         {"武侯区", "锦江区", "青羊区", "高新区"},
         {"人民南路", "天府大道", "蜀都大道", "科华北路"}},
        {"武汉",
         "027",
         "430",
         {"武昌区", "江汉区", "洪山区", "汉阳区"},
         {"中南路", "解放大道", "珞喻路", "武珞路"}},
        {"西安",
         "029",
         "710",
         {"雁塔区", "碑林区", "未央区", "高新区"},
         {"长安路", "科技路", "东大街", "未央路"}},
        {"天津",
         "022",
         "300",
         {"和平区", "南开区", "河西区", "滨海新区"},
         {"南京路", "卫津路", "友谊路", "黄海路"}},
        {"重庆",
         "023",
         "400",
         {"渝中区", "江北区", "南岸区", "沙坪坝区"},
         {"民族路", "建新北路", "南坪正街", "小龙坎正街"}},
        {"苏州", "0512", "215", {"姑苏区", "工业园区", "吴中区"}, {"干将路", "星湖街", "人民路"}},
        {"沈阳", "024", "110", {"和平区", "沈河区", "铁西区"}, {"青年大街", "中山路", "北一路"}},
        {"青岛",
         "0532",
         "266",
         {"市南区", "崂山区", "市北区"},
         {"香港中路", "东海西路", "延安三路"}},
        {"厦门", "0592", "361", {"思明区", "湖里区"}, {"湖滨南路", "厦禾路"}},
        {"长沙", "0731", "410", {"岳麓区", "芙蓉区", "天心区"}, {"五一大道", "麓山路", "芙蓉中路"}},
    };
    return list;
}

const char* const kIndustries[] = {
    "科技", "电子", "机械", "贸易", "建设",     "信息技术", "医药", "文化传媒", "物流", "能源",
    "网络", "投资", "食品", "服装", "汽车配件", "环保",     "化工", "通信设备", "软件", "印务"};
const char* const kCompanySuffix[] = {"有限公司", "股份有限公司", "集团有限公司", "有限责任公司"};
const char* const kInstitutions[] = {"市第一人民医院", "市中心医院",       "市第三中学",
                                     "市图书馆",       "市质量技术监督局", "市电视台",
                                     "日报社",         "市建筑设计研究院"};
const char* const kDepartments[] = {"销售部",     "市场部", "技术部",   "研发中心",   "财务部",
                                    "人力资源部", "行政部", "客服中心", "采购部",     "生产部",
                                    "质量部",     "总经办", "法务部",   "国际业务部", "信息中心",
                                    "华东销售区", "办公室"};
const char* const kPosts[] = {"经理",     "副经理", "总经理", "主管",     "总监",     "工程师",
                              "销售代表", "董事长", "主任",   "副主任",   "助理",     "会计",
                              "秘书",     "专员",   "副总裁", "项目经理", "区域经理", "技术总监"};
const char* const kTitles[] = {"工程师",     "高级工程师", "助理工程师", "会计师",
                               "高级会计师", "经济师",     "讲师",       "副教授",
                               "教授",       "主治医师",   "律师",       "编辑"};
const char* const kMajors[] = {
    "计算机科学与技术", "市场营销", "会计学",   "机械工程", "电子信息工程", "工商管理",
    "国际贸易",         "法学",     "英语",     "土木工程", "临床医学",     "汉语言文学",
    "金融学",           "自动化",   "化学工程", "新闻学"};
const char* const kEducation[] = {"本科", "本科", "本科", "大专", "大专",
                                  "硕士", "硕士", "博士", "高职"};
const char* const kSchools[] = {"北京大学",     "清华大学",     "复旦大学",       "浙江大学",
                                "南京大学",     "武汉大学",     "中山大学",       "四川大学",
                                "华中科技大学", "西安交通大学", "哈尔滨工业大学", "山东大学",
                                "吉林大学",     "厦门大学",     "同济大学",       "湖南大学",
                                "北京理工大学", "上海财经大学", "华南理工大学",   "东南大学"};
const char* const kMobilePrefix[] = {"139", "138", "137", "136", "135", "150", "151", "186",
                                     "188", "130", "131", "133", "180", "189", "158", "159"};
const Word kMailDomains[] = {{"qq.com", "", 30},   {"163.com", "", 25},    {"126.com", "", 10},
                             {"sina.com", "", 8},  {"sohu.com", "", 5},    {"hotmail.com", "", 5},
                             {"gmail.com", "", 5}, {"yahoo.com.cn", "", 2}};
const char* const kBuildings[] = {"大厦", "广场", "科技园", "中心", "大楼"};
const char* const kEstates[] = {"花园", "小区", "新村", "家园", "公寓", "苑"};
const char* const kNotes[] = {
    "老客户",
    "重要客户",
    "潜在客户",
    "展会上认识",
    "朋友介绍",
    "需要定期回访",
    "对新产品很感兴趣",
    "已签订年度合同",
    "喜欢喝茶",
    "周末不方便联系",
    "下次拜访带样品",
    "负责华东区业务",
    "曾在外企工作多年",
    "孩子在读大学",
    "爱好摄影和旅游",
    "决策人，直接对接",
    "付款及时，信誉良好",
    "价格敏感，需多沟通",
    "技术背景，懂行",
    "春节前寄贺卡",
    "微信联系更方便",
    "英语流利",
    "经常出差，电话联系",
    "上次会议讨论了合作方案",
    "推荐了三家供应商",
    "对售后服务有意见，已处理",
    "公司正在扩张，有采购计划",
    "老同学",
    "校友会认识",
    "介绍过两个项目",
    "年底前确认订单",
    "要的资料已发邮件",
};

template <class T, std::size_t N> constexpr int countOf(const T (&)[N]) {
    return int(N);
}

} // namespace

const std::array<const char*, kCardFields>& cardColumns() {
    static const std::array<const char*, kCardFields> columns = {
        "姓名",     "单位",     "部门",     "职务",     "职称",     "生日",     "专业",     "学历",
        "毕业院校", "毕业日期", "工作电话", "分机",     "传真",     "手机",     "家庭电话", "OICQ",
        "MSN",      "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编", "备注"};
    return columns;
}

const char* CardGenerator::rareEmailText() {
    return "yuhang-tea";
}
const char* CardGenerator::commonSurname() {
    return "张";
}

CardGenerator::CardGenerator(std::uint64_t seed)
    : m_state(seed) {}

// splitmix64: small, fast, and the same everywhere (unlike the standard distributions).
std::uint64_t CardGenerator::random() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int CardGenerator::below(int n) {
    return int((static_cast<unsigned __int128>(random()) * unsigned(n)) >> 64);
}

std::string CardGenerator::digits(int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += char('0' + below(10));
    return s;
}

namespace {

template <std::size_t N> const Word& weighted(const Word (&words)[N], int roll) {
    for (const Word& w : words) {
        if (roll < w.weight)
            return w;
        roll -= w.weight;
    }
    return words[N - 1];
}

template <std::size_t N> int totalWeight(const Word (&words)[N]) {
    int total = 0;
    for (const Word& w : words)
        total += w.weight;
    return total;
}

std::string number(int value) {
    return std::to_string(value);
}

std::string twoDigits(int value) {
    return value < 10 ? "0" + std::to_string(value) : std::to_string(value);
}

} // namespace

const std::array<std::string, kCardFields>& CardGenerator::next() {
    static const int surnameTotal = totalWeight(kSurnames);
    static const int givenTotal = totalWeight(kGiven);
    static const int domainTotal = totalWeight(kMailDomains);
    const std::uint64_t index = m_index++;
    auto& c = m_card;
    for (std::string& s : c)
        s.clear();
    auto pick = [this](const char* const* list, int n) { return std::string(list[below(n)]); };
#define PICK(list) pick(list, countOf(list))

    // Name and its pinyin, for the mail addresses.
    const Word& surname = weighted(kSurnames, below(surnameTotal));
    const Word& given1 = weighted(kGiven, below(givenTotal));
    std::string name = std::string(surname.text) + given1.text;
    std::string pinyin = std::string(surname.pinyin) + given1.pinyin;
    if (chance(70)) {
        const Word& given2 = weighted(kGiven, below(givenTotal));
        name += given2.text;
        pinyin += given2.pinyin;
    }
    c[0] = name;

    const City& city = cities()[std::size_t(below(int(cities().size())))];
    const Word& b1 = kBrand[below(countOf(kBrand))];
    const Word& b2 = kBrand[below(countOf(kBrand))];
    const std::string brand = std::string(b1.text) + b2.text;
    const std::string brandPinyin = std::string(b1.pinyin) + b2.pinyin;
    const bool institution = chance(10);
    if (institution)
        c[1] = std::string(city.name) + PICK(kInstitutions);
    else
        c[1] = (chance(60) ? std::string(city.name) : std::string()) + brand + PICK(kIndustries) +
               PICK(kCompanySuffix);
    c[2] = chance(85) ? PICK(kDepartments) : std::string();
    c[3] = chance(90) ? PICK(kPosts) : std::string();
    c[4] = chance(55) ? PICK(kTitles) : std::string();
    if (chance(60))
        c[5] = number(1950 + below(50)) + "-" + twoDigits(1 + below(12)) + "-" +
               twoDigits(1 + below(28));
    const bool schooling = chance(65);
    if (schooling) {
        c[6] = PICK(kMajors);
        c[7] = PICK(kEducation);
        c[8] = PICK(kSchools);
        c[9] = chance(75) ? number(1975 + below(45)) + "-07-01" : std::string();
    }
    const std::string area = city.areaCode;
    const int localDigits = area.size() == 3 ? 8 : 7 + below(2);
    if (chance(85))
        c[10] = area + "-" + std::to_string(2 + below(7)) + digits(localDigits - 1);
    if (!c[10].empty() && chance(45))
        c[11] = digits(3 + below(2));
    if (!c[10].empty() && chance(50))
        c[12] = area + "-" + std::to_string(2 + below(7)) + digits(localDigits - 1);
    if (chance(92))
        c[13] = PICK(kMobilePrefix) + digits(8);
    if (chance(40))
        c[14] = area + "-" + std::to_string(2 + below(7)) + digits(localDigits - 1);
    if (chance(60))
        c[15] = std::to_string(1 + below(9)) + digits(4 + below(6));
    const std::string mailName = chance(40) ? pinyin + number(60 + below(40)) : pinyin;
    if (chance(30))
        c[16] = mailName + "@hotmail.com";
    // The rare text lands at a fixed stride, so that small runs hold it too.
    if (index % 9973 == 17)
        c[17] = pinyin + "@" + rareEmailText() + ".cn";
    else if (chance(88))
        c[17] = mailName + "@" +
                (!institution && chance(12)
                     ? brandPinyin + ".com.cn"
                     : std::string(weighted(kMailDomains, below(domainTotal)).text));
    if (!institution && chance(20))
        c[18] = "http://www." + brandPinyin + ".com.cn";
    if (chance(88)) {
        c[19] = std::string(city.name) + "市" +
                city.districts[std::size_t(below(int(city.districts.size())))] +
                city.roads[std::size_t(below(int(city.roads.size())))] + number(1 + below(300)) +
                "号";
        if (chance(70))
            c[19] +=
                brand + PICK(kBuildings) + number(1 + below(30)) + twoDigits(1 + below(20)) + "室";
        c[20] = std::string(city.postcode) + digits(3);
    }
    if (chance(50)) {
        c[21] = std::string(city.name) + "市" +
                city.districts[std::size_t(below(int(city.districts.size())))] +
                kBrand[below(countOf(kBrand))].text + kBrand[below(countOf(kBrand))].text +
                PICK(kEstates) + number(1 + below(30)) + "号楼" + number(1 + below(6)) + "单元" +
                number(1 + below(30)) + twoDigits(1 + below(4)) + "室";
        c[22] = std::string(city.postcode) + digits(3);
    }
    // Notes: mostly none or a few words, now and then a long paragraph.
    const int roll = below(100);
    const int phrases = roll < 25   ? 0
                        : roll < 50 ? 1
                        : roll < 78 ? 2 + below(3)
                        : roll < 95 ? 4 + below(7)
                                    : 10 + below(16);
    // An odd stride over the phrase list never repeats a phrase within one note.
    const int first = below(countOf(kNotes));
    const int stride = 1 + 2 * below(countOf(kNotes) / 2);
    for (int i = 0; i < phrases; ++i) {
        if (i > 0)
            c[23] += "，";
        c[23] += kNotes[(first + i * stride) % countOf(kNotes)];
    }
    if (phrases > 1)
        c[23] += "。";
#undef PICK
    return m_card;
}

std::string fillCards(const std::string& databaseFile, long count) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(databaseFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return "cannot open " + databaseFile + ": " + why;
    }
    auto fail = [db](const std::string& what) {
        const std::string why = what + ": " + sqlite3_errmsg(db);
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return why;
    };
    // A throw-away file while it is being made: no need to survive a crash.
    sqlite3_exec(db, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("BEGIN");

    std::string sql = "INSERT INTO \"zl\" (";
    std::string marks;
    for (int i = 0; i < kCardFields; ++i) {
        sql += std::string(i ? "," : "") + "\"" + cardColumns()[std::size_t(i)] + "\"";
        marks += i ? ",?" : "?";
    }
    sql += ") VALUES (" + marks + ")";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        return fail("prepare");

    CardGenerator gen;
    for (long n = 0; n < count; ++n) {
        const auto& card = gen.next();
        for (int i = 0; i < kCardFields; ++i)
            sqlite3_bind_text(st, i + 1, card[std::size_t(i)].data(),
                              int(card[std::size_t(i)].size()), SQLITE_STATIC);
        if (sqlite3_step(st) != SQLITE_DONE) {
            sqlite3_finalize(st);
            return fail("insert");
        }
        sqlite3_reset(st);
        if (count >= 200000 && (n + 1) % 200000 == 0)
            std::fprintf(stderr, "  ... %ld cards\n", n + 1);
    }
    sqlite3_finalize(st);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("COMMIT");
    sqlite3_close(db);
    return std::string();
}

} // namespace Bench

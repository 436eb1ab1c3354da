// Turning the text lines read from a card into its columns, on text alone: every label,
// half- and full-width digits and colons, several numbers on a line, OCR's confusions, the
// name by its size, and what goes to the notes.
#include "data/fieldmap.h"
#include "recognize/cardparser.h"
#include "recognize/picturereader.h"
#include "recognize/readings.h"

#include <QTest>

#include "testsupport.h"

using namespace Recognize;

using TestSupport::col;

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

/// A line of the given height, stacked below the previous ones.
TextLine line(const char* text, int height = 30) {
    static int y = 0;
    y += 60;
    return TextLine{QString::fromUtf8(text), QRect(50, y, 400, height), 90, {}};
}

/// The columns of a card that are not empty, as "column=value".
QStringList filled(const Card& card) {
    QStringList out;
    for (size_t i = 0; i < kFieldMap.size(); ++i) {
        if (!card.values[i].isEmpty())
            out << col(kFieldMap[i].column) + QLatin1Char('=') + card.values[i];
    }
    return out;
}

} // namespace

class TestCardParser : public QObject {
    Q_OBJECT

private slots:
    void everyLabelFindsItsColumn_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("value");
        auto row = [](const char* text, const char* column, const char* value) {
            QTest::newRow(text) << u(text) << col(column) << u(value);
        };
        row("电话：010-62531234", "工作电话", "010-62531234");
        row("Tel: 010-62531234", "工作电话", "010-62531234");
        row("TEL 010 6253 1234", "工作电话", "010 6253 1234");
        row("T: (010) 6253 1234", "工作电话", "(010) 6253 1234");
        row("办公电话：0755-8765432", "工作电话", "0755-8765432");
        row("手机：13812345678", "手机", "13812345678");
        row("Mobile: 138 1234 5678", "手机", "138 1234 5678");
        row("M: 138-1234-5678", "手机", "138-1234-5678");
        row("移动电话 +86 138 1234 5678", "手机", "+86 138 1234 5678");
        row("传真：021-55034477", "传真", "021-55034477");
        row("Fax: 021 5503 4477", "传真", "021 5503 4477");
        row("F: +86-21-55034477", "传真", "+86-21-55034477");
        row("分机：8012", "分机", "8012");
        row("电话：010-62531234 转 8012", "分机", "8012");
        row("Tel: 010-62531234 ext. 8012", "分机", "8012");
        row("电话：0571-87654321-801", "分机", "801");
        row("E-mail：zhang.wei@example.com.cn", "E-mail", "zhang.wei@example.com.cn");
        row("Email: li_na@abc.cn", "E-mail", "li_na@abc.cn");
        row("邮箱：wangwei@163.com", "E-mail", "wangwei@163.com");
        row("E: chen@huachuang.net", "E-mail", "chen@huachuang.net");
        row("电子邮箱：liu@x.edu.cn", "E-mail", "liu@x.edu.cn");
        row("网址：www.huachuang.com.cn", "主页", "www.huachuang.com.cn");
        row("主页：http://www.abc.cn/about", "主页", "http://www.abc.cn/about");
        row("Web: www.abc.com", "主页", "www.abc.com");
        row("W: www.abc.com", "主页", "www.abc.com");
        row("QQ：12345678", "OICQ", "12345678");
        row("OICQ: 987654321", "OICQ", "987654321");
        row("邮编：100080", "工作邮编", "100080");
        row("邮政编码 518057", "工作邮编", "518057");
        row("Zip: 200120", "工作邮编", "200120");
        row("地址：北京市海淀区中关村大街27号", "工作地址", "北京市海淀区中关村大街27号");
        row("Add: 上海市浦东新区碧波路690号", "工作地址", "上海市浦东新区碧波路690号");
        row("A: 深圳市南山区科苑路15号", "工作地址", "深圳市南山区科苑路15号");
    }
    void everyLabelFindsItsColumn() {
        QFETCH(QString, text);
        QFETCH(QString, column);
        QFETCH(QString, value);
        const Card card = parseCardText(text);
        QCOMPARE(card.value(column), value);
        QCOMPARE(card.value(col("备注")), QString());
    }

    void fullWidthDigitsAndColons() {
        QCOMPARE(halfWidth(u("电话：０１０－６２５３１２３４")), u("电话:010-62531234"));
        QCOMPARE(halfWidth(u("（北京）　Ａ座")), u("（北京） A座"));
        const Card card = parseCardText(u("电话：０１０－６２５３　１２３４\n"
                                          "手机：１３８　１２３４　５６７８\n"
                                          "邮编：１０００８０\n"
                                          "Ｅ－ｍａｉｌ：ｌｉ＠ａｂｃ．ｃｎ"));
        QCOMPARE(card.value(col("工作电话")), u("010-6253 1234"));
        QCOMPARE(card.value(col("手机")), u("138 1234 5678"));
        QCOMPARE(card.value(col("工作邮编")), u("100080"));
        QCOMPARE(card.value(col("E-mail")), u("li@abc.cn"));
    }

    void severalNumbersOnOneLine() {
        Card card = parseCardText(u("电话：010-62531234 / 62531235"));
        QCOMPARE(card.value(col("工作电话")), u("010-62531234, 010-62531235"));

        card = parseCardText(u("电话：0571-87654321，0571-87654322"));
        QCOMPARE(card.value(col("工作电话")), u("0571-87654321, 0571-87654322"));

        card = parseCardText(u("T: 010-62531234  F: 010-62531235  M: 13812345678"));
        QCOMPARE(card.value(col("工作电话")), u("010-62531234"));
        QCOMPARE(card.value(col("传真")), u("010-62531235"));
        QCOMPARE(card.value(col("手机")), u("13812345678"));

        card = parseCardText(u("电话：(029) 3268 5350 转 83    传真：(029) 3268 5851"));
        QCOMPARE(card.value(col("工作电话")), u("(029) 3268 5350"));
        QCOMPARE(card.value(col("分机")), u("83"));
        QCOMPARE(card.value(col("传真")), u("(029) 3268 5851"));

        card = parseCardText(u("手机：138 1234 5678 / 139-8765-4321"));
        QCOMPARE(card.value(col("手机")), u("138 1234 5678, 139-8765-4321"));

        // A mobile under the phone label is a mobile; a bare line of numbers is sorted by shape.
        card = parseCardText(u("电话：13812345678\n010-62531234  13987654321"));
        QCOMPARE(card.value(col("手机")), u("13812345678, 13987654321"));
        QCOMPARE(card.value(col("工作电话")), u("010-62531234"));
    }

    void numbersKeptAsPrinted() {
        // The country and area codes are never dropped; blanks inside are made single.
        QCOMPARE(parseCardText(u("T: +86 10 6253 1234")).value(col("工作电话")),
                 u("+86 10 6253 1234"));
        QCOMPARE(parseCardText(u("Tel：+86 21  6888 1234")).value(col("工作电话")),
                 u("+86 21 6888 1234"));
        QCOMPARE(parseCardText(u("T: +86-755-87654321")).value(col("工作电话")),
                 u("+86-755-87654321"));
        // OCR lost the gap after the country code.
        QCOMPARE(parseCardText(u("T:+86512 5164 1069")).value(col("工作电话")),
                 u("+86 512 5164 1069"));
        // And the one after the area code.
        QCOMPARE(parseCardText(u("T:+86213613 9025")).value(col("工作电话")),
                 u("+86 21 3613 9025"));
        QCOMPARE(parseCardText(u("传真: +86-105707-5313")).value(col("传真")),
                 u("+86-10-5707-5313"));
        QCOMPARE(parseCardText(u("电话：（010）62531234")).value(col("工作电话")),
                 u("(010)62531234"));
        QCOMPARE(parseCardText(u("电话：01062531234")).value(col("工作电话")), u("01062531234"));
        // The "+" of the country code read as a dash or lost, the 0 of an area code lost.
        QCOMPARE(parseCardText(u("Mob: -86 150 2567 2236")).value(col("手机")),
                 u("+86 150 2567 2236"));
        QCOMPARE(parseCardText(u("T: 86 571 6293 8895 转 888")).value(col("工作电话")),
                 u("+86 571 6293 8895"));
        QCOMPARE(parseCardText(u("T: -86-25-27635369")).value(col("工作电话")),
                 u("+86-25-27635369"));
        QCOMPARE(parseCardText(u("座机： +88-25-33212439")).value(col("工作电话")),
                 u("+86-25-33212439"));
        QCOMPARE(parseCardText(u("T: (0571)4030 2613")).value(col("工作电话")),
                 u("(0571) 4030 2613"));
        QCOMPARE(parseCardText(u("电话\t21 6323 5701")).value(col("工作电话")), u("021 6323 5701"));
        QCOMPARE(parseCardText(u("T: +86 21 6323 5701")).value(col("工作电话")),
                 u("+86 21 6323 5701"));
        QCOMPARE(parseCardText(u("T: 0571 8612 3456")).value(col("工作电话")), u("0571 8612 3456"));
        // A second number sharing the first one's area code gets it.
        QCOMPARE(parseCardText(u("电话：010-62531234 / 62531235")).value(col("工作电话")),
                 u("010-62531234, 010-62531235"));
        // The extension after "转" goes apart.
        Card card = parseCardText(u("座机：0755 8600 1234 转 808"));
        QCOMPARE(card.value(col("工作电话")), u("0755 8600 1234"));
        QCOMPARE(card.value(col("分机")), u("808"));
        // Also when the label was lost.
        card = parseCardText(u("下0571 7767 2917 转 421"));
        QCOMPARE(card.value(col("工作电话")), u("0571 7767 2917"));
        QCOMPARE(card.value(col("分机")), u("421"));
    }

    void ocrConfusions() {
        Card card = parseCardText(u("Tel: O10-6253l234\n手机；I38 1234 S678\nQO: 7474653"));
        QCOMPARE(card.value(col("工作电话")), u("010-62531234"));
        QCOMPARE(card.value(col("手机")), u("138 1234 5678"));
        QCOMPARE(card.value(col("OICQ")), u("7474653"));
        // A dash blurred into a dot in a photo.
        QCOMPARE(parseCardText(u("M: 199.6280-8890")).value(col("手机")), u("199-6280-8890"));
        QCOMPARE(parseCardText(u("M: 139-4013.-4889")).value(col("手机")), u("139-4013-4889"));
        QCOMPARE(parseCardText(u("T: 0571.6142465")).value(col("工作电话")), u("0571-6142465"));
        QCOMPARE(parseCardText(u("T: 025) 2253 9451")).value(col("工作电话")),
                 u("(025) 2253 9451"));
        QCOMPARE(parseCardText(u("F: (028)) 8295 1427")).value(col("传真")), u("(028) 8295 1427"));
        QCOMPARE(card.value(col("工作邮编")), QString());

        // "邮" read as "部" or "由" in a blurred photo.
        card = parseCardText(u("部箱：li@abc.cn\n由编 100080\n剖编; 200120"));
        QCOMPARE(card.value(col("E-mail")), u("li@abc.cn"));
        QCOMPARE(card.value(col("工作邮编")), u("100080"));
        QCOMPARE(card.value(col("备注")), QString());

        // The low line of a mail name read as a gap, a zero among letters, a capital S
        // beside digits, "@" read as "©", blanks around the dots.
        QCOMPARE(parseCardText(u("E-mail: ding j@haina.cn")).value(col("E-mail")),
                 u("ding_j@haina.cn"));
        QCOMPARE(parseCardText(u("E: ga0_s@ruifeng.edu.cn")).value(col("E-mail")),
                 u("gao_s@ruifeng.edu.cn"));
        QCOMPARE(parseCardText(u("E: songd9S@xingchen.net")).value(col("E-mail")),
                 u("songd95@xingchen.net"));
        QCOMPARE(parseCardText(u("邮箱 wang©abc . com")).value(col("E-mail")), u("wang@abc.com"));
        // A dot read as a comma or lost in a gap, a last part read twice.
        QCOMPARE(parseCardText(u("E-mail: zhou, haoxin@yunfan.net")).value(col("E-mail")),
                 u("zhou.haoxin@yunfan.net"));
        QCOMPARE(parseCardText(u("邮箱 : xiaokun. linghu@lanhai cn")).value(col("E-mail")),
                 u("xiaokun.linghu@lanhai.cn"));
        QCOMPARE(parseCardText(u("E: lei.ma@ruifeng.cn .cn")).value(col("E-mail")),
                 u("lei.ma@ruifeng.cn"));

        // A quote between label and colon; a bracket misread.
        QCOMPARE(parseCardText(u("T':+86 755 8059 5202")).value(col("工作电话")),
                 u("+86 755 8059 5202"));
        QCOMPARE(parseCardText(u("Tel: (025] 3340 1732")).value(col("工作电话")),
                 u("(025) 3340 1732"));
    }

    void narrowOnesMisreadOrSetApart() {
        // A label with a narrow letter set apart still names its column.
        Card card = parseCardText(u("E-mai l: wang@abc.com\nZ i p: 210783\nMobi 1e : 13521493938\n"
                                    "P . C . : 510978"));
        QCOMPARE(card.value(col("E-mail")), u("wang@abc.com"));
        QCOMPARE(card.value(col("工作邮编")), u("210783"));
        QCOMPARE(card.value(col("手机")), u("13521493938"));
        QCOMPARE(card.value(col("备注")), QString());
        QCOMPARE(parseCardText(u("Te1: 025 5680 0249 转 166")).value(col("工作电话")),
                 u("025 5680 0249"));
        // "座机" and "手机" with their first character lost.
        card = parseCardText(u("机 +86 10 3194 2589 转 973\n010-31942596\n机 138 1234 5678\n"
                               "北京机械厂"));
        QCOMPARE(card.value(col("工作电话")), u("+86 10 3194 2589"));
        QCOMPARE(card.value(col("手机")), u("138 1234 5678"));
        QCOMPARE(card.value(col("备注")), u("电话: 010-31942596"));
        QCOMPARE(card.value(col("单位")), u("北京机械厂"));
        // Its "@" read as "o" and an "l" as "1", mended from the web site.
        card = parseCardText(u("E-mai l: yuwen. 1iohongtu.com.cn\nWeb: www.hongtu.com.cn"));
        QCOMPARE(card.value(col("E-mail")), u("yuwen.li@hongtu.com.cn"));
        // A blank beside a narrow "1" where no mobile is printed with one goes; the groups
        // a card prints stay.
        QCOMPARE(parseCardText(u("Mobile: 1353901 1408")).value(col("手机")), u("13539011408"));
        QCOMPARE(parseCardText(u("Mob: +86-1 3996725153")).value(col("手机")),
                 u("+86-13996725153"));
        QCOMPARE(parseCardText(u("M: 1 39-0993-2383")).value(col("手机")), u("139-0993-2383"));
        QCOMPARE(parseCardText(u("M: +86 1 50 2567 2236")).value(col("手机")),
                 u("+86 150 2567 2236"));
        QCOMPARE(parseCardText(u("M: +86 150 2567 2236")).value(col("手机")),
                 u("+86 150 2567 2236"));
        QCOMPARE(parseCardText(u("手机 1502 567 2236")).value(col("手机")), u("1502 567 2236"));
        // An "l" read as "1" in a mail or web address; the digits of a host stay.
        QCOMPARE(parseCardText(u("E: 1ei.ma@ruifeng.cn")).value(col("E-mail")),
                 u("lei.ma@ruifeng.cn"));
        QCOMPARE(parseCardText(u("网址：www.1anhai.cn")).value(col("主页")), u("www.lanhai.cn"));
        QCOMPARE(parseCardText(u("E: li1988@163.com")).value(col("E-mail")), u("li1988@163.com"));
        QCOMPARE(parseCardText(u("邮箱： liu_ g@shengshi.com.cn")).value(col("E-mail")),
                 u("liu_g@shengshi.com.cn"));
        QCOMPARE(parseCardText(u("W: www.21cn.com")).value(col("主页")), u("www.21cn.com"));
    }

    void itemsTheLineFinderParted() {
        // The end of a mail address set lower, a label alone beside its number.
        Card card = parseCardText(u("E: qi. yueqi@lanhai\n.com.cn\n78417868\nQQ:\n邮编：\n210437"));
        QCOMPARE(card.value(col("E-mail")), u("qi.yueqi@lanhai.com.cn"));
        QCOMPARE(card.value(col("OICQ")), u("78417868"));
        QCOMPARE(card.value(col("工作邮编")), u("210437"));
        QCOMPARE(card.value(col("备注")), QString());
    }

    void mailAfterNumbersWithoutItsLabel() {
        // OCR garbled the mail label beyond recognition: the mail is still found.
        const Card card = parseCardText(u("传真 (025) 2253 9050 郎箱 lijia.sima@shengshi.com.cn"));
        QCOMPARE(card.value(col("传真")), u("(025) 2253 9050"));
        QCOMPARE(card.value(col("E-mail")), u("lijia.sima@shengshi.com.cn"));
    }

    void nameIsTheShortLineThatStandsOut() {
        Card card = parseCard({line("华创科技有限公司", 40), line("张伟", 90),
                               line("市场部 经理", 35), line("王芳", 30)});
        QCOMPARE(card.value(col("姓名")), u("张伟"));
        QCOMPARE(card.value(col("备注")), u("王芳"));

        // Set wide apart, read as single characters.
        card = parseCard({line("欧 阳 明 华", 90), line("技术总监", 35)});
        QCOMPARE(card.value(col("姓名")), u("欧阳明华"));
        QCOMPARE(card.value(col("职务")), u("技术总监"));

        // Name and title on one line.
        card = parseCard({line("李娜  高级工程师", 80)});
        QCOMPARE(card.value(col("姓名")), u("李娜"));
        QCOMPARE(card.value(col("职称")), u("高级工程师"));

        // Of equals, a known surname wins over an unknown first character.
        card = parseCardText(u("诚信共赢\n周杰"));
        QCOMPARE(card.value(col("姓名")), u("周杰"));
        QCOMPARE(card.value(col("备注")), u("诚信共赢"));
    }

    void organisationDepartmentPostAndTitle() {
        Card card = parseCardText(u("北京华创科技有限公司\n市场部 销售经理\n高级工程师"));
        QCOMPARE(card.value(col("单位")), u("北京华创科技有限公司"));
        QCOMPARE(card.value(col("部门")), u("市场部"));
        QCOMPARE(card.value(col("职务")), u("销售经理"));
        QCOMPARE(card.value(col("职称")), u("高级工程师"));

        // Written together; a post that ends like a title, a title that begins like a post.
        card = parseCardText(u("技术部总工程师\n心内科 主任医师 | 科主任"));
        QCOMPARE(card.value(col("部门")), u("技术部 心内科"));
        QCOMPARE(card.value(col("职务")), u("总工程师 科主任"));
        QCOMPARE(card.value(col("职称")), u("主任医师"));

        // A school beside its university is the department; spaces inside a name close up.
        card = parseCardText(u("计算机学院\n东海师范 大学\n教授 院长"));
        QCOMPARE(card.value(col("单位")), u("东海师范大学"));
        QCOMPARE(card.value(col("部门")), u("计算机学院"));
        QCOMPARE(card.value(col("职务")), u("院长"));
        QCOMPARE(card.value(col("职称")), u("教授"));

        // A hospital named after its city is no address.
        card = parseCardText(u("北京市第一人民医院\n外科"));
        QCOMPARE(card.value(col("单位")), u("北京市第一人民医院"));
        QCOMPARE(card.value(col("部门")), u("外科"));
        QCOMPARE(card.value(col("工作地址")), QString());
    }

    void addressAndItsPostcode() {
        Card card = parseCardText(u("A: 苏州市吴中区长江西路150号 (215895)"));
        QCOMPARE(card.value(col("工作地址")), u("苏州市吴中区长江西路150号"));
        QCOMPARE(card.value(col("工作邮编")), u("215895"));

        card = parseCardText(u("地址：广东省深圳市南山区中山北路57号 邮编：518258"));
        QCOMPARE(card.value(col("工作地址")), u("广东省深圳市南山区中山北路57号"));
        QCOMPARE(card.value(col("工作邮编")), u("518258"));

        // Unlabelled, with blanks OCR put between the characters; a labelled postcode wins
        // over six digits elsewhere.
        card = parseCardText(u("上海市 浦东新区 张江路 88号 华创大厦 A座1203室\n"
                               "QQ 123456\n邮编 200120"));
        QCOMPARE(card.value(col("工作地址")), u("上海市浦东新区张江路88号华创大厦A座1203室"));
        QCOMPARE(card.value(col("工作邮编")), u("200120"));
    }

    void webWithoutLabel() {
        const Card card = parseCardText(u("WWW.HuaChuang.com.cn\nhttp://abc.cn"));
        QCOMPARE(card.value(col("主页")), u("www.huachuang.com.cn, http://abc.cn"));
        // The dot after "www" lost, or one "w" of it.
        QCOMPARE(parseCardText(u("W: wwwjiahe.com")).value(col("主页")), u("www.jiahe.com"));
        QCOMPARE(parseCardText(u("网址：ww.huitong.com.cn")).value(col("主页")),
                 u("www.huitong.com.cn"));
    }

    void whatFitsNowhereGoesToTheNotes() {
        const Card card =
            parseCard({line("Zhang Wei", 30), line("张伟", 80),
                       line("Huachuang Technology Co., Ltd.", 25), line("诚信 创新 共赢", 25)});
        QCOMPARE(card.value(col("姓名")), u("张伟"));
        QCOMPARE(card.value(col("备注")),
                 u("Zhang Wei\nHuachuang Technology Co., Ltd.\n诚信 创新 共赢"));
    }

    void misreadLabelsStillSayWhatFollows() {
        // A fax whose label lost a character stays a fax, never a work phone.
        for (const char* text : {"传頁：010-62531235", "付真 010-62531235", "Fex: 010-62531235"}) {
            const Card card = parseCardText(u("电话：010-62531234\n") + u(text));
            QCOMPARE(card.value(col("传真")), u("010-62531235"));
            QCOMPARE(card.value(col("工作电话")), u("010-62531234"));
        }
        QCOMPARE(parseCardText(u("手杌：13812345678")).value(col("手机")), u("13812345678"));
        // A one-letter label that lost its colon, or was read as a character, after the work
        // phone on its line.
        for (const char* text : {"T: 010 4039 0913 转 306\t“F 010 4039 0712",
                                 "T: 010 4039 0913 转 306\t了: 010 4039 0712"}) {
            const Card card = parseCardText(u(text));
            QCOMPARE(card.value(col("传真")), u("010 4039 0712"));
            QCOMPARE(card.value(col("工作电话")), u("010 4039 0913"));
            QCOMPARE(card.value(col("备注")), QString());
        }
        // Far off, a label loses a letter or has one read as a digit, and "www" its w's.
        Card far = parseCardText(u("Addres5:浙江省杭州市西湖区和平路9号\nAdo:上海市长江路48号\n"
                                   "Adress: 北京市学院路20号\nMobil: 135 4297 0138"));
        QCOMPARE(far.value(col("工作地址")),
                 u("浙江省杭州市西湖区和平路9号上海市长江路48号北京市学院路20号"));
        QCOMPARE(far.value(col("手机")), u("135 4297 0138"));
        for (const char* web : {"w.hongtu.com.cn", "uww.hongtu.com.cn", "nw.hongtu.com.cn"})
            QCOMPARE(parseCardText(u("Web: ") + u(web)).value(col("主页")), u("www.hongtu.com.cn"));
        // A host that starts with such letters is left alone.
        for (const char* web : {"www.hongtu.com.cn", "wuhan.gov.cn", "new.hongtu.cn"})
            QCOMPARE(parseCardText(u("Web: ") + u(web)).value(col("主页")), u(web));
        // Words a letter away from a label are no label without their colon.
        QCOMPARE(parseCardText(u("Tell them")).value(col("备注")), u("Tell them"));
        QCOMPARE(parseCardText(u("电脑 维修")).value(col("工作电话")), QString());
    }

    void secondLandlineWithoutLabel() {
        // Beside a labelled phone it goes to the notes; alone it is the work phone.
        Card card = parseCardText(u("电话：0755-86001234\n0755-86001299\n传真：0755-86001235"));
        QCOMPARE(card.value(col("工作电话")), u("0755-86001234"));
        QCOMPARE(card.value(col("传真")), u("0755-86001235"));
        QCOMPARE(card.value(col("备注")), u("电话: 0755-86001299"));
        card = parseCardText(u("传真：0755-86001235\n(0755) 8600 1234"));
        QCOMPARE(card.value(col("工作电话")), u("(0755) 8600 1234"));
        QCOMPARE(card.value(col("备注")), QString());
    }

    void englishAddressBesideTheChineseOne() {
        Card card =
            parseCardText(u("地址：上海市浦东新区张江路88号\n"
                            "Room 1203, No. 88 Zhangjiang Road, Pudong District, Shanghai"));
        QCOMPARE(card.value(col("工作地址")), u("上海市浦东新区张江路88号"));
        QCOMPARE(
            card.value(col("备注")),
            u("English address: Room 1203, No. 88 Zhangjiang Road, Pudong District, Shanghai"));
        // The only address on the card stays the address, labelled or not.
        card = parseCardText(u("Add: Room 5, No. 8 Keji Road, Nanshan District"));
        QCOMPARE(card.value(col("工作地址")), u("Room 5, No. 8 Keji Road, Nanshan District"));
        QCOMPARE(card.value(col("备注")), QString());
    }

    void itemsSharingALine() {
        // Apart by a wide gap (a tab from the reader) or written together.
        Card card = parseCardText(u("华东区销售部\t市场总监\t经济师"));
        QCOMPARE(card.value(col("部门")), u("华东区销售部"));
        QCOMPARE(card.value(col("职务")), u("市场总监"));
        QCOMPARE(card.value(col("职称")), u("经济师"));
        QCOMPARE(card.value(col("工作地址")), QString());
        card = parseCardText(u("华东区销售部市场总监经济师\n销售经理高级工程师"));
        QCOMPARE(card.value(col("部门")), u("华东区销售部"));
        QCOMPARE(card.value(col("职务")), u("市场总监 销售经理"));
        QCOMPARE(card.value(col("职称")), u("经济师 高级工程师"));
        card = parseCardText(u("质量管理部”董事长\n心内科 主任医师"));
        QCOMPARE(card.value(col("部门")), u("质量管理部 心内科"));
        QCOMPARE(card.value(col("职务")), u("董事长"));
        QCOMPARE(card.value(col("职称")), u("主任医师"));
    }

    void firmsEndingInFactoryShopOfficeOrHouse() {
        for (const char* firm : {"上海宏图机械厂", "杭州天宇眼镜店", "北京正泰律师事务所",
                                 "广州蓝海琴行", "深圳市汇通印刷厂"}) {
            const Card card = parseCardText(u(firm) + u("\n张伟"));
            QCOMPARE(card.value(col("单位")), u(firm));
            QCOMPARE(card.value(col("工作地址")), QString());
        }
    }

    void mailWithItsAtSignMisread() {
        // The web site says where the host begins.
        Card card = parseCardText(u("E-mail: zhou.haoxinoyunfan.net\n网址：www.yunfan.net"));
        QCOMPARE(card.value(col("E-mail")), u("zhou.haoxin@yunfan.net"));
        card = parseCardText(u("Yunfan Logistics Co., Ltd.\n邮箱：li_na(yunfan.com.cn"));
        QCOMPARE(card.value(col("E-mail")), u("li_na@yunfan.com.cn"));
        // Without a hint it is kept in the notes, not lost.
        card = parseCardText(u("Email: wangoabc.com"));
        QCOMPARE(card.value(col("E-mail")), QString());
        QCOMPARE(card.value(col("备注")), u("wangoabc.com"));
    }

    // A far shot loses letters of a host that the card prints twice, in the mail address
    // and the web site: the one that ends in no known domain is the other.
    void mailAndWebHostsAgree() {
        auto read = [](const char* text) {
            const Card card = parseCardText(u(text));
            return card.value(col("E-mail")) + u(" ") + card.value(col("主页"));
        };
        QCOMPARE(read("邮箱： kun.wei@yunfan.n\n网址： www.yunfan.cn"),
                 u("kun.wei@yunfan.cn www.yunfan.cn"));
        QCOMPARE(read("E-mail: jm@boyuan.net\n网址： ww.boy.nt"),
                 u("jm@boyuan.net www.boyuan.net"));
        QCOMPARE(read("E-mail: a@qq.com\n网址：www.qq.cm"), u("a@qq.com www.qq.com"));
        QCOMPARE(read("E-mail: jm@boyuan.net\nWeb: http://boy.nt/about"),
                 u("jm@boyuan.net http://boyuan.net/about"));
        // A misread label's sign before a blurred "www".
        QCOMPARE(read("E-mail: dong.zhou@zhengtai.com.cn\nWeb+ nw.zhengtai.com.cn"),
                 u("dong.zhou@zhengtai.com.cn www.zhengtai.com.cn"));
        // Two known domains, or hosts that are not one another's, stay as read.
        for (const char* card :
             {"E-mail: a@mail.abc.com\n网址：www.abc.com",
              "E-mail: dong@zhongtai.com.cn\n网址：www.zhengtai.com.cn",
              "E-mail: a@abc.cn\n网址：www.xyz.cn", "E-mail: a@abcdef.xx\n网址：www.abd.com",
              "E-mail: a@abc.com\n网址：www.abc.com.cn"}) {
            const QStringList lines = u(card).split(u("\n"));
            QCOMPARE(read(card),
                     lines[0].section(u(": "), 1) + u(" ") + lines[1].section(u("："), 1));
        }
    }

    // The edge of a photographed card read with the firm's line under it: garbled, read with
    // little confidence, and no less an organisation by its words.
    void doubtedOrganisationYieldsToASureOne() {
        TextLine phantom = line("广北京县巨医药有限公司有责限 司", 98);
        phantom.confidence = 51;
        Card card = parseCard({phantom, line("北京星辰医药有限公司", 66), line("隗淼璟", 118)});
        QCOMPARE(card.value(col("单位")), u("北京星辰医药有限公司"));
        QCOMPARE(card.value(col("部门")), QString());
        QCOMPARE(card.value(col("备注")), u("广北京县巨医药有限公司有责限司"));
        // Alone it is still the firm; two sure ones keep their order.
        card = parseCard({phantom, line("隗淼璟", 118)});
        QCOMPARE(card.value(col("单位")), u("广北京县巨医药有限公司有责限司"));
        card = parseCard({line("北京星辰医药有限公司", 66), line("上海云帆物流有限公司", 66),
                          line("隗淼璟", 118)});
        QCOMPARE(card.value(col("单位")), u("北京星辰医药有限公司"));
        QCOMPARE(card.value(col("部门")), u("上海云帆物流有限公司"));
    }

    void areaCodeThatDoesNotExist() {
        auto read = [](const char* text) {
            const Card card = parseCardText(u(text));
            return card.value(col("工作电话")) + u(" / ") + card.value(col("传真"));
        };
        QCOMPARE(read("电话：016 6123 7724\n传真：010-81237978"),
                 u("010 6123 7724 / 010-81237978"));
        QCOMPARE(read("Tel: +86 16 6123 7724\nFax: +86 10 8123 7978"),
                 u("+86 10 6123 7724 / +86 10 8123 7978"));
        QCOMPARE(read("电话：(0155) 8888 1234\n传真：0755-88881235"),
                 u("(0755) 8888 1234 / 0755-88881235"));
        // Codes that exist, one with no code near it, or two near it, stay as read.
        for (const char* card :
             {"电话：0755 8888 1234\n传真：0756 8888 1235", "电话：016 6123 7724",
              "电话：016 6123 7724\n传真：010-81237978, 026-81237979",
              "电话：016 6123 7724\n传真：021-81237978"}) {
            const Card c = parseCardText(u(card));
            QVERIFY2(u(card).contains(c.value(col("工作电话")).section(u(","), 0, 0)), card);
        }
    }

    void capitalIForASmallL() {
        auto mail = [](const char* text) { return parseCardText(u(text)).value(col("E-mail")); };
        QCOMPARE(mail("邮箱： xiaokun.Iinghu@lanhai.cn"), u("xiaokun.linghu@lanhai.cn"));
        QCOMPARE(mail("邮箱： weIin@lanhai.cn"), u("welin@lanhai.cn"));
        // The writer's capitals.
        QCOMPARE(mail("E-mail: Ivan@abc.com"), u("ivan@abc.com"));
        QCOMPARE(mail("E-mail: Wei.Ivan@abc.com"), u("wei.ivan@abc.com"));
        QCOMPARE(mail("E-mail: wei.IT@abc.com"), u("wei.it@abc.com"));
    }

    void mailSignOneReaderLostTheOtherRead() {
        using Readings::withMailSign;
        // Far shots: the model read "@" as "o", or not at all; Tesseract read it amid other
        // misreads, or ran the host into what follows it.
        QCOMPARE(
            withMailSign(u("fimaiI: yuwen.yaoohongtu.com.cn"), u("HoiT yuwen -yao@hongtu.com.cn")),
            u("fimaiI: yuwen.yao@hongtu.com.cn"));
        QCOMPARE(withMailSign(u("邮箱： xiaokun.linghulanhai.cn"),
                              u("剖箱 : Xiaokun. Linghu@lanhai.cn cn")),
                 u("邮箱： xiaokun.linghu@lanhai.cn"));
        QCOMPARE(withMailSign(u("邮箱 yangtao.matianyu.com"),
                              u("邮箱 yangtao.ea@tianyu.comLianyu. Com")),
                 u("邮箱 yangtao.ma@tianyu.com"));
        // Left as it is: the model's own "@", none read by Tesseract, a host the model did
        // not read, or nothing before the host.
        for (const auto& [model, tesseract] : {std::pair("E: li.na@abc.com", "E: li.naoabc.com"),
                                               {"Tel: 010 6253", "Tel: 010 6253"},
                                               {"E: lina.xyz.com", "E: lina@abc.com"},
                                               {"abc.com", "@abc.com"},
                                               {"QQ: 5458803", "@: 5458803"}})
            QCOMPARE(withMailSign(u(model), u(tesseract)), u(model));
        // Where the mail was parsed from, the column gets it whole.
        const Card card = parseCardText(
            withMailSign(u("E-mail: ping.huhengda.cn"), u("E-mail: ping.hu@hengda.cn")));
        QCOMPARE(card.value(col("E-mail")), u("ping.hu@hengda.cn"));
    }

    void numbersInThePrintedShapes() {
        using Readings::fitsNumbers;
        using Readings::isNumberLine;
        for (const char* text :
             {"手机：138 1234 5678", "Mob: +86-13521493938", "Tel: +86 21 6888 1234",
              "电话：（0755）6648 8952", "T: 010 3590 9077 转 917\tF (010)35909381",
              "Fax: 021-36329133", "E-mail: ping_zhao@hengda.cn", "邮编：200479", "QQ: 78417868",
              "电话 6648 8952", "13802764308", "手机：１３８ １２３４ ５６７８",
              "地址：北京市海淀区科技路185号"})
            QVERIFY2(fitsNumbers(u(text)), text);
        // Blanks beside a narrow "1", a digit lost or one too many, a mail's host cut short:
        // the reading is not a number as printed.
        for (const char* text :
             {"手机：1509843 8134", "手机：1 3802 764308", "手机：1380276430",
              "座机：020-4 1485820", "Tel: 010 35909 077", "E-mail: kun.wei@yunfan.n",
              "E: lei.mnoruifeng.cn", "邮编：20437", "QQ: 5297 00932", "电话：2163235701"})
            QVERIFY2(!fitsNumbers(u(text)), text);
        QVERIFY(isNumberLine(u("Zip: 518378")));
        QVERIFY(isNumberLine(u("（0755）6648 8952")));
        QVERIFY(isNumberLine(u("E: zhu.weihua@lanhai.net")));
        QVERIFY(!isNumberLine(u("地址：北京市海淀区科技路185号嘉禾大厦1908室")));
        QVERIFY(!isNumberLine(u("网址：www.lanhai.net")));
    }

    void blanksOfDigitGroupsFromTheInk() {
        // The reading with a gap in the ink before each character: a tenth of the type's
        // height, two fifths where `wide` has a '|', three fifths where a '#'.
        auto blanks = [](const char* read, const char* wide) {
            const QString text = u(read), marks = u(wide);
            QList<double> gaps;
            for (int i = 0; i < text.size(); ++i) {
                const QChar m = i < marks.size() ? marks[i] : QLatin1Char(' ');
                gaps << (m == QLatin1Char('#') ? 0.6 : m == QLatin1Char('|') ? 0.4 : 0.1);
            }
            return Readings::withGroupBlanks(text, gaps);
        };
        // A blank lost inside a group, one beside a narrow "1" set in the wrong place.
        QCOMPARE(blanks("手机： 189 93680129", "        |   |    "), u("手机： 189 9368 0129"));
        QCOMPARE(blanks("手机：1509843 8134", "      |   ||    "), u("手机：150 9843 8134"));
        QCOMPARE(blanks("传真： +86 21 57075313", "           |   |    "),
                 u("传真： +86 21 5707 5313"));
        QCOMPARE(blanks("T: 010 35909077 转 917", "      |    |          "),
                 u("T: 010 3590 9077 转 917"));
        // Gaps around the narrow "1" alone: printed whole.
        QCOMPARE(blanks("Mobile: 1 3802 764308", "        ||   ||      "),
                 u("Mobile: 13802764308"));
        // Full-width digits and signs as read, the blanks placed among them.
        QCOMPARE(blanks("电话：（０２５）７３６４０６７０", "            |   "),
                 u("电话：（０２５）７３６４ ０６７０"));
        // Left as read: a printed grouping, even where the gaps beside its "1"s and one blank
        // wider than the other would make another, a QQ number (an area code that lost its 0
        // and a local number, by its length), a postcode, a number set with dashes, one whose
        // digits fit no grouping, an extension, and a reading without its gaps.
        for (const auto& [read, wide] : {std::pair("手机：138 1234 5678", "      |    |     "),
                                         {"T: +86 21 3613 9025", "         #  || |    "},
                                         {"QQ： 520370441", "      |  |   "},
                                         {"520370441", "  |  |   "},
                                         {"T: +86-21-36139025", "            | |    "},
                                         {"P.C.: 200479", "        |   "},
                                         {"Tel: 13802764308", "                "},
                                         {"座机：020-41485820", "     |   |    |  "},
                                         {"F: 020-4448-5209", "                "},
                                         {"转 12345678", "  |   |    "}}) {
            QCOMPARE(blanks(read, wide), u(read));
        }
        QCOMPARE(Readings::withGroupBlanks(u("189 93680129"), {0.1, 0.4}), u("189 93680129"));

        // The marks of unsure characters move with them.
        TextLine line{u("1899358 0129"), QRect(), 80, {5, 6}};
        Readings::respaced(line, u("189 9358 0129"));
        QCOMPARE(line.unsure, (QList<int>{6, 7}));
    }

    void rareAndCompoundSurnames() {
        for (const char* name : {"邝淼", "冼垚", "禤彧", "郗堃", "亓玥", "綦睿", "蒯昶", "端木晟",
                                 "宇文璟", "尉迟琦"}) {
            const Card card = parseCard({line("华创科技有限公司", 40), line(name, 40)});
            QCOMPARE(card.value(col("姓名")), u(name));
        }
    }

    void unsureCharactersAreFoundInTheirColumns() {
        QList<TextLine> lines = {line("华创科技有限公司", 40), line("邝淼", 90),
                                 line("手机：138 1234 5678", 30), line("邮编：100080", 30)};
        lines[1].unsure = {1};       // 淼
        lines[2].unsure = {8, 9};    // "23" of "1234"
        lines[3].unsure = {3, 4, 5}; // "100", which the mobile holds nowhere
        const Card card = parseCard(lines);
        const int name = int(Field::Name), mobile = int(Field::Mobile);
        const QList<UnsureText> unsure = unsureTextIn(card, lines);
        QVERIFY(unsure.contains(UnsureText{name, 1, 1}));
        QVERIFY(unsure.contains(UnsureText{mobile, 5, 2}));
        QVERIFY(unsure.contains(UnsureText{int(Field::WorkPostcode), 0, 3}));
        QCOMPARE(unsure.size(), 3);
        // A column a QR code gave exactly is never marked.
        QVERIFY(!unsureTextIn(card, lines, {name}).contains(UnsureText{name, 1, 1}));
    }

    void labelsWithoutValuesAndOddText() {
        QCOMPARE(filled(parseCardText(u("电话：\n手机\nE-mail:\n邮编：\n地址："))), QStringList());
        QCOMPARE(filled(parseCard({})), QStringList());
        // A label that is part of a word is no label.
        Card card = parseCardText(u("华为手机专卖有限公司"));
        QCOMPARE(card.value(col("单位")), u("华为手机专卖有限公司"));
        QCOMPARE(card.value(col("手机")), QString());
        // Letters that only look like labels.
        card = parseCardText(u("Team Fax-free Address"));
        QCOMPARE(card.value(col("备注")), u("Team Fax-free Address"));
        // Junk of every kind parses without harm.
        for (const char* junk :
             {"：：：", "+++", "@@@", "转转转 8", "(((", "T:", "QQ：abc", "0", "邮编：12", "\t \n"})
            parseCardText(u(junk));
    }
};

QTEST_MAIN(TestCardParser)
#include "tst_cardparser.moc"

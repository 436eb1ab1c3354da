// Importing cards: the sample files of phones, mail programs and spreadsheets, what vCard and
// CSV allow, files that cannot be read and the entries left out.
#include "exchangesupport.h"

#include "core/error.h"
#include "data/fieldmap.h"
#include "exchange/assemble.h"

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace ExchangeSupport;
using Exchange::CardFileReader;

Q_DECLARE_METATYPE(QList<Card>)

namespace {

QByteArray fixture(const char* name) {
    QFile f(QFINDTESTDATA(QStringLiteral("data/exchange/") + QLatin1String(name)));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return f.readAll();
}

QList<qint64> lines(const QList<Exchange::Skipped>& skipped) {
    QList<qint64> out;
    for (const auto& s : skipped)
        out << s.line;
    return out;
}

QByteArray crlf(QByteArray text) {
    return text.replace("\n", "\r\n");
}

} // namespace

class TestExchange : public QObject {
    Q_OBJECT

private slots:
    void fixtures_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<Card>>("cards");
        QTest::addColumn<QList<qint64>>("skippedLines");

        QTest::newRow("RFC 2426 examples")
            << "rfc2426.vcf"
            << QList<Card>{card({{"姓名", "Frank Dawson"},
                                 {"单位", "Lotus Development Corporation"},
                                 {"工作电话", "+1-919-676-9515"},
                                 {"传真", "+1-919-676-9564"},
                                 {"E-mail", "Frank_Dawson@Lotus.com"},
                                 {"主页", "http://home.earthlink.net/~fdawson"},
                                 {"工作地址", "6544 Battleford Drive, Raleigh, NC, U.S.A."},
                                 {"工作邮编", "27613-3502"},
                                 {"备注", "E-mail: fdawson@earthlink.net"}}),
                           card({{"姓名", "Tim Howes"},
                                 {"单位", "Netscape Communications Corp."},
                                 {"工作电话", "+1-415-937-3419"},
                                 {"传真", "+1-415-528-4164"},
                                 {"E-mail", "howes@netscape.com"},
                                 {"工作地址", "501 E. Middlefield Rd., Mountain View, CA, U.S.A."},
                                 {"工作邮编", " 94043"}}),
                           card(
                               {{"姓名", "John Philip Paul Stevenson"},
                                {"单位", "ABC, Inc."},
                                {"部门", "North American Division Marketing"},
                                {"职务", "Director, Research and Development"},
                                {"职称", "Programmer"},
                                {"生日", "1996-04-15"},
                                {"工作电话", "+1-213-555-1234"},
                                {"手机", "+1-213-555-9876"},
                                {"家庭地址", "Mr.John Q. Public, Esq.\nMail Drop: TNE QB\n123 Main "
                                             "Street\nAny Town, CA  91921-1234\nU.S.A."},
                                {"备注",
                                 "This fax number is operational 0800 to 1715 EST, Mon-Fri.\n"
                                 "称谓: Dr.\n后缀: Jr. M.D. A.C.P.\n昵称: Robbie\n"
                                 "分组: TRAVEL AGENT"}})}
            << QList<qint64>{};

        QTest::newRow("RFC 6350 examples")
            << "rfc6350.vcf"
            << QList<Card>{card({{"姓名", "Simon Perreault"},
                                 {"单位", "Viagenie"},
                                 {"生日", "--0203"},
                                 {"工作电话", "+1-418-656-9254"},
                                 {"分机", "102"},
                                 {"手机", "+1-418-262-6501"},
                                 {"E-mail", "simon.perreault@viagenie.ca"},
                                 {"主页", "http://nomis80.org"},
                                 {"工作地址", "Suite D2-630, 2875 Laurier, Quebec, QC, Canada"},
                                 {"工作邮编", "G1V 2M2"},
                                 {"备注",
                                  "后缀: ing. jr M.Sc.\n纪念日: 20090808T1430-0500\n性别: M\n"
                                  "语言: fr\n语言: en\n"
                                  "位置: geo:46.772673,-71.282945\n时区: -0500"}}),
                           card({{"姓名", "Mr. John Q. Public, Esq."},
                                 {"职务", "Research Scientist"},
                                 {"职称", "Project Leader"},
                                 {"家庭电话", "+1-555-555-5555;ext=5555"},
                                 {"E-mail", "jqpublic@xyz.example.com"},
                                 {"工作地址", "123 Main Street, Any Town, CA, U.S.A."},
                                 {"工作邮编", "91921-1234"},
                                 {"备注",
                                  "This fax number is operational 0800 to 1715 EST, Mon-Fri.\n"
                                  "称谓: Mr.\n后缀: Esq.\n"
                                  "昵称: Jim,Jimmie\n家庭电话: +33-01-23-45-67\n"
                                  "E-mail: jane_doe@example.com\n"
                                  "即时通讯: xmpp:alice@example.com\n分组: TRAVEL AGENT"}})}
            << QList<qint64>{};

        QTest::newRow("old phone, 2.1 quoted-printable GB2312")
            << "oldphone-gb2312.vcf"
            << QList<Card>{card({{"姓名", "张三"},
                                 {"单位", "北京某某科技有限公司"},
                                 {"部门", "市场部"},
                                 {"职务", "经理"},
                                 {"工作电话", "010-62345678"},
                                 {"手机", "13800138000"},
                                 {"家庭电话", "010-87654321"},
                                 {"工作地址", "中国北京市海淀区中关村大街1号"},
                                 {"工作邮编", "100080"},
                                 {"备注", "2008年在展会上认识，负责华北地区的渠道合作。\n"
                                          "手机: 13900139000"}}),
                           card({{"姓名", "欧阳修"}, {"手机", "13700137000"}}),
                           card({{"姓名", "10086"}, {"手机", "10086"}}), card({{"姓名", "朱镕基"}})}
            << QList<qint64>{20};

        QTest::newRow("iPhone, 3.0 with item groups")
            << "iphone30.vcf"
            << QList<Card>{card({{"姓名", "李四"},
                                 {"单位", "上海某某贸易有限公司"},
                                 {"部门", "销售部"},
                                 {"职务", "销售总监"},
                                 {"生日", "1985-03-15"},
                                 {"工作电话", "021-5555 0000"},
                                 {"手机", "138 0013 8000"},
                                 {"传真", "021-5555 0002"},
                                 {"OICQ", "123456789"},
                                 {"E-mail", "lisi@example.com.cn"},
                                 {"主页", "https://example.com.cn"},
                                 {"工作地址", "中国上海南京西路1号"},
                                 {"工作邮编", "200040"},
                                 {"备注", "第一行\n第二行\nE-mail: lisi@example.net\n"
                                          "公司总机: 021-5555 0001\n纪念日: 2015-06-01"}}),
                           card({{"姓名", "John Appleseed"},
                                 {"单位", "Apple Inc."},
                                 {"工作电话", "+1 408 555 0101"},
                                 {"手机", "+1 408 555 0100"},
                                 {"E-mail", "john@example.com"},
                                 {"家庭地址", "1 Infinite Loop, Cupertino, CA, United States"},
                                 {"家庭邮编", "95014"},
                                 {"备注", "配偶: Jane Appleseed"}})}
            << QList<qint64>{};

        QTest::newRow("Android, 2.1 quoted-printable UTF-8")
            << "android21.vcf"
            << QList<Card>{card({{"姓名", "王五"},
                                 {"单位", "深圳某某电子有限公司"},
                                 {"工作电话", "0755-8888-0000"},
                                 {"手机", "186-0000-1111"},
                                 {"OICQ", "10001"},
                                 {"E-mail", "wangwu@example.com"},
                                 {"家庭地址", "广东深圳深南大道100号"},
                                 {"家庭邮编", "518000"},
                                 {"备注", "第一行\n第二行，带逗号; 和分号\n姓（拼音）: wang\n"
                                          "手机: 186-0000-2222\nAssistant: 0755-8888-0001\n"
                                          "E-mail: wangwu@example.net\nX-ANDROID-CUSTOM: "
                                          "vnd.android.cursor.item/nickname;Wu;1;;;;;;;;;;;;;"}})}
            << QList<qint64>{};

        QTest::newRow("Outlook, 2.1 raw GB2312")
            << "outlook21.vcf"
            << QList<Card>{card({{"姓名", "赵六"},
                                 {"单位", "广州某某有限公司"},
                                 {"部门", "技术部"},
                                 {"职务", "工程师"},
                                 {"工作电话", "020-3333-4444"},
                                 {"手机", "135-0000-3333"},
                                 {"家庭电话", "020-3333-5555"},
                                 {"传真", "020-3333-6666"},
                                 {"MSN", "zhaoliu@hotmail.com"},
                                 {"E-mail", "zhaoliu@example.cn"},
                                 {"主页", "http://www.example.cn"},
                                 {"工作地址", "中国广东省广州天河路2号"},
                                 {"工作邮编", "510000"},
                                 {"备注", "去年在广交会认识。\n喜欢喝茶。"}})}
            << QList<qint64>{};

        QTest::newRow("Big5, UTF-7, GBK, GB18030, base64, parameter styles")
            << "charsets21.vcf"
            << QList<Card>{card({{"姓名", "陳大文"},
                                 {"单位", "香港貿易公司"},
                                 {"职务", "總經理"},
                                 {"职称", "高级工程师"},
                                 {"专业", "计算机科学"},
                                 {"毕业院校", "清华大学"},
                                 {"工作电话", "852-2222-3333"},
                                 {"手机", "852-9999-8888"},
                                 {"传真", "852-2222-4444"},
                                 {"备注", "生僻字𠀀与表情😀"}})}
            << QList<qint64>{};

        QTest::newRow("Google CSV")
            << "google.csv"
            << QList<Card>{card({{"姓名", "陈七"},
                                 {"单位", "北京某某咨询公司"},
                                 {"部门", "咨询部"},
                                 {"职务", "顾问"},
                                 {"生日", "1990-07-01"},
                                 {"工作电话", "010-6666-7777"},
                                 {"手机", "139 0000 7777"},
                                 {"传真", "010-6666-7778"},
                                 {"OICQ", "7777777"},
                                 {"E-mail", "chen7@example.com"},
                                 {"主页", "http://example.org/chen7"},
                                 {"工作地址", "中国北京建国路88号"},
                                 {"工作邮编", "100022"},
                                 {"备注", "多行\n备注\n分组: 客户\n手机: 139 0000 8888\n"
                                          "E-mail: chen7@home.example\nNickname: 小七"}}),
                           card({{"姓名", "John Smith"},
                                 {"手机", "+1 650 555 0100"},
                                 {"备注", "Pager: +1 650 555 0199"}}),
                           card({{"姓名", "nobody@example.com"}, {"E-mail", "nobody@example.com"}})}
            << QList<qint64>{7};

        QTest::newRow("Google CSV, new headers, BOM")
            << "google-new.csv"
            << QList<Card>{card({{"姓名", "黄晓明"},
                                 {"单位", "广州某某设计公司"},
                                 {"职务", "设计师"},
                                 {"生日", "--05-20"},
                                 {"手机", "136 0000 1234"},
                                 {"传真", "020-8888 1234"},
                                 {"E-mail", "hxm@example.com"},
                                 {"家庭地址", "中国广东广州花城大道1号"},
                                 {"家庭邮编", "510623"},
                                 {"备注", "分组: 同学\nPhonetic First Name: xiaoming\n"
                                          "Phonetic Last Name: huang"}})}
            << QList<qint64>{};

        QTest::newRow("Outlook CSV, English")
            << "outlook-en.csv"
            << QList<Card>{card({{"姓名", "Mary Ann Jones"},
                                 {"单位", "Contoso, Ltd."},
                                 {"部门", "Research"},
                                 {"职务", "Chief Scientist"},
                                 {"职称", "Physicist"},
                                 {"生日", "1975-02-28"},
                                 {"工作电话", "+1 425 555 0100"},
                                 {"手机", "+1 425 555 0120"},
                                 {"家庭电话", "+1 425 555 0110"},
                                 {"传真", "+1 425 555 0102"},
                                 {"E-mail", "mary@contoso.com"},
                                 {"主页", "http://contoso.example/mary"},
                                 {"工作地址", "100 Research Way\nBuilding 7, Suite 300, Redmond, "
                                              "WA, United States of America"},
                                 {"工作邮编", "98052"},
                                 {"备注", "Met at the \"Build\" conference.\nPrefers e-mail.\n"
                                          "称谓: Dr.\nBusiness Phone 2: +1 425 555 0101\n"
                                          "E-mail 2 Address: mary.jones@example.org\n"
                                          "Categories: VIP\nGender: Female\nHobby: Sailing"}}),
                           card({{"姓名", "王"}})}
            << QList<qint64>{};

        QTest::newRow("Outlook CSV, Chinese, GBK")
            << "outlook-zh.csv"
            << QList<Card>{card({{"姓名", "张三"},
                                 {"单位", "上海某某软件有限公司"},
                                 {"部门", "研发部"},
                                 {"职务", "架构师"},
                                 {"工作电话", "021-6464-0000"},
                                 {"手机", "139-1234-5678"},
                                 {"传真", "021-6464-0001"},
                                 {"E-mail", "zhangsan@example.com"},
                                 {"主页", "http://example.com/zs"},
                                 {"工作地址", "中国上海市上海漕溪北路88号8楼"},
                                 {"工作邮编", "200030"},
                                 {"备注", "第一行\n第二行\n商务电话 2: 021-6464-0002\n"
                                          "电子邮件 2 地址: zs@example.org\n类别: 同事"}}),
                           card({{"姓名", "Lei Li"},
                                 {"单位", "Acme, Inc."},
                                 {"生日", "1980/5/17"},
                                 {"家庭电话", "555-0100"},
                                 {"家庭地址", "1 Main St, Springfield"},
                                 {"家庭邮编", "12345"},
                                 {"备注", "称谓: Mr.\n其他电话: 555-0199\n性别: 男"}})}
            << QList<qint64>{};

        QTest::newRow("Excel CSV, GBK")
            << "excel-gbk.csv"
            << QList<Card>{card({{"姓名", "孙八"},
                                 {"单位", "杭州某某网络有限公司"},
                                 {"职务", "产品经理"},
                                 {"手机", "158-0000-8888"},
                                 {"OICQ", "88888888"},
                                 {"E-mail", "sunba@example.com"},
                                 {"工作地址", "杭州市西湖区文三路1号"},
                                 {"工作邮编", "310000"},
                                 {"备注", "说\"你好\", 很热情\n微信: sunba_wx"}}),
                           card({{"姓名", "周九"}, {"手机", "137-0000-9999"}}),
                           card({{"姓名", "某公司"},
                                 {"单位", "某公司"},
                                 {"备注", "没有名字的一行"}})}
            << QList<qint64>{5};
    }

    void fixtures() {
        QFETCH(QString, file);
        QFETCH(QList<Card>, cards);
        QFETCH(QList<qint64>, skippedLines);
        const Read read = readBytes(fixture(file.toUtf8().constData()));
        const QString diff = differences(read.cards, cards);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QCOMPARE(lines(read.skipped), skippedLines);
    }

    // Folding, line ends, marks and parameters as the formats allow them.
    void vcardLines() {
        // 3.0 drops the one blank that folds a line, 2.1 keeps it; LF alone ends lines too.
        QCOMPARE(
            readBytes("BEGIN:VCARD\nVERSION:3.0\nFN:Zhang\n  San\nNOTE:a\n\tb\nEND:VCARD\n").cards,
            QList<Card>{card({{"姓名", "Zhang San"}, {"备注", "ab"}})});
        QCOMPARE(readBytes(crlf("BEGIN:VCARD\nVERSION:2.1\nFN:Zhang\n San\nEND:VCARD\n")).cards,
                 QList<Card>{card({{"姓名", "Zhang San"}})});
        // A byte order mark, lower-case names, a quoted-printable soft line break that splits a
        // UTF-8 sequence, CR alone as line end.
        QCOMPARE(readBytes("\xEF\xBB\xBF"
                           "begin:vcard\rversion:2.1\rfn;charset=utf-8;encoding=quoted-printable:"
                           "=E5=BC=A0=E4=B8=\r=89\rend:vcard\r")
                     .cards,
                 QList<Card>{card({{"姓名", "张三"}})});
        // Several cards, blank lines between them and a DOS end-of-file mark.
        QCOMPARE(readBytes("BEGIN:VCARD\nFN:A\nEND:VCARD\n\n\nBEGIN:VCARD\nFN:B\nEND:VCARD\n\x1a")
                     .cards.size(),
                 2);
        // A phone that breaks a long value without folding: the line belongs to the value.
        QCOMPARE(readBytes("BEGIN:VCARD\nVERSION:2.1\nFN:A\nNOTE:first\nsecond\nEND:VCARD\n").cards,
                 QList<Card>{card({{"姓名", "A"}, {"备注", "first\nsecond"}})});
        // Escapes: \\ \; \, \n \N; an unknown escape keeps its backslash.
        QCOMPARE(
            readBytes("BEGIN:VCARD\nVERSION:3.0\nFN:a\\\\b\\;c\\,d\\ne\\Nf\\tg\nEND:VCARD\n").cards,
            QList<Card>{card({{"姓名", "a\\b;c,d\ne\nf\\tg"}})});
    }

    void vcardTypesAndProperties() {
        const Read read = readBytes(crlf("BEGIN:VCARD\n"
                                         "VERSION:3.0\n"
                                         "N:Doe;Jane;;;\n"
                                         "TEL;TYPE=\"work,voice\":1\n"
                                         "TEL;TYPE=cell:2\n"
                                         "TEL;TYPE=home;TYPE=voice:3\n"
                                         "TEL;TYPE=fax,home:4\n"
                                         "TEL;TYPE=pager:5\n"
                                         "TEL:6\n"
                                         "IMPP:qq:700\n"
                                         "IMPP:msnim:chat?contact=jane@hotmail.com\n"
                                         "IMPP:skype:jane.doe\n"
                                         "X-QUEMBE-EDUCATION:硕士\n"
                                         "X-QUEMBE-GRADUATION:2001年7月\n"
                                         "X-QUEMBE-EXTENSION:8001\n"
                                         "ADR;TYPE=postal:;;1 Way;Town;;11111;\n"
                                         "ADR;TYPE=home:;;2 Road;;;22222;\n"
                                         "ADR;TYPE=other:;;3 Lane;;;33333;\n"
                                         "LABEL;TYPE=home:ignored while ADR exists\n"
                                         "X-CUSTOM;ENCODING=b:AP8=\n"
                                         "END:VCARD\n"));
        QCOMPARE(read.cards,
                 QList<Card>{card({{"姓名", "Jane Doe"},
                                   {"学历", "硕士"},
                                   {"毕业日期", "2001年7月"},
                                   {"工作电话", "1"},
                                   {"分机", "8001"},
                                   {"手机", "2"},
                                   {"家庭电话", "3"},
                                   {"传真", "4"},
                                   {"OICQ", "700"},
                                   {"MSN", "jane@hotmail.com"},
                                   {"工作地址", "1 Way, Town"},
                                   {"工作邮编", "11111"},
                                   {"家庭地址", "2 Road"},
                                   {"家庭邮编", "22222"},
                                   {"备注", "寻呼机: 5\n工作电话: 6\n即时通讯: skype:jane.doe\n"
                                            "其他地址: 3 Lane\n其他地址邮编: 33333\n"
                                            "X-CUSTOM: （二进制数据，未导入）"}})});
    }

    // Each card is read by what it declares, and undeclared text card by card: a stray bad
    // byte in declared UTF-8 becomes U+FFFD, a card in another encoding than the one before
    // it is read in its own; the notice says both.
    void encodingsPerCard() {
        const Read bad = readBytes("BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=UTF-8:\xE7\x8E\x8B\xFF\n"
                                   "END:VCARD\n");
        QCOMPARE(bad.cards, QList<Card>{card({{"姓名", QStringLiteral("王\uFFFD")}})});
        QCOMPARE(bad.skipped.size(), 1);
        QVERIFY(bad.skipped[0].imported);
        QCOMPARE(bad.skipped[0].line, qint64(3));

        const Read mixed = readBytes("BEGIN:VCARD\nVERSION:3.0\nFN:\xE7\x8E\x8B\xE5\xB0\x8F\xE6"
                                     "\x98\x8E\nEND:VCARD\n"
                                     "BEGIN:VCARD\nVERSION:3.0\nFN:\xCD\xF5\xB4\xF3\nEND:VCARD\n");
        QCOMPARE(mixed.cards, (QList<Card>{card({{"姓名", "王小明"}}), card({{"姓名", "王大"}})}));
        QCOMPARE(mixed.skipped.size(), 1);
        QCOMPARE(mixed.skipped[0].line, qint64(5));
        QVERIFY(mixed.skipped[0].reason.contains("GB18030"));
    }

    // A work or preferred phone, fax, e-mail or address takes its column from one without a
    // kind or a home one; a custom address kind and iPhone's labels name their notes.
    void typedValuesWinTheirColumn() {
        const Read read =
            readBytes("BEGIN:VCARD\nVERSION:3.0\nFN:甲\n"
                      "TEL;TYPE=HOME,FAX:111\nTEL;TYPE=WORK,FAX:222\n"
                      "TEL:333\nTEL;TYPE=WORK:444\n"
                      "EMAIL;TYPE=HOME:a@home\nEMAIL;TYPE=INTERNET,PREF:b@work\n"
                      "ADR:;;无类型路1号;;;100001;\nADR;TYPE=WORK:;;工作路2号;;;100002;\n"
                      "ADR;TYPE=school:;;学校路3号;;;100003;\n"
                      "item1.EMAIL:c@other\nitem1.X-ABLabel:老邮箱\n"
                      "item2.URL:http://blog\nitem2.X-ABLabel:博客\nURL:http://home\n"
                      "END:VCARD\n");
        QCOMPARE(read.cards.size(), 1);
        const Card& c = read.cards[0];
        QCOMPARE(c.value("传真"), QStringLiteral("222"));
        QCOMPARE(c.value("工作电话"), QStringLiteral("444"));
        QCOMPARE(c.value("E-mail"), QStringLiteral("b@work"));
        QCOMPARE(c.value("工作地址"), QStringLiteral("工作路2号"));
        QCOMPARE(c.value("工作邮编"), QStringLiteral("100002"));
        QCOMPARE(c.value("主页"), QStringLiteral("http://blog"));
        const QStringList notes = c.value("备注").split('\n');
        for (const char* line : {"家庭传真: 111", "工作电话: 333", "E-mail: a@home",
                                 "工作地址: 无类型路1号", "工作邮编: 100001", "school: 学校路3号",
                                 "school邮编: 100003", "老邮箱: c@other", "主页: http://home"})
            QVERIFY2(notes.contains(QString::fromUtf8(line)), line);
    }

    // What used to be dropped in silence lands in the notes: N's prefix and suffix beside an
    // FN, and SOURCE, CLASS, SORT-STRING, MAILER.
    void nothingDroppedInSilence() {
        const Read read = readBytes("BEGIN:VCARD\nVERSION:3.0\nFN:John Smith\n"
                                    "N:Smith;John;;Dr.;Jr.\nSOURCE:ldap://x\nCLASS:PRIVATE\n"
                                    "SORT-STRING:Smith\nMAILER:Mutt\nNAME:dir\nPROFILE:VCARD\n"
                                    "END:VCARD\n");
        QCOMPARE(
            read.cards,
            QList<Card>{card({{"姓名", "John Smith"},
                              {"备注", "称谓: Dr.\n后缀: Jr.\n来源: ldap://x\n公开范围: PRIVATE\n"
                                       "排序名: Smith\n邮件程序: Mutt"}})});
    }

    // UTF-16 without a byte order mark is read, not called "not text"; a .vcf without a
    // card is answered as a vCard file.
    void misleadingFiles() {
        const QString text = QStringLiteral("姓名,手机\r\n李雷,139\r\n");
        QByteArray le(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        QCOMPARE(readBytes(le).cards, QList<Card>{card({{"姓名", "李雷"}, {"手机", "139"}})});
        QByteArray be;
        for (const QChar c : text)
            be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
        QCOMPARE(readBytes(be).cards, QList<Card>{card({{"姓名", "李雷"}, {"手机", "139"}})});

        QTemporaryDir dir;
        QFile junk(dir.filePath(QStringLiteral("junk.vcf")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("hello\nthis is not a card\n");
        junk.close();
        QVERIFY(junk.open(QIODevice::ReadOnly));
        CardFileReader reader(&junk);
        Card c;
        try {
            reader.next(&c);
            QFAIL("no error");
        } catch (const EError& e) {
            QVERIFY2(e.message().contains("BEGIN:VCARD") && !e.message().contains("CSV"),
                     qPrintable(e.message()));
        }
    }

    // Text without a charset: UTF-8 when it is well-formed UTF-8, else GB18030.
    void encodings() {
        const QByteArray gbk = QByteArray("BEGIN:VCARD\nVERSION:3.0\nFN:\xD5\xC5\xC8\xFD\n"
                                          "NOTE:\x81\x30\x81\x30\nEND:VCARD\n");
        QCOMPARE(readBytes(gbk).cards,
                 QList<Card>{card({{"姓名", "张三"}, {"备注", QString(QChar(0x80))}})});
        // The first text beyond ASCII decides when the file's start is plain ASCII.
        const QByteArray late = QByteArray("Name,Notes\r\n") + QByteArray(2 * 1024 * 1024, 'x') +
                                ",y\r\n" + "\xCB\xB6\xCA\xBF,\xD6\xD0\r\n";
        const Read read = readBytes(late);
        QCOMPARE(read.cards.size(), 2);
        QCOMPARE(read.cards[1], card({{"姓名", "硕士"}, {"备注", "中"}}));
        // Quoted-printable GBK without a charset, as old Windows address books wrote it: the
        // whole card decides, not the first value (硕士 in GBK happens to be valid UTF-8).
        QCOMPARE(readBytes("BEGIN:VCARD\nVERSION:2.1\nFN;ENCODING=QUOTED-PRINTABLE:=CB=B6=CA=BF\n"
                           "NOTE;ENCODING=QUOTED-PRINTABLE:=D6=D0\nEND:VCARD\n")
                     .cards,
                 QList<Card>{card({{"姓名", "硕士"}, {"备注", "中"}})});
        // UTF-16 with its byte order mark, as some spreadsheets save "Unicode text".
        const QString text = QStringLiteral("姓名\t手机\r\n李雷\t139\r\n");
        QByteArray utf16("\xFF\xFE");
        utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        QCOMPARE(readBytes(utf16).cards, QList<Card>{card({{"姓名", "李雷"}, {"手机", "139"}})});
    }

    void csvFields() {
        // RFC 4180 quoting, a line break inside quotes, ; as delimiter, columns beyond the
        // header, empty rows, Outlook's empty date.
        const Read read = readBytes("First Name;Last Name;Birthday;Notes;Mystery\r\n"
                                    "Ann;Lee;0/0/00;\"a;\"\"b\"\"\r\nc\";m\r\n"
                                    ";;;;\r\n"
                                    "Bo;;;;;extra\r\n");
        QCOMPARE(read.cards,
                 (QList<Card>{card({{"姓名", "Ann Lee"}, {"备注", "a;\"b\"\nc\nMystery: m"}}),
                              card({{"姓名", "Bo"}, {"备注", "第 6 列: extra"}})}));
        // Excel's line naming the delimiter.
        QCOMPARE(readBytes("sep=|\r\n姓名|单位\r\n甲|a,b\r\n").cards,
                 QList<Card>{card({{"姓名", "甲"}, {"单位", "a,b"}})});
        // Our own header takes every value as it stands: blanks, CR LF.
        const Read own = readBytes(
            QByteArray("\xEF\xBB\xBF") +
            "姓名,单位,部门,职务,职称,生日,专业,学历,毕业院校,毕业日期,工作电话,分机,手机,"
            "家庭电话,传真,OICQ,MSN,E-mail,主页,工作地址,工作邮编,家庭地址,家庭邮编,备注\r\n"
            " a ,,,,,0/0/00,,,,,,,,,,,,,,,      ,,,\"x\r\ny\"\r\n");
        QCOMPARE(own.cards, QList<Card>{card({{"姓名", " a "},
                                              {"生日", "0/0/00"},
                                              {"工作邮编", "      "},
                                              {"备注", "x\r\ny"}})});
    }

    void badFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("start");

        QTest::newRow("binary garbage")
            << QByteArray("BEGIN:VCARD\nFN:A\n\x89PNG") + QByteArray(1, '\0') +
                   QByteArray("\x01\x02\nEND:VCARD\n")
            << "第 3 行：这里有零字节";
        QTest::newRow("Excel workbook")
            << QByteArray("PK\x03\x04\x14\x00\x06\x00", 8) << "第 1 行：这是 Excel 工作簿";
        QTest::newRow("undecodable")
            << QByteArray(
                   "\xD0\xD5\xC3\xFB,\xB1\xB8\xD7\xA2\r\nA,b\r\nB,c\r\n\xD5\xC5,\xFF\xFE\r\n")
            << "第 4 行：这里的文字既不是 UTF-8 也不是 GB18030";
        QTest::newRow("truncated quoted field")
            << QByteArray("姓名,备注\r\nA,b\r\nB,\"c\r\nd,e\r\n") << "第 3 行：这里有一个用引号";
        QTest::newRow("unterminated card")
            << QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\n\nBEGIN:VCARD\nFN:B\n")
            << "第 5 行：名片从这一行的 BEGIN:VCARD 开始";
        QTest::newRow("unknown charset")
            << QByteArray("BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=X-MARS:\xE0\xE1\nEND:VCARD\n")
            << "第 3 行：不认识字符集“X-MARS”";
        QTest::newRow("text against its charset")
            << QByteArray("BEGIN:VCARD\nVERSION:2.1\nN:A\nFN;CHARSET=BIG5:\xA4\x20\nEND:VCARD\n")
            << "第 4 行：这里的文字不符合它标明的字符集 BIG5";
        QTest::newRow("CSV without a name column")
            << QByteArray("Company,Phone\r\nAcme,1\r\n") << "第 1 行：CSV 文件的第一行（表头）";
    }

    void badFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, start);
        const QString error = readError(bytes);
        QVERIFY2(error.startsWith(start), qPrintable(error));
        QVERIFY2(error.endsWith(QStringLiteral("。")), qPrintable(error));
    }

    void skippedEntries() {
        const Read read = readBytes("stray text\n"
                                    "BEGIN:VCARD\nVERSION:3.0\nTEL:1\nEND:VCARD\n"
                                    "BEGIN:VCARD\nVERSION:2.1\nFN:A\nAGENT:\nBEGIN:VCARD\nFN:B\n"
                                    "END:VCARD\nEND:VCARD\n"
                                    "BEGIN:VCARD\nFN:\nN:;;;;\nEND:VCARD\n");
        // A card with a phone but no name is named by the phone, and the notice says so.
        QCOMPARE(read.cards,
                 (QList<Card>{card({{"姓名", "1"}, {"工作电话", "1"}}), card({{"姓名", "A"}})}));
        QStringList texts;
        for (const auto& s : read.skipped)
            texts << s.text();
        QCOMPARE(texts, (QStringList{QStringLiteral("第 1 行：名片之外的内容“stray text”已忽略。"),
                                     QStringLiteral("第 2 行：这张名片没有姓名，已用工作电话“1”作"
                                                    "姓名导入。"),
                                     QStringLiteral("第 10 行：名片里嵌套的名片未导入。"),
                                     QStringLiteral("第 14 行：这张名片没有姓名，未导入。")}));
        QCOMPARE(Exchange::importSummary(2, read.skipped, 2, 3),
                 QStringLiteral("已添加 2 张名片。\n已跳过 3 张已有的名片。\n有 1 处请核对：\n"
                                "第 2 行：这张名片没有姓名，已用工作电话“1”作姓名导入。\n"
                                "有 3 处没有导入：\n"
                                "第 1 行：名片之外的内容“stray text”已忽略。\n"
                                "第 10 行：名片里嵌套的名片未导入。\n……另有 1 处未列出。"));
        QCOMPARE(Exchange::importSummary(3, {}), QStringLiteral("已添加 3 张名片。"));
    }

    void progress() {
        QByteArray bytes;
        for (int i = 0; i < 3000; ++i)
            bytes += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Card " + QByteArray::number(i) +
                     "\r\nNOTE:" + QByteArray(200, 'n') + "\r\nEND:VCARD\r\n";
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        CardFileReader reader(&buffer);
        QCOMPARE(reader.bytesTotal(), qint64(bytes.size()));
        qint64 last = -1;
        int cards = 0;
        Card c;
        while (reader.next(&c)) {
            QVERIFY(reader.bytesRead() > last);
            QVERIFY(reader.bytesRead() <= reader.bytesTotal());
            last = reader.bytesRead();
            ++cards;
        }
        QCOMPARE(cards, 3000);
        QCOMPARE(reader.bytesRead(), reader.bytesTotal());
        QCOMPARE(reader.kind(), CardFileReader::Kind::VCard);
    }

    // Damaged files: reading either gives cards or says what is wrong, nothing else.
    void damagedFiles() {
        const char* files[] = {"rfc2426.vcf",    "rfc6350.vcf",   "oldphone-gb2312.vcf",
                               "iphone30.vcf",   "android21.vcf", "outlook21.vcf",
                               "charsets21.vcf", "google.csv",    "outlook-en.csv",
                               "outlook-zh.csv", "excel-gbk.csv"};
        QRandomGenerator random(20240501);
        int errors = 0;
        for (const char* name : files) {
            const QByteArray original = fixture(name);
            for (int round = 0; round < 300; ++round) {
                QByteArray bytes = original;
                const int edits = 1 + int(random.bounded(4));
                for (int e = 0; e < edits && !bytes.isEmpty(); ++e) {
                    const auto at = qsizetype(random.bounded(quint32(bytes.size())));
                    switch (random.bounded(4)) {
                    case 0:
                        bytes[at] = char(random.bounded(256));
                        break;
                    case 1:
                        bytes.insert(at, char(random.bounded(256)));
                        break;
                    case 2:
                        bytes.remove(at, 1 + qsizetype(random.bounded(8)));
                        break;
                    default:
                        bytes.truncate(at);
                        break;
                    }
                }
                const QString error = readError(bytes);
                if (!error.isEmpty()) {
                    ++errors;
                    QVERIFY2(error.startsWith(QStringLiteral("第 ")), qPrintable(error));
                }
            }
        }
        QVERIFY(errors > 0);
    }

    // The column positions the mapping uses are those of the field map.
    void columns() {
        for (int i = 0; i < kFieldCount; ++i)
            QCOMPARE(columnText(Field(i)), QString::fromUtf8(kFieldMap[i].column));
        QCOMPARE(int(kFieldCount), int(kFieldMap.size()));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"

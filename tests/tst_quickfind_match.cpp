// Quick find's matching rule: names and companies by pinyin and initials, folded text,
// phone digits.
#include "testsupport.h"

#include "data/fieldmap.h"
#include "quickfind/cardtext.h"
#include "quickfind/quickfind.h"
#include "quickfind/spelling.h"

#include <QTest>

#include <atomic>
#include <string>
#include <thread>

using TestSupport::namedCard;

class TestQuickFindMatch : public QObject {
    Q_OBJECT

private slots:
    // Readings worked out ahead on other threads, while this one finds, are the ones a find
    // works out itself: surnames' own readings stay the surname's. First, so that the
    // characters below are learnt ahead, not met before.
    void readingsLearntAhead() {
        std::atomic<bool> stop{false};
        std::thread one([&] { QuickFind::prepareSpelling(stop); });
        std::thread two([&] { QuickFind::prepareSpelling(stop); });
        QVERIFY(QuickFind::matches(namedCard(QStringLiteral("张三")), QStringLiteral("zs")));
        one.join();
        two.join();
        bool right = false;
        std::thread fresh([&] {
            right = QuickFind::matches(namedCard(QStringLiteral("查良镛")), "zhaliangyong") &&
                    QuickFind::matches(namedCard(QStringLiteral("查良镛")), "cly") &&
                    QuickFind::matches(namedCard(QStringLiteral("尉迟恭")), "yuchigong") &&
                    QuickFind::matches(namedCard(QStringLiteral("覃晓")), "tanxiao") &&
                    !QuickFind::matches(namedCard(QStringLiteral("王单")), "wangshan") &&
                    QuickFind::matches(namedCard(QStringLiteral("王单")), "wangdan");
        });
        fresh.join();
        QVERIFY(right);
        // Stopped, it returns at once; all learnt, a call has nothing left to do.
        stop = true;
        QuickFind::prepareSpelling(stop);
    }

    // The quick way through common Chinese text folds exactly as the full one does.
    void foldingTakesNoDetourForCommonText() {
        for (const char* text :
             {"张三 Zhang", "（北京）ＡＢＣ１２３，“张”、《李》【王】", "阿·买买提—", "張偉 歐陽",
              "ｃａｆé", "ｚｈａｎｇ　ＳＡＮ", "…ﬁ", "Straße", "\xE4\xB8"}) {
            std::string quick;
            QuickFind::normalizeUtf8(text, quick);
            QCOMPARE(QString::fromStdString(quick), QuickFind::normalized(QString::fromUtf8(text)));
        }
        QCOMPARE(QuickFind::normalized(QStringLiteral("張偉歐陽")), QStringLiteral("张伟欧阳"));
    }

    void foldedText() {
        QCOMPARE(QuickFind::normalized(QStringLiteral("ＡＢＣ")), QStringLiteral("abc"));
        QCOMPARE(QuickFind::normalized(QStringLiteral("Ａｂｃ１２３")), QStringLiteral("abc123"));
        QCOMPARE(QuickFind::normalized(QStringLiteral("Hello 张三")), QStringLiteral("hello 张三"));
        QVERIFY(QuickFind::matches(namedCard(QStringLiteral("李"), QStringLiteral("ＡＢＣ公司")),
                                   QStringLiteral("abc")));
        QVERIFY(QuickFind::matches(namedCard(QStringLiteral("李"), QStringLiteral("abc公司")),
                                   QStringLiteral("ＡＢＣ")));
        QVERIFY(
            QuickFind::matches(namedCard(QStringLiteral("李"), QString(),
                                         {QStringLiteral("E-mail"), QStringLiteral("Li@QQ.com")}),
                               QStringLiteral("li@qq")));
        QVERIFY(!QuickFind::matches(namedCard(QStringLiteral("李")), QStringLiteral("abc")));
    }

    void phoneDigits() {
        const QStringList mobile{QStringLiteral("13812345678")};
        QCOMPARE(QuickFind::phoneDigits(QStringLiteral("138 1234 5678")), mobile);
        QCOMPARE(QuickFind::phoneDigits(QStringLiteral("+86-138-1234-5678")), mobile);
        QCOMPARE(QuickFind::phoneDigits(QStringLiteral("(+86) 138 1234-5678")), mobile);
        QCOMPARE(QuickFind::phoneDigits(QStringLiteral("１３８－１２３４－５６７８")), mobile);
        QCOMPARE(QuickFind::phoneDigits(QStringLiteral("(010)6234-5678 转 8001")),
                 (QStringList{QStringLiteral("01062345678"), QStringLiteral("8001")}));
        QVERIFY(QuickFind::phoneDigits(QStringLiteral("无")).isEmpty());

        // Five ways of writing one number, each in another phone column.
        const QStringList ways = {
            QStringLiteral("138 1234 5678"), QStringLiteral("+86-138-1234-5678"),
            QStringLiteral("(138)1234-5678"), QStringLiteral("+86 138 1234 5678"),
            QStringLiteral("１３８１２３４５６７８")};
        const QStringList columns = {QStringLiteral("手机"), QStringLiteral("工作电话"),
                                     QStringLiteral("家庭电话"), QStringLiteral("传真"),
                                     QStringLiteral("分机")};
        for (const QString& column : columns) {
            for (const QString& way : ways) {
                const Card c = namedCard(QStringLiteral("王五"), QString(), {column, way});
                QVERIFY2(QuickFind::matches(c, QStringLiteral("13812345678")), qPrintable(way));
                QVERIFY2(QuickFind::matches(c, QStringLiteral("12345")), qPrintable(way));
                QVERIFY2(!QuickFind::matches(c, QStringLiteral("8613812345678")), qPrintable(way));
            }
        }
        // Digits of other columns are text only: no blanks are dropped there.
        const Card qq = namedCard(QStringLiteral("王五"), QString(),
                                  {QStringLiteral("OICQ"), QStringLiteral("1234 5678")});
        QVERIFY(QuickFind::matches(qq, QStringLiteral("1234")));
        QVERIFY(!QuickFind::matches(qq, QStringLiteral("12345678")));
    }

    void namesByPinyinAndInitials() {
        const Card zsf = namedCard(QStringLiteral("张三丰"));
        for (const char* w :
             {"zhangsanfeng", "zhangsan", "zhangs", "zha", "z", "sanfeng", "sanf", "feng", "zs",
              "zsf", "sf", "f", "ZhangSan", "ＺＳ", "zhang san", "san zhang", "张三", "三丰"})
            QVERIFY2(QuickFind::matches(zsf, QString::fromUtf8(w)), w);
        for (const char* w : {"zsx", "fengzhang", "anfeng", "zhangsanfengx", "hang", "sz", "zf"})
            QVERIFY2(!QuickFind::matches(zsf, QString::fromUtf8(w)), w);
        QVERIFY(QuickFind::matches(namedCard(QStringLiteral("张三")), QStringLiteral("zhang san")));
        QVERIFY(
            !QuickFind::matches(namedCard(QStringLiteral("张伟")), QStringLiteral("zhang san")));
    }

    void commonNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pinyin");
        QTest::addColumn<QString>("initials");
        const char* const names[][3] = {
            {"王伟", "wangwei", "ww"},         {"李娜", "lina", "ln"},
            {"张敏", "zhangmin", "zm"},        {"刘洋", "liuyang", "ly"},
            {"陈静", "chenjing", "cj"},        {"杨秀英", "yangxiuying", "yxy"},
            {"赵磊", "zhaolei", "zl"},         {"黄丽", "huangli", "hl"},
            {"周杰", "zhoujie", "zj"},         {"吴强", "wuqiang", "wq"},
            {"徐军", "xujun", "xj"},           {"孙丽华", "sunlihua", "slh"},
            {"马超", "machao", "mc"},          {"胡建国", "hujianguo", "hjg"},
            {"郭芳", "guofang", "gf"},         {"何勇", "heyong", "hy"},
            {"林小红", "linxiaohong", "lxh"},  {"罗平", "luoping", "lp"},
            {"郑志明", "zhengzhiming", "zzm"}, {"欧阳娜娜", "ouyangnana", "oynn"},
            {"吕芳", "lvfang", "lf"},          {"司马光", "simaguang", "smg"},
        };
        for (const auto& n : names)
            QTest::newRow(n[0]) << QString::fromUtf8(n[0]) << QString::fromUtf8(n[1])
                                << QString::fromUtf8(n[2]);
    }
    void commonNames() {
        QFETCH(QString, name);
        QFETCH(QString, pinyin);
        QFETCH(QString, initials);
        const Card c = namedCard(name);
        for (int len = 1; len <= pinyin.size(); ++len)
            QVERIFY2(QuickFind::matches(c, pinyin.left(len)), qPrintable(pinyin.left(len)));
        for (int len = 1; len <= initials.size(); ++len)
            QVERIFY2(QuickFind::matches(c, initials.left(len)), qPrintable(initials.left(len)));
        QVERIFY(QuickFind::nameSpellings(name).initials.contains(initials));
    }

    void surnameReadings_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("spellings"); // each must match
        const auto row = [](const char* name, std::initializer_list<const char*> words) {
            QStringList list;
            for (const char* w : words)
                list << QString::fromUtf8(w);
            QTest::newRow(name) << QString::fromUtf8(name) << list;
        };
        row("单田芳", {"shantianfang", "dantianfang", "stf", "dtf", "tianfang"});
        row("曾国藩", {"zengguofan", "cengguofan", "zgf", "cgf"});
        row("区志强", {"ouzhiqiang", "quzhiqiang", "ozq", "qzq"});
        row("解缙", {"xiejin", "jiejin", "xj", "jj"});
        row("仇英", {"qiuying", "chouying", "qy", "cy"});
        row("查良镛", {"zhaliangyong", "chaliangyong", "zly", "cly"});
        row("朴树", {"piaoshu", "pushu", "ps"});
        row("覃晓", {"qinxiao", "tanxiao", "qx", "tx"});
        row("尉迟恭", {"yuchigong", "weichigong", "ycg", "wcg", "chigong"});
        row("吕布", {"lvbu", "lubu", "lb"});
    }
    void surnameReadings() {
        QFETCH(QString, name);
        QFETCH(QStringList, spellings);
        const Card c = namedCard(name);
        for (const QString& w : spellings)
            QVERIFY2(QuickFind::matches(c, w), qPrintable(w));
        // Surname readings belong to the surname only.
        QVERIFY(!QuickFind::matches(namedCard(QStringLiteral("王单")), QStringLiteral("wangshan")));
        QVERIFY(QuickFind::matches(namedCard(QStringLiteral("王单")), QStringLiteral("wangdan")));
    }

    void companies() {
        const Card c = namedCard(QStringLiteral("张三"), QStringLiteral("北京某某科技有限公司"));
        for (const char* w : {"bjkj", "bjk", "bjmm", "beijing", "keji", "kj", "kjy", "mmkj",
                              "moumou", "bj", "北京", "科技", "bjkjyxgs"})
            QVERIFY2(QuickFind::matches(c, QString::fromUtf8(w)), w);
        // Words every company has are no start of their own; skipping needs a word left out.
        for (const char* w : {"youxian", "gongsi", "yxgs", "bjmk", "jingmou"})
            QVERIFY2(!QuickFind::matches(c, QString::fromUtf8(w)), w);
        // "北京市" kept together by the dictionary still gives the city's initials alone.
        QVERIFY(QuickFind::matches(
            namedCard(QStringLiteral("张三"), QStringLiteral("北京市华信科技有限公司")),
            QStringLiteral("bjkj")));
        QVERIFY(
            QuickFind::matches(namedCard(QStringLiteral("张三"), QStringLiteral("重庆长安汽车")),
                               QStringLiteral("chongqing")));
    }

    void severalWords() {
        const Card c = namedCard(QStringLiteral("张三"), QStringLiteral("北京某某科技有限公司"),
                                 {QStringLiteral("手机"), QStringLiteral("138 1234 5678")});
        QVERIFY(QuickFind::matches(c, QStringLiteral("张 北京")));
        QVERIFY(QuickFind::matches(c, QStringLiteral("  zs   kj 5678 ")));
        QVERIFY(QuickFind::matches(c, QStringLiteral("张　北京"))); // ideographic blank
        QVERIFY(!QuickFind::matches(c, QStringLiteral("张 上海")));
        QVERIFY(QuickFind::matches(c, QStringLiteral("   "))); // no word: every card
    }
};

QTEST_GUILESS_MAIN(TestQuickFindMatch)
#include "tst_quickfind_match.moc"

// Exporting cards: every format gives every card back exactly, the files keep the formats'
// rules, and an independent vCard reader sees the same values.
#include "exchangesupport.h"

#include "data/dberror.h"
#include "data/fieldmap.h"
#include "exchange/cardwriter.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace ExchangeSupport;
using Exchange::Format;

Q_DECLARE_METATYPE(Exchange::Format)

namespace {

// A long note: Chinese text, line breaks, every character the formats escape.
QString longNote() {
    QString note;
    const QString line = QStringLiteral("第%1行：名片、逗号,分号;反斜杠\\引号\"等号= 😀\n");
    for (int i = 0; note.size() < 100000; ++i)
        note += line.arg(i);
    note.truncate(100000);
    return note;
}

// Cards whose values are hard to carry: every one must come back exactly.
QList<Card> nastyCards() {
    QList<Card> cards;
    Card full;
    for (int i = 0; i < int(kFieldMap.size()); ++i)
        full.values[i] = QStringLiteral("值%1 value").arg(i);
    cards << full;
    cards << card({{"姓名", "张三"}});
    cards << card({{"姓名", "   "},
                   {"工作邮编", "      "},
                   {"家庭邮编", "      "},
                   {"单位", " "},
                   {"备注", "\t"}});
    cards << card({{"姓名", " 前后有空格 "},
                   {"部门", "只有部门"},
                   {"职务", "a;b,c\\d\"e'f:g=h"},
                   {"工作地址", "地址;分号,逗号\\反斜杠"},
                   {"家庭地址", "x"},
                   {"E-mail", "=0D=0A\\n"},
                   {"主页", "http://example.com/a,b;c?d=e"}});
    cards << card({{"姓名", "换行"},
                   {"备注", "LF\nCRLF\r\nCR\rend\n"},
                   {"工作地址", "\r\n开头换行"},
                   {"专业", "\r\r\n\n"},
                   {"毕业院校", "\r\nA\r\nB\r\n"}});
    cards << card({{"姓名", QStringLiteral("\uFEFF以标记开头")},
                   {"单位", QStringLiteral("\uFEFF")},
                   {"备注", QStringLiteral("😀𠀀\u2028\u00A0end")},
                   {"生日", "1980年5月"},
                   {"毕业日期", "19800517"}});
    cards << card({{"姓名", "BEGIN:VCARD"},
                   {"备注", "x\nEND:VCARD\nBEGIN:VCARD\nFN:y\nEND:VCARD"},
                   {"手机", "tel:139;ext=1"},
                   {"工作电话", "tel:010;ext=5"},
                   {"OICQ", "qq:123"},
                   {"MSN", "msnim:chat?contact=a"}});
    cards << card({{"姓名", "长备注"}, {"备注", longNote()}});
    // 75 octets exactly and around, ASCII and Chinese, for folding and soft line breaks.
    for (int n : {60, 61, 62, 63, 64, 65, 73, 74, 75, 76})
        cards << card({{"姓名", QString(n, QLatin1Char('a'))},
                       {"单位", QString(n / 3, QChar(0x4E2D)) + QString(n % 3, QLatin1Char('b'))},
                       {"备注", QString(n, QLatin1Char(' '))}});
    return cards;
}

QString python() {
    for (const QString& candidate : {QStandardPaths::findExecutable(QStringLiteral("python3")),
                                     QStringLiteral("/usr/bin/python3")}) {
        if (candidate.isEmpty())
            continue;
        QProcess p;
        p.start(candidate, {QStringLiteral("-c"), QStringLiteral("import vobject")});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return candidate;
    }
    return QString();
}

} // namespace

class TestExchangeExport : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data() {
        QTest::addColumn<Format>("format");
        for (Format f : Exchange::allFormats()) {
            if (f != Format::Xlsx) // a workbook is checked on its own
                QTest::newRow(qPrintable(Exchange::formatName(f))) << f;
        }
    }

    void roundTrip() {
        QFETCH(Format, format);
        const QList<Card> cards = nastyCards();
        const Read read = readBytes(writeBytes(cards, format));
        const QString diff = differences(read.cards, cards);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
        QVERIFY(read.skipped.isEmpty());
    }

    // A card without a name comes back named by its phone, and the notice says so; one with
    // nothing to name it by is reported, not lost in silence.
    void namelessCard_data() { roundTrip_data(); }
    void namelessCard() {
        QFETCH(Format, format);
        const Read read = readBytes(writeBytes(
            {card({{"手机", "139"}}), card({{"姓名", "A"}}), card({{"职务", "经理"}})}, format));
        QCOMPARE(read.cards,
                 (QList<Card>{card({{"姓名", "139"}, {"手机", "139"}}), card({{"姓名", "A"}})}));
        QCOMPARE(read.skipped.size(), 2);
        const bool csv = format == Format::CsvUtf8 || format == Format::CsvGb18030;
        QCOMPARE(read.skipped[0].line, qint64(csv ? 2 : 1));
        QVERIFY(read.skipped[0].imported);
        QVERIFY(read.skipped[0].reason.contains(QStringLiteral("已用手机“139”作姓名导入")));
        QVERIFY(!read.skipped[1].imported);
    }

    // Lines end in CR LF, none is longer than 75 octets, none ends inside a UTF-8 sequence.
    void vcardLines_data() {
        QTest::addColumn<Format>("format");
        QTest::newRow("vcard3") << Format::VCard30;
        QTest::newRow("vcard21") << Format::VCard21;
        QTest::newRow("vcard4") << Format::VCard40;
    }

    void vcardLines() {
        QFETCH(Format, format);
        const QByteArray bytes = writeBytes(nastyCards(), format);
        QVERIFY(bytes.endsWith("END:VCARD\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        QVERIFY(lines.takeLast().isEmpty());
        for (const QByteArray& line : lines) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            const QByteArray text = line.chopped(1);
            QVERIFY2(!text.contains('\r'), text.constData());
            QVERIFY2(text.size() <= 75, text.constData());
            QVERIFY2(QString::fromUtf8(text).toUtf8() == text, text.constData());
            if (format == Format::VCard21) {
                QVERIFY2(!text.startsWith(' ') && !text.startsWith('\t'), text.constData());
            }
        }
        const QByteArray version = format == Format::VCard21   ? "VERSION:2.1\r\n"
                                   : format == Format::VCard30 ? "VERSION:3.0\r\n"
                                                               : "VERSION:4.0\r\n";
        QCOMPARE(bytes.count(version), qsizetype(nastyCards().size()));
        const bool qp = bytes.contains("ENCODING=QUOTED-PRINTABLE");
        QCOMPARE(qp, format == Format::VCard21);
        if (format == Format::VCard21) {
            QVERIFY(bytes.contains(
                "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0=E4=B8=89\r\n"));
            QVERIFY(bytes.contains("TEL;WORK;VOICE:"));
        }
    }

    // A URI is written as it stands, a plain ';' in a value of one part only where the
    // version allows it, and everything comes back exactly.
    void uriAndSingleValues() {
        const Card c = card({{"姓名", "甲"},
                             {"主页", "https://m.example/@39.9042,116.4074;z=1"},
                             {"备注", "a;b,c"}});
        const QByteArray v3 = writeBytes({c}, Format::VCard30);
        QVERIFY2(v3.contains("\r\nURL:https://m.example/@39.9042,116.4074;z=1\r\n"),
                 v3.constData());
        QVERIFY(v3.contains("\r\nNOTE:a\\;b\\,c\r\n")); // RFC 2426's text wants both escaped
        const QByteArray v4 = writeBytes({c}, Format::VCard40);
        QVERIFY(v4.contains("\r\nURL:https://m.example/@39.9042,116.4074;z=1\r\n"));
        QVERIFY(v4.contains("\r\nNOTE:a;b\\,c\r\n"));
        const QByteArray v21 = writeBytes({c}, Format::VCard21);
        QVERIFY(v21.contains("\r\nNOTE:a;b,c\r\n"));
        for (Format f : {Format::VCard30, Format::VCard40, Format::VCard21})
            QCOMPARE(readBytes(writeBytes({c}, f)).cards, QList<Card>{c});
        // A backslash is no URI's: such a value is escaped so that it comes back whole.
        const Card odd = card({{"姓名", "乙"}, {"主页", "file:\\\\server\\a,b"}});
        QCOMPARE(readBytes(writeBytes({odd}, Format::VCard30)).cards, QList<Card>{odd});
    }

    // 2.1's quoted-printable lines break between characters, never inside one.
    void quotedPrintableKeepsCharacters() {
        const QByteArray v21 =
            writeBytes({card({{"姓名", "甲"}, {"备注", "😀" + QString(60, QChar(0x4E2D)) + "x"}})},
                       Format::VCard21);
        for (QByteArray line : v21.split('\n')) {
            line = line.trimmed();
            if (line.endsWith('='))
                line.chop(1);
            const int colon = line.indexOf(':');
            QByteArray bytes;
            for (int i = line.startsWith("NOTE") ? colon + 1 : 0; i < line.size(); ++i) {
                if (line[i] == '=' && i + 2 < line.size() + 0) {
                    bytes += char(line.mid(i + 1, 2).toInt(nullptr, 16));
                    i += 2;
                } else {
                    bytes += line[i];
                }
            }
            QVERIFY2(QString::fromUtf8(bytes).toUtf8() == bytes, line.constData());
        }
    }

    // Exactly our columns, each where other programs look for it.
    void vcardProperties() {
        const Card c = card({{"姓名", "欧阳修"}, {"单位", "某公司"},    {"部门", "某部"},
                             {"生日", "1980年"}, {"工作电话", "1"},     {"分机", "2"},
                             {"手机", "3"},      {"家庭电话", "4"},     {"传真", "5"},
                             {"OICQ", "6"},      {"MSN", "7"},          {"E-mail", "8"},
                             {"主页", "9"},      {"家庭地址", "某路"},  {"家庭邮编", "100000"},
                             {"专业", "a"},      {"学历", "b"},         {"毕业院校", "c"},
                             {"毕业日期", "d"},  {"备注", "x\r\ny\r\n"}});
        const QByteArray v3 = writeBytes({c}, Format::VCard30);
        QCOMPARE(v3, QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Quembe//Cards//ZH\r\n"
                                "N:欧阳;修;;;\r\nFN:欧阳修\r\nORG:某公司;某部\r\nBDAY:1980年\r\n"
                                "X-QUEMBE-MAJOR:a\r\nX-QUEMBE-EDUCATION:b\r\nX-QUEMBE-SCHOOL:c\r\n"
                                "X-QUEMBE-GRADUATION:d\r\nTEL;TYPE=WORK,VOICE:1\r\n"
                                "X-QUEMBE-EXTENSION:2\r\nTEL;TYPE=CELL:3\r\n"
                                "TEL;TYPE=HOME,VOICE:4\r\nTEL;TYPE=WORK,FAX:5\r\nX-QQ:6\r\n"
                                "X-MSN:7\r\nEMAIL;TYPE=INTERNET:8\r\nURL:9\r\n"
                                "ADR;TYPE=HOME:;;某路;;;100000;\r\nNOTE;X-QUEMBE-EOL=W:x\\ny\\n\r\n"
                                "END:VCARD\r\n"));
        const QByteArray v4 = writeBytes({c}, Format::VCard40);
        QVERIFY(v4.contains("\r\nBDAY;VALUE=text:1980年\r\n"));
        QVERIFY(v4.contains("\r\nTEL;TYPE=work,voice:1\r\n"));
        QVERIFY(writeBytes({card({{"姓名", "A"}, {"生日", "19800517"}})}, Format::VCard40)
                    .contains("\r\nBDAY:19800517\r\n"));
        const QByteArray v21 = writeBytes({c}, Format::VCard21);
        QVERIFY(v21.contains("\r\nNOTE;X-QUEMBE-EOL=W;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                             "x=0D=0Ay=0D=0A\r\n"));
    }

    void csvBytes() {
        const Card c = card({{"姓名", "张三"},
                             {"单位", "a,b"},
                             {"备注", "x\"y\r\nz"},
                             {"工作邮编", "      "},
                             {"手机", "😀"}});
        const QByteArray header = "姓名,单位,部门,职务,职称,生日,专业,学历,毕业院校,毕业日期,"
                                  "工作电话,分机,手机,家庭电话,传真,OICQ,MSN,E-mail,主页,工作地址,"
                                  "工作邮编,家庭地址,家庭邮编,备注\r\n";
        QCOMPARE(writeBytes({c}, Format::CsvUtf8),
                 "\xEF\xBB\xBF" + header +
                     "张三,\"a,b\",,,,,,,,,,,😀,,,,,,,,\"      \",,,\"x\"\"y\r\nz\"\r\n");
        const QByteArray gb = writeBytes({c}, Format::CsvGb18030);
        QVERIFY(gb.startsWith("\xD0\xD5\xC3\xFB,")); // 姓名 in GB18030, no byte order mark
        QVERIFY(gb.contains(",\x94\x39\xFC\x36,"));  // the emoji in four bytes
        QVERIFY(!gb.contains("\xEF\xBB\xBF"));
        QCOMPARE(writeBytes({}, Format::CsvUtf8), "\xEF\xBB\xBF" + header);
        QCOMPARE(writeBytes({}, Format::VCard30), QByteArray());
    }

    // python3-vobject reads our vCard 3.0 with the same values.
    void independentReader() {
        const QString interpreter = python();
        if (interpreter.isEmpty())
            QSKIP("python3 with vobject (Debian package python3-vobject) is not installed");
        QList<Card> cards;
        for (const Card& c : nastyCards()) {
            bool plain = true;
            for (const QString& v : c.values)
                plain = plain && !v.contains(QLatin1Char('\r'));
            // vCard has only one kind of line break. A URI is written as it stands, and this
            // reader takes a comma in one for a list separator, which RFC 2426 does not.
            if (plain && !c.values[Card::indexOf(QStringLiteral("主页"))].contains(','))
                cards << c;
        }
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("cards.vcf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(writeBytes(cards, Format::VCard30));
        file.close();
        QProcess p;
        p.start(interpreter, {QFINDTESTDATA("vcard_values.py"), file.fileName()});
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        const QJsonArray read = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
        QCOMPARE(read.size(), cards.size());

        QList<Card> seen;
        for (const auto& cardValue : read) {
            Card c;
            auto set = [&c](const char* column, const QString& v) {
                c.values[Card::indexOf(QString::fromUtf8(column))] = v;
            };
            for (const auto& propValue : cardValue.toArray()) {
                const QJsonArray prop = propValue.toArray();
                const QString name = prop[0].toString();
                QStringList types;
                for (const auto& t : prop[1].toArray())
                    types << t.toString();
                QStringList parts;
                for (const auto& v : prop[2].toArray())
                    parts << v.toString();
                const QString value = parts.value(0);
                static const QHash<QString, const char*> plain = {
                    {"FN", "姓名"},
                    {"TITLE", "职务"},
                    {"ROLE", "职称"},
                    {"BDAY", "生日"},
                    {"X-QUEMBE-MAJOR", "专业"},
                    {"X-QUEMBE-EDUCATION", "学历"},
                    {"X-QUEMBE-SCHOOL", "毕业院校"},
                    {"X-QUEMBE-GRADUATION", "毕业日期"},
                    {"X-QUEMBE-EXTENSION", "分机"},
                    {"X-QQ", "OICQ"},
                    {"X-MSN", "MSN"},
                    {"EMAIL", "E-mail"},
                    {"URL", "主页"},
                    {"NOTE", "备注"},
                };
                if (plain.contains(name)) {
                    set(plain.value(name), value);
                } else if (name == QLatin1String("ORG")) {
                    set("单位", parts.value(0));
                    set("部门", parts.value(1));
                } else if (name == QLatin1String("TEL")) {
                    set(types.contains(QLatin1String("FAX"))    ? "传真"
                        : types.contains(QLatin1String("CELL")) ? "手机"
                        : types.contains(QLatin1String("HOME")) ? "家庭电话"
                                                                : "工作电话",
                        value);
                } else if (name == QLatin1String("ADR")) {
                    const bool home = types.contains(QLatin1String("HOME"));
                    set(home ? "家庭地址" : "工作地址", parts.value(2));
                    set(home ? "家庭邮编" : "工作邮编", parts.value(5));
                } else {
                    QVERIFY2(name == QLatin1String("N") || name == QLatin1String("VERSION") ||
                                 name == QLatin1String("PRODID"),
                             qPrintable(name));
                }
            }
            seen << c;
        }
        const QString diff = differences(seen, cards);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    void formats() {
        QStringList names;
        for (Format f : Exchange::allFormats()) {
            names << Exchange::formatName(f);
            Format back;
            QVERIFY(Exchange::formatFromName(Exchange::formatName(f), &back));
            QCOMPARE(back, f);
            QVERIFY(Exchange::formatFromFilter(Exchange::formatFilter(f), &back));
            QCOMPARE(back, f);
        }
        QCOMPARE(names, (QStringList{"vcard3", "vcard21", "vcard4", "csv", "csv-gb18030", "xlsx"}));
        Format f;
        QVERIFY(!Exchange::formatFromName(QStringLiteral("vcf"), &f));
        QCOMPARE(Exchange::formatFilter(Format::VCard21),
                 QStringLiteral("vCard 2.1, 旧手机/Outlook (*.vcf)"));
        QCOMPARE(Exchange::formatSuffix(Format::CsvGb18030), QStringLiteral("csv"));
    }

    void writeFailure() {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("x.vcf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly)); // writes fail
        Exchange::CardWriter writer(&file, Format::VCard30);
        writer.write(card({{"姓名", "A"}}));
        try {
            writer.finish();
            QFAIL("no error");
        } catch (const EDatabaseError& e) {
            QVERIFY2(e.message().startsWith(QStringLiteral("写入文件失败：")),
                     qPrintable(e.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TestExchangeExport)
#include "tst_exchange_export.moc"

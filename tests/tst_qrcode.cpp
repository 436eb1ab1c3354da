// Cards as QR codes both ways: every code we draw read back by zxing and by zbarimg with
// the very same fields, cards too long for one code, codes from other programs, and
// quembe-cards qr and recognize.
#include "testsupport.h"

#include "cardimages.h"
#include "qrsupport.h"

#include "data/dberror.h"
#include "data/fieldmap.h"
#include "recognize/qrcode.h"

#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace TestSupport;
using namespace QrSupport;
using namespace Recognize;
using QrCode::Format;

namespace {

// The card's picture with the code printed in its lower right corner.
QImage withCode(const QImage& picture, const QImage& code) {
    QImage out = picture.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&out);
    const QRect place(out.width() - code.width() - 20, out.height() - code.height() - 20,
                      code.width(), code.height());
    painter.drawImage(place, code);
    return out;
}

int runTool(const QStringList& args, QByteArray* out = nullptr, QString* err = nullptr) {
    QProcess p;
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    if (err)
        *err = QString::fromUtf8(p.readAllStandardError());
    return p.exitCode();
}

QString sqlText(const QString& s) {
    return QLatin1Char('\'') + QString(s).replace('\'', "''") + QLatin1Char('\'');
}

// Stores the card outside the program; returns its ID.
QString store(const QString& database, const Card& c) {
    QStringList columns, values;
    for (size_t i = 0; i < c.values.size(); ++i) {
        if (!c.values[i].isEmpty()) {
            columns << QLatin1Char('"') + QString::fromUtf8(kFieldMap[i].column) + QLatin1Char('"');
            values << sqlText(c.values[i]);
        }
    }
    exec(
        database,
        QStringLiteral("insert into zl (%1) values (%2)").arg(columns.join(','), values.join(',')));
    return query(database, "select max(ID) from zl").value(0);
}

} // namespace

class TestQrCode : public QObject {
    Q_OBJECT

private slots:
    void drawnCodesReadBackExactly() {
        const QList<Card> cards = {
            hardCard(),
            card({"姓名", "John Smith", "E-mail", "john@example.com", "手机", "13900001111"}),
            card({"姓名", "张三", "工作地址", "\n前后有空行\n\n", "单位", " 前后空格 "}),
        };
        for (Format format : {Format::VCard, Format::MeCard}) {
            for (const Card& c : cards) {
                const QrCode::Code code = QrCode::make(c, format);
                const QList<int> columns = expectedColumns(c, format);
                for (const QImage& picture : {QrCode::image(code, 4), paintedSvg(QrCode::svg(code)),
                                              QImage::fromData(QrCode::png(code, 3))}) {
                    const std::optional<QrCode::Found> found = QrCode::find(picture);
                    QVERIFY2(found.has_value(), code.text.constData());
                    QCOMPARE(found->text, code.text);
                    compareFields(*found, c, columns);
                }
                // A format without a place for a filled column says so.
                QStringList notCarried;
                for (int i : QrText::notCarried(format)) {
                    if (!c.values[size_t(i)].isEmpty())
                        notCarried << QString::fromUtf8(kFieldMap[size_t(i)].column);
                }
                QCOMPARE(code.leftOut, notCarried);
            }
        }
        // Turned and shrunk, as on a photo of a printed card.
        const QrCode::Code code = QrCode::make(hardCard());
        QTransform turn;
        turn.rotate(7);
        const QImage photo = QrCode::image(code, 5).transformed(turn, Qt::SmoothTransformation);
        const std::optional<QrCode::Found> found = QrCode::find(photo);
        QVERIFY(found.has_value());
        compareFields(*found, hardCard(), expectedColumns(hardCard(), Format::VCard));
        QVERIFY(!QrCode::find(CardImages::makeSet(1, 0).first().clean).has_value());

        // Scanners show N, which we do not read back: no name cut in the middle.
        QVERIFY(QrText::encode(card({"姓名", "Madonna"}), Format::VCard).contains("\nN:Madonna;;"));
        QVERIFY(QrText::encode(card({"姓名", "😀张三"}), Format::VCard)
                    .contains(QStringLiteral("\nN:😀;张三;").toUtf8()));
    }

    void tooLongForOneCode() {
        // Left out in order until it fits, and said; the rest still exact.
        Card c = hardCard();
        c.setValue(col("工作地址"), QString(1200, QChar(0x8DEF)));
        QrCode::Code code = QrCode::make(c);
        QCOMPARE(code.leftOut, QStringList{col("工作地址")});
        std::optional<QrCode::Found> found = QrCode::find(QrCode::image(code, 2));
        QVERIFY(found.has_value());
        QList<int> columns = expectedColumns(c, Format::VCard);
        columns.removeOne(Card::indexOf(col("工作地址")));
        compareFields(*found, c, columns);

        c.setValue(col("主页"), "http://example.com/" + QString(2300, 'a'));
        c.setValue(col("职务"), QString(700, QChar(0x957F)));
        code = QrCode::make(c);
        QCOMPARE(code.leftOut, (QStringList{col("职务"), col("主页"), col("工作地址")}));
        found = QrCode::find(QrCode::image(code, 2));
        QVERIFY(found.has_value());
        QCOMPARE(found->card.value(col("姓名")), c.value(col("姓名")));
        QCOMPARE(found->card.value(col("工作邮编")), c.value(col("工作邮编")));

        // Not even the name fits: said in Chinese, nothing drawn.
        try {
            QrCode::make(card({"姓名", QString(3000, QChar(0x5F20))}));
            QFAIL("no error");
        } catch (const EDatabaseError& e) {
            QVERIFY2(opensInChinese(e.message()), qPrintable(e.message()));
        }
    }

    void codesFromOtherProgramsAreRead() {
        Card c;
        QList<int> columns;
        // vCard 2.1 with quoted-printable, a group, types without TYPE=, N without FN.
        QVERIFY(QrText::decode("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                               "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=9D=8E;=E5=9B=9B\r\n"
                               "item1.TEL;CELL:13800138000\r\nTEL;WORK;FAX:010-1\r\n"
                               "ADR;HOME:;;Road 1;City;;100000;\r\nEND:VCARD\r\n",
                               &c, &columns));
        QCOMPARE(c.value(col("姓名")), col("李四"));
        QCOMPARE(c.value(col("手机")), QStringLiteral("13800138000"));
        QCOMPARE(c.value(col("传真")), QStringLiteral("010-1"));
        QCOMPARE(c.value(col("家庭地址")), QStringLiteral("Road 1, City"));
        QCOMPARE(c.value(col("家庭邮编")), QStringLiteral("100000"));
        // vCard 4.0, lower-case types, two mobiles, a folded line.
        QVERIFY(QrText::decode("BEGIN:VCARD\nVERSION:4.0\nFN:Ann\n  Lee\nTEL;type=cell:1\n"
                               "TEL;type=cell:2\nEND:VCARD",
                               &c, &columns));
        QCOMPARE(c.value(col("姓名")), QStringLiteral("Ann Lee"));
        QCOMPARE(c.value(col("手机")), QStringLiteral("1, 2"));
        // MECARD's own name and address parts; a landline is no mobile.
        QVERIFY(QrText::decode("MECARD:N:王,小明;TEL:010-62531234;TEL:+8613800138000;"
                               "ADR:,,1 号,北京,,100080,中国;;",
                               &c, &columns));
        QCOMPARE(c.value(col("姓名")), col("王小明"));
        QCOMPARE(c.value(col("工作电话")), QStringLiteral("010-62531234"));
        QCOMPARE(c.value(col("手机")), QStringLiteral("+8613800138000"));
        QCOMPARE(c.value(col("工作地址")), col("1 号, 北京, 中国"));
        QCOMPARE(c.value(col("工作邮编")), QStringLiteral("100080"));
        // Text that is no card.
        QVERIFY(!QrText::decode("https://example.com", &c, &columns));
        QVERIFY(columns.isEmpty());
    }

    void toolWritesPngAndSvg() {
        ProgramFolder folder;
        const QString id = store(folder.database(), hardCard());
        const QString db = folder.database();
        const QString png = folder.path() + "card.png";
        QString err;
        QCOMPARE(runTool({"--database", db, "qr", id, png}, nullptr, &err), 0);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        // Another reader than ours reads the very text.
        const QString zbarimg = QStandardPaths::findExecutable("zbarimg");
        if (zbarimg.isEmpty()) {
            qWarning("zbarimg is missing (zbar-tools): the PNG is checked by zxing only");
        } else {
            QProcess zbar;
            zbar.start(zbarimg, {"--raw", "-q", "-Sbinary", png});
            QVERIFY(zbar.waitForFinished(60000));
            // Binary output adds nothing, not even a line break.
            QCOMPARE(zbar.readAllStandardOutput(), QrCode::make(hardCard()).text);
        }
        const std::optional<QrCode::Found> found = QrCode::find(QImage(png));
        QVERIFY(found.has_value());
        compareFields(*found, hardCard(), expectedColumns(hardCard(), Format::VCard));

        const QString svg = folder.path() + "card.svg";
        QCOMPARE(runTool({"--database", db, "qr", "--mecard", id, svg}, nullptr, &err), 0);
        QVERIFY2(err.contains(col("部门")), qPrintable(err)); // MECARD has no place for it
        QFile file(svg);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QImage painted = paintedSvg(file.readAll());
        QVERIFY(!painted.isNull());
        QCOMPARE(QrCode::find(painted)->text, QrCode::make(hardCard(), Format::MeCard).text);

        // A card that is not there, a wrong ID or file type: said, no file.
        QCOMPARE(runTool({"--database", db, "qr", "999", folder.path() + "no.png"}, nullptr, &err),
                 1);
        QVERIFY2(err.contains(QStringLiteral("没有 ID 为 999 的名片")), qPrintable(err));
        QCOMPARE(runTool({"--database", db, "qr", "x", png}), 2);
        QCOMPARE(runTool({"--database", db, "qr", id, folder.path() + "card.gif"}), 2);
        QVERIFY(!QFile::exists(folder.path() + "no.png"));
        QVERIFY(!QFile::exists(folder.path() + "card.gif"));
    }

    void recognizeTakesTheCodesFields() {
        // The printed card says one thing, its code another: the code wins, as encoded.
        const CardImages::Sample sample = CardImages::makeSet(1, 0).first();
        Card inCode = hardCard();
        inCode.setValue(col("工作邮编"), QString()); // left to the reading
        const QImage code = QrCode::image(QrCode::make(inCode), 3);
        QTemporaryDir dir;
        const QString picture = dir.filePath("card.png");
        QVERIFY(withCode(sample.clean, code).save(picture));
        QByteArray out;
        QString err;
        QCOMPARE(runTool({"recognize", picture}, &out, &err), 0);
        const QStringList lines = QString::fromUtf8(out).split('\n');
        for (int i : expectedColumns(inCode, Format::VCard)) {
            const QString column = QString::fromUtf8(kFieldMap[size_t(i)].column);
            for (const QString& line : inCode.values[size_t(i)].split('\n'))
                QVERIFY2(lines.contains(column + ": " + line), qPrintable(column + ": " + line));
        }
        QVERIFY2(lines.contains(col("工作邮编: ") + sample.truth.value(col("工作邮编"))),
                 out.constData());
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^手机: "))).size(), 1);
    }
};

QTEST_MAIN(TestQrCode)
#include "tst_qrcode.moc"

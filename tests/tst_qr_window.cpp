// A card as a QR code through the real window: the popup items of the grid and the detail
// pane, the code shown, copied and saved read back exactly, and what a code leaves out.
#include "testsupport.h"

#include "qrsupport.h"

#include "data/adoquery.h"
#include "data/fieldmap.h"
#include "dialogs/qrdialog.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <optional>

using namespace TestSupport;
using namespace QrSupport;
using Recognize::QrCode::Format;
namespace QrCode = Recognize::QrCode;

namespace {

// The card stored through the list, every column of it.
void addStored(const Card& c) {
    QStringList pairs;
    for (size_t i = 0; i < c.values.size(); ++i) {
        if (!c.values[i].isEmpty())
            pairs << QString::fromUtf8(kFieldMap[i].column) << c.values[i];
    }
    addCard(pairs);
}

QrDialog* openFrom(Program& program, const char* action) {
    const int shown = program.modal.shown.size();
    FrmMain->findChild<QAction*>(action)->trigger();
    if (program.modal.shown.size() == shown)
        return nullptr;
    return qobject_cast<QrDialog*>(program.modal.shown.last());
}

// What the dialog shows, read from the screen's picture as a phone would.
std::optional<QrCode::Found> shownCode(QrDialog* dialog) {
    return QrCode::find(dialog->findChild<QLabel*>("QrPicture")->pixmap().toImage());
}

QByteArray zbarText(const QString& png) {
    QProcess zbar;
    zbar.start(QStandardPaths::findExecutable("zbarimg"), {"--raw", "-q", "-Sbinary", png});
    zbar.waitForFinished(60000);
    return zbar.readAllStandardOutput();
}

} // namespace

class TestQrWindow : public WindowTest {
    Q_OBJECT

public:
    TestQrWindow()
        : WindowTest(true) {}

private slots:
    void shownCodeHoldsTheCardExactly() {
        addStored(card({"姓名", "张三"}));
        addStored(hardCard());
        clickCell(1, 1);
        // Appended after the popup's own items.
        QVERIFY(FrmMain->PopupMenu1->actions().indexOf(FrmMain->findChild<QAction*>(
                    "QrGridAction")) > FrmMain->PopupMenu1->actions().indexOf(FrmMain->N19));

        QrDialog* dialog = openFrom(program(), "QrGridAction");
        QVERIFY(dialog);
        std::optional<QrCode::Found> found = shownCode(dialog);
        QVERIFY(found.has_value());
        QCOMPARE(found->text, QrCode::make(hardCard()).text);
        compareFields(*found, hardCard(), expectedColumns(hardCard(), Format::VCard));
        QVERIFY(dialog->leftOutText().isEmpty());

        // MECARD for older scanners: exact too, and it says what it has no place for.
        auto* formats = dialog->findChild<QComboBox*>("QrFormat");
        emit formats->activated(formats->findData(int(Format::MeCard)));
        found = shownCode(dialog);
        QVERIFY(found.has_value());
        compareFields(*found, hardCard(), expectedColumns(hardCard(), Format::MeCard));
        for (const char* column : {"部门", "传真", "工作邮编"})
            QVERIFY2(dialog->leftOutText().contains(col(column)),
                     qPrintable(dialog->leftOutText()));

        // The copied picture is the code shown.
        dialog->findChild<QPushButton*>("QrCopy")->click();
        found = QrCode::find(QGuiApplication::clipboard()->image());
        QVERIFY(found.has_value());
        QCOMPARE(found->text, QrCode::make(hardCard(), Format::MeCard).text);
        QVERIFY(program().boxes.boxes().isEmpty());
    }

    void savedPngAndSvgReadBack() {
        addStored(hardCard());
        clickCell(0, 1);
        QrDialog* dialog = openFrom(program(), "QrGridAction");
        QVERIFY(dialog);
        const QByteArray text = QrCode::make(hardCard()).text;
        const QString folder = program().folder.path();
        Platform::FileDialogRecorder files;
        files.setNextAnswer(folder + "card.png");
        files.setNextAnswer(folder + "card.svg");
        files.setNextAnswer(folder + "other", QStringLiteral("SVG 图片 (*.svg)"));
        auto* save = dialog->findChild<QPushButton*>("QrSave");
        save->click();
        save->click();
        save->click();
        QVERIFY2(program().boxes.boxes().isEmpty(), qPrintable(program().boxes.texts().join('\n')));

        // Another reader than ours reads the PNG's very bytes.
        QCOMPARE(zbarText(folder + "card.png"), text);
        std::optional<QrCode::Found> found = QrCode::find(QImage(folder + "card.png"));
        QVERIFY(found.has_value());
        compareFields(*found, hardCard(), expectedColumns(hardCard(), Format::VCard));
        for (const QString& svg : {folder + "card.svg", folder + "other.svg"}) {
            const QImage painted = paintedSvg(readFile(svg));
            QVERIFY2(!painted.isNull(), qPrintable(svg));
            found = QrCode::find(painted);
            QVERIFY(found.has_value());
            QCOMPARE(found->text, text);
        }

        // A folder that is not there: said in Chinese, nothing written.
        files.setNextAnswer(folder + "missing/card.png");
        save->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY2(opensInChinese(program().boxes.texts().first()),
                 qPrintable(program().boxes.texts().first()));
        QVERIFY(!QFile::exists(folder + "missing"));
    }

    void detailPaneShowsTheCardItShows() {
        addStored(card({"姓名", "张三", "手机", "13800000001"}));
        addStored(card({"姓名", "李四", "手机", "13800000002"}));
        // Nothing in the pane yet: said, no dialog.
        QVERIFY(!openFrom(program(), "QrPaneAction"));
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(opensInChinese(program().boxes.texts().first()));
        QVERIFY(FrmMain->ValueListEditor1->actions().contains(
            FrmMain->findChild<QAction*>("QrPaneAction")));

        // The pane shows 张三; the list's cursor moves on to 李四 without filling it.
        clickCell(0, 1);
        FrmMain->ADOQuery1->Next();
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("李四"));
        QrDialog* dialog = openFrom(program(), "QrPaneAction");
        QVERIFY(dialog);
        QCOMPARE(shownCode(dialog)->card.value(col("姓名")), QStringLiteral("张三"));
        dialog = openFrom(program(), "QrGridAction");
        QVERIFY(dialog);
        QCOMPARE(shownCode(dialog)->card.value(col("姓名")), QStringLiteral("李四"));

        // Another program deleted the pane's card meanwhile: said, no dialog.
        exec(program().folder.database(), "delete from zl where 姓名='张三'");
        program().boxes.clear();
        QVERIFY(!openFrom(program(), "QrPaneAction"));
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(opensInChinese(program().boxes.texts().first()));
    }

    void tooLongCardSaysWhatIsLeftOut() {
        Card c = hardCard();
        c.setValue(col("工作地址"), QString(1200, QChar(0x8DEF)));
        addStored(c);
        addStored(card({"姓名", QString(3000, QChar(0x5F20))}));
        clickCell(0, 1);
        QrDialog* dialog = openFrom(program(), "QrGridAction");
        QVERIFY(dialog);
        QVERIFY2(dialog->leftOutText().contains(col("工作地址")),
                 qPrintable(dialog->leftOutText()));
        QVERIFY(dialog->findChild<QLabel*>("QrLeftOut")->isVisible());
        std::optional<QrCode::Found> found = shownCode(dialog);
        QVERIFY(found.has_value());
        QList<int> columns = expectedColumns(c, Format::VCard);
        columns.removeOne(Card::indexOf(col("工作地址")));
        compareFields(*found, c, columns);

        // Not even the name fits: said in Chinese, no dialog.
        clickCell(1, 1);
        QVERIFY(!openFrom(program(), "QrGridAction"));
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY2(opensInChinese(program().boxes.texts().first()),
                 qPrintable(program().boxes.texts().first()));
    }
};

QTEST_MAIN(TestQrWindow)
#include "tst_qr_window.moc"

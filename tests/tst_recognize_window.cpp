// A card from a picture through the window: the menu item, the clipboard, cancelling, and
// files that are no pictures.
#include "testsupport.h"

#include "cardimages.h"

#include "data/adoquery.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"
#include "platform/progress.h"
#include "recognize/qrcode.h"

#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QTest>

using namespace TestSupport;

namespace {

int cardCount(const QString& database) {
    return query(database, "select count(*) from zl").value(0).toInt();
}

} // namespace

class TestRecognizeWindow : public WindowTest {
    Q_OBJECT

private:
    CardImages::Sample m_sample;

    // The add editor is open on page 1 with the card's numbers filled in; nothing stored.
    void expectFilledEditor(const Program& program) {
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("添加"));
        QVERIFY(FrmMain->PageControlZL->isVisible());
        QCOMPARE(FrmMain->PageControlZL->currentWidget(), FrmMain->TabSheet1);
        QVERIFY(FrmMain->ButtonTJQD->isVisibleTo(FrmMain->TabSheet3));
        QCOMPARE(FrmMain->inputText("Edit19"), m_sample.truth.value(col("手机")));
        QCOMPARE(FrmMain->inputText("Edit13"), m_sample.truth.value(col("E-mail")));
        // Filled in by the program: each input shows the start of its text.
        for (const char* control : {"Edit8", "Edit13", "Edit19"})
            QCOMPARE(FrmMain->findChild<QLineEdit*>(control)->cursorPosition(), 0);
        QVERIFY(!FrmMain->inputText("Edit1").isEmpty());
        QCOMPARE(cardCount(program.folder.database()), 0);
    }

private slots:
    void initTestCase() { m_sample = CardImages::makeSet(1, 0).first(); }

    void menuItemAndShortcut() {
        const QList<QAction*> items = FrmMain->N1->actions();
        const int at = int(items.indexOf(FrmMain->N23));
        QCOMPARE(items.value(at)->text(), QStringLiteral("识别名片图片...  &O"));
        QCOMPARE(items.value(at - 1), FrmMain->N22);
        QCOMPARE(FrmMain->N24->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+V")));
        QCOMPARE(FrmMain->N24->shortcutContext(), Qt::WindowShortcut);
    }

    void pictureFileFillsTheAddEditor() {
        program().showMain();
        const QString file = program().folder.path() + "card.png";
        QVERIFY(m_sample.clean.save(file));
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        Platform::ProgressRecorder progress;
        FrmMain->N23->trigger();
        QCOMPARE(progress.labels, QStringList{"正在识别名片……"});
        expectFilledEditor(program());
        // Saved only when the user confirms.
        FrmMain->ButtonTJQDClick();
        QCOMPARE(cardCount(program().folder.database()), 1);
        // Its history says where it came from; a card typed in after it is an add again.
        addCard({col("姓名"), "手写"});
        const QStringList recorded =
            query(program().folder.database(), "select description from card_history order by op");
        QCOMPARE(recorded.size(), 2);
        QVERIFY2(recorded.first().startsWith("识别 "), qPrintable(recorded.first()));
        QCOMPARE(recorded.last(), QStringLiteral("添加 手写"));
    }

    void clipboardPictureByShortcut() {
        program().showMain();
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(FrmMain->DBGrid1, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(program().boxes.texts().first().startsWith(QStringLiteral("剪贴板里没有图片")));
        QCOMPARE(FrmMain->modeMarker(), QString());

        QGuiApplication::clipboard()->setImage(m_sample.clean);
        QTest::keyClick(FrmMain->DBGrid1, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        expectFilledEditor(program());
    }

    void aQrCodeOnTheCardIsTakenExactly() {
        // The code's fields as encoded, whatever the print says; the reading fills the rest.
        Card inCode;
        inCode.setValue(col("姓名"), QStringLiteral("欧阳😀娜娜"));
        inCode.setValue(col("单位"), QStringLiteral("甲;乙:丙,丁\\有限公司"));
        inCode.setValue(col("手机"), QStringLiteral("138 0013 8000"));
        QImage picture = m_sample.clean.convertToFormat(QImage::Format_RGB32);
        const QImage code = Recognize::QrCode::image(Recognize::QrCode::make(inCode), 4);
        QPainter(&picture).drawImage(picture.width() - code.width() - 20,
                                     picture.height() - code.height() - 20, code);
        program().showMain();
        const QString file = program().folder.path() + "card.png";
        QVERIFY(picture.save(file));
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        Platform::ProgressRecorder progress;
        FrmMain->N23->trigger();
        QCOMPARE(FrmMain->inputText("Edit1"), inCode.value(col("姓名")));
        QCOMPARE(FrmMain->inputText("Edit2"), inCode.value(col("单位")));
        QCOMPARE(FrmMain->inputText("Edit19"), inCode.value(col("手机")));
        QCOMPARE(FrmMain->inputText("Edit13"), m_sample.truth.value(col("E-mail")));
        FrmMain->ButtonTJQDClick();
        QCOMPARE(query(program().folder.database(), "select 姓名, 单位 from zl"),
                 QStringList{inCode.value(col("姓名")) + "|" + inCode.value(col("单位"))});
    }

    void cancelOrABadFileChangesNothing() {
        program().showMain();
        FrmMain->SpeedButton2Click(); // an editor in another state, to see it kept
        FrmMain->setInputText("Edit1", QStringLiteral("原样"));
        const QString file = program().folder.path() + "card.png";
        QVERIFY(m_sample.clean.save(file));
        {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(file);
            Platform::ProgressRecorder progress;
            progress.cancelAtStep(1);
            FrmMain->N23->trigger();
        }
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(FrmMain->inputText("Edit1"), QStringLiteral("原样"));

        const QString bad = program().folder.path() + "bad.png";
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\x89PNG\r\n\x1a\n not really a picture");
        f.close();
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(bad);
        FrmMain->N23->trigger();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QCOMPARE(program().boxes.boxes().first().flags,
                 unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QVERIFY(opensInChinese(program().boxes.texts().first()));
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(FrmMain->inputText("Edit1"), QStringLiteral("原样"));
        QCOMPARE(cardCount(program().folder.database()), 0);
    }

    // A picture without text, a device picked by name: said, and no editor opens.
    void nothingToReadOpensNoEditor() {
        program().showMain();
        const QString blank = program().folder.path() + "blank.png";
        QImage white(1063, 638, QImage::Format_RGB32);
        white.fill(Qt::white);
        QVERIFY(white.save(blank));
        const struct {
            QString file;
            QString text;
        } cases[] = {
            {blank, QStringLiteral("图片中没有识别出名片文字。")},
            {QStringLiteral("/dev/zero"), QStringLiteral("不是普通文件")},
        };
        for (const auto& c : cases) {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(c.file);
            program().boxes.clear();
            FrmMain->N23->trigger();
            QCOMPARE(program().boxes.boxes().size(), 1);
            QVERIFY2(program().boxes.texts().first().contains(c.text),
                     qPrintable(program().boxes.texts().first()));
            QCOMPARE(FrmMain->modeMarker(), QString());
            QVERIFY(!FrmMain->PageControlZL->isVisible());
        }
        QCOMPARE(cardCount(program().folder.database()), 0);
    }

    // The reading module is loaded at the first card; a missing or broken one is said in
    // words and the window goes on as it was.
    void aMissingOrBrokenModuleIsSaid() {
        program().showMain();
        const QString file = program().folder.path() + "card.png";
        QVERIFY(m_sample.clean.save(file));
        const QString broken = program().folder.path() + "quembe-ocr.so";
        QFile f(broken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("\x7f"
                "ELF but nothing more");
        f.close();
        const struct {
            QString module;
            QString opening;
        } cases[] = {
            {program().folder.path() + "none.so", QStringLiteral("找不到文字识别模块")},
            {broken, QStringLiteral("无法载入文字识别模块")},
        };
        for (const auto& c : cases) {
            qputenv("QUEMBE_OCR_MODULE", c.module.toUtf8());
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(file);
            program().boxes.clear();
            FrmMain->N23->trigger();
            qunsetenv("QUEMBE_OCR_MODULE");
            QCOMPARE(program().boxes.boxes().size(), 1);
            QVERIFY2(program().boxes.texts().first().startsWith(c.opening),
                     qPrintable(program().boxes.texts().first()));
            QCOMPARE(FrmMain->modeMarker(), QString());
            QCOMPARE(cardCount(program().folder.database()), 0);
        }
        // Once the module is there again, the next picture is read.
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        FrmMain->N23->trigger();
        expectFilledEditor(program());
    }
};

QTEST_MAIN(TestRecognizeWindow)
#include "tst_recognize_window.moc"

// The picture a card was read from, through the window and the tool: kept with the card,
// shown beside the editor and in the detail pane, added to and removed; several pictures
// checked one after another; PHOTO in an export only when asked.
#include "testshards.h"
#include "testsupport.h"

#include "cardimages.h"
#include "hardcards.h"

#include "data/cardpicture.h"
#include "data/sqlite.h"
#include "dialogs/Tjts.h"
#include "dialogs/picturedialog.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"
#include "platform/progress.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

using namespace TestSupport;

namespace {

// Each stored picture as "name|side"; none before the first made the table.
QStringList pictures(const QString& database) {
    if (query(database, "select count(*) from sqlite_master where name='card_picture'") ==
        QStringList{"0"})
        return {};
    return query(database, "select z.姓名, p.side from card_picture p join zl z on z.ID=p.ID "
                           "where p.deleted=0 order by p.ID, p.side");
}

struct Run {
    int code;
    QStringList out;
    QString err;
};

Run tool(const QString& database, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL), QStringList{"--database", database} + args);
    p.waitForFinished(120000);
    return {p.exitCode(),
            QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
            QString::fromUtf8(p.readAllStandardError())};
}

// The front picture kept with the card stored last.
QImage keptFront(const QString& database) {
    const QStringList hex =
        query(database, "select hex(jpeg) from card_picture where side=0 order by ID desc limit 1");
    return hex.size() == 1 ? QImage::fromData(QByteArray::fromHex(hex.first().toLatin1()))
                           : QImage();
}

// The mean lightness of a square a twentieth of the picture's width in each of its corners.
QList<int> cornerLightness(const QImage& image) {
    const int side = std::max(2, image.width() / 20);
    QList<int> out;
    for (const QPoint at :
         {QPoint(0, 0), QPoint(image.width() - side, 0), QPoint(0, image.height() - side),
          QPoint(image.width() - side, image.height() - side)}) {
        int sum = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x)
                sum += image.pixelColor(at + QPoint(x, y)).lightness();
        }
        out << sum / (side * side);
    }
    return out;
}

template <class W> W* child(const char* name) {
    W* w = FrmMain->findChild<W*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no %s", name);
    return w;
}

} // namespace

class TestCardPictureWindow : public WindowTest {
    Q_OBJECT

private:
    QList<CardImages::Sample> m_samples;
    QStringList m_files;

    void saveSamples() {
        m_files.clear();
        for (const CardImages::Sample& s : m_samples) {
            m_files << program().folder.path() + s.id + ".png";
            QVERIFY(s.clean.save(m_files.last()));
        }
        m_files << program().folder.path() + "blank.png";
        QImage white(1063, 638, QImage::Format_RGB32);
        white.fill(Qt::white);
        QVERIFY(white.save(m_files.last()));
    }
    QString name(int sample) const { return m_samples.at(sample).truth.value(col("姓名")); }
    void readPictures(const QStringList& files) {
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(files);
        FrmMain->N23->trigger();
    }

private slots:
    void initTestCase() { m_samples = CardImages::makeSet(3, 0); }

    // Saved with its card; shown beside the editor, then in the detail pane; a back added,
    // then every picture removed.
    void keptShownAddedAndRemoved() {
        program().showMain();
        saveSamples();
        Platform::ProgressRecorder progress;
        readPictures({m_files[0]});
        auto* panel = child<QWidget>("RecognitionPanel");
        QVERIFY(panel->isVisible());
        QVERIFY(!child<QPushButton>("ButtonRecognitionSkip")->isVisible());
        // Beside the editor, over none of its controls.
        auto inWindow = [](QWidget* w) { return QRect(w->mapTo(FrmMain, QPoint()), w->size()); };
        QVERIFY(!inWindow(panel).intersects(inWindow(FrmMain->PageControlZL)));
        QTest::mouseClick(child<QLabel>("RecognisedPicture"), Qt::LeftButton);
        QCOMPARE(program().modal.shown.size(), 1);
        QVERIFY(qobject_cast<PictureDialog*>(program().modal.shown.first()));
        program().modal.shown.first()->close();
        FrmMain->ButtonTJQDClick();
        QVERIFY(!panel->isVisible());
        QCOMPARE(pictures(program().folder.database()), QStringList{name(0) + "|0"});

        FrmMain->SpeedButtonFClick();
        clickCell(0, 1);
        auto* thumbnail = child<QLabel>("PictureThumbnail");
        QVERIFY(thumbnail->isVisible());
        QVERIFY(!thumbnail->pixmap().isNull());
        // At the foot of the pane, below its rows, once the pane is laid out.
        QApplication::processEvents();
        QVERIFY(FrmMain->ValueListEditor1->rect().contains(thumbnail->geometry()));
        QVERIFY(thumbnail->y() > FrmMain->ValueListEditor1->viewport()->geometry().bottom());
        // The rows keep their place above it.
        QCOMPARE(FrmMain->ValueListEditor1->value("姓名"), name(0));
        program().modal.shown.clear();
        QTest::mouseClick(thumbnail, Qt::LeftButton);
        auto* large = child<PictureDialog>("CardPictureDialog");
        QCOMPARE(program().modal.shown, QVector<QWidget*>{large});
        QVERIFY(!large->findChild<QLabel*>("FrontPicture")->pixmap().isNull());
        {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(m_files[1]);
            large->findChild<QPushButton*>("ButtonAddPicture")->click();
        }
        QCOMPARE(pictures(program().folder.database()),
                 (QStringList{name(0) + "|0", name(0) + "|1"}));
        QVERIFY(!large->findChild<QLabel*>("BackPicture")->pixmap().isNull());
        // Asked first; 否 keeps them.
        program().boxes.setNextAnswer(Platform::IDNO);
        large->findChild<QPushButton*>("ButtonRemovePicture")->click();
        QCOMPARE(pictures(program().folder.database()).size(), 2);
        program().boxes.setNextAnswer(Platform::IDYES);
        large->findChild<QPushButton*>("ButtonRemovePicture")->click();
        QCOMPARE(pictures(program().folder.database()), QStringList());
        QVERIFY(!thumbnail->isVisible());
        // The popup item opens the same view for the current card.
        program().modal.shown.clear();
        child<QAction>("PictureAction")->trigger();
        QCOMPARE(program().modal.shown, QVector<QWidget*>{large});
    }

    // A photo keeps the card alone, cut out of the dark desk and seen straight on; a scan
    // is kept whole.
    void photoKeepsTheCardAlone() {
        program().showMain();
        const QImage clean = m_samples[0].clean;
        const QString photo = program().folder.path() + "desk.jpg";
        QVERIFY(CardImages::hardShot(clean, CardImages::Shot::Photo, 7).save(photo));
        Platform::ProgressRecorder progress;
        readPictures({photo});
        FrmMain->ButtonTJQDClick();
        const QString db = program().folder.database();
        QImage kept = keptFront(db);
        QVERIFY(!kept.isNull());
        const double aspect = double(clean.width()) / clean.height();
        QVERIFY2(qAbs(double(kept.width()) / kept.height() - aspect) < 0.06,
                 qPrintable(QStringLiteral("%1 x %2").arg(kept.width()).arg(kept.height())));
        // The desk is darker than 80 everywhere; the paper, in the lamp's shade too, is not.
        for (const int lightness : cornerLightness(kept))
            QVERIFY2(lightness > 110, qPrintable(QString::number(lightness)));

        const QString scan = program().folder.path() + "scan.png";
        QVERIFY(m_samples[1].clean.save(scan));
        readPictures({scan});
        FrmMain->ButtonTJQDClick();
        QCOMPARE(query(db, "select count(*) from card_picture"), QStringList{"2"});
        QCOMPARE(keptFront(db).size(), m_samples[1].clean.size());
    }

    // A recognised card left unsaved leaves its picture behind: a card typed in next, or
    // after 取消, is stored without it.
    void onlyTheRecognisedCardGetsIt() {
        program().showMain();
        saveSamples();
        Platform::ProgressRecorder progress;
        readPictures({m_files[0]});
        FrmMain->SpeedButton1->click();
        FrmMain->setInputText("Edit1", "手写一");
        FrmMain->ButtonTJQDClick();
        readPictures({m_files[0]});
        FrmMain->Button13->click();
        QVERIFY(!child<QWidget>("RecognitionPanel")->isVisible());
        FrmMain->SpeedButton1->click();
        FrmMain->setInputText("Edit1", "手写二");
        FrmMain->ButtonTJQDClick();
        QCOMPARE(query(program().folder.database(), "select count(*) from zl"), QStringList{"2"});
        QCOMPARE(pictures(program().folder.database()), QStringList());
    }

    // Five files: each read card checked in the editor with 确定 or 跳过; a picture without
    // text and a missing file are said and passed over; a summary at the end.
    void severalPicturesOneAfterAnother() {
        program().showMain();
        saveSamples();
        Platform::ProgressRecorder progress;
        readPictures({m_files[0], m_files[3], m_files[1], m_files[2], "/nonexistent/card.png"});
        QVERIFY(!FrmMain->inputText("Edit1").isEmpty());
        QCOMPARE(child<QLabel>("RecognitionCount")->text(), QStringLiteral("第 1 张，共 5 张"));
        QVERIFY(child<QPushButton>("ButtonRecognitionSkip")->isVisible());
        child<QPushButton>("ButtonRecognitionOK")->click();
        // The blank picture is said with its name; the next card opens.
        QCOMPARE(program().boxes.texts().size(), 1);
        QVERIFY(program().boxes.texts().first().contains("blank.png"));
        QVERIFY(program().boxes.texts().first().contains("图片中没有识别出名片文字。"));
        QCOMPARE(child<QLabel>("RecognitionCount")->text(), QStringLiteral("第 3 张，共 5 张"));
        QCOMPARE(FrmMain->modeMarker(), QStringLiteral("添加"));
        child<QPushButton>("ButtonRecognitionSkip")->click();
        QCOMPARE(child<QLabel>("RecognitionCount")->text(), QStringLiteral("第 4 张，共 5 张"));
        FrmMain->ButtonTJQDClick();
        const QStringList said = program().boxes.texts();
        QCOMPARE(said.size(), 3);
        QVERIFY(said[1].startsWith("找不到图片文件"));
        QCOMPARE(said[2], QStringLiteral("5 张名片图片：添加了 2 张，跳过 1 张，2 张没能识别。"));
        QVERIFY(!FrmMain->PageControlZL->isVisible());
        QVERIFY(!program().modal.shown.contains(FrmTJTS));
        QCOMPARE(pictures(program().folder.database()),
                 (QStringList{name(0) + "|0", name(2) + "|0"}));
    }

    // The export asks whether to include the pictures, only for a vCard that can hold them.
    void exportAsksForPictures() {
        program().showMain();
        saveSamples();
        Platform::ProgressRecorder progress;
        readPictures({m_files[0]});
        FrmMain->ButtonTJQDClick();
        const QString vcf = program().folder.path() + "名片.vcf";
        const struct {
            QString file;
            int answer;
            bool photo;
        } cases[] = {{vcf, Platform::IDYES, true},
                     {vcf, Platform::IDNO, false},
                     {program().folder.path() + "名片.csv", -1, false}};
        for (const auto& c : cases) {
            program().boxes.clear();
            if (c.answer > 0)
                program().boxes.setNextAnswer(c.answer);
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(c.file, "所有名片文件 (*.vcf *.csv *.xlsx)");
            FrmMain->N22->trigger();
            const QStringList said = program().boxes.texts();
            QCOMPARE(said.size(), c.answer > 0 ? 2 : 1);
            if (c.answer > 0)
                QVERIFY(said.first().startsWith("包含名片图片吗？"));
            QCOMPARE(readFile(c.file).contains("PHOTO;ENCODING=b;TYPE=JPEG:"), c.photo);
        }
    }

    // recognize --add stores every card with its picture, once; a picture it cannot read
    // keeps all of them out. export --photos writes them.
    void toolAddsAndExports() {
        saveSamples();
        const QString db = program().folder.database();
        Run run = tool(db, {"recognize", "--add", m_files[0], m_files[3]});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains("没有添加任何名片"));
        QCOMPARE(query(db, "select count(*) from zl"), QStringList{"0"});
        run = tool(db, {"recognize", "--add", m_files[0], m_files[1]});
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out.size(), 2);
        QCOMPARE(run.out[1].split('\t').mid(1), (QStringList{name(1), m_files[1]}));
        QCOMPARE(pictures(db), (QStringList{name(0) + "|0", name(1) + "|0"}));
        QCOMPARE(query(db, "select description from card_history"), QStringList{"识别 2 张名片"});
        run = tool(db, {"recognize", m_files[0], "--add"});
        QVERIFY(run.out.value(0).endsWith("已有这张名片，没有再添加"));
        QCOMPARE(query(db, "select count(*) from zl"), QStringList{"2"});

        const QString vcf = QFileInfo(db).path() + "/out.vcf";
        QCOMPARE(tool(db, {"export", "--format", "vcard4", "--photos", vcf}).code, 0);
        QCOMPARE(readFile(vcf).count("PHOTO:data:image/jpeg;base64,"), 2);
        QCOMPARE(tool(db, {"export", "--format", "csv", "--photos", vcf}).code, 2);
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestCardPictureWindow, QApplication)
#include "tst_cardpicture_window.moc"

// Reading business cards from pictures: the drawn test set read to its floors, files that
// are no pictures, the command's output, cancelling, progress and reading on a worker
// thread. QUEMBE_OCR_CARDS=N reads only the first N cards (the sanitizer build does).
#include "cardimages.h"
#include "hardcards.h"

#include "recognize/picturereader.h"

#include "data/dberror.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "testshards.h"
#include "testsupport.h"

#include <algorithm>

#include <memory>
#include <thread>

using namespace Recognize;

using TestSupport::col;

namespace {

int cardsToRead() {
    const int n = qEnvironmentVariableIntValue("QUEMBE_OCR_CARDS");
    return n > 0 ? n : 36;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// quembe-cards with the arguments: its exit code, what it printed on out and on err.
int runTool(const QStringList& args, QString& out, QString& err) {
    QProcess p;
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    out += QString::fromUtf8(p.readAllStandardOutput());
    err += QString::fromUtf8(p.readAllStandardError());
    return p.exitCode();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestRecognize : public QObject {
    Q_OBJECT

    std::unique_ptr<PictureReader> m_reader;
    QList<CardImages::Sample> m_set;

    void readDrawnSetToTheFloors(bool photos) {
        CardImages::Tally tally;
        for (int i = 0; i < m_set.size(); ++i) {
            const CardImages::Sample& s = m_set[i];
            if (s.vertical()) {
                // Columns of vertical text are not read; they must not upset the reader.
                if (!photos)
                    QVERIFY(m_reader->readCard(s.clean).has_value());
                continue;
            }
            QCOMPARE(s.clean.size(), QSize(1063, 638));
            if (photos)
                tally.add(s.truth, *m_reader->readCard(CardImages::photoCopy(s.clean, 1000 + i)),
                          s.id + QStringLiteral("/photo"));
            else
                tally.add(s.truth, *m_reader->readCard(s.clean), s.id);
        }
        for (const QString& m : tally.mismatches)
            qInfo("%s", qPrintable(m));
        if (tally.cards() < 20) {
            if (photos)
                return;
            // Too few cards for shares to mean much: the plain numbers of the first card.
            const Card truth = m_set.first().truth;
            const Card found = *m_reader->readCard(m_set.first().clean);
            QCOMPARE(found.value(col("手机")), truth.value(col("手机")));
            QCOMPARE(found.value(col("E-mail")), truth.value(col("E-mail")));
            return;
        }
        // Targets: numbers, mail and postcode 95 %, the name 90 %, other columns 92 %.
        for (const QString& column : CardImages::Tally::exactColumns()) {
            if (tally.exact(column) < 0.93)
                QFAIL(qPrintable(QStringLiteral("%1 read exactly on %2 % only")
                                     .arg(column)
                                     .arg(100 * tally.exact(column), 0, 'f', 1)));
        }
        QVERIFY2(tally.name() >= 0.85, qPrintable(QString::number(tally.name())));
        QVERIFY2(tally.charactersAll() >= 0.90, qPrintable(QString::number(tally.charactersAll())));
    }

private slots:
    void initTestCase() {
        m_reader = std::make_unique<PictureReader>();
        m_set = CardImages::makeSet(cardsToRead(), 1);
        QVERIFY(!m_set.isEmpty());
    }

    // Clean scans and their photo-like copies are checked apart, so that the two can be read
    // side by side.
    void drawnSetIsReadToTheFloors() { readDrawnSetToTheFloors(false); }
    void drawnSetPhotosAreReadToTheFloors() { readDrawnSetToTheFloors(true); }

    void photographedOnADarkDesk() {
        // Tilted, in keystone, under a lamp with a hot spot, noisy, JPEG 50: the card is found
        // on the desk and flattened before it is read.
        const QList<CardImages::HardSample> set = CardImages::makeHardSet(cardsToRead() / 3);
        int read = 0, right = 0;
        for (const CardImages::HardSample& s : set) {
            if (s.rareName)
                continue; // the model lacks most rare characters
            const QImage photo = CardImages::hardShot(s.clean, CardImages::Shot::Photo, s.number);
            const Card found = *m_reader->readCard(photo);
            ++read;
            bool whole = found.value(col("姓名")) == s.truth.value(col("姓名"));
            for (const char* column : {"手机", "E-mail"}) {
                whole = whole && found.value(col(column)) == s.truth.value(col(column));
                if (found.value(col(column)) != s.truth.value(col(column)))
                    qInfo("%s %s: want [%s] got [%s]", qPrintable(s.id), column,
                          qPrintable(s.truth.value(col(column))),
                          qPrintable(found.value(col(column))));
            }
            right += whole;
        }
        QVERIFY2(right * 3 >= read * 2,
                 qPrintable(QStringLiteral("%1 of %2").arg(right).arg(read)));
    }

    void photoOfACardWithoutText() {
        // The desk, the lamp and the noise are no text: the window says so.
        QImage blank(1063, 638, QImage::Format_RGB32);
        blank.fill(Qt::white);
        for (const auto shot : {CardImages::Shot::Photo, CardImages::Shot::Far}) {
            const Card found = *m_reader->readCard(CardImages::hardShot(blank, shot, 3));
            QStringList values(found.values.begin(), found.values.end());
            QVERIFY2(isBlank(found), qPrintable(values.join(QLatin1Char('|'))));
        }
    }

    void filesThatAreNoPictures() {
        QTemporaryDir dir;
        const QString text = dir.filePath(QStringLiteral("card.png"));
        write(text, "BEGIN:VCARD\nFN:Zhang Wei\nEND:VCARD\n");
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            m_set.first().clean.save(&buffer, "PNG");
        }
        const QString empty = dir.filePath(QStringLiteral("empty.bmp"));
        write(empty, QByteArray());
        for (const QString& path : {text, empty}) {
            const QByteArray before = bytesOf(path);
            try {
                loadImage(path);
                QFAIL(qPrintable(path + QStringLiteral(" was taken for a picture")));
            } catch (const EDatabaseError& e) {
                QVERIFY2(e.message().contains(QStringLiteral("无法读取图片文件")),
                         qPrintable(e.message()));
                QVERIFY(e.message().contains(QStringLiteral("PNG、JPEG、BMP 或 TIFF")));
            }
            QCOMPARE(bytesOf(path), before);
        }
        try {
            loadImage(dir.filePath(QStringLiteral("none.png")));
            QFAIL("a missing file was read");
        } catch (const EDatabaseError& e) {
            QVERIFY(e.message().startsWith(QStringLiteral("找不到图片文件")));
        }
        // A folder, a device: said for what they are, not "not found".
        for (const QString& path : {dir.path(), QStringLiteral("/dev/zero")}) {
            try {
                loadImage(path);
                QFAIL(qPrintable(path + QStringLiteral(" was read")));
            } catch (const EDatabaseError& e) {
                QVERIFY2(!e.message().contains(QStringLiteral("找不到")), qPrintable(e.message()));
                QVERIFY2(e.message().contains(QStringLiteral("文件夹")) ||
                             e.message().contains(QStringLiteral("不是普通文件")),
                         qPrintable(e.message()));
            }
        }
    }

    void picturesCutShort() {
        // Copied or downloaded part-way: every format says so, none is read half grey.
        QTemporaryDir dir;
        const QImage card = m_set.first().clean;
        const QImage photo = CardImages::photoCopy(card, 7);
        for (const char* format : {"PNG", "JPEG", "BMP"}) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QVERIFY((QByteArray(format) == "JPEG" ? photo : card).save(&buffer, format));
            const QString whole = dir.filePath(QStringLiteral("whole.") + format);
            write(whole, bytes);
            QVERIFY(!loadImage(whole).isNull());
            for (const double part : {0.5, 0.98}) {
                const QString cut = dir.filePath(QStringLiteral("cut.") + format);
                write(cut, bytes.left(qsizetype(bytes.size() * part)));
                try {
                    loadImage(cut);
                    QFAIL(qPrintable(QStringLiteral("a cut %1 was read").arg(format)));
                } catch (const EDatabaseError& e) {
                    QVERIFY2(e.message().contains(QStringLiteral("不完整")),
                             qPrintable(e.message()));
                    QVERIFY(e.message().at(0).unicode() >= 0x2E80);
                }
            }
        }
        // What a phone appends after the picture does not make it look cut.
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(photo.save(&buffer, "JPEG"));
        const QString trailer = dir.filePath(QStringLiteral("motion.jpg"));
        write(trailer, bytes +
                           QByteArray("\0\0\0\x18"
                                      "ftypmp42",
                                      12) +
                           QByteArray(500, 'x'));
        QVERIFY(!loadImage(trailer).isNull());
    }

    void bigPhotosAndTiff() {
        // A phone photo of 36.6 megapixels is read at a smaller size, whatever its format.
        QTemporaryDir dir;
        const CardImages::Sample& s = m_set.first();
        const QImage big =
            s.clean.scaled(8000, 4572, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (const char* format : {"jpg", "png"}) {
            const QString file = dir.filePath(QStringLiteral("big.") + format);
            QVERIFY(big.save(file));
            const QImage read = loadImage(file);
            QVERIFY(!read.isNull());
            QVERIFY(read.width() >= 2400 && read.width() < 8000);
            QCOMPARE(m_reader->readCard(read)->value(col("手机")), s.truth.value(col("手机")));
        }
        // The dialog offers TIFF only when it can be read; here it can.
        QVERIFY2(pictureFilter().contains(QStringLiteral("*.tif")), qPrintable(pictureFilter()));
        const QString tiff = dir.filePath(QStringLiteral("card.tif"));
        QVERIFY(s.clean.save(tiff, "TIFF"));
        QCOMPARE(m_reader->readCard(loadImage(tiff))->value(col("手机")),
                 s.truth.value(col("手机")));
    }

    void picturesOfAnySizeAndFormat() {
        // Blank, tiny, transparent, huge: read without harm, giving no text or a card.
        QImage blank(1063, 638, QImage::Format_RGB32);
        blank.fill(Qt::white);
        QVERIFY(m_reader->readLines(blank)->isEmpty());
        QVERIFY(m_reader->readLines(QImage(3, 3, QImage::Format_Mono))->isEmpty());
        QVERIFY(m_reader->readLines(QImage())->isEmpty());
        QImage clear(400, 300, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QVERIFY(m_reader->readLines(clear)->isEmpty());
        const CardImages::Sample& s = m_set.first();
        const QImage big = s.clean.scaled(s.clean.size() * 4);
        QCOMPARE(m_reader->readCard(big)->value(col("手机")), s.truth.value(col("手机")));
    }

    void commandPrintsTheColumns() {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("card.jpg"));
        QVERIFY(m_set.first().clean.save(good, "JPEG", 90));
        const QString bad = dir.filePath(QStringLiteral("bad.png"));
        write(bad, "not a picture");

        QString outText, errText;
        QCOMPARE(runTool({"recognize", good}, outText, errText), 0);
        QVERIFY(errText.isEmpty());
        const Card& truth = m_set.first().truth;
        const QStringList lines = outText.split(QLatin1Char('\n'));
        QCOMPARE(lines.first(), QStringLiteral("# ") + good);
        for (const char* column : {"手机", "E-mail", "工作邮编", "单位"})
            QVERIFY2(lines.contains(col(column) + QStringLiteral(": ") + truth.value(col(column))),
                     qPrintable(outText));
        for (const QString& l : lines) {
            if (l.isEmpty() || l.startsWith(QLatin1Char('#')))
                continue;
            QVERIFY2(Card::indexOf(l.section(QStringLiteral(": "), 0, 0)) >= 0, qPrintable(l));
        }

        // A bad file among good ones: reported in Chinese, the others still read.
        outText.clear();
        QCOMPARE(runTool({"recognize", bad, good}, outText, errText), 1);
        QVERIFY(errText.contains(QStringLiteral("无法读取图片文件")));
        QVERIFY(errText.contains(bad));
        QVERIFY(outText.startsWith(QStringLiteral("# ") + good));

        // A picture without text: said, nothing printed for it.
        const QString blank = dir.filePath(QStringLiteral("blank.png"));
        QImage white(1063, 638, QImage::Format_RGB32);
        white.fill(Qt::white);
        QVERIFY(white.save(blank));
        outText.clear();
        errText.clear();
        QCOMPARE(runTool({"recognize", blank}, outText, errText), 1);
        QVERIFY2(errText.contains(QStringLiteral("图片中没有识别出名片文字。")),
                 qPrintable(errText));
        QVERIFY(outText.isEmpty());
        // A device is no picture, and not missing either.
        errText.clear();
        QCOMPARE(runTool({"recognize", "/dev/zero"}, outText, errText), 1);
        QVERIFY2(errText.contains(QStringLiteral("不是普通文件")), qPrintable(errText));

        errText.clear();
        QCOMPARE(runTool({"recognize"}, outText, errText), 2);
        QVERIFY2(errText.startsWith(QStringLiteral("recognize 需要至少一个图片文件。\n用法：")),
                 qPrintable(errText));
    }

    void cancelAndProgress() {
        const QImage card = m_set.first().clean;
        Progress done;
        QList<int> seen;
        done.setListener([&](const Core::Progress& p) { seen << int(p.done()); });
        QVERIFY(m_reader->readCard(card, &done).has_value());
        QCOMPARE(done.done(), 100);
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QVERIFY(seen.size() >= 3);

        Progress before;
        before.cancel();
        QVERIFY(!m_reader->readCard(card, &before).has_value());

        // Cancelled halfway, from the reading thread as a dialog's button would.
        Progress halfway;
        halfway.setListener([&](const Core::Progress& p) {
            if (p.done() >= 30)
                halfway.cancel();
        });
        QVERIFY(!m_reader->readCard(card, &halfway).has_value());
        QVERIFY(halfway.done() < 100);

        // The reader is fine after a cancel.
        QCOMPARE(m_reader->readCard(card)->value(col("手机")),
                 m_set.first().truth.value(col("手机")));
    }

    void readsOnAWorkerThread() {
        const CardImages::Sample& s = m_set.first();
        std::optional<Card> found;
        std::thread worker([&] {
            PictureReader reader; // made and used there, as a worker would
            found = reader.readCard(s.clean);
        });
        worker.join();
        QVERIFY(found.has_value());
        QCOMPARE(*found, *m_reader->readCard(s.clean));
    }

    void missingLanguageData() {
        // An empty folder named by TESSDATA_PREFIX is passed over for the system's.
        QTemporaryDir dir;
        const QByteArray old = qgetenv("TESSDATA_PREFIX");
        qputenv("TESSDATA_PREFIX", dir.path().toUtf8());
        const QString folder = languageFolder();
        if (old.isEmpty())
            qunsetenv("TESSDATA_PREFIX");
        else
            qputenv("TESSDATA_PREFIX", old);
        QVERIFY(!folder.isEmpty());
        QVERIFY(folder != dir.path());
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/chi_sim.traineddata")));
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestRecognize, QApplication)
#include "tst_recognize.moc"

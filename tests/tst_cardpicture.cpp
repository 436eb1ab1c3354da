// The picture kept with a card: its size, its table following every delete and undo, the
// backup, a crash while it is stored, and the vCard PHOTO.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/backup.h"
#include "data/cardpicture.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "duplicates/follow.h"
#include "duplicates/merge.h"
#include "exchange/transfer.h"
#include "quickfind/cardindex.h"
#include "recognize/keptpicture.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <memory>

using TestSupport::query;
using Side = CardPicture::Side;

namespace {

// A photo full of detail, the worst case for its size: noise over a gradient.
QImage noisyPhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb(x * 255 / width, int(random.bounded(256)), y * 255 / height);
    }
    return image;
}

QString md5(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Each card of a vCard file as python3-vobject reads it: its name and the MD5 of its PHOTO
// ("-" without one). vobject reads 4.0 as 3.0, taking the comma of a data URI for a list:
// a 4.0 PHOTO is taken from the unfolded line. Empty when vobject is missing.
QStringList readByVobject(const QString& path) {
    const char* reader = R"py(
import base64, hashlib, re, sys, vobject
data = open(sys.argv[1], encoding="utf-8", newline="").read()
blocks = re.sub(r"\r\n[ \t]", "", data).split("BEGIN:VCARD")[1:]
for card, block in zip(vobject.readComponents(data), blocks):
    photo = card.contents.get("photo")
    value = photo[0].value if photo else b""
    if not isinstance(value, bytes):
        value = base64.b64decode(re.search(r"PHOTO:data:image/jpeg;base64,(\S+)", block).group(1))
    print(card.fn.value, hashlib.md5(value).hexdigest() if value else "-")
)py";
    // The Debian one has the package where another python3 on the path may not.
    QProcess python;
    for (const char* program : {"/usr/bin/python3", "python3"}) {
        python.start(program, {"-c", reader, path});
        if (!python.waitForFinished(30000))
            return {"python3 did not finish"};
        if (python.exitCode() == 0)
            break;
    }
    const QByteArray complaint = python.readAllStandardError();
    if (complaint.contains("No module named 'vobject'"))
        return {};
    if (!complaint.isEmpty())
        return {QString::fromUtf8(complaint)};
    return QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestCardPicture : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::ProgramFolder> m_folder;
    std::unique_ptr<TADOConnection> m_connection;
    std::unique_ptr<TADOQuery> m_cards;
    QByteArray m_jpeg;

    sqlite3* db() { return m_connection->handle(); }
    QString file() { return m_folder->database(); }

    // A card added through the list, with a picture in the same transaction.
    qint64 addWithPicture(const QString& name, const QByteArray& jpeg) {
        auto hook = m_cards->WriteHook;
        m_cards->WriteHook = [&](sqlite3* d, const QString& t, qint64 id, RowWrite w) {
            hook(d, t, id, w);
            CardPicture::store(d, id, Side::Front, jpeg);
        };
        m_cards->Insert();
        m_cards->SetFieldAsString(TestSupport::col("姓名"), name);
        m_cards->Post();
        m_cards->WriteHook = hook;
        return m_cards->CurrentId();
    }
    QStringList pictureRows() {
        return query(file(), "select ID, side, deleted from card_picture order by ID, side");
    }
    void openList() {
        m_cards = std::make_unique<TADOQuery>(QStringLiteral("ADOQuery1"));
        m_cards->setConnection(m_connection.get());
        m_cards->SQL.Add("select * from zl");
        m_cards->WriteHook = CardIndex::rowWritten;
        History::recordWrites(m_cards.get());
        m_cards->Open();
    }

private slots:
    void initTestCase() { m_jpeg = Recognize::keptPicture(noisyPhoto(640, 400)); }

    void init() {
        m_folder = std::make_unique<TestSupport::ProgramFolder>();
        m_connection = std::make_unique<TADOConnection>();
        m_connection->ConnectionString = QString::fromUtf8(kStoredConnectionString);
        m_connection->Open();
        openList();
    }

    void cleanup() {
        m_cards.reset();
        m_connection.reset();
        m_folder.reset();
    }

    // A 40-megapixel photo, a narrow strip and a picture with transparency all come out as
    // JPEG of at most 1600 pixels and about 150 KB.
    void shrunkToKeep() {
        QImage clear(900, 500, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        for (const QImage& picture : {noisyPhoto(7700, 5200), noisyPhoto(4000, 90), clear}) {
            const QByteArray kept = Recognize::keptPicture(picture);
            QBuffer buffer(const_cast<QByteArray*>(&kept));
            QImageReader reader(&buffer);
            QCOMPARE(reader.format(), QByteArray("jpeg"));
            const QSize size = reader.size();
            QVERIFY(qMax(size.width(), size.height()) <= Recognize::kKeptPictureSide);
            QVERIFY2(kept.size() <= Recognize::kKeptPictureBytes,
                     qPrintable(QString::number(kept.size())));
            const double ratio = double(picture.width()) / picture.height();
            QVERIFY(qAbs(double(size.width()) / size.height() - ratio) < ratio * 0.03);
        }
        // See-through parts lie on white, not black.
        QVERIFY(QImage::fromData(Recognize::keptPicture(clear)).pixelColor(450, 250).lightness() >
                240);
        QVERIFY(Recognize::keptPicture(QImage()).isEmpty());
    }

    // Deleting the card hides its picture; undoing the delete, and undoing an add's undo,
    // bring it back; once the history no longer holds the card, the picture is gone for good.
    void followsDeletesAndUndo() {
        const qint64 zhang = addWithPicture("张三", m_jpeg);
        const qint64 li = addWithPicture("李四", m_jpeg);
        QCOMPARE(CardPicture::read(db(), zhang, Side::Front), m_jpeg);
        QCOMPARE(CardPicture::cardsWithPictures(db()), 2);
        QVERIFY(m_cards->Locate(zhang));
        m_cards->Delete();
        QVERIFY(CardPicture::read(db(), zhang, Side::Front).isEmpty());
        QCOMPARE(CardPicture::cardsWithPictures(db()), 1);
        const qint64 deleted = History::recent(db()).first().number;
        History::undo(db(), file(), deleted, Duplicates::followRow);
        QCOMPARE(CardPicture::read(db(), zhang, Side::Front), m_jpeg);
        // The add of 李四 undone and put back.
        const qint64 removal = History::undo(db(), file(), 2, Duplicates::followRow);
        QVERIFY(CardPicture::sides(db(), li).isEmpty());
        History::undo(db(), file(), removal, Duplicates::followRow);
        QCOMPARE(CardPicture::sides(db(), li), QVector<Side>{Side::Front});

        // A merge deletes the other card, and its picture with it.
        Duplicates::mergeCards(db(), {zhang, li});
        QCOMPARE(CardPicture::cardsWithPictures(db()), 1);
        QVERIFY(CardPicture::read(db(), li, Side::Front).isEmpty());
        // With the history emptied, the next picture stored purges what it held.
        History::setLimits(db(), file(), {0, 0});
        addWithPicture("王五", m_jpeg);
        QCOMPARE(query(file(), "select count(*) from card_picture where deleted<>0"),
                 QStringList{"0"});
    }

    // Back added and removed on its own; removing the front takes both.
    void sidesAddedAndRemoved() {
        const qint64 id = addWithPicture("张三", m_jpeg);
        const QByteArray back = Recognize::keptPicture(noisyPhoto(300, 200));
        CardPicture::replace(m_connection->database(), id, Side::Back, back);
        QCOMPARE(CardPicture::sides(db(), id), (QVector<Side>{Side::Front, Side::Back}));
        CardPicture::remove(m_connection->database(), id, Side::Back);
        QCOMPARE(CardPicture::sides(db(), id), QVector<Side>{Side::Front});
        CardPicture::replace(m_connection->database(), id, Side::Back, back);
        CardPicture::remove(m_connection->database(), id, Side::Front);
        QVERIFY(CardPicture::sides(db(), id).isEmpty());
        // A card another program deleted meanwhile gets no picture.
        TestSupport::exec(file(), "delete from zl where ID=" + QString::number(id));
        try {
            CardPicture::replace(m_connection->database(), id, Side::Front, m_jpeg);
            QFAIL("stored for a card that is gone");
        } catch (const EDatabaseError& e) {
            QVERIFY(e.message().contains("已被其他程序删除"));
        }
        QCOMPARE(pictureRows(), QStringList());
    }

    // A backup holding pictures is accepted and brings them back.
    void backupAndRestore() {
        const qint64 id = addWithPicture("张三", m_jpeg);
        QString reason;
        QVERIFY2(backupDatabase(file(), m_folder->backup(), &reason), qPrintable(reason));
        CardPicture::remove(m_connection->database(), id, Side::Front);
        m_cards.reset();
        m_connection->Close();
        QVERIFY2(isRestorableBackup(m_folder->backup(), QString::fromUtf8(kStoredConnectionString),
                                    &reason),
                 qPrintable(reason));
        QVERIFY2(restoreDatabase(m_folder->backup(), file(), &reason), qPrintable(reason));
        m_connection->Open();
        QCOMPARE(CardPicture::read(db(), id, Side::Front), m_jpeg);
    }

#ifdef Q_OS_UNIX
    // Killed while the picture is written: the file is whole, with neither card nor picture;
    // the next try stores both.
    void killedWhileStoring() {
        m_cards.reset();
        m_connection->Close();
        const QString said = TestSupport::inChild([&] {
            TADOConnection child;
            child.ConnectionString = QString::fromUtf8(kStoredConnectionString);
            child.Open();
            sqlite3_create_function(
                child.handle(), "die", 0, SQLITE_UTF8, nullptr,
                [](sqlite3_context*, int, sqlite3_value**) { ::raise(SIGKILL); }, nullptr, nullptr);
            CardPicture::addTable(child.handle());
            child.database().exec("CREATE TEMP TRIGGER die AFTER INSERT ON main.card_picture "
                                  "BEGIN SELECT die(); END");
            TADOQuery cards(QStringLiteral("cards"));
            cards.setConnection(&child);
            cards.SQL.Add("select * from zl");
            cards.WriteHook = [&](sqlite3* d, const QString&, qint64 id, RowWrite) {
                CardPicture::store(d, id, Side::Front, m_jpeg);
            };
            cards.Open();
            cards.Insert();
            cards.SetFieldAsString(TestSupport::col("姓名"), "张三");
            cards.Post();
            return QStringLiteral("not killed");
        });
        QCOMPARE(said, QString());
        QCOMPARE(query(file(), "pragma integrity_check"), QStringList{"ok"});
        QCOMPARE(query(file(), "select count(*) from zl"), QStringList{"0"});
        QCOMPARE(query(file(), "select count(*) from card_picture"), QStringList{"0"});
        m_connection->Open();
        openList();
        addWithPicture("张三", m_jpeg);
        QCOMPARE(pictureRows().size(), 1);
    }
#endif

    // PHOTO only when asked, in the forms of 3.0 and 4.0, read back by python3-vobject as
    // the same JPEG; our own import takes the file back.
    void exportedAsPhoto() {
        const qint64 id = addWithPicture("张三", m_jpeg);
        m_cards->Insert();
        m_cards->SetFieldAsString(TestSupport::col("姓名"), "李四");
        m_cards->Post();
        const QVector<qint64> ids{id, m_cards->CurrentId()};
        const QString plain = m_folder->path() + "plain.vcf";
        Exchange::exportCards(m_connection->database(), ids, plain, Exchange::Format::VCard30);
        QVERIFY(!TestSupport::readFile(plain).contains("PHOTO"));
        for (const auto format : {Exchange::Format::VCard30, Exchange::Format::VCard40}) {
            const QString path = m_folder->path() + "photo.vcf";
            QCOMPARE(
                Exchange::exportCards(m_connection->database(), ids, path, format, nullptr, true),
                2);
            const QStringList read = readByVobject(path);
            if (read.isEmpty())
                QSKIP("python3-vobject is not installed");
            QCOMPARE(read, (QStringList{"张三 " + md5(m_jpeg), "李四 -"}));
            const auto back =
                Exchange::importFiles(m_connection->database(), {path}, CardIndex::cardsAdded);
            QCOMPARE(back.duplicates, 2);
        }
    }

    // A phone's PHOTO in each vCard version becomes the card's front, shrunk as kept
    // pictures are, and goes out again as our PHOTO; a damaged one or a link leaves the
    // card without a picture, the damage said.
    void importedPhoto() {
        const QImage big = noisyPhoto(2000, 1200);
        const QByteArray png = encoded(big, "png").toBase64();
        const QByteArray jpeg = encoded(noisyPhoto(300, 200), "jpeg").toBase64();
        QByteArray folded21;
        for (qsizetype at = 0; at < jpeg.size(); at += 70)
            folded21 += "  " + jpeg.mid(at, 70) + "\r\n";
        const QByteArray vcf =
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nPHOTO;ENCODING=b;TYPE=PNG:" + png +
            "\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:李四\r\nPHOTO:data:image/jpeg;base64," +
            jpeg +
            "\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:王五\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n" +
            folded21 +
            "\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:赵六\r\nPHOTO;ENCODING=b;TYPE=JPEG:" +
            jpeg.left(300) +
            "\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:钱七\r\nPHOTO;ENCODING=b:@@not base64@@\r\n"
            "TEL;TYPE=CELL:139 0000 8888\r\nEND:VCARD\r\n"
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:孙八\r\n"
            "PHOTO;VALUE=uri:http://example.com/a.jpg\r\nEND:VCARD\r\n";
        const QString path = m_folder->path() + "phone.vcf";
        TestSupport::writeFile(path, vcf);
        Exchange::ImportOptions options;
        options.keepPicture = Recognize::keptPictureOf;
        const auto result = Exchange::importFiles(m_connection->database(), {path},
                                                  CardIndex::cardsAdded, nullptr, options);
        QCOMPARE(result.ids.size(), 6);
        QCOMPARE(pictureRows(), (QStringList{QString("%1|0|0").arg(result.ids[0]),
                                             QString("%1|0|0").arg(result.ids[1]),
                                             QString("%1|0|0").arg(result.ids[2])}));
        const QImage front = QImage::fromData(CardPicture::read(db(), result.ids[0], Side::Front));
        QVERIFY(front.width() <= 1600 && front.width() * 3 == front.height() * 5);
        const QString summary = Exchange::importSummary(6, result.skipped);
        QVERIFY2(summary.contains("有 2 处请核对") && summary.contains("“赵六”的照片") &&
                     summary.contains("“钱七”的照片") && summary.contains("其他内容都已导入"),
                 qPrintable(summary));
        QCOMPARE(query(file(), "select \"手机\" from zl where \"姓名\" = '钱七'"),
                 QStringList{"139 0000 8888"});

        const QString out = m_folder->path() + "out.vcf";
        Exchange::exportCards(m_connection->database(), result.ids.mid(0, 4), out,
                              Exchange::Format::VCard30, nullptr, true);
        const QStringList read = readByVobject(out);
        if (read.isEmpty())
            QSKIP("python3-vobject is not installed");
        QStringList expected;
        const char* names[] = {"张三", "李四", "王五", "赵六"};
        for (int i = 0; i < 4; ++i)
            expected << QString::fromUtf8(names[i]) + " " +
                            (i < 3 ? md5(CardPicture::read(db(), result.ids[i], Side::Front))
                                   : QString("-"));
        QCOMPARE(read, expected);
    }
};

QTEST_MAIN(TestCardPicture)
#include "tst_cardpicture.moc"

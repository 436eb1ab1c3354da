#include "picturereader.h"

#include "recognize/cardparser.h"
#include "recognize/linereader.h"
#include "recognize/qrcode.h"

#include "core/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLibrary>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace Recognize {

namespace {

const char kModuleFile[] = "quembe-ocr.so";

// Reading shrinks every picture to 2400 pixels across: more is never needed, so a larger
// one is decoded at about this many pixels (a JPEG decoder does that without the whole).
const qint64 kReadPixels = 16'000'000;
// Decoding the whole picture first may take this much memory, for formats that cannot
// decode smaller; beyond it the picture is refused as too big.
const int kMostMegabytes = 1024;

// Whether a JPEG stream stops before its end-of-image marker: walks the marker segments and
// the coded data between them. What follows the marker (a phone's own data) is ignored.
bool jpegEndsEarly(const QByteArray& data) {
    const auto byte = [&](qsizetype i) { return uchar(data.at(i)); };
    qsizetype i = 2; // after SOI
    while (i + 1 < data.size()) {
        if (byte(i) != 0xFF)
            return false; // not a marker where one belongs: damaged, left to the decoder
        const uchar marker = byte(i + 1);
        if (marker == 0xFF) {
            ++i; // fill byte
            continue;
        }
        if (marker == 0xD9)
            return false;
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            i += 2;
            continue;
        }
        if (i + 3 >= data.size())
            return true;
        i += 2 + ((qsizetype(byte(i + 2)) << 8) | byte(i + 3));
        if (marker == 0xDA) {
            // Coded data runs to the next marker that is not a stuffed zero or a restart.
            while (i + 1 < data.size() && !(byte(i) == 0xFF && byte(i + 1) != 0x00 &&
                                            !(byte(i + 1) >= 0xD0 && byte(i + 1) <= 0xD7)))
                ++i;
        }
    }
    return true;
}

// Whether the file holds only the beginning of its picture. Decoders of JPEG and BMP fill
// the missing part with grey or black and say nothing; that of PNG says only "failed".
bool endsEarly(const QByteArray& format, QFile& file) {
    file.seek(0);
    if (format == "jpeg" || format == "jpg")
        return jpegEndsEarly(file.readAll());
    if (format == "png") {
        const qint64 tail = std::min<qint64>(file.size(), 4096);
        file.seek(file.size() - tail);
        return !file.read(tail).contains("IEND");
    }
    if (format == "bmp") {
        const QByteArray head = file.read(6);
        if (head.size() < 6)
            return true;
        const quint32 declared = uchar(head[2]) | uchar(head[3]) << 8 | uchar(head[4]) << 16 |
                                 quint32(uchar(head[5])) << 24;
        return declared > quint64(file.size());
    }
    return false;
}

// Makes `reader` decode a very large picture smaller, and lets it take the memory a
// picture up to kMostMegabytes needs; throws for a larger one.
void readAtMostRecognitionSize(QImageReader& reader, const QString& name) {
    const QSize size = reader.size();
    if (!size.isValid())
        return;
    const qint64 pixels = qint64(size.width()) * size.height();
    if (pixels * 4 > qint64(kMostMegabytes) * 1024 * 1024)
        throw EDatabaseError(QStringLiteral("图片“%1”太大（%2 × %3 像素），无法读取。"
                                            "请把它缩小到两亿像素以下后重试。")
                                 .arg(name)
                                 .arg(size.width())
                                 .arg(size.height()));
    if (pixels <= kReadPixels)
        return;
    const double scale = std::sqrt(double(kReadPixels) / double(pixels));
    reader.setScaledSize(
        QSize(std::max(1, int(size.width() * scale)), std::max(1, int(size.height() * scale))));
    // Phones take photos of 40 and more megapixels; Qt refuses above 128 MB by default.
    const int needed = int(pixels * 4 / (1024 * 1024)) + 1;
    if (QImageReader::allocationLimit() != 0 && QImageReader::allocationLimit() < needed)
        QImageReader::setAllocationLimit(needed);
}

} // namespace

QString modulePath() {
    // For trying another build of the module, and for the tests.
    const QString chosen = qEnvironmentVariable("QUEMBE_OCR_MODULE");
    if (!chosen.isEmpty())
        return QFileInfo(chosen).isFile() ? chosen : QString();
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        candidates << dir + QLatin1Char('/') + QLatin1String(kModuleFile)
                   << dir + QStringLiteral("/../" QUEMBE_MODULE_DIR "/") +
                          QLatin1String(kModuleFile);
    }
    candidates << QStringLiteral(QUEMBE_MODULE_BUILD_PATH);
    for (const QString& file : candidates) {
        if (QFileInfo(file).isFile())
            return QDir::cleanPath(file);
    }
    return QString();
}

QString languageFolder() {
    QStringList candidates;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        candidates << prefix << prefix + QStringLiteral("/tessdata");
    candidates << QStringLiteral("/usr/share/tesseract-ocr/5/tessdata")
               << QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata")
               << QStringLiteral("/usr/share/tessdata")
               << QStringLiteral("/usr/local/share/tessdata");
    for (const QString& folder : candidates) {
        if (QFileInfo::exists(folder + QStringLiteral("/chi_sim.traineddata")))
            return QDir(folder).absolutePath();
    }
    return QString();
}

QString modelFolder() {
    const QString keys = QStringLiteral("/keys.txt");
    // For trying another model, and for the tests; set and empty means none.
    if (qEnvironmentVariableIsSet("QUEMBE_OCR_MODELS")) {
        const QString chosen = qEnvironmentVariable("QUEMBE_OCR_MODELS");
        return !chosen.isEmpty() && QFileInfo::exists(chosen + keys) ? chosen : QString();
    }
    QStringList candidates;
    if (QCoreApplication::instance()) {
        const QString dir = QCoreApplication::applicationDirPath();
        candidates << dir + QStringLiteral("/ocr-models")
                   << dir + QStringLiteral("/../share/quembe/ocr-models");
    }
    candidates << QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                         QStringLiteral("quembe/ocr-models"),
                                         QStandardPaths::LocateDirectory);
    for (const QString& folder : candidates) {
        if (!folder.isEmpty() && QFileInfo::exists(folder + keys))
            return QDir::cleanPath(QDir(folder).absolutePath());
    }
    return QString();
}

PictureReader::PictureReader() {
    const QString module = modulePath();
    if (module.isEmpty())
        throw EDatabaseError(QStringLiteral("找不到文字识别模块 %1，无法识别名片。"
                                            "请重新安装本程序。")
                                 .arg(QLatin1String(kModuleFile)));
    QLibrary library(module);
    // Tesseract is not made to be unloaded; once in, it stays.
    library.setLoadHints(QLibrary::PreventUnloadHint);
    const auto make =
        reinterpret_cast<QuembeMakeLineReader>(library.resolve(QUEMBE_MAKE_LINE_READER));
    if (!make)
        throw EDatabaseError(QStringLiteral("无法载入文字识别模块“%1”，无法识别名片。"
                                            "请安装 libtesseract5 后重试，或重新安装本程序。\n(%2)")
                                 .arg(QDir::toNativeSeparators(module), library.errorString()));
    const QString folder = languageFolder();
    if (!folder.isEmpty())
        m_reader.reset(make(QFile::encodeName(folder).constData()));
    if (!m_reader)
        throw EDatabaseError(QStringLiteral(
            "找不到文字识别所需的语言数据（chi_sim.traineddata 和 eng.traineddata），无法识别名片。"
            "请安装 tesseract-ocr-chi-sim 和 tesseract-ocr-eng，或用环境变量 "
            "TESSDATA_PREFIX 指明其所在文件夹。"));
    // Without the model (not fetched, or damaged) Tesseract reads alone, as before it.
    const QString models = modelFolder();
    m_model = !models.isEmpty() && m_reader->loadModel(QFile::encodeName(models).constData());
    setRecognizer(m_model ? Recognizer::Mixed : Recognizer::Tesseract);
}

bool PictureReader::setRecognizer(Recognizer recognizer) {
    if (recognizer != Recognizer::Tesseract && !m_model)
        return false;
    m_recognizer = recognizer;
    m_reader->setRecognizer(recognizer);
    return true;
}

PictureReader::~PictureReader() = default;

std::optional<QList<TextLine>> PictureReader::readLines(const QImage& image, Progress* progress) {
    return m_reader->readLines(image, progress);
}

std::optional<Card> PictureReader::readCard(const QImage& image, Progress* progress,
                                            QList<int>* fromCode, QList<UnsureText>* unsure) {
    // A code on the card holds its fields as they were typed: they win over any reading.
    const std::optional<QrCode::Found> code = QrCode::find(image);
    if (fromCode)
        *fromCode = code ? code->columns : QList<int>();
    const std::optional<QList<TextLine>> lines = readLines(image, progress);
    if (!lines)
        return std::nullopt;
    const Card read = parseCard(*lines);
    const Card card = code ? QrCode::filledFrom(*code, read) : read;
    if (unsure)
        *unsure = unsureTextIn(card, *lines, code ? code->columns : QList<int>());
    return card;
}

QImage PictureReader::pictureToKeep(const QImage& image) {
    const QImage card = m_reader->cardOf(image);
    return card.isNull() ? image : card;
}

QList<UnsureText> unsureTextIn(const Card& card, const QList<TextLine>& lines,
                               const QList<int>& exact) {
    QList<UnsureText> found;
    auto add = [&](int column, int start, int length) {
        const UnsureText part{column, start, length};
        if (!found.contains(part))
            found << part;
    };
    for (const TextLine& line : lines) {
        const QString text = halfWidth(line.text);
        // Runs of neighbouring unsure characters, blanks left out.
        for (int i = 0; i < line.unsure.size();) {
            int j = i + 1;
            while (j < line.unsure.size() && line.unsure[j] == line.unsure[j - 1] + 1)
                ++j;
            int from = line.unsure[i], to = line.unsure[j - 1] + 1;
            i = j;
            while (from < to && text[from].isSpace())
                ++from;
            while (to > from && text[to - 1].isSpace())
                --to;
            if (from >= to || to > text.size())
                continue;
            // Found in a column with what stands around it on the line, so that a lone
            // unsure digit is not marked wherever that digit occurs.
            for (int reach = 2; reach >= 0; --reach) {
                const int left = std::max(0, from - reach),
                          right = std::min(int(text.size()), to + reach);
                const QString needle = text.mid(left, right - left).trimmed();
                if (needle.isEmpty() || (reach == 0 && needle.size() < 2))
                    break;
                bool placed = false;
                for (int c = 0; c < int(card.values.size()); ++c) {
                    if (exact.contains(c))
                        continue;
                    const int at = int(card.values[size_t(c)].indexOf(needle));
                    if (at >= 0) {
                        const int offset = int(text.mid(left, right - left).indexOf(needle));
                        add(c, at + (from - left) - offset, to - from);
                        placed = true;
                    }
                }
                if (placed)
                    break;
            }
        }
    }
    return found;
}

QString pictureFilter() {
    const QList<QByteArray> supported = QImageReader::supportedImageFormats();
    QStringList patterns;
    for (const char* suffix : {"png", "jpg", "jpeg", "bmp", "tif", "tiff"}) {
        if (supported.contains(QByteArray(suffix)))
            patterns << QStringLiteral("*.") + QLatin1String(suffix);
    }
    return QStringLiteral("名片图片 (%1)").arg(patterns.join(QLatin1Char(' ')));
}

bool isBlank(const Card& card) {
    return std::all_of(card.values.begin(), card.values.end(),
                       [](const QString& v) { return v.trimmed().isEmpty(); });
}

QString noTextMessage() {
    return QStringLiteral("图片中没有识别出名片文字。请换一张更清楚的名片照片或扫描图"
                          "（名片摆正、对准焦点、光线均匀）后重试。");
}

QImage loadImage(const QString& path) {
    const QString name = QDir::toNativeSeparators(path);
    const QString formats = QStringLiteral("请选择 PNG、JPEG、BMP 或 TIFF 格式的名片图片。");
    const QFileInfo info(path);
    if (!info.exists())
        throw EDatabaseError(
            QStringLiteral("找不到图片文件“%1”，请检查文件名和路径后重试。").arg(name));
    if (info.isDir())
        throw EDatabaseError(QStringLiteral("“%1”是一个文件夹，不是图片文件。").arg(name) +
                             formats);
    if (!info.isFile())
        throw EDatabaseError(QStringLiteral("“%1”不是普通文件（而是设备、管道或套接字），"
                                            "不能当作图片读取。")
                                 .arg(name) +
                             formats);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EDatabaseError(QStringLiteral("无法打开图片文件“%1”，请检查这个文件的读取权限后重试。"
                                            "\n(%2)")
                                 .arg(name, file.errorString()));
    QImageReader reader(&file);
    reader.setAutoTransform(true); // photos taken on their side carry the turn in EXIF
    if (!reader.canRead())
        throw EDatabaseError(
            QStringLiteral("无法读取图片文件“%1”：它不是图片，或是本程序不认识的图片格式。")
                .arg(name) +
            formats);
    const QByteArray format = reader.format();
    if (endsEarly(format, file))
        throw EDatabaseError(
            QStringLiteral("图片文件“%1”不完整，只有开头的一部分（也许没有下载完或复制完），"
                           "无法读取。请重新复制或下载这张图片后重试。\n(%2 ends early)")
                .arg(name, QString::fromLatin1(format)));
    file.seek(0);
    readAtMostRecognitionSize(reader, name);
    QImage image = reader.read();
    if (image.isNull())
        throw EDatabaseError(QStringLiteral("无法读取图片文件“%1”：文件已损坏。").arg(name) +
                             formats + QStringLiteral("\n(%1)").arg(reader.errorString()));
    return image;
}

} // namespace Recognize

#include "cardreader.h"

#include "recognize/cardparser.h"
#include "recognize/linereader.h"

#include "data/dberror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLibrary>

namespace Recognize {

namespace {

const char kModuleFile[] = "quembe-ocr.so";

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

CardReader::CardReader() {
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
}

CardReader::~CardReader() = default;

std::optional<QList<TextLine>> CardReader::readLines(const QImage& image, Progress* progress) {
    return m_reader->readLines(image, progress);
}

std::optional<Card> CardReader::readCard(const QImage& image, Progress* progress) {
    const std::optional<QList<TextLine>> lines = readLines(image, progress);
    if (!lines)
        return std::nullopt;
    return parseCard(*lines);
}

QImage loadImage(const QString& path) {
    const QString name = QDir::toNativeSeparators(path);
    if (!QFileInfo(path).isFile())
        throw EDatabaseError(
            QStringLiteral("找不到图片文件“%1”，请检查文件名和路径后重试。").arg(name));
    QImageReader reader(path);
    reader.setAutoTransform(true); // photos taken on their side carry the turn in EXIF
    QImage image = reader.read();
    if (image.isNull())
        throw EDatabaseError(QStringLiteral("无法读取图片文件“%1”：文件已损坏或不是图片（%2）。"
                                            "请选择 PNG、JPEG、BMP 或 TIFF 格式的名片图片。")
                                 .arg(name, reader.errorString()));
    return image;
}

} // namespace Recognize

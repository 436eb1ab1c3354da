// QR codes drawn with libqrencode and found with zxing-cpp.
#include "qrcode.h"

#include "core/error.h"

#include <QBuffer>
#include <QStringDecoder>

#include <ZXing/ReadBarcode.h>
#include <qrencode.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace Recognize::QrCode {

namespace {

const int kQuietZone = 4;

// Medium error correction: a code on paper survives a smudge, and the code stays small.
const QRecLevel kLevel = QR_ECLEVEL_M;

struct QrcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

// The code for the text; nothing when it is too long for any QR code.
std::optional<Code> encoded(const QByteArray& text) {
    errno = 0;
    std::unique_ptr<QRcode, QrcodeFree> qr(QRcode_encodeData(
        int(text.size()), reinterpret_cast<const unsigned char*>(text.constData()), 0, kLevel));
    if (!qr) {
        if (errno == ERANGE)
            return std::nullopt;
        throw EDatabaseError(QStringLiteral("无法生成二维码。请稍后重试。\n(libqrencode: %1)")
                                 .arg(QString::fromLocal8Bit(strerror(errno))));
    }
    Code code;
    code.size = qr->width;
    code.text = text;
    code.modules.resize(qsizetype(qr->width) * qr->width);
    for (qsizetype i = 0; i < code.modules.size(); ++i)
        code.modules[i] = char(qr->data[i] & 1);
    return code;
}

QString columnName(int column) {
    return columnText(Field(column));
}

// The code's bytes as text: UTF-8 as we write it; else what zxing makes of them (a code
// in GB 18030 or Shift JIS says nothing of its character set).
QByteArray utf8Text(const ZXing::Result& result) {
    const ZXing::ByteArray& bytes = result.bytes();
    const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(raw);
    if (!utf8.hasError())
        return raw;
    return QByteArray::fromStdString(result.text());
}

} // namespace

Code make(const Card& card, Format format) {
    QList<int> leaveOut;
    for (int column : QrText::notCarried(format)) {
        if (!card.values[size_t(column)].isEmpty())
            leaveOut << column;
    }
    QList<int> dropping = QrText::droppingOrder();
    for (;;) {
        std::optional<Code> code = encoded(QrText::encode(card, format, leaveOut));
        if (code) {
            std::sort(leaveOut.begin(), leaveOut.end());
            for (int column : leaveOut)
                code->leftOut << columnName(column);
            return *code;
        }
        // The next filled column to leave out.
        while (!dropping.isEmpty() && (leaveOut.contains(dropping.first()) ||
                                       card.values[size_t(dropping.first())].isEmpty()))
            dropping.removeFirst();
        if (dropping.isEmpty())
            throw EDatabaseError(QStringLiteral("这张名片的姓名和手机太长，放不进一个二维码。"
                                                "请缩短姓名或手机后重试。"));
        leaveOut << dropping.takeFirst();
    }
}

QImage image(const Code& code, int moduleSize) {
    const int side = (code.size + 2 * kQuietZone) * moduleSize;
    QImage out(side, side, QImage::Format_Grayscale8);
    out.fill(255);
    for (int y = 0; y < code.size; ++y) {
        for (int x = 0; x < code.size; ++x) {
            if (!code.dark(x, y))
                continue;
            for (int dy = 0; dy < moduleSize; ++dy) {
                uchar* row = out.scanLine((y + kQuietZone) * moduleSize + dy);
                std::fill_n(row + (x + kQuietZone) * moduleSize, moduleSize, uchar(0));
            }
        }
    }
    return out;
}

QByteArray png(const Code& code, int moduleSize) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image(code, moduleSize).save(&buffer, "PNG");
    return bytes;
}

QByteArray svg(const Code& code, int moduleSize) {
    const int side = code.size + 2 * kQuietZone;
    QByteArray path;
    // One stroke of the path per run of dark modules in a row.
    for (int y = 0; y < code.size; ++y) {
        for (int x = 0; x < code.size;) {
            if (!code.dark(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < code.size && code.dark(end, y))
                ++end;
            path += 'M' + QByteArray::number(x + kQuietZone) + ',' +
                    QByteArray::number(y + kQuietZone) + 'h' + QByteArray::number(end - x) +
                    "v1h-" + QByteArray::number(end - x) + 'z';
            x = end;
        }
    }
    const QByteArray n = QByteArray::number(side);
    const QByteArray pixels = QByteArray::number(side * moduleSize);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
           pixels + "\" height=\"" + pixels + "\" viewBox=\"0 0 " + n + ' ' + n +
           "\" shape-rendering=\"crispEdges\">\n"
           "<rect width=\"" +
           n + "\" height=\"" + n + "\" fill=\"#ffffff\"/>\n<path fill=\"#000000\" d=\"" + path +
           "\"/>\n</svg>\n";
}

std::optional<Found> find(const QImage& picture) {
    if (picture.isNull())
        return std::nullopt;
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(),
                                ZXing::ImageFormat::Lum, int(grey.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        Found found;
        found.text = utf8Text(result);
        if (QrText::decode(found.text, &found.card, &found.columns) && !found.columns.isEmpty())
            return found;
    }
    return std::nullopt;
}

Card filledFrom(const Found& code, const Card& read) {
    Card card = read;
    for (int column : code.columns)
        card.values[size_t(column)] = code.card.values[size_t(column)];
    return card;
}

} // namespace Recognize::QrCode

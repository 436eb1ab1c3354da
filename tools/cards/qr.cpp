// qr: a card's QR code as a PNG or SVG file, for printing on a card or a web page.
#include "tool.h"

#include "data/adoconnection.h"
#include "data/cardstore.h"
#include "data/dberror.h"
#include "recognize/qrcode.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace CardsTool {

int qrCommand(Context& context, QStringList args) {
    Recognize::QrCode::Format format = Recognize::QrCode::Format::VCard;
    if (args.removeAll(QStringLiteral("--mecard")) > 0)
        format = Recognize::QrCode::Format::MeCard;
    if (args.size() != 2)
        throw UsageError{QStringLiteral("qr 需要名片的 ID 和要写的文件（.png 或 .svg）。")};
    bool number = false;
    const qint64 id = args[0].toLongLong(&number);
    if (!number || id <= 0)
        throw UsageError{
            QStringLiteral("“%1”不是名片的 ID：ID 是正整数，可用 find 命令查到。").arg(args[0])};
    const QString path = args[1];
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg"))
        throw UsageError{QStringLiteral("二维码文件的扩展名要是 .png 或 .svg。")};

    TADOConnection& connection = context.connection();
    std::optional<Card> card;
    CardStore::forEachCard(connection.database(),
                           QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" = ?"), {id},
                           [&](qint64, const Card& found) { card = found; });
    if (!card)
        throw EDatabaseError(
            QStringLiteral("没有 ID 为 %1 的名片。请用 find 命令查到名片的 ID 后重试。").arg(id));

    const Recognize::QrCode::Code code = Recognize::QrCode::make(*card, format);
    const QByteArray bytes = suffix == QLatin1String("svg") ? Recognize::QrCode::svg(code)
                                                            : Recognize::QrCode::png(code);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EDatabaseError(QStringLiteral("无法写入文件“%1”。请检查文件夹是否存在、能否写入，"
                                            "以及磁盘空间后重试。\n(%2)")
                                 .arg(QDir::toNativeSeparators(path), file.errorString()));
    if (!code.leftOut.isEmpty())
        context.err << QStringLiteral("二维码已写好，但放不下这张名片的全部内容，没有包含：%1。")
                           .arg(code.leftOut.join(QStringLiteral("、")))
                    << Qt::endl;
    return 0;
}

} // namespace CardsTool

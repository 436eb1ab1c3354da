#include "recognizecommand.h"

#include "recognize/picturereader.h"

#include "data/dberror.h"
#include "data/fieldmap.h"

#include <QDir>

#include <memory>

namespace Recognize {

int runCommand(const QStringList& images, QTextStream& out, QTextStream& err) {
    if (images.isEmpty()) {
        err << QStringLiteral("用法：quembe-cards recognize 图片文件...\n"
                              "请指明至少一个名片图片文件（PNG、JPEG、BMP 或 TIFF）。\n");
        err.flush();
        return 2;
    }
    std::unique_ptr<PictureReader> reader;
    int status = 0;
    for (const QString& path : images) {
        QImage image;
        try {
            image = loadImage(path);
        } catch (const EDatabaseError& e) {
            err << e.message() << '\n';
            err.flush();
            status = 1;
            continue;
        }
        try {
            // Loaded at the first picture: bad files alone cost no models.
            if (!reader)
                reader = std::make_unique<PictureReader>();
        } catch (const EDatabaseError& e) {
            err << e.message() << '\n';
            err.flush();
            return 1;
        }
        const Card card = *reader->readCard(image);
        if (isBlank(card)) {
            err << QDir::toNativeSeparators(path) << QStringLiteral("：") << noTextMessage()
                << '\n';
            err.flush();
            status = 1;
            continue;
        }
        out << QStringLiteral("# ") << path << '\n';
        for (size_t i = 0; i < kFieldMap.size(); ++i) {
            const QString value = card.values[i].trimmed();
            if (value.isEmpty())
                continue;
            for (const QString& line : value.split(QLatin1Char('\n'))) {
                if (!line.trimmed().isEmpty())
                    out << QString::fromUtf8(kFieldMap[i].column) << QStringLiteral(": ")
                        << line.trimmed() << '\n';
            }
        }
        out << '\n';
        out.flush();
    }
    return status;
}

} // namespace Recognize

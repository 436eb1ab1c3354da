// recognize: the fields found on card pictures, for scripts and for checking recognition.
#include "tool.h"

#include "recognize/picturereader.h"

#include "data/dberror.h"
#include "data/fieldmap.h"

#include <QDir>

#include <memory>

namespace CardsTool {

namespace {

// One "column: value" line per line of each filled column, in field-map order; the
// columns a QR code gave exactly as it holds them, blanks and empty lines kept.
void printCard(QTextStream& out, const QString& path, const Card& card,
               const QList<int>& fromCode) {
    out << QStringLiteral("# ") << path << '\n';
    for (size_t i = 0; i < kFieldMap.size(); ++i) {
        const bool exact = fromCode.contains(int(i));
        const QString value = exact ? card.values[i] : card.values[i].trimmed();
        if (value.isEmpty())
            continue;
        for (const QString& line : value.split(QLatin1Char('\n'))) {
            if (exact || !line.trimmed().isEmpty())
                out << QString::fromUtf8(kFieldMap[i].column) << QStringLiteral(": ")
                    << (exact ? line : line.trimmed()) << '\n';
        }
    }
    out << '\n';
    out.flush();
}

} // namespace

// A file that is missing, damaged or no picture, or a picture without text, is reported
// and the others are still read: 0 when every picture was read, else 1.
int recognizeCommand(Context& context, QStringList args) {
    if (args.isEmpty())
        throw UsageError{QStringLiteral("recognize 需要至少一个图片文件。")};
    QTextStream& err = context.err;
    std::unique_ptr<Recognize::PictureReader> reader;
    int status = 0;
    for (const QString& path : args) {
        QImage image;
        try {
            image = Recognize::loadImage(path);
        } catch (const EDatabaseError& e) {
            err << e.message() << '\n';
            err.flush();
            status = 1;
            continue;
        }
        try {
            // Loaded at the first picture: bad files alone cost no models.
            if (!reader)
                reader = std::make_unique<Recognize::PictureReader>();
        } catch (const EDatabaseError& e) {
            err << e.message() << '\n';
            err.flush();
            return 1;
        }
        QList<int> fromCode;
        const Card card = *reader->readCard(image, nullptr, &fromCode);
        if (Recognize::isBlank(card)) {
            err << QDir::toNativeSeparators(path) << QStringLiteral("：")
                << Recognize::noTextMessage() << '\n';
            err.flush();
            status = 1;
            continue;
        }
        printCard(context.out, path, card, fromCode);
    }
    return status;
}

} // namespace CardsTool

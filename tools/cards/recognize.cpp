// recognize: the fields found on card pictures, for scripts and for checking recognition.
#include "tool.h"

#include "recognize/keptpicture.h"
#include "recognize/picturereader.h"

#include "data/adoconnection.h"
#include "data/cardpicture.h"
#include "data/cardstore.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/history.h"
#include "duplicates/keys.h"

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

// A card read from a picture, to be added with it.
struct Read {
    QString path;
    Card card;
    QByteArray picture;
};

// Every card in one transaction, each with its picture; one the same as a card here is not
// added again. One line per card: its ID, name and file, and for one here already, a word.
void addAll(Context& context, const QVector<Read>& read) {
    const Sqlite::Database& database = context.connection().database();
    sqlite3* db = database.get();
    if (!Duplicates::hasKeys(db))
        Duplicates::rebuildKeys(db);
    QVector<qint64> here;
    QVector<Read> adding;
    for (const Read& r : read) {
        here.append(Duplicates::sameCardHere(db, r.card));
        if (here.last() == 0)
            adding.append(r);
    }
    History::Operation operation(db, QString());
    operation.setDescriber([](const History::Operation::Counts& counts) {
        return QStringLiteral("识别 %1 张名片").arg(counts.added);
    });
    int next = 0;
    const QVector<qint64> ids = CardStore::addCards(
        database,
        [&](Card* card) {
            if (next == adding.size())
                return false;
            *card = adding[next++].card;
            return true;
        },
        {},
        [&](qint64 id) {
            CardPicture::store(db, id, CardPicture::Side::Front, adding[next - 1].picture);
        },
        Duplicates::fileNewCards);
    int added = 0;
    for (int i = 0; i < read.size(); ++i) {
        const qint64 id = here[i] ? here[i] : ids.value(added++);
        context.out << id << '\t' << read[i].card[Field::Name].trimmed() << '\t'
                    << QDir::toNativeSeparators(read[i].path)
                    << (here[i] ? QStringLiteral("\t已有这张名片，没有再添加") : QString()) << '\n';
    }
    context.out.flush();
}

} // namespace

// A file that is missing, damaged or no picture, or a picture without text, is reported
// and the others are still read: 0 when every picture was read, else 1. With --add, the
// cards are added only when every picture was read.
int recognizeCommand(Context& context, QStringList args) {
    const bool add = args.removeAll(QStringLiteral("--add")) > 0;
    if (args.isEmpty())
        throw UsageError{QStringLiteral("recognize 需要至少一个图片文件。")};
    // A database that cannot be used is said before the pictures are read.
    if (add)
        context.connection();
    QVector<Read> read;
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
        if (add)
            read.append({path, card, Recognize::keptPicture(reader->pictureToKeep(image))});
        else
            printCard(context.out, path, card, fromCode);
    }
    if (add && status != 0) {
        err << QStringLiteral("有图片没能识别，没有添加任何名片。请去掉或换掉这些图片后重试。")
            << '\n';
        err.flush();
    } else if (add) {
        addAll(context, read);
    }
    return status;
}

} // namespace CardsTool

// Cards in from other programs' files and out to them.
#include "cardtransfer.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/cardpicture.h"
#include "data/sqlite.h"
#include "exchange/transfer.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "quickfind/cardindex.h"
#include "recognize/keptpicture.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

CardTransfer::CardTransfer(QWidget* window, TADOConnection* connection, TADOQuery* cards)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards) {
    setObjectName(QStringLiteral("CardTransfer"));
}

void CardTransfer::importCards() {
    const QString file = Platform::getOpenFileName(
        m_window, QStringLiteral("导入名片"),
        {QStringLiteral("所有名片文件 (*.vcf *.csv)"), QStringLiteral("vCard 名片 (*.vcf *.vcard)"),
         QStringLiteral("CSV 表格 (*.csv)"), QStringLiteral("所有文件 (*)")});
    if (file.isEmpty())
        return;
    m_connection->Open();
    // The list's own reading must not hold the file while the cards go in.
    m_connection->finishReading();
    Core::Progress work(Core::Progress::Phase::Importing, QFileInfo(file).size());
    Platform::Progress progress(m_window, work);
    Exchange::ImportOptions options = m_options;
    options.keepPicture = Recognize::keptPictureOf;
    const Exchange::ImportResult result = Exchange::importFiles(
        m_connection->database(), {file}, CardIndex::cardsAdded, &work, options);
    progress.close();
    if (result.cancelled) {
        Platform::showMessage(QStringLiteral("导入已取消，没有添加任何名片。"));
        return;
    }
    // The list is read again so that it holds the new cards; the first of them is current.
    m_cards->Close();
    m_cards->Open();
    if (!result.ids.isEmpty())
        m_cards->Locate(result.ids.first());
    const QString summary =
        Exchange::importSummary(result.ids.size(), result.skipped, 10, result.duplicates);
    const int resembling = m_resembling ? m_resembling(result.ids) : 0;
    if (resembling == 0 || !m_showDuplicates) {
        Platform::showMessage(summary);
        return;
    }
    // Added all the same: whether they are one person is the user's to decide.
    const QString offer = summary + QStringLiteral("\n\n其中 %1 张名片与已有的名片相似，可能是同一"
                                                   "个人。现在查看重复名片吗？")
                                        .arg(resembling);
    if (Platform::messageBox(m_window, offer, Platform::applicationTitle(),
                             Platform::MB_YESNO | Platform::MB_ICONQUESTION) == Platform::IDYES)
        m_showDuplicates();
}

void CardTransfer::setDuplicates(Exchange::ImportOptions options,
                                 std::function<int(const QVector<qint64>& ids)> resembling,
                                 std::function<void()> show) {
    m_options = std::move(options);
    m_resembling = std::move(resembling);
    m_showDuplicates = std::move(show);
}

bool CardTransfer::askExportFile(QString* path, Exchange::Format* format) const {
    // Every card file first; picked, it leaves the format to the file name's suffix.
    const QString anyCardFile = QStringLiteral("所有名片文件 (*.vcf *.csv *.xlsx)");
    QStringList filters{anyCardFile};
    for (Exchange::Format each : Exchange::allFormats())
        filters << Exchange::formatFilter(each);
    QString filter = filters.at(1);
    const QString proposed = QStringLiteral("名片.vcf");
    *path =
        Platform::getSaveFileName(m_window, QStringLiteral("导出名片"), filters, &filter, proposed);
    if (path->isEmpty())
        return false;
    *format = Exchange::allFormats().front();
    const QFileInfo chosen(*path);
    if (filter == anyCardFile) {
        const QString suffix = chosen.suffix().toLower();
        if (suffix == QLatin1String("csv"))
            *format = Exchange::Format::CsvUtf8;
        else if (suffix == QLatin1String("xlsx"))
            *format = Exchange::Format::Xlsx;
    } else {
        Exchange::formatFromFilter(filter, format);
    }
    if (chosen.suffix().isEmpty())
        *path += QLatin1Char('.') + Exchange::formatSuffix(*format);
    else if (chosen.fileName() == proposed && Exchange::formatSuffix(*format) != chosen.suffix())
        *path = chosen.dir().filePath(chosen.completeBaseName() + QLatin1Char('.') +
                                      Exchange::formatSuffix(*format));
    return true;
}

void CardTransfer::exportCards() {
    const QVector<qint64> ids = m_cards->Active() ? m_cards->RowIds() : QVector<qint64>();
    if (ids.isEmpty()) {
        Platform::showMessage(QStringLiteral("列表中没有名片，没有可以导出的。"));
        return;
    }
    QString path;
    Exchange::Format format = Exchange::allFormats().front();
    if (!askExportFile(&path, &format))
        return;
    // Pictures make a file many times larger: only when asked for.
    const bool pictures =
        Exchange::writesPictures(format) &&
        CardPicture::cardsWithPictures(m_connection->database().get()) > 0 &&
        Platform::messageBox(m_window,
                             QStringLiteral("包含名片图片吗？\n有的名片保存了图片。包含名片图片时，"
                                            "每张带图片的名片会使文件大 100 KB 左右。"),
                             QStringLiteral("导出名片"),
                             Platform::MB_YESNO | Platform::MB_ICONQUESTION) == Platform::IDYES;

    Core::Progress work(Core::Progress::Phase::Exporting, ids.size());
    Platform::Progress progress(m_window, work);
    const int written =
        Exchange::exportCards(m_connection->database(), ids, path, format, &work, pictures);
    progress.close();
    if (progress.wasCanceled()) {
        Platform::showMessage(QStringLiteral("导出已取消，没有生成文件。"));
        return;
    }
    // A search or a quick find lists only some of the cards: say so.
    const qint64 all = Exchange::cardCount(m_connection->database());
    const QString howMany =
        written < all
            ? QStringLiteral("已导出 %1 张名片（全部 %2 张中列表里的 %1 张）到：\n%3")
                  .arg(written)
                  .arg(all)
                  .arg(Sqlite::native(path))
            : QStringLiteral("已导出 %1 张名片到：\n%2").arg(written).arg(Sqlite::native(path));
    Platform::showMessage(howMany);
}

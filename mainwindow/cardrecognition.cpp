// A card from a photo or scan: read on this machine, then checked and saved by the user.
#include "cardrecognition.h"

#include "core/card.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "recognize/picturereader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QWidget>

#include <optional>

CardRecognition::CardRecognition(QWidget* window, std::function<void(const Card&)> openInEditor)
    : QObject(window)
    , m_window(window)
    , m_openInEditor(std::move(openInEditor)) {
    setObjectName(QStringLiteral("CardRecognition"));
}

CardRecognition::~CardRecognition() = default;

void CardRecognition::readPictureFile() {
    const QString file =
        Platform::getOpenFileName(m_window, QStringLiteral("识别名片图片"),
                                  {Recognize::pictureFilter(), QStringLiteral("所有文件 (*)")});
    if (file.isEmpty())
        return;
    readPicture(Recognize::loadImage(file));
}

void CardRecognition::readClipboardPicture() {
    const QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull()) {
        Platform::showMessage(QStringLiteral("剪贴板里没有图片。请先复制名片的照片或扫描图，"
                                             "再按 Ctrl+Shift+V。"));
        return;
    }
    readPicture(image);
}

void CardRecognition::readPicture(const QImage& image) {
    Recognize::Progress progress;
    std::optional<Card> card;
    const bool done = Platform::runInBackground(
        m_window, Core::Progress::text(progress.phase()),
        [&](const std::function<void(int)>& report) {
            progress.setListener([&report](const Core::Progress& p) { report(int(p.done())); });
            if (!m_reader)
                m_reader = std::make_unique<Recognize::PictureReader>();
            card = m_reader->readCard(image, &progress);
        },
        [&progress] { progress.cancel(); });
    if (!done || !card)
        return;
    if (Recognize::isBlank(*card)) {
        Platform::showMessage(Recognize::noTextMessage());
        return;
    }
    m_openInEditor(*card);
}

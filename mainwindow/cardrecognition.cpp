// A card from a photo or scan: read on this machine, then checked and saved by the user.
#include "VELMORA.h"

#include "cardduplicates.h"
#include "cardeditor.h"
#include "cardhistory.h"

#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "recognize/picturereader.h"

#include <QClipboard>
#include <QGuiApplication>

#include <optional>

void TFrmMain::N23Click() {
    const QString file =
        Platform::getOpenFileName(this, QStringLiteral("识别名片图片"),
                                  {Recognize::pictureFilter(), QStringLiteral("所有文件 (*)")});
    if (file.isEmpty())
        return;
    addCardFromPicture(Recognize::loadImage(file));
}

void TFrmMain::N24Click() {
    const QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull()) {
        Platform::showMessage(QStringLiteral("剪贴板里没有图片。请先复制名片的照片或扫描图，"
                                             "再按 Ctrl+Shift+V。"));
        return;
    }
    addCardFromPicture(image);
}

void TFrmMain::addCardFromPicture(const QImage& image) {
    Recognize::Progress progress;
    std::optional<Card> card;
    const bool done = Platform::runInBackground(
        this, QStringLiteral("正在识别名片……"),
        [&](const std::function<void(int)>& report) {
            progress.onPercent = report;
            if (!m_cardReader)
                m_cardReader = std::make_unique<Recognize::PictureReader>();
            card = m_cardReader->readCard(image, &progress);
        },
        [&progress] { progress.cancel(); });
    if (!done || !card)
        return;
    if (Recognize::isBlank(*card)) {
        Platform::showMessage(Recognize::noTextMessage());
        return;
    }
    if (m_duplicates->alreadyHere(*card))
        return;
    // As "添        加" does, then the fields found; nothing is stored until the user saves.
    SpeedButton1Click();
    m_history->addingRecognisedCard();
    for (const EditorInput& input : kEditorInputs)
        setInputText(QString::fromLatin1(input.control), (*card)[input.field]);
}

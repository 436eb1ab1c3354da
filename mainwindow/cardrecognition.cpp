// A card from a photo or scan: read on this machine, then checked and saved by the user.
#include "cardrecognition.h"
#include "cardeditor.h"

#include "core/card.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "recognize/picturereader.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QWidget>

#include <optional>

namespace {

// Characters read with low confidence stand out in the editor, dark red on yellow, so that
// the user checks them; loading the editor again, or typing in the input, clears them.
void markUnsure(QWidget* window, const QList<Recognize::UnsureText>& unsure) {
    QTextCharFormat marked;
    marked.setForeground(QColor(160, 0, 0));
    marked.setBackground(QColor(255, 232, 128));
    const QString tip = QStringLiteral("标出的字识别得不太确定，请对照名片核对。");
    for (const EditorInput& input : kEditorInputs) {
        QList<Recognize::UnsureText> parts;
        for (const Recognize::UnsureText& u : unsure) {
            if (u.column == int(input.field))
                parts << u;
        }
        QWidget* widget = window->findChild<QWidget*>(QString::fromLatin1(input.control));
        if (parts.isEmpty() || !widget)
            continue;
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            QList<QInputMethodEvent::Attribute> formats;
            for (const Recognize::UnsureText& u : parts)
                formats << QInputMethodEvent::Attribute(QInputMethodEvent::TextFormat,
                                                        u.start - edit->cursorPosition(), u.length,
                                                        marked);
            QInputMethodEvent event(QString(), formats);
            QCoreApplication::sendEvent(edit, &event);
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, once] {
                QObject::disconnect(*once);
                QInputMethodEvent clear;
                QCoreApplication::sendEvent(edit, &clear);
            });
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
            QList<QTextEdit::ExtraSelection> selections;
            for (const Recognize::UnsureText& u : parts) {
                QTextEdit::ExtraSelection s;
                s.cursor = QTextCursor(memo->document());
                s.cursor.setPosition(u.start);
                s.cursor.setPosition(u.start + u.length, QTextCursor::KeepAnchor);
                s.format = marked;
                selections << s;
            }
            memo->setExtraSelections(selections);
            memo->setToolTip(tip);
        }
    }
}

} // namespace

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
    QList<Recognize::UnsureText> unsure;
    const bool done = Platform::runInBackground(
        m_window, Core::Progress::text(progress.phase()),
        [&](const std::function<void(int)>& report) {
            progress.setListener([&report](const Core::Progress& p) { report(int(p.done())); });
            if (!m_reader)
                m_reader = std::make_unique<Recognize::PictureReader>();
            card = m_reader->readCard(image, &progress, nullptr, &unsure);
        },
        [&progress] { progress.cancel(); });
    if (!done || !card)
        return;
    if (Recognize::isBlank(*card)) {
        Platform::showMessage(Recognize::noTextMessage());
        return;
    }
    m_openInEditor(*card);
    markUnsure(m_window, unsure);
}

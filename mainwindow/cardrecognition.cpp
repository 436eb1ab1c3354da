// A card from a photo or scan: read on this machine, then checked and saved by the user.
#include "cardrecognition.h"
#include "cardeditor.h"

#include "VELMORA.h"

#include "core/card.h"
#include "data/adoquery.h"
#include "data/cardpicture.h"
#include "dialogs/picturedialog.h"
#include "platform/application.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "platform/window.h"
#include "quickfind/cardindex.h"
#include "recognize/keptpicture.h"
#include "recognize/picturereader.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

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

CardRecognition::CardRecognition(TFrmMain* window, TADOQuery* cards,
                                 std::function<bool(const Card&)> openInEditor)
    : QObject(window)
    , m_window(window)
    , m_cards(cards)
    , m_openInEditor(std::move(openInEditor)) {
    setObjectName(QStringLiteral("CardRecognition"));

    // The card being checked is stored with its picture, or neither is.
    auto previous = cards->WriteHook;
    cards->WriteHook = [this, previous](sqlite3* db, const QString& table, qint64 id,
                                        RowWrite write) {
        if (previous)
            previous(db, table, id, write);
        if (write == RowWrite::Written && !m_picture.isEmpty() &&
            m_cards->state() == TADOQuery::dsInsert && CardIndex::isCardTable(table))
            CardPicture::store(db, id, CardPicture::Side::Front, m_picture);
    };

    // Over the right of the list, just above the editor: the list is not needed while a
    // card is checked, and no control of the window moves.
    m_panel = new QFrame(window->DBGrid1->parentWidget());
    m_panel->setObjectName(QStringLiteral("RecognitionPanel"));
    m_panel->setFrameShape(QFrame::Box);
    m_panel->setAutoFillBackground(true);
    m_shown = new QLabel(m_panel);
    m_shown->setObjectName(QStringLiteral("RecognisedPicture"));
    m_shown->setAlignment(Qt::AlignCenter);
    m_shown->setCursor(Qt::PointingHandCursor);
    m_shown->setToolTip(QStringLiteral("单击放大"));
    m_shown->setMinimumSize(1, 1);
    m_shown->installEventFilter(this);
    m_count = new QLabel(m_panel);
    m_count->setObjectName(QStringLiteral("RecognitionCount"));
    m_ok = new QPushButton(QStringLiteral("确定"), m_panel);
    m_ok->setObjectName(QStringLiteral("ButtonRecognitionOK"));
    m_skip = new QPushButton(QStringLiteral("跳过"), m_panel);
    m_skip->setObjectName(QStringLiteral("ButtonRecognitionSkip"));
    auto* row = new QHBoxLayout;
    row->addWidget(m_count, 1);
    row->addWidget(m_ok);
    row->addWidget(m_skip);
    auto* layout = new QVBoxLayout(m_panel);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_shown, 1);
    layout->addLayout(row);
    m_panel->hide();
    connect(m_ok, &QPushButton::clicked, this,
            Platform::guarded([this] { m_window->ButtonTJQDClick(); }));
    connect(m_skip, &QPushButton::clicked, this, Platform::guarded([this] { skip(); }));
    window->DBGrid1->installEventFilter(this);
    window->PageControlZL->installEventFilter(this);

    // Adding or modifying another card leaves the picture behind.
    for (QAction* action : {window->N4, window->N5, window->N17, window->N18})
        connect(action, &QAction::triggered, this, [this] { stopChecking(); });
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(window->SpeedButton1),
                                    static_cast<QAbstractButton*>(window->SpeedButton2)})
        connect(button, &QAbstractButton::clicked, this, [this] { stopChecking(); });
    connect(window->DBGrid1, &TDBGrid::dblClick, this, [this] { stopChecking(); });
}

CardRecognition::~CardRecognition() = default;

void CardRecognition::readPictureFile() {
    const QStringList files =
        Platform::getOpenFileNames(m_window, QStringLiteral("识别名片图片"),
                                   {Recognize::pictureFilter(), QStringLiteral("所有文件 (*)")});
    if (files.isEmpty())
        return;
    stopChecking();
    m_queue.clear();
    m_total = 0;
    if (files.size() == 1) {
        readPicture(Recognize::loadImage(files.first()));
        return;
    }
    m_queue = files;
    m_total = int(files.size());
    m_added = m_skipped = m_unread = 0;
    readNext();
}

void CardRecognition::readClipboardPicture() {
    const QImage image = QGuiApplication::clipboard()->image();
    if (image.isNull()) {
        Platform::showMessage(QStringLiteral("剪贴板里没有图片。请先复制名片的照片或扫描图，"
                                             "再按 Ctrl+Shift+V。"));
        return;
    }
    stopChecking();
    m_queue.clear();
    m_total = 0;
    readPicture(image);
}

CardRecognition::Outcome CardRecognition::readPicture(const QImage& image, const QString& file) {
    Recognize::Progress progress;
    std::optional<Card> card;
    QList<Recognize::UnsureText> unsure;
    QImage kept;
    const bool done = Platform::runInBackground(
        m_window, Core::Progress::text(progress.phase()),
        [&](const std::function<void(int)>& report) {
            progress.setListener([&report](const Core::Progress& p) { report(int(p.done())); });
            if (!m_reader)
                m_reader = std::make_unique<Recognize::PictureReader>();
            card = m_reader->readCard(image, &progress, nullptr, &unsure);
            kept = m_reader->pictureToKeep(image);
        },
        [&progress] { progress.cancel(); });
    if (!done || !card)
        return Outcome::Cancelled;
    if (Recognize::isBlank(*card)) {
        Platform::showMessage(
            (file.isEmpty() ? QString() : QDir::toNativeSeparators(file) + QStringLiteral("：")) +
            Recognize::noTextMessage());
        return Outcome::NoText;
    }
    if (!m_openInEditor(*card))
        return Outcome::Here;
    markUnsure(m_window, unsure);
    showChecking(Recognize::keptPicture(kept));
    return Outcome::Opened;
}

void CardRecognition::readNext() {
    while (!m_queue.isEmpty()) {
        const QString file = m_queue.takeFirst();
        const int at = m_total - int(m_queue.size());
        // A file that cannot be read is said, and the next one follows.
        QImage image;
        Platform::guarded([&] { image = Recognize::loadImage(file); })();
        if (image.isNull()) {
            ++m_unread;
            continue;
        }
        // Reading that fails (no module, no models) would fail for the rest too: said once.
        std::optional<Outcome> outcome;
        Platform::guarded([&] { outcome = readPicture(image, file); })();
        if (!outcome)
            m_unread += 1 + int(m_queue.size());
        if (!outcome || outcome == Outcome::Cancelled) {
            m_queue.clear();
            break;
        }
        if (*outcome == Outcome::Opened) {
            m_count->setText(QStringLiteral("第 %1 张，共 %2 张").arg(at).arg(m_total));
            return;
        }
        // A card the same as one here was said by the window.
        ++(*outcome == Outcome::Here ? m_skipped : m_unread);
    }
    finishReview();
}

void CardRecognition::finishReview() {
    if (m_total == 0)
        return;
    const int total = m_total;
    m_total = 0;
    stopChecking();
    if (m_window->modeMarker() == QStringLiteral("添加"))
        m_window->Button7Click();
    QString text = QStringLiteral("%1 张名片图片：添加了 %2 张").arg(total).arg(m_added);
    if (m_skipped)
        text += QStringLiteral("，跳过 %1 张").arg(m_skipped);
    if (m_unread)
        text += QStringLiteral("，%1 张没能识别").arg(m_unread);
    const int left = total - m_added - m_skipped - m_unread;
    if (left > 0)
        text += QStringLiteral("，%1 张没有看").arg(left);
    Platform::showMessage(text + QStringLiteral("。"));
}

bool CardRecognition::cardSaved() {
    m_picture.clear();
    if (m_total == 0) {
        stopChecking();
        return false;
    }
    ++m_added;
    readNext();
    return true;
}

void CardRecognition::skip() {
    if (m_total == 0)
        return;
    ++m_skipped;
    m_picture.clear();
    readNext();
}

void CardRecognition::showChecking(const QByteArray& picture) {
    m_picture = picture;
    m_pixmap.loadFromData(picture, "JPEG");
    const bool several = m_total > 0;
    for (QWidget* w : {static_cast<QWidget*>(m_count), static_cast<QWidget*>(m_ok),
                       static_cast<QWidget*>(m_skip)})
        w->setVisible(several);
    placePanel();
    m_panel->show();
    m_panel->raise();
}

void CardRecognition::stopChecking() {
    m_picture.clear();
    m_panel->hide();
}

void CardRecognition::placePanel() {
    const QRect grid = m_window->DBGrid1->geometry();
    const int width = qMin(grid.width() * 3 / 5, grid.height() * 2);
    m_panel->setGeometry(grid.right() + 1 - width, grid.top(), width, grid.height());
    m_panel->layout()->activate();
    if (!m_pixmap.isNull())
        m_shown->setPixmap(Platform::fitted(m_pixmap, m_shown->size(), m_shown));
}

bool CardRecognition::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window->DBGrid1 && m_panel->isVisibleTo(m_window) &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        placePanel();
    } else if (watched == m_window->PageControlZL && event->type() == QEvent::Hide &&
               !event->spontaneous()) {
        // The editor closed: nothing more is checked.
        m_queue.clear();
        stopChecking();
        if (m_total)
            Platform::guarded([this] { finishReview(); })();
    } else if (watched == m_shown && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
               !m_picture.isEmpty()) {
        auto* large = new PictureDialog(m_window, {});
        large->setAttribute(Qt::WA_DeleteOnClose);
        large->setPictures(m_window->inputText(QStringLiteral("Edit1")), m_picture, QByteArray());
        Platform::showModal(large);
    }
    return QObject::eventFilter(watched, event);
}

// The pictures kept with the cards: in the detail pane, large, added and removed.
#include "cardpictures.h"

#include "VELMORA.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/cardpicture.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "dialogs/picturedialog.h"
#include "platform/application.h"
#include "platform/filedialog.h"
#include "platform/messagebox.h"
#include "platform/window.h"
#include "recognize/keptpicture.h"
#include "recognize/picturereader.h"

#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

namespace {

// The foot of the detail pane the thumbnail takes; the rows above it scroll.
const int kThumbnailHeight = 72;

} // namespace

CardPictures::CardPictures(TFrmMain* window, TADOConnection* connection, TADOQuery* cards)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards) {
    setObjectName(QStringLiteral("CardPictures"));
    m_thumbnail = new QLabel(window->ValueListEditor1);
    m_thumbnail->setObjectName(QStringLiteral("PictureThumbnail"));
    m_thumbnail->setAlignment(Qt::AlignCenter);
    m_thumbnail->setCursor(Qt::PointingHandCursor);
    m_thumbnail->setToolTip(QStringLiteral("名片图片：单击放大"));
    m_thumbnail->hide();
    m_thumbnail->installEventFilter(this);

    m_action = window->PopupMenu1->addAction(QStringLiteral("名片图片... &P"));
    m_action->setObjectName(QStringLiteral("PictureAction"));
    connect(m_action, &QAction::triggered, this, Platform::guarded([this] { showLarge(); }));
    // The pane is filled when a cell is clicked: the thumbnail with it.
    connect(window->DBGrid1, &QAbstractItemView::clicked, this,
            [this](const QModelIndex&) { Platform::guarded([this] { showInPane(); })(); });
}

CardPictures::~CardPictures() = default;

void CardPictures::showInPane() {
    showInPane(m_cards->Active() ? m_cards->CurrentId() : 0);
}

void CardPictures::showInPane(qint64 id) {
    m_inPane = id;
    QPixmap pixmap;
    if (m_inPane) {
        m_connection->Open();
        const QByteArray jpeg =
            CardPicture::read(m_connection->handle(), m_inPane, CardPicture::Side::Front);
        if (!jpeg.isEmpty())
            pixmap.loadFromData(jpeg, "JPEG");
    }
    if (pixmap.isNull()) {
        m_window->ValueListEditor1->setFooter(m_thumbnail, 0);
        return;
    }
    m_window->ValueListEditor1->setFooter(m_thumbnail, kThumbnailHeight);
    m_thumbnail->setPixmap(Platform::fitted(
        pixmap, QSize(m_thumbnail->width() - 4, kThumbnailHeight - 4), m_thumbnail));
}

void CardPictures::showLarge() {
    const qint64 id = m_cards->Active() ? m_cards->CurrentId() : 0;
    if (id == 0) {
        Platform::showMessage(QStringLiteral("列表中没有名片。"));
        return;
    }
    showLarge(id);
}

void CardPictures::showLarge(qint64 id) {
    if (!m_dialog)
        m_dialog = new PictureDialog(m_window, {});
    m_dialog->setObjectName(QStringLiteral("CardPictureDialog"));
    // The buttons act on the card shown.
    m_dialog->setActions({[this, id] { add(id); }, [this, id] { remove(id); }});
    refresh(id);
    Platform::showModal(m_dialog);
}

void CardPictures::refresh(qint64 id) {
    m_connection->Open();
    sqlite3* db = m_connection->handle();
    const History::Image card = History::imageOf(db, id);
    m_dialog->setPictures(card.card[Field::Name],
                          CardPicture::read(db, id, CardPicture::Side::Front),
                          CardPicture::read(db, id, CardPicture::Side::Back));
    if (id == m_inPane)
        showInPane(id);
}

void CardPictures::add(qint64 id) {
    const QString file =
        Platform::getOpenFileName(m_dialog, QStringLiteral("添加名片图片"),
                                  {Recognize::pictureFilter(), QStringLiteral("所有文件 (*)")});
    if (file.isEmpty())
        return;
    const QByteArray jpeg = Recognize::keptPicture(Recognize::loadImage(file));
    m_connection->Open();
    const bool hasFront =
        !CardPicture::read(m_connection->handle(), id, CardPicture::Side::Front).isEmpty();
    CardPicture::replace(m_connection->database(), id,
                         hasFront ? CardPicture::Side::Back : CardPicture::Side::Front, jpeg);
    refresh(id);
}

void CardPictures::remove(qint64 id) {
    if (Platform::messageBox(m_dialog, QStringLiteral("删除这张名片保存的图片吗？名片本身不删除。"),
                             QStringLiteral("删除名片图片"),
                             Platform::MB_YESNO | Platform::MB_ICONQUESTION) != Platform::IDYES)
        return;
    m_connection->Open();
    CardPicture::remove(m_connection->database(), id, CardPicture::Side::Front);
    refresh(id);
}

bool CardPictures::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_thumbnail && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && m_inPane)
        Platform::guarded([this] { showLarge(m_inPane); })();
    return QObject::eventFilter(watched, event);
}

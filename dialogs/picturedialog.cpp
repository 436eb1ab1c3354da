// A card's pictures shown large.
#include "picturedialog.h"

#include "platform/application.h"
#include "platform/window.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Room for a card photo at a size that can be read; two of them side by side.
const QSize kSideSize(560, 420);

void showPicture(QLabel* label, const QByteArray& jpeg) {
    QPixmap pixmap;
    label->setVisible(!jpeg.isEmpty() && pixmap.loadFromData(jpeg, "JPEG"));
    if (label->isVisibleTo(label->parentWidget()))
        label->setPixmap(Platform::fitted(
            pixmap, pixmap.size().boundedTo(kSideSize) == pixmap.size() ? pixmap.size() : kSideSize,
            label));
    else
        label->clear();
}

} // namespace

PictureDialog::PictureDialog(QWidget* parent, Actions actions)
    : QDialog(parent)
    , m_actions(std::move(actions)) {
    setObjectName(QStringLiteral("PictureDialog"));
    auto* pictures = new QHBoxLayout;
    m_front = new QLabel(this);
    m_front->setObjectName(QStringLiteral("FrontPicture"));
    m_back = new QLabel(this);
    m_back->setObjectName(QStringLiteral("BackPicture"));
    for (QLabel* side : {m_front, m_back}) {
        side->setAlignment(Qt::AlignCenter);
        pictures->addWidget(side);
    }
    m_add = new QPushButton(this);
    m_add->setObjectName(QStringLiteral("ButtonAddPicture"));
    m_remove = new QPushButton(QStringLiteral("删除图片(&D)"), this);
    m_remove->setObjectName(QStringLiteral("ButtonRemovePicture"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("ButtonClosePicture"));
    close->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pictures, 1);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, Platform::guarded([this] { m_actions.add(); }));
    connect(m_remove, &QPushButton::clicked, this,
            Platform::guarded([this] { m_actions.remove(); }));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void PictureDialog::setPictures(const QString& name, const QByteArray& front,
                                const QByteArray& back) {
    setWindowTitle(QStringLiteral("名片图片 - %1").arg(name));
    showPicture(m_front, front);
    showPicture(m_back, back);
    m_add->setText(front.isEmpty()  ? QStringLiteral("添加图片(&A)...")
                   : back.isEmpty() ? QStringLiteral("添加背面(&A)...")
                                    : QStringLiteral("更换背面(&A)..."));
    m_remove->setEnabled(!front.isEmpty() || !back.isEmpty());
    m_add->setVisible(bool(m_actions.add));
    m_remove->setVisible(bool(m_actions.remove));
    if (front.isEmpty())
        m_front->setText(QStringLiteral("这张名片没有保存图片。"));
    m_front->setVisible(true);
    adjustSize();
}

#include "window.h"

#include <QApplication>
#include <QBitmap>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QVector>
#include <QWidget>
#include <QWindow>

namespace Platform {

namespace {
ModalRecorder* g_modal = nullptr;
}

void setRoundRectRegion(QWidget* window, int x1, int y1, int x2, int y2, int w, int h) {
    // Rasterised so that the corners follow the ellipses pixel by pixel.
    QBitmap bitmap(x2 - x1, y2 - y1);
    bitmap.fill(Qt::color0);
    QPainter painter(&bitmap);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::color1);
    painter.drawRoundedRect(QRectF(0, 0, x2 - x1, y2 - y1), w / 2.0, h / 2.0);
    painter.end();
    QRegion region(bitmap);
    region.translate(x1, y1);
    window->setMask(region);
}

int defaultHitTest(QWidget* window, const QPoint& globalPos) {
    const QPoint local = window->mapFromGlobal(globalPos);
    if (!window->rect().contains(local))
        return HTNOWHERE;
    if (!window->mask().isEmpty() && !window->mask().contains(local))
        return HTNOWHERE;
    return HTCLIENT;
}

HitTestDragger::HitTestDragger(QWidget* window, Handler handler)
    : QObject(window)
    , m_window(window)
    , m_handler(std::move(handler)) {
    window->installEventFilter(this);
}

bool HitTestDragger::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        if (m_handler(mouse->globalPosition().toPoint()) != HTCAPTION)
            return false;
        QWindow* handle = m_window->windowHandle();
        if (handle && handle->startSystemMove())
            return true;
        m_dragging = true;
        m_grabOffset = mouse->globalPosition().toPoint() - m_window->frameGeometry().topLeft();
        return true;
    }
    case QEvent::MouseMove:
        if (m_dragging) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            m_window->move(mouse->globalPosition().toPoint() - m_grabOffset);
            return true;
        }
        return false;
    case QEvent::MouseButtonRelease:
        if (m_dragging) {
            m_dragging = false;
            return true;
        }
        return false;
    default:
        return false;
    }
}

ModalRecorder::ModalRecorder() {
    g_modal = this;
}
ModalRecorder::~ModalRecorder() {
    if (g_modal == this)
        g_modal = nullptr;
}

void showModal(QWidget* window) {
    if (g_modal) {
        g_modal->shown.append(window);
        window->show();
        if (g_modal->onShow)
            g_modal->onShow(window);
        return;
    }
    QPointer<QWidget> guard(window);
    const Qt::WindowModality old = window->windowModality();
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->raise();
    window->activateWindow();
    QEventLoop loop;
    // The loop ends when the window is hidden or the application is told to end.
    struct HideWatcher : QObject {
        QEventLoop* loop;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Hide)
                loop->quit();
            return false;
        }
    } watcher;
    watcher.loop = &loop;
    window->installEventFilter(&watcher);
    if (window->isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (guard) {
        window->removeEventFilter(&watcher);
        window->setWindowModality(old);
    }
}

void terminateApplication() {
    if (g_modal) {
        ++g_modal->terminations;
        return;
    }
    QCoreApplication::exit(0);
}

QPixmap fitted(const QPixmap& picture, const QSize& box, const QWidget* widget) {
    const qreal ratio = widget ? widget->devicePixelRatioF() : 1.0;
    if (picture.isNull() || box.isEmpty())
        return picture;
    QPixmap out = picture.scaled(box * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    out.setDevicePixelRatio(ratio);
    return out;
}

} // namespace Platform

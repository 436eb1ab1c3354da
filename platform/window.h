#pragma once

#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QSize>
#include <functional>

class QWidget;

namespace Platform {

// Hit-test codes, as the window asks them of its handler.
enum : int { HTNOWHERE = 0, HTCLIENT = 1, HTCAPTION = 2 };

/// Gives a window a rounded-rectangle shape from (x1, y1) to (x2, y2) with corner ellipses
/// of `w` × `h`; outside it nothing is drawn or clickable.
void setRoundRectRegion(QWidget* window, int x1, int y1, int x2, int y2, int w, int h);

/// The default answer: HTCLIENT inside the window's shape, HTNOWHERE outside.
int defaultHitTest(QWidget* window, const QPoint& globalPos);

/// Routes left-button presses on a window (not on its own child controls) through a hit-test
/// handler; an answer of HTCAPTION drags the window as a title bar would.
class HitTestDragger : public QObject {
public:
    using Handler = std::function<int(const QPoint& globalPos)>;
    HitTestDragger(QWidget* window, Handler handler);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    Handler m_handler;
    bool m_dragging = false;
    QPoint m_grabOffset;
};

/// Shows a window modally and returns when it is hidden.
void showModal(QWidget* window);

/// A picture made to fit `box` (logical pixels) on `widget`'s screen, at the screen's own
/// pixels, so that it stays sharp where the desktop is scaled.
QPixmap fitted(const QPixmap& picture, const QSize& box, const QWidget* widget);

/// Tells the application to end: every modal loop and the main loop return.
void terminateApplication();

/// Test seam: while installed, showModal() shows and returns at once, and
/// terminateApplication() only counts.
class ModalRecorder {
public:
    ModalRecorder();
    ~ModalRecorder();
    ModalRecorder(const ModalRecorder&) = delete;
    ModalRecorder& operator=(const ModalRecorder&) = delete;
    int terminations = 0;
    QVector<QWidget*> shown;
    /// Called with each window as it is shown, before showModal() returns: a test acts on it.
    std::function<void(QWidget*)> onShow;
};

} // namespace Platform

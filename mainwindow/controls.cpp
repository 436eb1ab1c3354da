#include "controls.h"

#include "core/error.h"
#include "platform/application.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include <utility>

TSpeedButton::TSpeedButton(QWidget* parent)
    : QToolButton(parent) {
    setFontColor(Qt::black);
}

void TSpeedButton::setFontColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::ButtonText, color);
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

QColor TSpeedButton::fontColor() const {
    return palette().color(QPalette::ButtonText);
}

void TSpeedButton::mousePressEvent(QMouseEvent* event) {
    emit mouseDown();
    QToolButton::mousePressEvent(event);
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent* event) {
    // The caption turns back before the click runs.
    emit mouseUp();
    QToolButton::mouseReleaseEvent(event);
}

const QString TMaskEdit::kInvalidInput =
    QStringLiteral("Invalid input value.  Use escape key to abandon changes");

namespace {
const QString kSixBlanks = QStringLiteral("      ");
}

TMaskEdit::TMaskEdit(QWidget* parent)
    : QLineEdit(parent) {
    setInputMask(QStringLiteral("999999;_"));
    setMaxLength(6);
    setValue(QString());
}

TMaskEdit::~TMaskEdit() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

QString TMaskEdit::value() const {
    QString shown = displayText();
    shown.replace(QLatin1Char('_'), QLatin1Char(' '));
    return shown.leftJustified(6, QLatin1Char(' '), true);
}

void TMaskEdit::setValue(const QString& text) {
    setText(text.isEmpty() ? kSixBlanks : text);
    // What the program puts in is what Esc leads back to.
    if (m_holdsFocusText)
        m_focusText = this->text();
}

bool TMaskEdit::refusesToLeave() const {
    return m_holdsFocusText && text() != m_focusText && value().contains(QLatin1Char(' '));
}

void TMaskEdit::validateEdit() const {
    if (refusesToLeave()) {
        QApplication::beep();
        throw EError(kInvalidInput);
    }
}

void TMaskEdit::refuse() const {
    Platform::guarded([this] { validateEdit(); })();
}

void TMaskEdit::focusInEvent(QFocusEvent* event) {
    if (!m_holdsFocusText) {
        m_focusText = text();
        m_holdsFocusText = true;
        // Clicks elsewhere are looked at before their widgets get them.
        qApp->installEventFilter(this);
    }
    QLineEdit::focusInEvent(event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    const Qt::FocusReason reason = event->reason();
    // Another window or a menu only borrows the focus; it comes back here.
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
        reason == Qt::MenuBarFocusReason)
        return;
    if (refusesToLeave() && isVisible()) {
        // Qt lets a focus-out handler take the focus back before the new widget gets it.
        setFocus(Qt::OtherFocusReason);
        if (reason == Qt::MouseFocusReason) {
            // The press that moved the focus comes next: it is refused there.
            m_swallowPress = true;
            QTimer::singleShot(0, this, [this] {
                if (std::exchange(m_swallowPress, false))
                    refuse();
            });
        } else {
            QTimer::singleShot(0, this, [this] { refuse(); });
        }
        return;
    }
    m_holdsFocusText = false;
    m_swallowPress = false;
    qApp->removeEventFilter(this);
}

bool TMaskEdit::focusNextPrevChild(bool next) {
    if (refusesToLeave()) {
        refuse();
        return true;
    }
    return QLineEdit::focusNextPrevChild(next);
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (m_holdsFocusText)
            setText(m_focusText);
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
    // A key the box does not use would go on to its page control (Ctrl+Tab turns the page).
    if (!event->isAccepted() && refusesToLeave())
        event->accept();
}

bool TMaskEdit::isOwnPageTab(QWidget* widget, QEvent* event) const {
    auto* bar = qobject_cast<QTabBar*>(widget);
    auto* pages = bar ? qobject_cast<QTabWidget*>(bar->parentWidget()) : nullptr;
    if (!pages || !pages->isAncestorOf(this))
        return false;
    const int tab = bar->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    return tab >= 0 && tab != bar->currentIndex();
}

bool TMaskEdit::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    if (!press && type != QEvent::MouseButtonRelease && type != QEvent::Wheel &&
        type != QEvent::ContextMenu)
        return false;
    if (!watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget == this || isAncestorOf(widget) || widget->window() != window())
        return false;
    if (type == QEvent::MouseButtonRelease) {
        // The release of a refused click goes no further than its press.
        const bool swallow = widget == m_swallowRelease;
        m_swallowRelease = nullptr;
        return swallow;
    }
    if (press)
        m_swallowRelease = nullptr;
    if (m_swallowPress) {
        m_swallowPress = false;
        if (press) {
            m_swallowRelease = widget;
            refuse();
        }
        return true;
    }
    if (!refusesToLeave())
        return false;
    if (type == QEvent::ContextMenu)
        return true;
    if (press && isOwnPageTab(widget, event)) {
        m_swallowRelease = widget;
        refuse();
        return true;
    }
    return false;
}

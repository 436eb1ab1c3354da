#include "controls.h"

#include "data/dberror.h"
#include "platform/application.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

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
    connect(this, &QLineEdit::textEdited, this, [this] { m_userEdited = true; });
}

QString TMaskEdit::maskedValue() const {
    QString shown = displayText();
    shown.replace(QLatin1Char('_'), QLatin1Char(' '));
    return shown.leftJustified(6, QLatin1Char(' '), true);
}

QString TMaskEdit::value() const {
    return m_userEdited ? maskedValue() : m_loaded;
}

void TMaskEdit::setValue(const QString& text) {
    m_loaded = text.isEmpty() ? kSixBlanks : text;
    setText(m_loaded);
    m_userEdited = false;
}

void TMaskEdit::validateEdit() const {
    if (m_userEdited && maskedValue().contains(QLatin1Char(' '))) {
        QApplication::beep();
        throw EDatabaseError(kInvalidInput);
    }
}

void TMaskEdit::focusInEvent(QFocusEvent* event) {
    m_focusText = text();
    m_focusEdited = m_userEdited;
    m_focusLoaded = m_loaded;
    QLineEdit::focusInEvent(event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Only a move to another control of the window is checked, not a box popping up.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    if (!m_userEdited || !maskedValue().contains(QLatin1Char(' ')))
        return;
    QPointer<TMaskEdit> self(this);
    QTimer::singleShot(0, this, [self] {
        if (!self)
            return;
        self->setFocus(Qt::OtherFocusReason);
        Platform::guarded([self] { self->validateEdit(); })();
    });
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        setText(m_focusText);
        m_userEdited = m_focusEdited;
        m_loaded = m_focusLoaded;
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

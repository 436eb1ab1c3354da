#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

/// A flat operations-panel button that reports presses and releases before its click.
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    void setFontColor(const QColor& color);
    QColor fontColor() const;

signals:
    void mouseDown();
    void mouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

/// A six-digit postcode box: digits only, an empty position reads as a blank.
///
/// Once the user has changed it, the box keeps the focus while a position is empty: Tab, a
/// click elsewhere in its window and a page turn of its page control are refused with the
/// mask's error. Esc puts back the text it had when it received the focus, and a box holding
/// that text again may be left.
class TMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TMaskEdit(QWidget* parent = nullptr);
    ~TMaskEdit() override;

    /// Six characters, each a digit or a blank, as the box shows them.
    QString value() const;
    /// Shows a text; an empty text shows as six blanks.
    void setValue(const QString& text);
    /// True while the user's change leaves a position empty: the focus may not leave.
    bool refusesToLeave() const;
    /// Beeps and raises the mask's error while the box refuses to let the focus go.
    void validateEdit() const;

    static const QString kInvalidInput;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refuse() const;
    /// A press on another page's tab of the page control that holds the box.
    bool isOwnPageTab(QWidget* widget, QEvent* event) const;

    // The text of the moment the box got the focus; kept while the focus only visits a
    // popup or another window, and while a refused move is taken back.
    QString m_focusText;
    bool m_holdsFocusText = false;
    // A click that took the focus away was undone: its press goes no further.
    bool m_swallowPress = false;
    QPointer<QWidget> m_swallowRelease;
};

#pragma once

#include <QLineEdit>
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
/// A value loaded from the database that the mask cannot show comes back unchanged
/// unless the user edits the box.
class TMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TMaskEdit(QWidget* parent = nullptr);

    /// Six characters, each a digit or a blank; the loaded text while the user has not edited.
    QString value() const;
    /// Loads a text; an empty text shows as six blanks.
    void setValue(const QString& text);
    /// Beeps and raises the mask's error when the user's edit leaves a position empty.
    void validateEdit() const;
    bool userEdited() const { return m_userEdited; }

    static const QString kInvalidInput;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString maskedValue() const;

    QString m_loaded;
    bool m_userEdited = false;
    QString m_focusText;
    bool m_focusEdited = false;
    QString m_focusLoaded;
};

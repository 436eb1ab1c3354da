#pragma once

#include <QByteArray>
#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

/// A card's pictures shown large, front and back side by side, with buttons to add a back
/// (or a picture, when the card has none) and to remove them. Knows nothing of the window:
/// what the buttons do comes from its actions, which show again what is stored.
class PictureDialog : public QDialog {
    Q_OBJECT
public:
    struct Actions {
        /// Asks for a picture and stores it as the back (as the front when there is none).
        std::function<void()> add;
        /// Asks, then removes the card's pictures.
        std::function<void()> remove;
    };

    PictureDialog(QWidget* parent, Actions actions);
    /// What the buttons do from now on; a button without an action is hidden.
    void setActions(Actions actions) { m_actions = std::move(actions); }

    /// Shows the pictures (JPEG bytes, empty for none) of the card called `name`.
    void setPictures(const QString& name, const QByteArray& front, const QByteArray& back);

private:
    Actions m_actions;
    QLabel* m_front;
    QLabel* m_back;
    QPushButton* m_add;
    QPushButton* m_remove;
};

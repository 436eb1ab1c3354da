#pragma once

#include <QString>
#include <QVector>

#include <memory>

class QMessageBox;
class QWidget;

namespace Platform {

// Flags and results as the message box call takes and gives them.
enum : unsigned {
    MB_OK = 0x00,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONMASK = 0xF0,
    MB_TYPEMASK = 0x0F,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

/// The application's title: the program file's name up to its first full stop.
QString applicationTitle();

/// A message box with caption, icon and buttons taken from `flags`; returns the button pressed.
/// A line of the text that names a file is never broken.
int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags);
/// The box messageBox() shows, made but not shown (also for looking at its layout).
std::unique_ptr<QMessageBox> makeMessageBox(QWidget* owner, const QString& text,
                                            const QString& caption, unsigned flags);

/// The plain notice: the text, the application's title, no icon, one OK button.
void showMessage(const QString& text);

/// The error box: stop icon, one OK button; a full stop is appended when the text's last
/// character sorts after ".".
void showError(const QString& text, const QString& caption = QString());
QString errorBoxText(const QString& text);

/// Test seam: while a recorder is installed, boxes are recorded and answered without showing.
class MessageBoxRecorder {
public:
    struct Box {
        QString text;
        QString caption;
        unsigned flags;
    };
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    /// The answer of the next box; without one a box answers its default button.
    void setNextAnswer(int answer) { m_answers.append(answer); }
    const QVector<Box>& boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

    int answer(const QString& text, const QString& caption, unsigned flags);

private:
    QVector<Box> m_boxes;
    QVector<int> m_answers;
};

} // namespace Platform

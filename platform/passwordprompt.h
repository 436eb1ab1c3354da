#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QWidget;

namespace Platform {

/// Asks for a password in a modal box; false when the user cancelled.
bool askPassword(QWidget* owner, const QString& text, QString* password);

/// Test seam: while installed, password boxes are recorded and answered without showing.
class PasswordPromptRecorder {
public:
    PasswordPromptRecorder();
    ~PasswordPromptRecorder();
    PasswordPromptRecorder(const PasswordPromptRecorder&) = delete;
    PasswordPromptRecorder& operator=(const PasswordPromptRecorder&) = delete;

    /// The next box's answer; an empty optional cancels. Without one a box is cancelled.
    void setNextAnswer(std::optional<QString> answer) { m_answers.append(answer); }
    QStringList texts;

    std::optional<QString> answer(const QString& text);

private:
    QVector<std::optional<QString>> m_answers;
};

} // namespace Platform

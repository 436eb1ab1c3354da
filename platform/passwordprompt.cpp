#include "passwordprompt.h"

#include "messagebox.h"

#include <QInputDialog>
#include <QLineEdit>

namespace Platform {

namespace {

PasswordPromptRecorder* g_recorder = nullptr;

} // namespace

PasswordPromptRecorder::PasswordPromptRecorder() {
    g_recorder = this;
}

PasswordPromptRecorder::~PasswordPromptRecorder() {
    if (g_recorder == this)
        g_recorder = nullptr;
}

std::optional<QString> PasswordPromptRecorder::answer(const QString& text) {
    texts << text;
    return m_answers.isEmpty() ? std::nullopt : m_answers.takeFirst();
}

bool askPassword(QWidget* owner, const QString& text, QString* password) {
    if (g_recorder) {
        const std::optional<QString> given = g_recorder->answer(text);
        if (given)
            *password = *given;
        return given.has_value();
    }
    bool ok = false;
    const QString typed =
        QInputDialog::getText(owner, applicationTitle(), text, QLineEdit::Password, QString(), &ok);
    if (ok)
        *password = typed;
    return ok;
}

} // namespace Platform

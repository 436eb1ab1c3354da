#pragma once

#include <QString>
#include <QVector>

class QWidget;

namespace Platform {

enum : int { SW_SHOWNORMAL = 1 };

/// Starts a program or opens a document or address, as the desktop's shell does.
/// `verb` "open" (or empty) on an executable starts it; anything else is opened with the
/// desktop's default handler. The result is the shell's and callers may ignore it.
int shellExecute(QWidget* owner, const QString& verb, const QString& file,
                 const QString& parameters, const QString& directory, int showCommand);

/// Test seam: while installed, calls are recorded and nothing is started.
class ShellRecorder {
public:
    struct Call {
        QWidget* owner;
        QString verb, file, parameters, directory;
        int showCommand;
    };
    ShellRecorder();
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;
    const QVector<Call>& calls() const { return m_calls; }
    void record(const Call& call) { m_calls.append(call); }

private:
    QVector<Call> m_calls;
};

} // namespace Platform

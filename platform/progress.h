#pragma once

#include "core/progress.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QProgressDialog;
class QWidget;

namespace Platform {

/// A modal progress dialog with a cancel button for work done on the GUI thread. It shows
/// itself only when the work takes a while.
class Progress {
public:
    Progress(QWidget* owner, const QString& label, qint64 maximum);
    /// The same for a long operation: shows the text of its phase, renamed when the phase
    /// changes, moves with every step it takes, and cancels it when the user does.
    Progress(QWidget* owner, Core::Progress& work);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Moves the bar and lets the window breathe; false once the user has cancelled.
    bool setValue(qint64 value);
    void setLabel(const QString& label);
    bool wasCanceled() const;
    /// Takes the dialog off the screen, before the notice that follows the work.
    void close();

private:
    /// Counts `maximum` in the dialog's int, in coarser steps when it is large.
    void setMaximum(qint64 maximum);

    std::unique_ptr<QProgressDialog> m_dialog;
    Core::Progress* m_work = nullptr;
    Core::Progress::Phase m_phase{};
    qint64 m_maximum = 0;
    bool m_closed = false;
    int m_scale = 1;
    int m_steps = 0;
    bool m_canceled = false;
};

/// Runs `work` on a thread of its own while a modal progress dialog (0 to 100) shows; the
/// window keeps painting. `work` reports through the function it is given, from its own
/// thread. Cancel calls `cancel` and waits for the work to stop. An error `work` raises is
/// raised again here, on the caller's thread. False when the user cancelled.
bool runInBackground(QWidget* owner, const QString& label,
                     const std::function<void(const std::function<void(int)>& report)>& work,
                     const std::function<void()>& cancel);

/// Test seam: while installed, progress dialogs are recorded and do not show; the user
/// cancels at the step given.
class ProgressRecorder {
public:
    ProgressRecorder();
    ~ProgressRecorder();
    ProgressRecorder(const ProgressRecorder&) = delete;
    ProgressRecorder& operator=(const ProgressRecorder&) = delete;

    /// The next dialog is cancelled when it is moved for the `step`-th time.
    void cancelAtStep(int step) { m_cancelAt = step; }
    QStringList labels;
    int steps = 0;
    /// Called when a dialog closes.
    std::function<void()> onClose;
    int cancelAt() const { return m_cancelAt; }

private:
    int m_cancelAt = -1;
};

} // namespace Platform

#include "progress.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace Platform {

namespace {
ProgressRecorder* g_recorder = nullptr;
}

ProgressRecorder::ProgressRecorder() {
    g_recorder = this;
}

ProgressRecorder::~ProgressRecorder() {
    if (g_recorder == this)
        g_recorder = nullptr;
}

Progress::Progress(QWidget* owner, const QString& label, qint64 maximum) {
    // The dialog counts in int: large totals are shown in coarser steps.
    while (maximum / m_scale > 1000000)
        m_scale *= 10;
    if (g_recorder) {
        g_recorder->labels << label;
        return;
    }
    m_dialog = std::make_unique<QProgressDialog>(label, QStringLiteral("取消"), 0,
                                                 int(maximum / m_scale), owner);
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(500);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
}

Progress::~Progress() = default;

bool Progress::setValue(qint64 value) {
    ++m_steps;
    if (g_recorder) {
        ++g_recorder->steps;
        if (g_recorder->cancelAt() >= 0 && m_steps >= g_recorder->cancelAt())
            m_canceled = true;
        return !m_canceled;
    }
    m_dialog->setValue(int(value / m_scale));
    // A modal dialog takes events in setValue only while it shows; before that, a click
    // on cancel must not wait for the end of the work.
    QCoreApplication::processEvents();
    m_canceled = m_dialog->wasCanceled();
    return !m_canceled;
}

void Progress::setLabel(const QString& label) {
    if (g_recorder)
        g_recorder->labels << label;
    else
        m_dialog->setLabelText(label);
}

bool Progress::wasCanceled() const {
    return m_canceled;
}

} // namespace Platform

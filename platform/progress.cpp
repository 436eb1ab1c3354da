#include "progress.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>

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

Progress::Progress(QWidget* owner, const QString& label, qint64 maximum)
    : m_maximum(maximum) {
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

Progress::Progress(QWidget* owner, Core::Progress& work)
    : Progress(owner, Core::Progress::text(work.phase()), qMax<qint64>(1, work.total())) {
    m_work = &work;
    m_phase = work.phase();
    work.setListener([this](const Core::Progress& progress) {
        if (progress.phase() != m_phase) {
            m_phase = progress.phase();
            setLabel(Core::Progress::text(m_phase));
        }
        if (progress.total() > 0 && progress.total() != m_maximum)
            setMaximum(progress.total());
        if (!setValue(progress.done()))
            m_work->cancel();
    });
}

Progress::~Progress() {
    if (m_work)
        m_work->setListener({});
    close();
}

void Progress::setMaximum(qint64 maximum) {
    m_maximum = maximum;
    m_scale = 1;
    while (maximum / m_scale > 1000000)
        m_scale *= 10;
    if (m_dialog)
        m_dialog->setMaximum(int(maximum / m_scale));
}

void Progress::close() {
    if (m_closed)
        return;
    m_closed = true;
    if (g_recorder && g_recorder->onClose)
        g_recorder->onClose();
    m_dialog.reset();
}

bool Progress::setValue(qint64 value) {
    ++m_steps;
    if (m_closed)
        return !m_canceled;
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
    else if (m_dialog)
        m_dialog->setLabelText(label);
}

bool Progress::wasCanceled() const {
    return m_canceled;
}

bool runInBackground(QWidget* owner, const QString& label,
                     const std::function<void(const std::function<void(int)>& report)>& work,
                     const std::function<void()>& cancel) {
    std::exception_ptr error;
    std::atomic<int> percent{0};
    std::atomic<int> reports{0};
    QThread* thread = QThread::create([&] {
        try {
            work([&](int value) {
                percent = value;
                ++reports;
            });
        } catch (...) {
            error = std::current_exception();
        }
    });
    bool cancelled = false;
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);

    std::unique_ptr<QProgressDialog> dialog;
    if (g_recorder) {
        g_recorder->labels << label;
    } else {
        dialog = std::make_unique<QProgressDialog>(label, QStringLiteral("取消"), 0, 100, owner);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setMinimumDuration(0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        QObject::connect(dialog.get(), &QProgressDialog::canceled, &loop, [&] {
            cancelled = true;
            dialog->setLabelText(QStringLiteral("正在取消……"));
            cancel();
        });
    }
    // The bar follows the work's reports; the recorder's user cancels at its step.
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (dialog) {
            dialog->setValue(percent);
        } else if (g_recorder && !cancelled) {
            g_recorder->steps = reports;
            if (g_recorder->cancelAt() >= 0 && reports >= g_recorder->cancelAt()) {
                cancelled = true;
                cancel();
            }
        }
    });
    timer.start(30);
    thread->start();
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    delete thread;
    if (error)
        std::rethrow_exception(error);
    return !cancelled;
}

} // namespace Platform

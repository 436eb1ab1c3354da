#include "filedialog.h"

#include <QFileDialog>

namespace Platform {

namespace {
FileDialogRecorder* g_recorder = nullptr;
}

FileDialogRecorder::FileDialogRecorder() {
    g_recorder = this;
}

FileDialogRecorder::~FileDialogRecorder() {
    if (g_recorder == this)
        g_recorder = nullptr;
}

QString FileDialogRecorder::answer(const Dialog& dialog, QString* filter) {
    m_dialogs.append(dialog);
    if (m_answers.isEmpty())
        return QString();
    const auto next = m_answers.takeFirst();
    if (filter && !next.second.isEmpty())
        *filter = next.second;
    return next.first;
}

QString getOpenFileName(QWidget* owner, const QString& caption, const QStringList& filters) {
    if (g_recorder)
        return g_recorder->answer({caption, filters, filters.value(0)}, nullptr);
    return QFileDialog::getOpenFileName(owner, caption, QString(),
                                        filters.join(QStringLiteral(";;")));
}

QString getSaveFileName(QWidget* owner, const QString& caption, const QStringList& filters,
                        QString* filter) {
    if (g_recorder)
        return g_recorder->answer({caption, filters, filter ? *filter : QString()}, filter);
    return QFileDialog::getSaveFileName(owner, caption, QString(),
                                        filters.join(QStringLiteral(";;")), filter);
}

} // namespace Platform

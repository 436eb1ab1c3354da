#include "filedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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

namespace {

// The folder of the last file chosen, for the next dialog of this run.
QString& lastFolder() {
    static QString folder;
    return folder;
}

QString remembered(const QString& file) {
    if (!file.isEmpty())
        lastFolder() = QFileInfo(file).absolutePath();
    return file;
}

} // namespace

QString getOpenFileName(QWidget* owner, const QString& caption, const QStringList& filters) {
    const QString start = lastFolder();
    if (g_recorder)
        return remembered(g_recorder->answer({caption, filters, filters.value(0), start}, nullptr));
    return remembered(
        QFileDialog::getOpenFileName(owner, caption, start, filters.join(QStringLiteral(";;"))));
}

QStringList getOpenFileNames(QWidget* owner, const QString& caption, const QStringList& filters) {
    const QString start = lastFolder();
    const QStringList files =
        g_recorder ? g_recorder->answer({caption, filters, filters.value(0), start}, nullptr)
                         .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                   : QFileDialog::getOpenFileNames(owner, caption, start,
                                                   filters.join(QStringLiteral(";;")));
    remembered(files.value(0));
    return files;
}

QString getSaveFileName(QWidget* owner, const QString& caption, const QStringList& filters,
                        QString* filter, const QString& fileName) {
    QString start = lastFolder();
    if (!fileName.isEmpty())
        start = start.isEmpty() ? fileName : QDir(start).filePath(fileName);
    if (g_recorder)
        return remembered(
            g_recorder->answer({caption, filters, filter ? *filter : QString(), start}, filter));
    return remembered(QFileDialog::getSaveFileName(owner, caption, start,
                                                   filters.join(QStringLiteral(";;")), filter));
}

} // namespace Platform

#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class QWidget;

namespace Platform {

/// The open-file dialog, in the folder last used; the chosen file, or an empty text when the
/// user cancelled.
QString getOpenFileName(QWidget* owner, const QString& caption, const QStringList& filters);

/// The same taking several files; none when the user cancelled.
QStringList getOpenFileNames(QWidget* owner, const QString& caption, const QStringList& filters);

/// The save-file dialog, in the folder last used, proposing `fileName`. `filter` starts as
/// the filter shown first and receives the one the user picked. The chosen file, or an empty
/// text when the user cancelled.
QString getSaveFileName(QWidget* owner, const QString& caption, const QStringList& filters,
                        QString* filter, const QString& fileName = QString());

/// Test seam: while installed, file dialogs are recorded and answered without showing.
class FileDialogRecorder {
public:
    struct Dialog {
        QString caption;
        QStringList filters;
        QString selectedFilter; ///< the filter the dialog opened with
        QString start;          ///< the folder (and for saving the file name) it opened at
    };
    FileDialogRecorder();
    ~FileDialogRecorder();
    FileDialogRecorder(const FileDialogRecorder&) = delete;
    FileDialogRecorder& operator=(const FileDialogRecorder&) = delete;

    /// The next dialog's answer: a file (empty: cancelled) and, for saving, a filter
    /// (empty: the one it opened with).
    void setNextAnswer(const QString& file, const QString& filter = QString()) {
        m_answers.append({file, filter});
    }
    /// The next open dialog's answer: several files.
    void setNextAnswer(const QStringList& files) {
        m_answers.append({files.join(QLatin1Char('\n')), QString()});
    }
    const QVector<Dialog>& dialogs() const { return m_dialogs; }

    QString answer(const Dialog& dialog, QString* filter);

private:
    QVector<Dialog> m_dialogs;
    QVector<QPair<QString, QString>> m_answers;
};

} // namespace Platform

#include "shell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace Platform {

namespace {
ShellRecorder* g_recorder = nullptr;
}

ShellRecorder::ShellRecorder() {
    g_recorder = this;
}
ShellRecorder::~ShellRecorder() {
    if (g_recorder == this)
        g_recorder = nullptr;
}

int shellExecute(QWidget* owner, const QString& verb, const QString& file,
                 const QString& parameters, const QString& directory, int showCommand) {
    if (g_recorder) {
        g_recorder->record({owner, verb, file, parameters, directory, showCommand});
        return 42;
    }
    // Like the shell, a result above 32 means success.
    const QFileInfo info(file);
    if ((verb.isEmpty() || verb == QLatin1String("open")) && info.isFile() && info.isExecutable()) {
        const QStringList args = QProcess::splitCommand(parameters);
        return QProcess::startDetached(file, args, directory) ? 42 : 2;
    }
    const QUrl url =
        info.exists() ? QUrl::fromLocalFile(info.absoluteFilePath()) : QUrl::fromUserInput(file);
    return QDesktopServices::openUrl(url) ? 42 : 2;
}

} // namespace Platform

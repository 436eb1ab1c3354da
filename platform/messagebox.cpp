#include "messagebox.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

namespace Platform {

namespace {
MessageBoxRecorder* g_recorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder() {
    g_recorder = this;
}
MessageBoxRecorder::~MessageBoxRecorder() {
    if (g_recorder == this)
        g_recorder = nullptr;
}

QStringList MessageBoxRecorder::texts() const {
    QStringList list;
    for (const Box& box : m_boxes)
        list << box.text;
    return list;
}

int MessageBoxRecorder::answer(const QString& text, const QString& caption, unsigned flags) {
    m_boxes.append({text, caption, flags});
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

QString applicationTitle() {
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

namespace {

// A line that is a file's path: from the root of a file system, a drive or a share.
bool isPath(const QString& line) {
    return line.startsWith(QLatin1Char('/')) || line.startsWith(QLatin1String("\\\\")) ||
           (line.size() > 2 && line.at(0).isLetter() && line.at(1) == QLatin1Char(':') &&
            (line.at(2) == QLatin1Char('\\') || line.at(2) == QLatin1Char('/')));
}

// The widest text the box can show on one line: the toolkit's box grows only so far.
int widestLine(const QWidget* box) {
    const QScreen* screen = box->screen();
    const int width = screen ? screen->availableGeometry().width() : 800;
    const int limit = width <= 1024 ? width : qMin(width - 480, 1000);
    return limit - 120; // the icon and the margins
}

// The text as paragraphs that wrap, except the lines naming a file: those stay whole as
// long as the box can show them whole (a longer one would be cut off, so it wraps). Blanks
// stay as written: a notice may be spaced out on purpose.
QString asRichText(const QString& text, const QFontMetrics& metrics, int widest) {
    QString html = QStringLiteral("<html><body>");
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const bool whole = isPath(line) && metrics.horizontalAdvance(line) <= widest;
        html += whole ? QStringLiteral("<p style=\"margin:0; white-space:pre\">")
                      : QStringLiteral("<p style=\"margin:0; white-space:pre-wrap\">");
        html += line.isEmpty() ? QStringLiteral("&nbsp;") : line.toHtmlEscaped();
        html += QStringLiteral("</p>");
    }
    return html + QStringLiteral("</body></html>");
}

} // namespace

std::unique_ptr<QMessageBox> makeMessageBox(QWidget* owner, const QString& text,
                                            const QString& caption, unsigned flags) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setWindowTitle(caption);
    box->setTextFormat(Qt::RichText);
    box->setText(asRichText(text, box->fontMetrics(), widestLine(box.get())));
    switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP:
        box->setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box->setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box->setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box->setIcon(QMessageBox::Information);
        break;
    default:
        box->setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((flags & MB_TYPEMASK) == MB_YESNO) {
        QPushButton* yes = box->addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        box->addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box->setDefaultButton(yes);
    } else {
        QPushButton* ok = box->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    return box;
}

int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
    if (g_recorder)
        return g_recorder->answer(text, caption, flags);

    const std::unique_ptr<QMessageBox> box = makeMessageBox(owner, text, caption, flags);
    box->exec();
    if ((flags & MB_TYPEMASK) != MB_YESNO)
        return IDOK;
    const QMessageBox::ButtonRole role = box->buttonRole(box->clickedButton());
    return role == QMessageBox::YesRole ? IDYES : role == QMessageBox::NoRole ? IDNO : IDCANCEL;
}

void showMessage(const QString& text) {
    messageBox(QApplication::activeWindow(), text, applicationTitle(), MB_OK);
}

QString errorBoxText(const QString& text) {
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void showError(const QString& text, const QString& caption) {
    messageBox(QApplication::activeWindow(), errorBoxText(text),
               caption.isEmpty() ? applicationTitle() : caption, MB_OK | MB_ICONSTOP);
}

} // namespace Platform

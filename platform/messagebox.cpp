#include "messagebox.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace Platform {

namespace {
MessageBoxRecorder* g_recorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder() { g_recorder = this; }
MessageBoxRecorder::~MessageBoxRecorder()
{
    if (g_recorder == this)
        g_recorder = nullptr;
}

QStringList MessageBoxRecorder::texts() const
{
    QStringList list;
    for (const Box& box : m_boxes)
        list << box.text;
    return list;
}

int MessageBoxRecorder::answer(const QString& text, const QString& caption, unsigned flags)
{
    m_boxes.append({text, caption, flags});
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return (flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

QString applicationTitle()
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags)
{
    if (g_recorder)
        return g_recorder->answer(text, caption, flags);

    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    if ((flags & MB_TYPEMASK) == MB_YESNO) {
        QPushButton* yes = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? IDYES : box.clickedButton() == no ? IDNO : IDCANCEL;
    }
    QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return IDOK;
}

void showMessage(const QString& text)
{
    messageBox(QApplication::activeWindow(), text, applicationTitle(), MB_OK);
}

QString errorBoxText(const QString& text)
{
    if (!text.isEmpty() && text.back() > QLatin1Char('.'))
        return text + QLatin1Char('.');
    return text;
}

void showError(const QString& text, const QString& caption)
{
    messageBox(QApplication::activeWindow(), errorBoxText(text),
               caption.isEmpty() ? applicationTitle() : caption, MB_OK | MB_ICONSTOP);
}

} // namespace Platform

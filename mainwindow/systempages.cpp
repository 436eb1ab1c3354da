// The system pages (password, help, about) and where they lead: the conferencing program
// and the home page.
#include "VELMORA.h"

#include "data/adoquery.h"
#include "data/password.h"
#include "platform/messagebox.h"
#include "platform/shell.h"

namespace {

const QChar kEnter(13);

} // namespace

// ---- Password ------------------------------------------------------------------------------

void TFrmMain::showSystemPage(QWidget* page) {
    checkFocusMayLeave();
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(true);
    PageControlSYS->setCurrentWidget(page);
    ButtonXGQD->setVisible(false);
}

void TFrmMain::N9Click() {
    showSystemPage(TabSheet5);
}

void TFrmMain::Button1Click() {
    confirmPassword();
}

void TFrmMain::EditXMMHDKeyPress(QChar& key) {
    if (key == kEnter)
        confirmPassword();
}

void TFrmMain::confirmPassword() {
    PanelCZ->setVisible(true);
    if (EditXMM->text() != EditXMMHD->text()) {
        Platform::showMessage(QStringLiteral("      密码修改失败!    "));
    } else {
        ADOQuery2->Open();
        ADOQuery2->Edit();
        ADOQuery2->SetFieldAsString(QStringLiteral("用户密码"), hashPassword(EditXMM->text()));
        ADOQuery2->Post();
        PageControlSYS->setVisible(false);
        PanelCZ->setVisible(true);
        PageControlZL->setVisible(true);
        Platform::showMessage(QStringLiteral("      密码修改成功!    "));
    }
    EditXMM->clear();
    EditXMMHD->clear();
    PageControlZL->setVisible(false);
}

void TFrmMain::Button2Click() {
    closeSystemPages();
}

// ---- About, help, dial and homepage --------------------------------------------------------

void TFrmMain::N7Click() {
    showSystemPage(TabSheet6);
}
void TFrmMain::N8Click() {
    showSystemPage(TabSheet6);
}

void TFrmMain::H1Click() {
    showSystemPage(TabSheet4);
}

void TFrmMain::closeSystemPages() {
    PageControlSYS->setVisible(false);
    PanelCZ->setVisible(true);
    PageControlZL->setVisible(false);
}

void TFrmMain::Button14Click() {
    closeSystemPages();
}

void TFrmMain::Memo3KeyPress(QChar&) {
    closeSystemPages();
}

void TFrmMain::BitBtn1Click() {
    PageControlSYS->setVisible(false);
}

void TFrmMain::N15Click() {
    PageControlSYS->setVisible(false);
    Platform::shellExecute(this, QStringLiteral("open"), conferencingProgram(), QString(),
                           QString(), Platform::SW_SHOWNORMAL);
}

void TFrmMain::openHomePage() {
    Platform::shellExecute(this, QString(), kHomePage, QString(), QString(),
                           Platform::SW_SHOWNORMAL);
}

void TFrmMain::N16Click() {
    openHomePage();
}
void TFrmMain::Label35Click() {
    openHomePage();
}

void TFrmMain::Label35MouseMove() {
    QPalette p = Label35->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    Label35->setPalette(p);
    Label35->setCursor(Qt::PointingHandCursor);
}

void TFrmMain::Label35MouseLeave() {
    QPalette p = Label35->palette();
    p.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    Label35->setPalette(p);
}

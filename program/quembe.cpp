#include "quembe.h"

#include "core/error.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "platform/application.h"
#include "platform/messagebox.h"

#include <QFont>
#include <QStyleFactory>
#include <QTimer>

// The pictures live in the library; a static library has to register them itself.
static void initResources() {
    Q_INIT_RESOURCE(assets);
}

namespace Quembe {

namespace {

const int kPrepareAfterMs = 150;

void setLooks() {
    initResources();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font;
    // The Chinese captions need a CJK font; the first family that exists wins.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
}

} // namespace

bool createForms() {
    setLooks();
    try {
        FrmDL = new TFrmDL;
        FrmMain = new TFrmMain;
        FrmSC = new TFrmSC;
        FrmTJTS = new TFrmTJTS;
    } catch (const EError& e) {
        destroyForms();
        Platform::showError(e.message(), QStringLiteral("Application Error"));
        return false;
    } catch (const std::exception& e) {
        destroyForms();
        Platform::showError(QString::fromLocal8Bit(e.what()), QStringLiteral("Application Error"));
        return false;
    }
    return true;
}

void destroyForms() {
    delete FrmTJTS;
    delete FrmSC;
    delete FrmMain;
    delete FrmDL;
}

int run(QApplication& app) {
    if (!createForms())
        return 1;
    FrmDL->show();
    // While the password is typed, the main window gets ready; nobody types it this fast.
    QTimer::singleShot(kPrepareAfterMs, FrmMain, [] { FrmMain->prepareToShow(); });
    const int status = app.exec();
    destroyForms();
    return status;
}

} // namespace Quembe

#include "dl.h"

#include "data/adoquery.h"
#include "data/password.h"
#include "mainwindow/VELMORA.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>

#include <future>

TFrmDL* FrmDL = nullptr;

TFrmDL::TFrmDL(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setupUi(this);
    setFixedSize(250, 150);
    // Every character of the password shows as "*".
    Edit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    new Platform::HitTestDragger(this, [this](const QPoint& pos) { return WMNCHitTest(pos); });
    connect(Button1, &QPushButton::clicked, this, Platform::guarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, Platform::guarded([this] { Button2Click(); }));
    Edit1->installEventFilter(this);
    Edit1->setFocus();
    FormCreate();
}

TFrmDL::~TFrmDL() {
    if (FrmDL == this)
        FrmDL = nullptr;
}

void TFrmDL::FormCreate() {
    Platform::setRoundRectRegion(this, 0, 0, width(), height(), 50, 50);
}

int TFrmDL::WMNCHitTest(const QPoint& globalPos) {
    const int result = Platform::defaultHitTest(this, globalPos);
    return result == Platform::HTCLIENT ? Platform::HTCAPTION : result;
}

bool TFrmDL::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1 && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty()) {
            QChar key = text.at(0);
            Platform::guarded([this, &key] { Edit1KeyPress(key); })();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmDL::closeEvent(QCloseEvent* event) {
    Platform::guarded([this] { FormCloseQuery(); })();
    event->accept();
}

void TFrmDL::FormCloseQuery() {
    Platform::terminateApplication();
}

void TFrmDL::Button1Click() {
    checkPassword();
}

void TFrmDL::Button2Click() {
    Platform::terminateApplication();
}

void TFrmDL::Edit1KeyPress(QChar& key) {
    if (key == QChar(13))
        checkPassword();
}

void TFrmDL::checkPassword() {
    FrmMain->ADOQuery2->Open();
    const QString stored = FrmMain->ADOQuery2->FieldAsString(QStringLiteral("用户密码"));
    // Checking a stored hash takes a while: the main window gets ready meanwhile.
    std::future<bool> matches =
        std::async(std::launch::async, passwordMatches, stored, Edit1->text());
    FrmMain->prepareToShow();
    if (matches.get()) {
        hide();
        Platform::showModal(FrmMain);
    } else {
        Platform::showMessage(QStringLiteral("您的输入有误，请再重新输入！"));
    }
}

#include "Tjts.h"

#include "platform/application.h"

#include <QScreen>
#include <QWindow>

TFrmTJTS* FrmTJTS = nullptr;

TFrmTJTS::TFrmTJTS(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setupUi(this);
    // Of fixed size: window managers that keep a maximise box whatever the hints ask
    // (openbox) drop it, and the resize handles, for such a window.
    setFixedSize(182, 129);
    connect(Button1, &QPushButton::clicked, this, Platform::guarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, Platform::guarded([this] { Button2Click(); }));
}

TFrmTJTS::~TFrmTJTS() {
    if (FrmTJTS == this)
        FrmTJTS = nullptr;
}

void TFrmTJTS::showEvent(QShowEvent* event) {
    // The caption is empty, but an empty title makes some window systems show the program's
    // name: the title bar gets a blank instead.
    if (QWindow* window = windowHandle())
        window->setTitle(QStringLiteral(" "));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Button1->setFocus();
    QWidget::showEvent(event);
}

void TFrmTJTS::setOnContinue(std::function<void()> onContinue) {
    m_onContinue = std::move(onContinue);
}

void TFrmTJTS::setOnStop(std::function<void()> onStop) {
    m_onStop = std::move(onStop);
}

void TFrmTJTS::Button1Click() {
    if (m_onContinue)
        m_onContinue();
    close();
}

void TFrmTJTS::Button2Click() {
    if (m_onStop)
        m_onStop();
    close();
}

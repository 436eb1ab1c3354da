#include "sc.h"

#include "data/adoquery.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/window.h"

#include <QScreen>

TFrmSC* FrmSC = nullptr;

TFrmSC::TFrmSC(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setupUi(this);
    setFixedSize(250, 150);
    new Platform::HitTestDragger(this, [this](const QPoint& pos) { return WMNCHitTest(pos); });
    connect(Button1, &QPushButton::clicked, this, Platform::guarded([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, Platform::guarded([this] { Button2Click(); }));
    FormCreate();
}

TFrmSC::~TFrmSC() {
    if (FrmSC == this)
        FrmSC = nullptr;
}

void TFrmSC::FormCreate() {
    Platform::setRoundRectRegion(this, 0, 0, width(), height(), 50, 50);
}

void TFrmSC::showEvent(QShowEvent* event) {
    // Centred the first time; afterwards it comes back where it was left.
    if (!m_placed) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        Button1->setFocus();
        m_placed = true;
    }
    QWidget::showEvent(event);
}

int TFrmSC::WMNCHitTest(const QPoint& globalPos) {
    const int result = Platform::defaultHitTest(this, globalPos);
    return result == Platform::HTCLIENT ? Platform::HTCAPTION : result;
}

void TFrmSC::setDataset(TADOQuery* dataset) {
    m_dataset = dataset;
}

void TFrmSC::setOnDeleted(std::function<void()> onDeleted) {
    m_onDeleted = std::move(onDeleted);
}

void TFrmSC::Button1Click() {
    if (m_dataset && !m_dataset->Delete())
        Platform::showMessage(QStringLiteral("这张名片已被其他程序删除了。"));
    if (m_onDeleted)
        m_onDeleted();
    close();
}

void TFrmSC::Button2Click() {
    close();
}

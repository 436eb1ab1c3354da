#pragma once

#include "ui_sc.h"

#include <QWidget>

/// The borderless delete confirmation.
class TFrmSC : public QWidget, public Ui::TFrmSC {
    Q_OBJECT
public:
    explicit TFrmSC(QWidget* parent = nullptr);
    ~TFrmSC() override;

    int WMNCHitTest(const QPoint& globalPos);

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    bool m_placed = false;
};

extern TFrmSC* FrmSC;

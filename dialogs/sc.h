#pragma once

#include "ui_sc.h"

#include <QWidget>

#include <functional>

class TADOQuery;

/// The borderless delete confirmation.
class TFrmSC : public QWidget, public Ui::TFrmSC {
    Q_OBJECT
public:
    explicit TFrmSC(QWidget* parent = nullptr);
    ~TFrmSC() override;

    int WMNCHitTest(const QPoint& globalPos);

    /// The list whose current card "删  除" deletes.
    void setDataset(TADOQuery* dataset);
    /// What the window that asked does once the card is gone (or found gone already).
    void setOnDeleted(std::function<void()> onDeleted);

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    bool m_placed = false;
    TADOQuery* m_dataset = nullptr;
    std::function<void()> m_onDeleted;
};

extern TFrmSC* FrmSC;

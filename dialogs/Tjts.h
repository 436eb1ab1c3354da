#pragma once

#include "ui_Tjts.h"

#include <QWidget>

/// The prompt after each added card: go on adding or stop.
class TFrmTJTS : public QWidget, public Ui::TFrmTJTS {
    Q_OBJECT
public:
    explicit TFrmTJTS(QWidget* parent = nullptr);
    ~TFrmTJTS() override;

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TFrmTJTS* FrmTJTS;

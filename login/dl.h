#pragma once

#include "ui_dl.h"

#include <QWidget>

/// The borderless login dialog: one password, no user name.
class TFrmDL : public QWidget, public Ui::TFrmDL {
    Q_OBJECT
public:
    explicit TFrmDL(QWidget* parent = nullptr);
    ~TFrmDL() override;

    /// Turns a hit on the client area into a hit on the caption, so the window drags.
    int WMNCHitTest(const QPoint& globalPos);

public slots:
    void Button1Click();
    void Button2Click();
    void Edit1KeyPress(QChar& key);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormCloseQuery();
    void checkPassword();
};

extern TFrmDL* FrmDL;

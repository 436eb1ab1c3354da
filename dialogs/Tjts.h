#pragma once

#include "ui_Tjts.h"

#include <QWidget>

#include <functional>

/// The prompt after each added card: go on adding or stop.
class TFrmTJTS : public QWidget, public Ui::TFrmTJTS {
    Q_OBJECT
public:
    explicit TFrmTJTS(QWidget* parent = nullptr);
    ~TFrmTJTS() override;

    /// What "是" does before the prompt closes: the window that asked takes the next card.
    void setOnContinue(std::function<void()> onContinue);
    /// What "否" does before the prompt closes: the window that asked stops adding.
    void setOnStop(std::function<void()> onStop);

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<void()> m_onContinue;
    std::function<void()> m_onStop;
};

extern TFrmTJTS* FrmTJTS;

#pragma once

#include <QObject>

class PictureDialog;
class QAction;
class QLabel;
class TADOConnection;
class TADOQuery;
class TFrmMain;

/// The pictures kept with the cards: a thumbnail at the foot of the detail pane, a click (or
/// the popup item 名片图片...) shows them large, where a back (or a picture) is added and the
/// pictures are removed.
class CardPictures : public QObject {
    Q_OBJECT
public:
    CardPictures(TFrmMain* window, TADOConnection* connection, TADOQuery* cards);
    ~CardPictures() override;

public slots:
    /// The thumbnail of the card the detail pane shows, or none.
    void showInPane();
    /// The current card's pictures, large.
    void showLarge();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showInPane(qint64 id);
    void showLarge(qint64 id);
    void add(qint64 id);
    void remove(qint64 id);
    void refresh(qint64 id);

    TFrmMain* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    QLabel* m_thumbnail;
    QAction* m_action;
    PictureDialog* m_dialog = nullptr;
    qint64 m_inPane = 0; // the card whose thumbnail the pane shows
};

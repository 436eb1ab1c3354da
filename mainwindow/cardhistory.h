#pragma once

#include "data/history.h"

#include <QObject>

class HistoryDialog;
class QAbstractItemView;
class QMenu;
class QWidget;
class TADOConnection;
class TADOQuery;

/// The window's history: every card the list writes is recorded; 数据 → 撤销... lists the
/// operations and the deleted cards, and Ctrl+Z in the list undoes the last operation.
class CardHistory : public QObject {
    Q_OBJECT
public:
    /// Records what `cards` writes (after what its write hook does) and adds its item to
    /// `menu`; `grid` takes Ctrl+Z.
    CardHistory(QWidget* window, QMenu* menu, TADOConnection* connection, TADOQuery* cards,
                QAbstractItemView* grid);
    ~CardHistory() override;

public slots:
    /// The list of operations and deleted cards.
    void showDialog();
    /// Asks, then undoes the last operation still standing.
    void undoLast();
    /// The card being added was read from a picture: its operation says "识别".
    void addingRecognisedCard();
    /// The editor was emptied or loaded with another card: a recognised card left unsaved
    /// gives its word to no other.
    void editorReset();

signals:
    /// A card read from a picture was saved as card `id`.
    void recognisedCardSaved(qint64 id);

private:
    /// Undoes operation `number` (only card `onlyCard` of it, when given) and shows the list
    /// again with the card that was current.
    void undo(qint64 number, qint64 onlyCard = 0);
    sqlite3* db() const;

    QWidget* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    std::shared_ptr<History::RowRecorder> m_recorder;
    History::RowHook m_follow; // what the list's own writes keep in step, for undone cards
    HistoryDialog* m_dialog = nullptr;
};

#pragma once

#include "data/history.h"

#include <QDialog>

#include <functional>

class QPushButton;
class QTabWidget;
class QTreeWidget;

/// The recent operations, newest first, each to be undone; and the deleted cards, each to
/// be brought back. Knows nothing of the window: what it lists and does comes from its source.
class HistoryDialog : public QDialog {
    Q_OBJECT
public:
    struct Source {
        std::function<QVector<History::Entry>()> operations;
        std::function<QVector<History::DeletedCard>()> deletedCards;
        /// Undoes an operation; raises the error that says why not.
        std::function<void(qint64 operation)> undo;
        /// Brings back one card that `operation` deleted.
        std::function<void(qint64 operation, qint64 id)> restore;
    };

    HistoryDialog(QWidget* parent, Source source);

    /// Reads both lists again.
    void reload();

private:
    void undoChosen();
    void restoreChosen();

    Source m_source;
    QTabWidget* m_tabs;
    QTreeWidget* m_operations;
    QTreeWidget* m_deleted;
    QPushButton* m_undo;
    QPushButton* m_restore;
};

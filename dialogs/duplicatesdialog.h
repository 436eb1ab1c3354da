#pragma once

#include "data/card.h"

#include <QDialog>
#include <QVector>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

/// The groups of cards that seem to be one person's, each shown side by side field by field,
/// differing values marked. The user ticks the value each field keeps and merges; values not
/// kept go into 备注. It changes nothing itself: the window's callbacks do.
class TDuplicatesDialog : public QDialog {
    Q_OBJECT
public:
    struct Group {
        QVector<qint64> ids; ///< ascending
        QVector<Card> cards; ///< beside ids
        bool certain = false;
    };
    struct Actions {
        /// The groups as they are now.
        std::function<QVector<Group>()> load;
        /// Merges `ids`; choices[f] indexes the card whose value field f keeps (-1: none).
        std::function<void(const QVector<qint64>& ids, const QVector<int>& choices)> merge;
        /// Merges every certain group with the values kept by default; how many.
        std::function<int()> mergeAllCertain;
    };

    TDuplicatesDialog(QWidget* parent, Actions actions);

    /// Reads the groups again and shows the first.
    void reload();
    int groupCount() const;
    const Group& group(int row) const { return m_groups.at(row); }
    /// Shows group `row` with the values kept by default.
    void showGroup(int row);
    int currentGroup() const { return m_current; }
    /// Field `field` keeps the value of card `card` (an index in the group shown).
    void choose(int field, int card);
    const QVector<int>& choices() const { return m_choices; }
    /// Whether the cards of the group shown say different things in `field`.
    bool differs(int field) const;

    void mergeShown();
    void mergeAll();

private:
    void fillTable();
    void updateButtons();

    Actions m_actions;
    QVector<Group> m_groups;
    int m_current = -1;
    QVector<int> m_choices;
    bool m_filling = false;
    QLabel* m_summary = nullptr;
    QListWidget* m_list = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_merge = nullptr;
    QPushButton* m_mergeAll = nullptr;
};

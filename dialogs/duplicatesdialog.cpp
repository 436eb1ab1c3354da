#include "duplicatesdialog.h"

#include "duplicates/merge.h"
#include "platform/application.h"
#include "platform/messagebox.h"

#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const int kFieldRole = Qt::UserRole + 1;

QString fieldLabel(int field) {
    return QString::fromUtf8(kFieldMap[std::size_t(field)].column);
}

QString value(const Card& card, int field) {
    return card.values[std::size_t(field)];
}

} // namespace

TDuplicatesDialog::TDuplicatesDialog(QWidget* parent, Actions actions)
    : QDialog(parent)
    , m_actions(std::move(actions)) {
    setObjectName(QStringLiteral("DuplicatesDialog"));
    setWindowTitle(QStringLiteral("查找重复名片"));
    resize(760, 480);

    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("ListGroups"));
    m_list->setMaximumWidth(200);
    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("TableFields"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    auto* hint = new QLabel(QStringLiteral("每一栏勾选要保留的值；没有保留的值记入合并后名片的"
                                           "备注。合并后留下 ID 最小的一张，其余删除。底色标出"
                                           "各张名片不同的栏。"),
                            this);
    hint->setWordWrap(true);

    m_merge = new QPushButton(QStringLiteral("合并"), this);
    m_merge->setObjectName(QStringLiteral("ButtonHB"));
    m_mergeAll = new QPushButton(QStringLiteral("全部合并"), this);
    m_mergeAll->setObjectName(QStringLiteral("ButtonQBHB"));
    m_mergeAll->setToolTip(QStringLiteral("合并所有确定是同一人的组（姓名相同，并有相同的电话、"
                                          "电子邮件或单位），每一栏保留默认的值"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("ButtonGB"));

    auto* sides = new QHBoxLayout;
    sides->addWidget(m_list);
    sides->addWidget(m_table, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_merge);
    buttons->addWidget(m_mergeAll);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addLayout(sides, 1);
    layout->addWidget(hint);
    layout->addLayout(buttons);

    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!m_filling)
            showGroup(row);
    });
    // The table is filled anew once the signal is over: its items are not to be deleted
    // while they are being told about.
    auto chooseLater = [this](int field, int card) {
        QMetaObject::invokeMethod(
            this, [this, field, card] { choose(field, card); }, Qt::QueuedConnection);
    };
    connect(m_table, &QTableWidget::itemChanged, this, [this, chooseLater](QTableWidgetItem* item) {
        // A kept value cannot be unticked, only replaced: unticked, it is ticked again.
        if (!m_filling)
            chooseLater(item->data(kFieldRole).toInt(),
                        item->checkState() == Qt::Checked
                            ? item->column()
                            : m_choices.value(item->data(kFieldRole).toInt()));
    });
    connect(m_table, &QTableWidget::cellClicked, this, [this, chooseLater](int row, int column) {
        if (QTableWidgetItem* item = m_table->item(row, column))
            chooseLater(item->data(kFieldRole).toInt(), column);
    });
    connect(m_merge, &QPushButton::clicked, this, Platform::guarded([this] { mergeShown(); }));
    connect(m_mergeAll, &QPushButton::clicked, this, Platform::guarded([this] { mergeAll(); }));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void TDuplicatesDialog::reload() {
    m_groups = m_actions.load ? m_actions.load() : QVector<Group>();
    int certain = 0;
    m_filling = true;
    m_list->clear();
    for (const Group& g : qAsConst(m_groups)) {
        certain += g.certain ? 1 : 0;
        const QString name = value(g.cards.value(0), Card::indexOf(QStringLiteral("姓名")));
        m_list->addItem(QStringLiteral("%1 等 %2 张%3")
                            .arg(name.left(20))
                            .arg(g.ids.size())
                            .arg(g.certain ? QString() : QStringLiteral("（可能）")));
    }
    m_filling = false;
    if (m_groups.isEmpty())
        m_summary->setText(QStringLiteral("没有找到重复的名片。"));
    else
        m_summary->setText(QStringLiteral("找到 %1 组可能是同一人的名片，其中 %2 组确定是同一人。")
                               .arg(m_groups.size())
                               .arg(certain));
    showGroup(m_groups.isEmpty() ? -1 : 0);
}

int TDuplicatesDialog::groupCount() const {
    return m_groups.size();
}

void TDuplicatesDialog::showGroup(int row) {
    m_current = row >= 0 && row < m_groups.size() ? row : -1;
    m_choices = m_current < 0 ? QVector<int>() : Duplicates::defaultChoices(m_groups[row].cards);
    if (m_current >= 0 && m_list->currentRow() != row) {
        m_filling = true;
        m_list->setCurrentRow(row);
        m_filling = false;
    }
    fillTable();
}

void TDuplicatesDialog::choose(int field, int card) {
    if (m_current < 0 || field < 0 || field >= m_choices.size())
        return;
    const Group& g = m_groups[m_current];
    if (card < 0 || card >= g.cards.size() || value(g.cards[card], field).trimmed().isEmpty())
        return; // an empty value is never kept over a written one
    m_choices[field] = card;
    fillTable();
}

bool TDuplicatesDialog::differs(int field) const {
    if (m_current < 0)
        return false;
    QSet<QString> seen;
    for (const Card& card : m_groups[m_current].cards) {
        const QString v = value(card, field).trimmed();
        seen.insert(v.isEmpty() ? v : Duplicates::valueMeaning(Field(field), v));
    }
    return seen.size() > 1;
}

void TDuplicatesDialog::fillTable() {
    m_filling = true;
    m_table->clear();
    m_table->setRowCount(0);
    m_table->setColumnCount(0);
    if (m_current >= 0) {
        const Group& g = m_groups[m_current];
        QStringList headers;
        for (qint64 id : g.ids)
            headers << QStringLiteral("ID %1").arg(id);
        m_table->setColumnCount(g.cards.size());
        m_table->setHorizontalHeaderLabels(headers);
        QStringList labels;
        for (int f = 0; f < int(kFieldMap.size()); ++f) {
            bool any = false;
            for (const Card& card : g.cards)
                any = any || !value(card, f).trimmed().isEmpty();
            if (!any)
                continue;
            const int row = m_table->rowCount();
            m_table->insertRow(row);
            labels << fieldLabel(f);
            const bool marked = differs(f);
            for (int c = 0; c < g.cards.size(); ++c) {
                auto* item = new QTableWidgetItem(value(g.cards[c], f));
                item->setData(kFieldRole, f);
                item->setToolTip(value(g.cards[c], f).left(2000));
                if (!value(g.cards[c], f).trimmed().isEmpty()) {
                    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable |
                                   Qt::ItemIsSelectable);
                    item->setCheckState(m_choices.value(f) == c ? Qt::Checked : Qt::Unchecked);
                } else {
                    item->setFlags(Qt::ItemIsEnabled);
                }
                if (marked)
                    item->setBackground(QBrush(QColor(255, 236, 179)));
                m_table->setItem(row, c, item);
            }
        }
        m_table->setVerticalHeaderLabels(labels);
    }
    m_filling = false;
    updateButtons();
}

void TDuplicatesDialog::updateButtons() {
    bool anyCertain = false;
    for (const Group& g : qAsConst(m_groups))
        anyCertain = anyCertain || g.certain;
    m_merge->setEnabled(m_current >= 0);
    m_mergeAll->setEnabled(anyCertain);
}

void TDuplicatesDialog::mergeShown() {
    if (m_current < 0 || !m_actions.merge)
        return;
    const int at = m_current;
    m_actions.merge(m_groups[at].ids, m_choices);
    reload();
    if (!m_groups.isEmpty())
        showGroup(qMin(at, m_groups.size() - 1));
}

void TDuplicatesDialog::mergeAll() {
    int certain = 0;
    for (const Group& g : qAsConst(m_groups))
        certain += g.certain ? 1 : 0;
    if (certain == 0 || !m_actions.mergeAllCertain)
        return;
    const QString question =
        QStringLiteral("将合并 %1 组确定是同一人的名片：每组留下 ID 最小的一张，每一栏保留默认"
                       "的值，其余的值记入备注，其他名片删除。要合并吗？")
            .arg(certain);
    if (Platform::messageBox(this, question, Platform::applicationTitle(),
                             Platform::MB_YESNO | Platform::MB_ICONQUESTION) != Platform::IDYES)
        return;
    const int merged = m_actions.mergeAllCertain();
    reload();
    Platform::showMessage(QStringLiteral("已合并 %1 组名片。").arg(merged));
}

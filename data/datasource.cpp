#include "datasource.h"

#include "adoquery.h"

TDataSource::TDataSource(QObject* parent)
    : QAbstractTableModel(parent) {}

void TDataSource::setDataSet(TADOQuery* dataset) {
    if (dataset == m_dataset)
        return;
    if (m_dataset)
        disconnect(m_dataset, nullptr, this, nullptr);
    m_dataset = dataset;
    if (m_dataset) {
        connect(m_dataset, &TADOQuery::reset, this, &TDataSource::resetFromDataSet);
        connect(m_dataset, &TADOQuery::rowInserted, this, &TDataSource::onRowInserted);
        connect(m_dataset, &TADOQuery::rowsAppended, this, &TDataSource::onRowsAppended);
        connect(m_dataset, &TADOQuery::rowRemoved, this, &TDataSource::onRowRemoved);
        connect(m_dataset, &TADOQuery::rowChanged, this, &TDataSource::onRowChanged);
        connect(m_dataset, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_dataset = nullptr;
            m_rowCount = 0;
            remap();
            endResetModel();
        });
    }
    resetFromDataSet();
}

void TDataSource::setColumns(const QStringList& columns) {
    beginResetModel();
    m_columns = columns;
    remap();
    endResetModel();
}

void TDataSource::remap() {
    m_resultIndex.clear();
    const QStringList names = m_dataset ? m_dataset->FieldNames() : QStringList();
    for (const QString& column : qAsConst(m_columns)) {
        int found = -1;
        for (int i = 0; i < names.size() && found < 0; ++i) {
            if (names.at(i).compare(column, Qt::CaseInsensitive) == 0)
                found = i;
        }
        m_resultIndex.append(found);
    }
}

void TDataSource::resetFromDataSet() {
    beginResetModel();
    m_rowCount = m_dataset && m_dataset->Active() ? m_dataset->LoadedCount() : 0;
    remap();
    endResetModel();
}

void TDataSource::onRowInserted(int row) {
    if (row < 0 || row > m_rowCount || m_rowCount + 1 != m_dataset->LoadedCount()) {
        resetFromDataSet();
        return;
    }
    m_changedRow = row;
    m_shift = 1;
    beginInsertRows(QModelIndex(), row, row);
    m_shift = 0;
    m_changedRow = -1;
    ++m_rowCount;
    endInsertRows();
}

void TDataSource::onRowRemoved(int row) {
    if (row < 0 || row >= m_rowCount || m_rowCount - 1 != m_dataset->LoadedCount()) {
        resetFromDataSet();
        return;
    }
    m_changedRow = row;
    m_shift = -1;
    beginRemoveRows(QModelIndex(), row, row);
    m_shift = 0;
    m_changedRow = -1;
    --m_rowCount;
    endRemoveRows();
}

void TDataSource::onRowsAppended(int first, int last) {
    if (first != m_rowCount || last < first || last + 1 != m_dataset->LoadedCount()) {
        resetFromDataSet();
        return;
    }
    beginInsertRows(QModelIndex(), first, last);
    m_rowCount = last + 1;
    endInsertRows();
}

void TDataSource::onRowChanged(int row) {
    if (row < 0 || row >= m_rowCount || m_columns.isEmpty())
        return;
    emit dataChanged(index(row, 0), index(row, int(m_columns.size()) - 1));
}

int TDataSource::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int TDataSource::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_columns.size());
}

int TDataSource::datasetRow(int row) const {
    if (m_shift > 0 && row >= m_changedRow)
        return row + 1;
    if (m_shift < 0 && row > m_changedRow)
        return row - 1;
    if (m_shift < 0 && row == m_changedRow)
        return -1; // already gone from the dataset
    return row;
}

QVariant TDataSource::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !m_dataset || !index.isValid() || index.row() >= m_rowCount ||
        index.column() >= m_resultIndex.size())
        return QVariant();
    const int column = m_resultIndex.at(index.column());
    const int row = datasetRow(index.row());
    if (column < 0 || row < 0)
        return QString();
    return shownText(m_dataset->CellText(row, column));
}

QString TDataSource::shownText(const QString& text) {
    if (text.size() <= kLongestShown)
        return text;
    qsizetype keep = kLongestShown - 1;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + QChar(0x2026);
}

QVariant TDataSource::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_columns.size())
        return m_columns.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

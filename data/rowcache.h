#pragma once

#include <QVariant>
#include <QVector>

#include <list>
#include <unordered_map>

/// Column values of recently read rows, by row identity, within a fixed number of rows.
/// The least recently used rows are dropped first.
class RowCache {
public:
    explicit RowCache(int capacity);

    /// The row's values, or nullptr when they are not held. Marks the row as used.
    const QVector<QVariant>* find(qint64 id);
    void insert(qint64 id, QVector<QVariant> values);
    void remove(qint64 id);
    void clear();

    int size() const { return int(m_rows.size()); }
    int capacity() const { return m_capacity; }

private:
    struct Entry {
        QVector<QVariant> values;
        std::list<qint64>::iterator use;
    };

    int m_capacity;
    std::list<qint64> m_use; // most recently used first
    std::unordered_map<qint64, Entry> m_rows;
};

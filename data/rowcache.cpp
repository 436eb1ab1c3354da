#include "rowcache.h"

RowCache::RowCache(int capacity)
    : m_capacity(capacity > 0 ? capacity : 1) {}

const QVector<QVariant>* RowCache::find(qint64 id) {
    const auto it = m_rows.find(id);
    if (it == m_rows.end())
        return nullptr;
    m_use.splice(m_use.begin(), m_use, it->second.use);
    return &it->second.values;
}

void RowCache::insert(qint64 id, QVector<QVariant> values) {
    const auto it = m_rows.find(id);
    if (it != m_rows.end()) {
        it->second.values = std::move(values);
        m_use.splice(m_use.begin(), m_use, it->second.use);
        return;
    }
    while (int(m_rows.size()) >= m_capacity) {
        m_rows.erase(m_use.back());
        m_use.pop_back();
    }
    m_use.push_front(id);
    m_rows.emplace(id, Entry{std::move(values), m_use.begin()});
}

void RowCache::remove(qint64 id) {
    const auto it = m_rows.find(id);
    if (it == m_rows.end())
        return;
    m_use.erase(it->second.use);
    m_rows.erase(it);
}

void RowCache::clear() {
    m_rows.clear();
    m_use.clear();
}

#pragma once

// What the dataset's two source files share: how rows are read and a few small helpers.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QVector>

namespace AdoQueryDetail {
// Rows are read this many at a time around the one asked for.
constexpr int kPageRows = 64;
// Opening waits for this many identities: the first screens of a grid.
constexpr int kFirstRows = kPageRows;
// Enough for several screens of a grid plus the rows the program itself touches.
constexpr int kCachedRows = 4096;
// After a failed read views show blanks for this long instead of waiting on every cell.
constexpr qint64 kViewRetryMs = 2000;
// While the rest of the identities arrive, views are told of them this often: each telling
// lays the grid out again.
constexpr qint64 kAppendEveryMs = 500;
// The rest of the identities are read once a view has shown the first rows, so as not to
// slow that showing down; without a view, after this long. Until then the reader's lock
// keeps other programs from writing.
constexpr int kReadTheRestAfterMs = 250;

inline qint64 monotonicMs() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

inline QString key(const QString& column) {
    return column.toLower();
}

inline QByteArray idList(const QVector<qint64>& ids) {
    QByteArray list;
    for (qint64 id : ids) {
        if (!list.isEmpty())
            list += ',';
        list += QByteArray::number(id);
    }
    return list;
}

} // namespace AdoQueryDetail

#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

class IdLoader;
class TADOConnection;
class RowCache;
struct sqlite3;
namespace Sqlite {
class Statement;
using Failure = std::function<QString(sqlite3* db, int rc)>;
} // namespace Sqlite

/// What a dataset did to a row, for its write hook.
enum class RowWrite {
    Written, ///< added or changed
    Deleted,
};

/// Statement text kept as lines, each followed by CR LF.
class TStrings {
public:
    void Clear() { m_lines.clear(); }
    void Add(const QString& line) { m_lines.append(line); }
    QString Text() const;
    const QStringList& lines() const { return m_lines; }

private:
    QStringList m_lines;
};

/// A query dataset: the rows of its statement, one current row and one row being edited.
///
/// Opening learns only the identities ("ID") of the rows and their order; column values
/// are read a page at a time for the rows that are looked at, and cached within a bound.
/// The identities after the first page arrive while the list is already shown (read on a
/// thread of their own); whatever needs them all waits for them.
class TADOQuery : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool loading READ Loading)
public:
    enum State { dsInactive, dsBrowse, dsEdit, dsInsert };

    TADOQuery(const QString& name, QObject* parent = nullptr);
    ~TADOQuery() override;

    QString name() const { return objectName(); }
    void setConnection(TADOConnection* connection);
    TADOConnection* connection() const { return m_connection; }

    TStrings SQL;
    /// Values bound to the statement's "?" placeholders, in order.
    QVariantList Parameters;
    /// When set, the rows listed are the cards with these IDs, in this order, asked for at
    /// every open; the statement then only says where their values are read from.
    std::function<QVector<qint64>(sqlite3* db)> IdSource;
    /// When set (and IdSource is not), the same a part at a time: the steps it makes give the
    /// IDs, the first ones at once and the rest on a thread over `reader`, a read-only
    /// connection of their own, as for a statement's rows. `db` is the dataset's connection,
    /// for what must be known of it first; inside its transaction both are the same.
    std::function<std::function<int(QVector<qint64>& ids, qsizetype max)>(sqlite3* db,
                                                                          sqlite3* reader)>
        IdStream;
    /// With IdStream: the read-only connection its steps read over, kept by the caller from
    /// one open to the next so that its cache stays warm; empty for one of the loader's own.
    std::function<sqlite3*()> IdStreamReader;
    /// Called for each row written or deleted, inside the write's transaction, so that what
    /// is kept beside the rows stays in step with them; a throw undoes the write.
    std::function<void(sqlite3* db, const QString& table, qint64 id, RowWrite write)> WriteHook;
    /// Called in the same transaction just before a row is written or deleted (`id` 0 for a
    /// row about to be added), while the row still holds what it held; a throw undoes the write.
    std::function<void(sqlite3* db, const QString& table, qint64 id, RowWrite write)>
        BeforeWriteHook;

    /// Runs the statement and makes the first row current; does nothing when open.
    void Open();
    void Close();
    bool Active() const { return m_state != dsInactive; }
    State state() const { return m_state; }

    /// Starts a new empty current row; a pending row is posted first, or dropped if unchanged.
    void Insert();
    /// Edit mode for the current row; acts as Insert on a dataset without rows.
    void Edit();
    /// Edit mode for the current row, which Post writes only while the table still holds
    /// `loaded` for it (the values it had when it was shown): a row another program has
    /// changed or removed since is refused with an error, and nothing is written.
    void EditChecked(const QVector<QVariant>& loaded);
    /// Writes the row being inserted or edited; does nothing in browse mode.
    void Post();
    /// Drops the row being inserted, or the edits of the row being edited.
    void Cancel();
    /// Removes the current row; the next row (or the previous, at the end) becomes current.
    /// Refused with an error when another program has changed the row since it was read (the
    /// row then shows what the table holds now). Returns false when another program had
    /// removed it already: it is dropped from the rows all the same.
    bool Delete();

    /// The current row's value of a column as text; empty for a missing value or no rows.
    QString FieldAsString(const QString& column) const;
    /// The current row's values as read, one for each column; empty when there is no row.
    QVector<QVariant> CurrentValues() const;
    /// Stores text into a column of the row being inserted or edited.
    void SetFieldAsString(const QString& column, const QString& text);
    /// Column names of the statement's result, in its order.
    QStringList FieldNames() const;

    /// The number of rows; waits for the rest of the identities.
    int RecordCount() const;
    /// Rows known so far: all of them once Loading() is false.
    int LoadedCount() const { return int(m_ids.size()); }
    /// True while the identities after the first rows are still being read.
    bool Loading() const { return m_loader != nullptr; }
    /// Waits until every row is known, or reading them failed.
    void FetchAll();
    /// A view has shown the first rows: the rest of the identities are read from now on.
    void RowsShown();
    /// Index of the current row, or -1 when there is none.
    int RecNo() const { return m_current; }
    bool IsEmpty() const { return m_ids.isEmpty(); }
    bool Bof() const;
    bool Eof() const;
    void First();
    void Prior();
    void Next();
    void Last();
    /// Makes row `row` current; a pending insert or edit is posted first.
    void MoveTo(int row);

    /// Text of a column (by result index) of any row, for views.
    QString CellText(int row, int column) const;
    /// Identity of the current row, 0 for none or a row not yet posted.
    qint64 CurrentId() const;
    /// Identities of the stored rows the dataset lists, in its order; waits for them all.
    QVector<qint64> RowIds();
    /// Makes the row with this identity current; false when the dataset has no such row.
    bool Locate(qint64 id);

signals:
    // Each is sent after the change has been made to the dataset.

    /// Opened, closed or reloaded: every row may have changed.
    void reset();
    /// A row now stands at `row` (a new row being inserted; always the last).
    void rowInserted(int row);
    /// Rows learned after opening now stand at `first` to `last`, the end of the list.
    void rowsAppended(int first, int last);
    /// Reading the rest of the rows failed; the rows known so far stay.
    void loadFailed(const QString& message);
    /// Every row is known now (or reading them failed): Loading() is false.
    void loadEnded();
    /// The row that stood at `row` is gone; the rows after it moved up by one.
    void rowRemoved(int row);
    /// The values shown for `row` changed (typed into the pending row, posted, cancelled).
    void rowChanged(int row);
    /// Another row is current; `row` is its index, -1 for none.
    void currentChanged(int row);
    /// state() changed.
    void stateChanged();

private:
    void checkActive() const;
    QVector<qint64> readIds(sqlite3* handle) const;
    void startLoading(sqlite3* handle, QVector<qint64>& ids);
    void takeIds();
    /// Takes the identities read so far; with `count` above the rows known, waits for them
    /// until that many rows are known or reading has ended.
    void takeIdsUntil(qsizetype count);
    void idsReady();
    void readTheRest();
    /// Waits until at least `count` rows are known, or all of them are.
    void learnRows(int count);
    /// Every row, or the error that kept them from being read.
    void needAllRows();
    int columnIndex(const QString& column) const;
    const QVector<QVariant>& rowValues(int row) const;
    void writePending();
    void setCurrent(int row);
    QString tableName() const;

    bool editing() const { return m_state == dsEdit || m_state == dsInsert; }
    /// Posts a changed pending row, drops an unchanged one.
    void checkBrowseMode();
    [[noreturn]] void fail(const QString& message, const QString& technical) const;
    /// Within a write transaction: what the table holds now for row `id` differs from
    /// `expected`, in words for the user; empty when it does not. `gone` tells it is missing.
    QString changedSince(sqlite3* handle, qint64 id, const QVector<QVariant>& expected,
                         bool* gone) const;
    /// Runs `write` in one immediate transaction, rolled back when it fails.
    template <class F> void inTransaction(sqlite3* handle, F write);
    QString sqlErrorText(sqlite3* db, int rc) const;
    /// sqlErrorText as the throwing statements take it.
    Sqlite::Failure sqlFailure() const;
    /// Reads a row again, so that the list shows what the table holds now.
    void refreshRow(int row);
    /// Takes a row out of the list, which the table no longer holds.
    void dropRow(int row);
    sqlite3* db() const;
    void bindParameters(Sqlite::Statement& statement) const;
    void fetchPage(int row) const;
    void fetchRows(const QVector<qint64>& ids) const;
    QVariant valueAt(int row, int column) const;

    TADOConnection* m_connection = nullptr;
    State m_state = dsInactive;
    QStringList m_columns;
    QHash<QString, int> m_columnIndex;
    QVector<qint64> m_ids; // row identities in statement order; 0 marks the row being inserted
    int m_current = -1;
    QVector<QVariant> m_buffer; // values of the row being inserted or edited
    QVector<bool> m_modified;
    QVector<QVariant> m_expected; // what a checked edit may only overwrite
    std::unique_ptr<RowCache> m_cache;
    std::unique_ptr<IdLoader> m_loader; // while the rest of the identities are being read
    QString m_loadError;
    QTimer m_appendTimer;    // shows the rows that arrived, a few times a second
    qint64 m_appendedAt = 0; // when rows were last shown
    QTimer m_restTimer;      // reads the rest even if no view shows the list
    bool m_restAsked = false;

    // Captured when the dataset opens, so that later reads match the rows it opened with.
    QByteArray m_core; // the statement without a trailing ";", to nest inside other queries
    QVariantList m_params;
    QString m_table; // where inserts, edits and deletes go
    int m_idColumn = -1;
    int m_beforeInsert = -1; // current row to return to when an insert is dropped
    QVector<QVariant> m_nullRow;
    mutable qint64 m_viewRetryAfter = 0; // views stop reading for a while after a failed read
};

/// Drops the row being inserted or edited when it goes out of scope still unposted, so that
/// a save refused half way leaves the rows as they were before it.
class TPendingRowGuard {
public:
    explicit TPendingRowGuard(TADOQuery* dataset)
        : m_dataset(dataset) {}
    ~TPendingRowGuard() {
        if (m_dataset)
            m_dataset->Cancel();
    }
    TPendingRowGuard(const TPendingRowGuard&) = delete;
    TPendingRowGuard& operator=(const TPendingRowGuard&) = delete;

private:
    TADOQuery* m_dataset;
};

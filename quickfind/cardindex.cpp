#include "cardindex.h"

#include "quickfind.h"
#include "spelling.h"

#include "core/card.h"
#include "core/error.h"
#include "data/adoquery.h"
#include "data/cardpicture.h"
#include "data/carduid.h"
#include "data/sqlite.h"

namespace CardIndex {

bool isCardTable(const QString& table) {
    return table.compare(QLatin1String("zl"), Qt::CaseInsensitive) == 0;
}

void rowWritten(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    if (!isCardTable(table))
        return;
    if (write == RowWrite::Deleted) {
        cardDeleted(db, id);
        CardUid::cardDeleted(db, id);
        CardPicture::cardDeleted(db, id);
    } else {
        cardWritten(db, id);
        CardPicture::cardWritten(db, id);
    }
}

void cardWritten(sqlite3* db, qint64 id) {
    Sqlite::Statement st;
    int rc = st.prepare(db, "SELECT * FROM \"zl\" WHERE \"ID\"=?");
    if (rc == SQLITE_OK)
        rc = st.bind(1, id);
    if (rc == SQLITE_OK)
        rc = st.step();
    if (rc == SQLITE_DONE)
        return; // nothing to index: the write left no such card
    if (rc != SQLITE_ROW)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    Card card;
    for (int c = 0; c < st.columnCount(); ++c) {
        const int field = Card::indexOf(st.columnName(c));
        if (field >= 0)
            card.values[field] = st.text(c).toString();
    }
    cardWritten(db, id, card);
}

void cardWritten(sqlite3* db, qint64 id, const Card& card) {
    QuickFind::updateCard(db, id, card);
}

bool cardsAdded(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress) {
    return QuickFind::cardsAdded(db, ids, progress);
}

void cardDeleted(sqlite3* db, qint64 id) {
    QuickFind::removeCard(db, id);
}

std::future<bool> checkInBackground(const QString& file, std::function<void()> between) {
    return std::async(std::launch::async, [file, between = std::move(between)] {
        try {
            (void)QuickFind::nameSpellings(QStringLiteral("张三"));
            Sqlite::Database db;
            if (db.open(file, Sqlite::OpenMode::ReadOnly, true) != SQLITE_OK)
                return false;
            // A snapshot for each chunk of cards, never one for them all: in a rollback
            // journal a reader holds off our own saves, which would fail as if another
            // program held the file.
            return QuickFind::isCurrent(db.get(), [&between] {
                if (between)
                    between();
            });
        } catch (const std::exception&) {
            return false; // the first find finds out again, and says what is wrong
        }
    });
}

} // namespace CardIndex

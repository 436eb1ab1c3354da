#pragma once

// What the quick find's tests share: a bare connection to a card file as one made before the
// quick find, generated cards spread over several chunks, words people type, and the check
// of every find against the plain matcher.

#include "core/card.h"
#include "testcards.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

struct sqlite3;

namespace QuickFindTest {

/// A connection set up as the program's own: defensive, untrusted schema; the quick find's
/// tables dropped, as in a file made before it.
class Db {
public:
    enum Index { DropIndex, KeepIndex };
    explicit Db(const QString& file, Index index = DropIndex);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    operator sqlite3*() const { return m_db; }

    void exec(const QString& sql);
    /// Inserts a card (at `id` when given) and returns its ID.
    qint64 insert(const Card& card, qint64 id = 0);
    QList<QPair<qint64, Card>> cards() const;
    QString text(const QString& sql) const;
    qint64 count(const QString& sql) const;

private:
    sqlite3* m_db = nullptr;
};

Card generated(Bench::CardGenerator& gen);
/// The IDs the plain matcher finds, card by card.
QVector<qint64> expected(const Db& db, const QString& text);
/// Cards with IDs spread over several chunks of the index, a negative one among them.
void fillSpread(Db& db, int count);
/// Words people type, taken from the cards themselves: pieces of columns, starts of
/// spellings, phone digits; and a few pairs of them.
QStringList sampleWords(const Db& db, int count);
/// Every word found through the index as the matcher finds it, whole and a part at a time.
void checkAgainstMatcher(const Db& db, const QStringList& words);
/// The statements of the quick find's tables in the file.
QStringList tables(const Db& db);

} // namespace QuickFindTest

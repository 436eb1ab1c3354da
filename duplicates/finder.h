#pragma once

#include "normalize.h"

#include <QVector>

struct sqlite3;

/// Which cards are one person's.
///
/// Two cards are linked when
/// - their names are the same (after folding) and they share a phone, an e-mail or a company:
///   a certain link; or
/// - they share a mobile number or an e-mail, and one name contains the other or both are
///   spelled alike in pinyin: a probable link.
/// The same name alone, or with different companies and nothing else shared, is two people.
///
/// Groups: the cards joined by certain links form a core (its names are all the same). A
/// probable link then adds a card that is alone to the core of the card it is linked to, and
/// nothing more: a card added that way brings in nobody, and two cores are never joined by a
/// near name, since a chain of near names (张伟 ~ 张伟明 ~ 伟明) gathers different people. A group
/// is certain when it has no card added that way; only certain groups are merged unasked.
namespace Duplicates {

/// A phone, e-mail or name with company shared by more cards than this is a switchboard or a
/// placeholder, not one person's: it links nobody.
constexpr int kLargestBlock = 500;

enum class Link { None, Probable, Certain };

/// How two cards are linked by the rule above.
Link linkOf(const Profile& a, const Profile& b);

struct Group {
    QVector<qint64> ids; ///< ascending
    bool certain = false;
};

/// Every group of two or more cards of zl, ordered by their lowest ID. Reads the cards once and
/// compares only cards that share a phone, an e-mail, or a name and a company; a phone or a
/// name and company that more than a few hundred cards share identifies nobody and is passed
/// over. Throws EDatabaseError when the cards cannot be read.
QVector<Group> findGroups(sqlite3* db);

/// The same over cards in memory, `ids` beside `profiles`.
QVector<Group> groupsOf(const QVector<qint64>& ids, const QVector<Profile>& profiles);

} // namespace Duplicates

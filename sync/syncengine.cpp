#include "syncengine.h"

#include "cardmerge.h"
#include "serverlisting.h"
#include "syncstore.h"

#include "data/carduid.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "exchange/assemble.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <optional>

namespace Sync {

namespace {

const char kServer[] = "server";
const char kUser[] = "user";
const char kBook[] = "book";
const char kFingerprint[] = "fingerprint";
const char kInsecure[] = "allow_insecure";
const char kToken[] = "sync_token";
const char kCtag[] = "ctag";
// Cards a sync made on the server after the token it kept, as files of an earlier version
// note them; now in a table of their own, each noted with its card's synced copy.
const char kCreated[] = "created_since_token";

// A write retried after a 412 or a vanished card before the sync gives up on it.
const int kRetries = 3;
// The server's cards asked for in parts of this many: what is held at once.
const int kFetchPart = 500;

// The same person, as an earlier import of the phone's cards leaves them: the same name and
// a phone or e-mail in common.
bool samePerson(const Card& a, const Card& b) {
    using namespace Exchange;
    if (a[Field::Name].trimmed() != b[Field::Name].trimmed())
        return false;
    const Field phones[] = {Field::WorkPhone, Field::Mobile, Field::HomePhone};
    for (const Field pa : phones) {
        const QString d = digitsOf(a[pa]);
        if (d.isEmpty())
            continue;
        for (const Field pb : phones)
            if (d == digitsOf(b[pb]))
                return true;
    }
    return !a[Field::Email].isEmpty() &&
           a[Field::Email].compare(b[Field::Email], Qt::CaseInsensitive) == 0;
}

QString unreadableCard(const FetchedCard& card, const QString& why) {
    const QString file =
        QUrl::fromPercentEncoding(card.href.section(QLatin1Char('/'), -1).toUtf8());
    static const QRegularExpression fn(QStringLiteral("(?:^|\\n)FN[^:\\r\\n]*:([^\\r\\n]*)"));
    const QString name = fn.match(QString::fromUtf8(card.vcard)).captured(1).trimmed();
    return QStringLiteral(
               "服务器上的名片“%1”（%2）读不出来，同步已停止；在它之前同步的名片都已保存。"
               "请在手机或服务器上改正或删除这张名片，再同步。\n(%3)")
        .arg(name.isEmpty() ? QStringLiteral("无姓名") : name, file, why);
}

QList<qint64> createdSinceToken(SyncStore& store) {
    QList<qint64> ids = store.created();
    const QStringList words =
        store.value(QLatin1String(kCreated)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words)
        ids << word.toLongLong();
    return ids;
}

} // namespace

SyncAccount loadAccount(const Sqlite::Database& db) {
    SyncStore store(db);
    SyncAccount a;
    a.server = store.value(QLatin1String(kServer));
    a.user = store.value(QLatin1String(kUser));
    a.book = QUrl(store.value(QLatin1String(kBook)));
    a.fingerprint = store.value(QLatin1String(kFingerprint)).toLatin1();
    a.allowInsecure = store.value(QLatin1String(kInsecure)) == QLatin1String("1");
    a.syncToken = store.value(QLatin1String(kToken)).toUtf8();
    a.ctag = store.value(QLatin1String(kCtag)).toUtf8();
    return a;
}

void saveAccount(const Sqlite::Database& db, const SyncAccount& a) {
    SyncStore store(db);
    store.transaction([&] {
        const QString oldBook = store.value(QLatin1String(kBook));
        store.setValue(QLatin1String(kServer), a.server);
        store.setValue(QLatin1String(kUser), a.user);
        store.setValue(QLatin1String(kBook), a.book.toString());
        store.setValue(QLatin1String(kFingerprint), QString::fromLatin1(a.fingerprint));
        store.setValue(QLatin1String(kInsecure),
                       a.allowInsecure ? QStringLiteral("1") : QStringLiteral("0"));
        store.setValue(QLatin1String(kToken), QString::fromUtf8(a.syncToken));
        store.setValue(QLatin1String(kCtag), QString::fromUtf8(a.ctag));
        // Another book: what was synced with the old one says nothing about the new one.
        if (!oldBook.isEmpty() && oldBook != a.book.toString()) {
            store.dropAllSynced();
            store.setValue(QLatin1String(kToken), QString());
            store.setValue(QLatin1String(kCtag), QString());
            store.setValue(QLatin1String(kCreated), QString());
        }
    });
}

QString massDeleteQuestion(int here, int there, int total) {
    return QStringLiteral("服务器上的通讯录似乎被清空了，或者选错了通讯录：这次同步将在本机删除 %1 "
                          "张名片，在服务器上删除 %2 张（已同步的名片共 %3 张）。\n"
                          "确实要删除吗？不确定时请选“否”，先检查同步设置里的通讯录。")
        .arg(here)
        .arg(there)
        .arg(total);
}

QString SyncReport::text() const {
    QStringList lines;
    lines << QStringLiteral("已发送 %1 张名片，已接收 %2 张；本机删除 %3 张，服务器上删除 %4 张。")
                 .arg(sent)
                 .arg(received)
                 .arg(deletedHere)
                 .arg(deletedThere);
    if (!conflicts.isEmpty())
        lines << QStringLiteral("%1 处两边都改过，保留了本机的内容，服务器上的内容如下：")
                     .arg(conflicts.size());
    for (const Conflict& c : conflicts)
        lines << QStringLiteral("“%1”的%2：本机“%3”，服务器“%4”")
                     .arg(c.name, columnText(c.field.column), c.field.kept, c.field.server);
    lines += notes;
    return lines.join(QLatin1Char('\n'));
}

SyncEngine::SyncEngine(const Sqlite::Database& db, CardDavClient& client)
    : m_database(db)
    , m_db(db.get())
    , m_client(client) {}

void SyncEngine::cancel() {
    m_cancelled = true;
}

void SyncEngine::checkCancel() const {
    if (m_cancelled || (progress && progress->cancelled()))
        throw ECardDav(ECardDav::Cancelled, QUrl(), QStringLiteral("cancelled"));
}

// What one sync works with, and the steps that change it. What the last sync left is read
// from the file as each step needs it; what stays in memory is the cards that changed on
// either side, so a sync of a large book where little changed needs little.
struct SyncEngine::State {
    SyncEngine& engine;
    SyncStore store;
    SyncAccount account;
    SyncReport report;
    QSet<qint64> changedHere;              // synced cards changed here since
    QSet<qint64> newHere;                  // cards not on the server yet
    QSet<qint64> deletedHere;              // synced cards deleted here since
    QSet<qint64> created;                  // cards this sync made on the server
    bool wrote = false;                    // something was sent to the server
    std::optional<UnsyncedNames> unsynced; // newHere by trimmed name, made when first needed

    State(SyncEngine& e)
        : engine(e)
        , store(e.m_database) {}

    void note(qint64 id, const Card& card, const QVector<FieldConflict>& conflicts) {
        for (const FieldConflict& f : conflicts)
            report.conflicts.append({id, card[Field::Name], f});
    }

    // The card here as it is now; a card gone meanwhile reads as empty.
    Card mine(qint64 id) { return store.card(id).value_or(Card()); }

    qint64 pairedCard(const Card& theirs, const QString& uid) {
        qint64 id = CardUid::idOf(engine.m_db, uid);
        if (id && newHere.contains(id))
            return id;
        // By name first: a first sync after an import meets thousands of cards on each side.
        if (!unsynced) {
            unsynced.emplace(engine.m_database);
            store.forEachCard([&](qint64 candidate, const Card& card) {
                if (newHere.contains(candidate))
                    unsynced->add(card[Field::Name].trimmed(), candidate);
            });
        }
        const QList<qint64> same = unsynced->named(theirs[Field::Name].trimmed());
        // The very same card before one that only shares a number: two cards of one person
        // here pair with their own copies, not both with the first.
        qint64 resembling = 0;
        for (const qint64 candidate : std::as_const(same)) {
            if (!newHere.contains(candidate))
                continue;
            const Card card = mine(candidate);
            if (card == theirs)
                return candidate;
            if (!resembling && samePerson(card, theirs))
                resembling = candidate;
        }
        return resembling;
    }

    // A card the server has in a version not seen here: merged with this computer's.
    void take(const FetchedCard& fetched) {
        Card theirs;
        QString uid;
        // A card skipped here would never come again (the token and ctag move past it): the
        // sync stops on it, with what came before it kept, and the next one resumes there.
        QString why;
        try {
            if (!readCard(fetched.vcard, &theirs, &uid))
                why = QStringLiteral("no name or other field");
        } catch (const EError& e) {
            why = e.message();
        }
        if (!why.isEmpty())
            throw EError(unreadableCard(fetched, why));
        SyncedCard now{0, fetched.href, fetched.etag, fetched.vcard, theirs};
        qint64 id = store.syncedAt(fetched.href).id;
        const bool known = id != 0;
        if (!known)
            id = pairedCard(theirs, uid);
        if (id && store.hasCard(id)) {
            const Card minenow = mine(id);
            const Card base = known ? store.syncedCard(id).fields : Card();
            QVector<FieldConflict> conflicts;
            const Card merged = mergeCards(known ? &base : nullptr, minenow, theirs, &conflicts);
            now.id = id;
            store.transaction([&] {
                if (merged != minenow)
                    store.writeCard(id, merged);
                if (!known && !uid.isEmpty() && CardUid::idOf(engine.m_db, uid) == 0)
                    CardUid::set(engine.m_db, id, uid);
                store.storeSynced(now);
            });
            note(id, merged, conflicts);
            newHere.remove(id);
            if (merged != minenow)
                ++report.received;
            if (merged != theirs)
                changedHere.insert(id);
            else
                changedHere.remove(id);
            return;
        }
        // New here, or deleted here but changed there since: the server's card is kept.
        const qint64 old = id;
        store.addCard(theirs, uid, now, [&] {
            if (old)
                store.dropSynced(old);
        });
        if (old)
            deletedHere.remove(old);
        ++report.received;
    }
};

SyncReport SyncEngine::run() {
    m_cancelled = false;
    State s(*this);
    s.account = loadAccount(m_database);
    if (!s.account.isSet())
        throw EError(QStringLiteral("还没有设置同步账户。请先在“同步设置”里填写服务器和通讯录。"));
    const QUrl book = s.account.book;
    if (progress) {
        progress->begin(Core::Progress::Phase::SyncChecking, 0);
        progress->advance(0);
    }
    const LocalChanges local = s.store.localChanges();
    s.changedHere = local.changed;
    s.newHere = local.fresh;
    s.deletedHere = local.deleted;

    // What changed on the server. With changes here to send and a token from the last sync
    // the book's state would not spare a request: its changes are asked for at once.
    AddressBook info;
    const bool asked = local.isEmpty() || s.account.syncToken.isEmpty();
    if (asked)
        info = m_client.bookInfo(book);
    else
        info.supportsSync = true;
    // The book's ctag as the last sync left it: nothing changed there, and the one request
    // above is all this sync asks of the server.
    const bool quietThere = asked && !s.account.ctag.isEmpty() && info.ctag == s.account.ctag;
    if (quietThere && local.isEmpty())
        return s.report;

    // Every card this sync takes or deletes here is one operation, undone as a whole.
    History::Operation history(m_db, QStringLiteral("同步"));
    history.setDescriber([](const History::Operation::Counts& c) {
        return QStringLiteral("同步：收到 %1 张，删除 %2 张")
            .arg(c.added + c.changed)
            .arg(c.deleted);
    });
    // What the server named, in a table for the sync's length rather than in memory.
    ServerListing listing(m_database);
    QSet<QString> removedThere;
    QByteArray token;
    bool listedAll = false;
    if (quietThere) {
        token = s.account.syncToken;
    } else if (info.supportsSync) {
        const SyncDelta delta = m_client.syncChanges(
            book, s.account.syncToken, [&](const CardRef& c) { listing.add(c.href, c.etag); },
            [&](const QString& href) { removedThere.insert(href); });
        token = delta.token;
        listedAll = delta.full;
        if (!listedAll) {
            // Cards the last sync made after its token and deleted there since: a server
            // need not mention what it did not have at the token.
            for (const qint64 id : createdSinceToken(s.store)) {
                const SyncedRef ref = s.store.syncedRef(id);
                if (ref.id && !listing.contains(ref.href))
                    removedThere.insert(ref.href);
            }
        }
    } else {
        m_client.listCards(book, [&](const CardRef& c) { listing.add(c.href, c.etag); });
        listedAll = true;
    }
    if (listedAll)
        listing.forEachUnlisted([&](const QString& href) { removedThere.insert(href); });

    // A wrong book or an emptied server must not wipe the cards without a question.
    int deleteHere = 0;
    for (const QString& href : std::as_const(removedThere)) {
        const qint64 id = s.store.syncedAt(href).id;
        if (id && s.store.hasCard(id) && !s.changedHere.contains(id))
            ++deleteHere;
    }
    int deleteThere = 0;
    for (const qint64 id : std::as_const(s.deletedHere))
        if (!listing.needsFetch(s.store.syncedRef(id).href))
            ++deleteThere;
    const int total = s.store.syncedCount();
    auto many = [&](int n) { return n > 10 && n * 4 > total; };
    if ((many(deleteHere) || many(deleteThere)) &&
        (!confirmMassDelete || !confirmMassDelete(deleteHere, deleteThere, total)))
        throw EError(
            QStringLiteral("同步已停止，没有删除任何名片：这次同步要删除的名片太多（本机 %1 "
                           "张，服务器上 %2 张）。请检查同步设置里的通讯录是否选对。")
                .arg(deleteHere)
                .arg(deleteThere));

    // The server's new and changed cards, each committed with its version, a part at a time
    // in the order of their addresses.
    int done = 0;
    if (progress)
        progress->begin(Core::Progress::Phase::SyncReceiving, listing.fetchCount());
    QString after;
    for (QStringList part; !(part = listing.toFetch(after, kFetchPart)).isEmpty();) {
        after = part.last();
        m_client.fetchCards(book, part, [&](const FetchedCard& card) {
            if (card.missing)
                removedThere.insert(card.href);
            else
                s.take(card);
            if (progress)
                progress->advance(++done);
            checkCancel();
        });
    }

    // The server's deletes, unless the card changed here meanwhile: then it goes again.
    for (const QString& href : std::as_const(removedThere)) {
        const qint64 id = s.store.syncedAt(href).id;
        if (!id)
            continue;
        const bool isHere = s.store.hasCard(id);
        if (isHere && s.changedHere.contains(id)) {
            s.store.transaction([&] { s.store.dropSynced(id); });
            s.changedHere.remove(id);
            s.newHere.insert(id);
            if (s.unsynced)
                s.unsynced->add(s.mine(id)[Field::Name].trimmed(), id);
        } else {
            s.store.transaction([&] {
                if (isHere)
                    s.store.deleteCard(id);
                else
                    s.store.dropSynced(id);
            });
            if (isHere)
                ++s.report.deletedHere;
            s.deletedHere.remove(id);
        }
        checkCancel();
    }

    sendChanges(s);

    // The token stays the one from before our writes: asking for a later one would cost the
    // server another look at the whole book. The next sync sees our own writes again with the
    // versions it has, and the cards made here are noted, as the token does not know them.
    if (info.supportsSync)
        s.account.syncToken = token;
    // Our own writes changed the ctag: the next sync compares the versions once more.
    s.account.ctag = s.wrote ? QByteArray() : info.ctag;
    s.store.transaction([&] {
        s.store.setValue(QLatin1String(kToken), QString::fromUtf8(s.account.syncToken));
        s.store.setValue(QLatin1String(kCtag), QString::fromUtf8(s.account.ctag));
        s.store.keepCreated(s.created);
        s.store.setValue(QLatin1String(kCreated), QString());
    });
    return s.report;
}

void SyncEngine::written(State& s, const Upload& upload, qint64 id, const Card& sent,
                         const WriteResult& result) {
    if (result.outcome == WriteResult::Rejected) {
        s.report.notes << QStringLiteral(
                              "服务器没有接受名片“%1”，它留在本机，下次同步再发送（%2）。")
                              .arg(sent[Field::Name], result.detail);
        return;
    }
    if (upload.vcard.isEmpty()) {
        s.store.transaction([&] { s.store.dropSynced(id); });
        s.deletedHere.remove(id);
        ++s.report.deletedThere;
        return;
    }
    const SyncedCard now{id, upload.href, result.etag, upload.vcard, sent};
    // Noted with it: a sync stopped after this card keeps the token from before it.
    const bool made = upload.etag.isEmpty();
    s.store.transaction([&] {
        s.store.storeSynced(now);
        if (made)
            s.store.noteCreated(id);
    });
    if (made)
        s.created.insert(id);
    s.changedHere.remove(id);
    s.newHere.remove(id);
    ++s.report.sent;
}

// After a 412 or a card gone missing: the server's card is fetched and merged, and what is
// left to say is sent again against its version. Nothing is overwritten blind.
void SyncEngine::resend(State& s, Upload upload, qint64 id) {
    const QUrl book = s.account.book;
    Card card = s.mine(id);
    const QString name = card[Field::Name];
    for (int attempt = 0; attempt < kRetries; ++attempt) {
        checkCancel();
        const FetchedCard there = m_client.fetchCard(book, upload.href);
        if (upload.vcard.isEmpty()) {
            // Deleted here; changed there meanwhile: it is kept and comes back here.
            if (there.missing)
                s.store.transaction([&] { s.store.dropSynced(id); });
            else
                s.take(there);
            s.deletedHere.remove(id);
            return;
        }
        if (there.missing) {
            // Deleted there meanwhile while changed here: sent again as a new card.
            QString uid;
            s.store.transaction([&] {
                s.store.dropSynced(id);
                uid = CardUid::ensure(m_db, id);
            });
            card = s.mine(id);
            upload = {CardDavClient::newCardHref(book, uid), cardText({}, {}, card, uid),
                      QByteArray()};
        } else {
            s.take(there);
            if (s.store.syncedAt(upload.href).id != id) {
                s.report.notes << QStringLiteral("名片“%1”的地址在服务器上已被另一张名片占用，"
                                                 "这次没有发送。")
                                      .arg(name);
                return;
            }
            if (!s.changedHere.contains(id))
                return; // the server's card says all this one does
            const SyncedCard c = s.store.syncedCard(id);
            card = s.mine(id);
            upload = {c.href, cardText(c.vcard, c.fields, card, QString()), c.etag};
        }
        const WriteResult result = m_client.write(book, upload);
        if (result.outcome == WriteResult::Done || result.outcome == WriteResult::Rejected) {
            written(s, upload, id, card, result);
            return;
        }
    }
    s.report.notes
        << QStringLiteral("名片“%1”在服务器上一再被改动，这次没有发送，下次同步再试。").arg(name);
}

void SyncEngine::sendChanges(State& s) {
    const QUrl book = s.account.book;
    enum Kind { Changed, New, Deleted };
    struct Job {
        qint64 id;
        Kind kind;
    };
    QVector<Job> jobs;
    auto add = [&](const QSet<qint64>& set, Kind kind) {
        QList<qint64> list = set.values();
        std::sort(list.begin(), list.end());
        for (const qint64 id : std::as_const(list))
            jobs.append({id, kind});
    };
    add(s.changedHere, Changed);
    add(s.newHere, New);
    add(s.deletedHere, Deleted);
    if (jobs.isEmpty())
        return;
    // New cards get their UIDs first, committed: a card sent just before a stop is then
    // recognised by it on the next sync instead of arriving as a second card.
    if (!s.newHere.isEmpty())
        s.store.transaction([&] {
            for (const Job& job : std::as_const(jobs))
                if (job.kind == New)
                    CardUid::ensure(m_db, job.id);
        });
    s.wrote = true;

    // Each text is made as its write starts, from the card as it is then; the card stays
    // with its write until the answer, which records what was sent.
    QHash<int, Card> sending;
    QVector<QPair<Upload, qint64>> again;
    int done = 0;
    if (progress)
        progress->begin(Core::Progress::Phase::SyncSending, jobs.size());
    auto make = [&](int i) -> std::optional<Upload> {
        const Job& job = jobs.at(i);
        if (job.kind == Deleted) {
            const SyncedRef v = s.store.syncedRef(job.id);
            sending.insert(i, Card());
            return Upload{v.href, QByteArray(), v.etag};
        }
        const std::optional<Card> card = s.store.card(job.id);
        if (!card) {
            // Deleted here since the sync began: the next sync sends the delete.
            if (progress)
                progress->advance(++done);
            return std::nullopt;
        }
        sending.insert(i, *card);
        if (job.kind == New) {
            const QString uid = CardUid::ensure(m_db, job.id);
            return Upload{CardDavClient::newCardHref(book, uid), cardText({}, {}, *card, uid),
                          QByteArray()};
        }
        const SyncedCard c = s.store.syncedCard(job.id);
        return Upload{c.href, cardText(c.vcard, c.fields, *card, QString()), c.etag};
    };
    m_client.writeEach(
        book, jobs.size(), make, [&](int i, const Upload& upload, const WriteResult& result) {
            const qint64 id = jobs.at(i).id;
            const Card sent = sending.take(i);
            if (result.outcome == WriteResult::PreconditionFailed ||
                result.outcome == WriteResult::NotFound) {
                if (upload.vcard.isEmpty() && result.outcome == WriteResult::NotFound)
                    written(s, upload, id, sent, {WriteResult::Done, 404, {}, {}});
                else
                    again.append({upload, id});
            } else {
                written(s, upload, id, sent, result);
            }
            if (progress)
                progress->advance(++done);
            checkCancel();
        });
    for (const auto& [upload, id] : std::as_const(again))
        resend(s, upload, id);
}

} // namespace Sync

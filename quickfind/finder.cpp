#include "finder.h"

#include "cardtext.h"
#include "quickfind.h"
#include "store.h"

#include "data/sqlite.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>

namespace QuickFind {

namespace {

using namespace Store;
using Sqlite::Statement;
using Bits = std::vector<std::uint64_t>;

bool has(const Bits& bits, std::size_t r) {
    return bits[r / 64] & (std::uint64_t(1) << (r % 64));
}

/// True for a normalized word of simplified ideographs alone, which folding leaves as it is.
bool isPlainHan(const std::string& word) {
    for (std::size_t i = 0; i < word.size();) {
        int len = 1;
        const char32_t c = detail::decode(word.data() + i, len);
        if (c < 0x4E00 || c > 0x9FFF || simplified(c) != c)
            return false;
        i += std::size_t(len);
    }
    return !word.empty();
}

} // namespace

struct Finder::State {
    State(sqlite3* db, const QString& text, bool verify);

    /// Adds the cards above every card the index knows, which another program added since
    /// it was last in line, to those read one by one.
    void addUnfiled();
    /// Looks the next chunk with possible matches up; false when there is none left.
    bool loadChunk();
    /// Looks the cards of `chunk` (IDs as quickfind_chunk holds them) up: `all` gets those
    /// that may match, changed cards left out; false when there is none.
    bool lookUp(qint64 chunk, std::string_view ids, Bits& all);
    /// Whether the candidate at `r` of the current chunk matches, read from zl; `name` gets
    /// its name, valid until the next card is read.
    bool verifyCandidate(std::uint32_t r, std::string_view& name);
    bool check(std::uint32_t r, const std::array<std::string_view, kFieldCount>& columns);
    /// Appends the changed cards below `limit` that match.
    void dirtyBelow(qint64 limit, QVector<qint64>& ids);

    sqlite3* db;
    std::vector<WordPlan> plans;
    std::vector<bool> plainHan; // of each plan: simplified ideographs only
    bool verify;
    bool built;
    std::vector<qint64> dirty;
    std::size_t dirtyAt = 0;
    std::optional<Reader> reader; // with the index
    CardReader cards;
    CardText card;
    QString text;
    std::optional<Statement> chunks, chunkCards;
    bool chunksLeft = true;
    std::optional<NameCheck> nameCheck; // once asked for

    // The chunk being given out.
    qint64 base = 0;
    std::vector<std::uint32_t> offsets, sums;
    // Per word: cards it surely matches, and those that may match by their text or by the
    // spellings of their name or company.
    std::vector<Bits> sureOf, textOf, spellOf;
    struct Pending {
        std::uint32_t rank;
        bool sure;
    };
    std::vector<Pending> pending;
    std::size_t at = 0;
    bool scanning = false; // candidates are read by reading through the chunk
    bool scanLeft = false;
    bool scanOnRow = false; // the scan stands on a card
};

Finder::State::State(sqlite3* db_, const QString& text_, bool verify_)
    : db(db_)
    , verify(verify_)
    , built(isBuilt(db_))
    , cards(db_)
    , text(text_) {
    for (const std::string& w : wordsOf(text_))
        plans.push_back(planWord(w));
    // Exact words first: they narrow a chunk down before any card needs reading.
    std::stable_sort(plans.begin(), plans.end(),
                     [](const WordPlan& a, const WordPlan& b) { return a.exact() && !b.exact(); });
    for (const WordPlan& plan : plans)
        plainHan.push_back(isPlainHan(plan.word));
    if (!built)
        return;
    reader.emplace(db);
    dirty = dirtyIds(db);
    if (verify)
        addUnfiled();
    sureOf.resize(plans.size());
    textOf.resize(plans.size());
    spellOf.resize(plans.size());
    chunks.emplace(db, "SELECT \"chunk\", \"ids\" FROM \"quickfind_chunk\" ORDER BY \"chunk\"",
                   indexFailure("读取"));
    chunkCards.emplace(db,
                       ("SELECT \"ID\"" + cardColumns() +
                        " FROM \"zl\" WHERE \"ID\" >= ? AND \"ID\" < ? ORDER BY \"ID\"")
                           .c_str(),
                       indexFailure("读取"));
}

void Finder::State::addUnfiled() {
    qint64 known = dirty.empty() ? std::numeric_limits<qint64>::min() : dirty.back();
    Statement last(db,
                   "SELECT \"chunk\", \"ids\" FROM \"quickfind_chunk\" ORDER BY \"chunk\" DESC "
                   "LIMIT 1",
                   indexFailure("读取"));
    if (last.next()) {
        const std::vector<std::uint32_t> ids = decodeIds(last.blob(1));
        if (!ids.empty())
            known = std::max(known, firstIdOf(last.int64(0)) + qint64(ids.back()));
    }
    Statement above(db, "SELECT \"ID\" FROM \"zl\" WHERE \"ID\" > ? ORDER BY \"ID\"",
                    indexFailure("读取"));
    above.set(1, known);
    while (above.next())
        dirty.push_back(above.int64(0));
}

bool Finder::State::lookUp(qint64 chunk, std::string_view ids, Bits& all) {
    Bits scratch;
    offsets = decodeIds(ids);
    base = firstIdOf(chunk);
    const std::uint32_t n = std::uint32_t(offsets.size());
    const std::size_t words64 = (n + 63) / 64;
    all.assign(words64, ~std::uint64_t(0));
    if (n % 64)
        all.back() = (std::uint64_t(1) << (n % 64)) - 1;
    // Changed cards are looked at on their own.
    for (auto it = std::lower_bound(dirty.begin(), dirty.end(), base);
         it != dirty.end() && *it < base + qint64(kChunkIds); ++it) {
        const auto found = std::lower_bound(offsets.begin(), offsets.end(), offsetOf(*it));
        if (found != offsets.end() && *found == offsetOf(*it)) {
            const std::size_t r = std::size_t(found - offsets.begin());
            all[r / 64] &= ~(std::uint64_t(1) << (r % 64));
        }
    }
    bool any = true;
    for (std::size_t w = 0; w < plans.size() && any; ++w) {
        const WordPlan& plan = plans[w];
        Bits& sure = sureOf[w];
        sure.assign(words64, 0);
        for (const std::string& key : plan.sure)
            reader->lookup(chunk, n, key, sure.data());
        Bits& text = textOf[w];
        text.assign(words64, 0);
        for (std::size_t g = 0; g < plan.allOf.size(); ++g) {
            scratch.assign(words64, 0);
            reader->lookup(chunk, n, plan.allOf[g], scratch.data());
            if (g == 0)
                text.swap(scratch);
            else
                for (std::size_t i = 0; i < words64; ++i)
                    text[i] &= scratch[i];
        }
        Bits& spell = spellOf[w];
        spell.assign(words64, 0);
        for (const std::string& key : plan.anyOf)
            reader->lookup(chunk, n, key, spell.data());
        any = false;
        for (std::size_t i = 0; i < words64; ++i) {
            all[i] &= sure[i] | text[i] | spell[i];
            any = any || all[i];
        }
    }
    return any;
}

bool Finder::State::loadChunk() {
    Bits all;
    while (chunksLeft) {
        if (!chunks->next()) {
            chunksLeft = false;
            break;
        }
        const qint64 chunk = chunks->int64(0);
        const bool any = lookUp(chunk, chunks->blob(1), all);
        const std::uint32_t n = std::uint32_t(offsets.size());
        const std::size_t words64 = all.size();
        if (!any)
            continue;
        // Cards sure for every word go straight in, unless another program has written
        // since the index was last in line; the others are checked against their row.
        pending.clear();
        std::size_t candidates = 0;
        for (std::size_t i = 0; i < words64; ++i) {
            for (std::uint64_t bits = all[i]; bits; bits &= bits - 1) {
                const std::uint32_t r =
                    std::uint32_t(i * 64) + std::uint32_t(__builtin_ctzll(bits));
                const bool sure = !verify && std::all_of(sureOf.begin(), sureOf.end(),
                                                         [r](const Bits& b) { return has(b, r); });
                pending.push_back({r, sure});
                candidates += sure ? 0 : 1;
            }
        }
        at = 0;
        sums = candidates ? readSums(db, chunk) : std::vector<std::uint32_t>();
        // Many candidates are read by reading through the chunk, a few one by one.
        scanning = candidates > n / 10;
        if (scanning) {
            chunkCards->rewind();
            chunkCards->set(1, base).set(2, base + qint64(kChunkIds));
            scanLeft = true;
            scanOnRow = false;
        }
        return true;
    }
    return false;
}

bool Finder::State::check(std::uint32_t r,
                          const std::array<std::string_view, kFieldCount>& columns) {
    // A card whose checksum is still the one filed is checked on what the index says, one
    // changed in place since is matched afresh.
    std::optional<bool> filed;
    bool assigned = false;
    for (std::size_t w = 0; w < plans.size(); ++w) {
        // Simplified ideographs found as they are stand for themselves: no need to fold the
        // card's text (a long phrase has many such candidates).
        if (plainHan[w] && std::any_of(columns.begin(), columns.end(), [&](std::string_view c) {
                return c.find(plans[w].word) != std::string_view::npos;
            }))
            continue;
        if (!filed)
            filed = r < sums.size() && sums[r] == cardSum(columns);
        if (*filed && has(sureOf[w], r))
            continue;
        if (!assigned) {
            card.assign(columns);
            assigned = true;
        }
        if (!(*filed ? card.matches(plans[w].word, has(textOf[w], r), has(spellOf[w], r))
                     : card.matches(plans[w].word)))
            return false;
    }
    return true;
}

bool Finder::State::verifyCandidate(std::uint32_t r, std::string_view& name) {
    const qint64 id = base + offsets[r];
    std::array<std::string_view, kFieldCount> columns;
    if (!scanning) {
        if (!cards.fetch(id, columns))
            return false;
    } else {
        // The scan stands on the last card it read, or before the first.
        while (scanLeft && !(scanOnRow && chunkCards->int64(0) >= id)) {
            scanOnRow = chunkCards->next();
            scanLeft = scanOnRow;
        }
        if (!scanLeft || chunkCards->int64(0) != id)
            return false;
        columns = rowColumns(*chunkCards, 1);
    }
    name = columns[std::size_t(Field::Name)];
    return check(r, columns);
}

void Finder::State::dirtyBelow(qint64 limit, QVector<qint64>& ids) {
    for (; dirtyAt < dirty.size() && dirty[dirtyAt] < limit; ++dirtyAt) {
        const qint64 id = dirty[dirtyAt];
        if (cards.read(id, card) && std::all_of(plans.begin(), plans.end(), [&](const WordPlan& p) {
                return card.matches(p.word);
            }))
            ids.push_back(id);
    }
}

Finder::Finder(sqlite3* db, const QString& text, bool verify)
    : d(std::make_unique<State>(db, text, verify)) {}

Finder::~Finder() = default;

qint64 Finder::bound(qint64 atMost) {
    if (!d->built)
        return -1;
    // Before the first next(): the look-ups below leave the current chunk's state behind.
    Statement chunks(d->db, "SELECT \"chunk\", \"ids\" FROM \"quickfind_chunk\" ORDER BY \"chunk\"",
                     indexFailure("读取"));
    qint64 n = qint64(d->dirty.size());
    Bits all;
    while (n <= atMost && chunks.next()) {
        d->lookUp(chunks.int64(0), chunks.blob(1), all);
        for (const std::uint64_t bits : all)
            n += __builtin_popcountll(bits);
    }
    return n;
}

bool Finder::next(QVector<qint64>& ids, qsizetype count, std::vector<signed char>* named) {
    const qsizetype from = ids.size();
    const std::size_t namedFrom = named ? named->size() : 0;
    // Matches whose card the finder did not read stay unknown.
    const auto unknownTo = [&] {
        if (named)
            named->resize(namedFrom + std::size_t(ids.size() - from), -1);
    };
    if (named && !d->nameCheck)
        d->nameCheck.emplace(d->text);
    if (!d->built) {
        // No index: every card is read, once.
        if (d->chunksLeft)
            ids += scan(d->db, d->text);
        d->chunksLeft = false;
        unknownTo();
        return false;
    }
    const qsizetype target = ids.size() + count;
    while (ids.size() < target) {
        if (d->at == d->pending.size()) {
            if (!d->loadChunk()) {
                d->dirtyBelow(std::numeric_limits<qint64>::max(), ids);
                unknownTo();
                return false;
            }
            continue;
        }
        const State::Pending p = d->pending[d->at++];
        const qint64 id = d->base + d->offsets[p.rank];
        d->dirtyBelow(id, ids);
        unknownTo();
        std::string_view name;
        if (p.sure) {
            ids.push_back(id);
        } else if (d->verifyCandidate(p.rank, name)) {
            ids.push_back(id);
            if (named)
                named->push_back((*d->nameCheck)(name) ? 1 : 0);
        }
    }
    unknownTo();
    return true;
}

} // namespace QuickFind

namespace QuickFind {

NameCheck::NameCheck(const QString& text)
    : m_words(wordsOf(text)) {
    for (const std::string& w : m_words)
        m_plainHan.push_back(isPlainHan(w));
}

bool NameCheck::operator()(std::string_view name) {
    // A name holding a word of ideographs as it is matches without being folded.
    for (std::size_t w = 0; w < m_words.size(); ++w) {
        if (m_plainHan[w] && name.find(m_words[w]) != std::string_view::npos)
            return true;
    }
    m_columns[std::size_t(Field::Name)] = name;
    m_card.assign(m_columns);
    return std::any_of(m_words.begin(), m_words.end(), [&](const std::string& w) {
        // Spelling most names for a word that cannot start them is what a short list's
        // ranking would spend its time on.
        const char first = w.front();
        return m_card.matches(w, true, false) ||
               (first >= 'a' && first <= 'z' &&
                nameSpellingMayStartWith(m_card.text(Field::Name), first) &&
                m_card.matches(w, false, true));
    });
}

Listing::Listing(sqlite3* db, const QString& text, bool verify, qint64 keep)
    : m_db(db)
    , m_reading(sqlite3_get_autocommit(db) && Sqlite::exec(db, "BEGIN") == SQLITE_OK)
    , m_named(text)
    , m_finder(std::in_place, db, text, verify)
    , m_keep(keep) {}

Listing::~Listing() {
    // Every statement ended first: while one is open, an interrupt of the connection (the
    // list's reader stopped) also fails the COMMIT, and the read would hold the file for
    // good, every later write waiting for it and failing.
    m_name.reset();
    m_finder.reset();
    if (m_reading && !sqlite3_get_autocommit(m_db) && Sqlite::exec(m_db, "COMMIT") != SQLITE_OK)
        Sqlite::exec(m_db, "ROLLBACK");
}

bool Listing::take(QVector<qint64>& ids, qsizetype count, std::vector<signed char>* named) {
    const qsizetype from = ids.size();
    const bool more = m_finder->next(ids, count, named);
    if (m_keep != 0) {
        // The card being modified, in its place once the matches have passed it.
        const auto begin = ids.begin() + from;
        const auto at = std::lower_bound(begin, ids.end(), m_keep);
        if (at != ids.end() && *at == m_keep) {
            m_keep = 0;
        } else if (at != ids.end() || !more) {
            if (named)
                named->insert(named->end() - (ids.end() - at), -1);
            ids.insert(at, m_keep);
            m_keep = 0;
        }
    }
    return more;
}

bool Listing::nameMatches(qint64 id) {
    if (!m_name)
        m_name = std::make_unique<Statement>(m_db, "SELECT \"姓名\" FROM \"zl\" WHERE \"ID\" = ?",
                                             indexFailure("读取"));
    Statement& name = *m_name;
    name.set(1, id);
    const bool named = name.next() && m_named(name.utf8(0));
    name.rewind();
    return named;
}

bool Listing::rank(QVector<qint64>& ids, qsizetype count) {
    const qsizetype target = ids.size() + count;
    if (m_phase == Ranking) {
        for (; m_at < m_short.size() && ids.size() < target; ++m_at) {
            const qint64 id = m_short[m_at];
            (nameMatches(id) ? ids : m_others).push_back(id);
        }
        if (m_at < m_short.size())
            return true;
        m_phase = Rest;
        m_at = 0;
        m_name.reset();
    }
    const qsizetype n =
        std::min(m_others.size() - m_at, std::max<qsizetype>(0, target - ids.size()));
    ids += m_others.mid(m_at, n);
    m_at += n;
    return m_at < m_others.size();
}

bool Listing::sift(QVector<qint64>& ids, qsizetype count) {
    const qsizetype target = ids.size() + count;
    QVector<qint64> found;
    std::vector<signed char> named;
    while (m_phase == Sifting && ids.size() < target) {
        found.clear();
        named.clear();
        const bool more = take(found, target - ids.size(), &named);
        for (qsizetype i = 0; i < found.size(); ++i) {
            const signed char known = named[std::size_t(i)];
            const bool first = known < 0 ? nameMatches(found[i]) : known > 0;
            (first ? ids : m_others).push_back(found[i]);
        }
        if (!more) {
            m_phase = Rest;
            m_at = 0;
            m_name.reset();
        }
    }
    if (m_phase == Sifting)
        return true;
    return rank(ids, std::max<qsizetype>(0, target - ids.size()));
}

bool Listing::next(QVector<qint64>& ids, qsizetype count) {
    if (m_phase == Plain)
        return take(ids, count);
    if (m_phase == Sifting)
        return sift(ids, count);
    if (m_phase != Starting)
        return rank(ids, count);
    // Whether the list is short enough to be ranked, from the index when it can tell:
    // finding a long list's matches first would cost what the first screen must not.
    const qint64 bound = m_finder->bound(kRankedAtMost);
    if (bound > kRankedAtMost) {
        m_phase = Plain;
        return take(ids, count);
    }
    // Short for sure, the card being modified included: ranked while it is found.
    if (bound >= 0 && bound + (m_keep != 0 ? 1 : 0) <= kRankedAtMost) {
        m_phase = Sifting;
        return sift(ids, count);
    }
    const bool more = take(m_short, kRankedAtMost + 1);
    if (more || m_short.size() > kRankedAtMost || m_short.size() < 2) {
        m_phase = Plain;
        ids += m_short;
        m_short = QVector<qint64>();
        return more;
    }
    m_phase = Ranking;
    return rank(ids, count);
}

} // namespace QuickFind

#include "finder.h"

#include "core/card.h"
#include "data/dberror.h"
#include "data/sqlite.h"

#include <QHash>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

namespace Duplicates {

namespace {

enum Kind : quint64 { kPhone = 0, kMobile = 1, kEmail = 2, kNameCompany = 3 };

quint64 hashed(QByteArrayView text, Kind kind) {
    return (quint64(qHash(text, 0x5eed)) & ~quint64(3)) | kind;
}
quint64 hashed(QStringView text, Kind kind) {
    return (quint64(qHash(text, 0x5eed)) & ~quint64(3)) | kind;
}

// What the rule reads of a card, small enough for a million of them: the name lies in a pool
// of all names, the keys in one array of all keys.
struct Compact {
    quint64 company = 0;
    quint32 nameAt = 0;
    quint32 nameLength = 0;
    quint32 firstKey = 0;
    quint32 keyCount = 0;
};

struct Store {
    std::vector<Compact> cards;
    std::vector<quint64> keys;
    std::u16string names;

    QStringView name(const Compact& c) const {
        return QStringView(names.data() + c.nameAt, qsizetype(c.nameLength));
    }
    void add(const Profile& p) {
        Compact c;
        c.nameAt = quint32(names.size());
        c.nameLength = quint32(p.name.size());
        names.append(reinterpret_cast<const char16_t*>(p.name.utf16()), std::size_t(p.name.size()));
        c.company = p.company.isEmpty() ? 0 : quint64(qHash(p.company, 0x5eed)) | 1;
        c.firstKey = quint32(keys.size());
        for (const Phone& phone : p.phones)
            keys.push_back(hashed(QByteArrayView(phone.key.data(), qsizetype(phone.key.size())),
                                  phone.mobile ? kMobile : kPhone));
        for (const QString& e : p.emails)
            keys.push_back(hashed(QStringView(e), kEmail));
        std::sort(keys.begin() + c.firstKey, keys.end());
        keys.erase(std::unique(keys.begin() + c.firstKey, keys.end()), keys.end());
        c.keyCount = quint32(keys.size() - c.firstKey);
        cards.push_back(c);
    }
    // Another store's cards after these.
    void append(const Store& other) {
        const quint32 keyBase = quint32(keys.size());
        const quint32 nameBase = quint32(names.size());
        keys.insert(keys.end(), other.keys.begin(), other.keys.end());
        names += other.names;
        for (Compact c : other.cards) {
            c.firstKey += keyBase;
            c.nameAt += nameBase;
            cards.push_back(c);
        }
    }
};

Link link(const Store& store, const Compact& a, const Compact& b) {
    const std::vector<quint64>& keys = store.keys;
    bool phone = false, mobile = false, email = false;
    const quint64* x = keys.data() + a.firstKey;
    const quint64* xe = x + a.keyCount;
    const quint64* y = keys.data() + b.firstKey;
    const quint64* ye = y + b.keyCount;
    while (x != xe && y != ye) {
        if (*x < *y) {
            ++x;
        } else if (*y < *x) {
            ++y;
        } else {
            const quint64 kind = *x & 3;
            phone |= kind == kPhone || kind == kMobile;
            mobile |= kind == kMobile;
            email |= kind == kEmail;
            ++x;
            ++y;
        }
    }
    const QStringView nameA = store.name(a), nameB = store.name(b);
    const bool sameName = !nameA.isEmpty() && nameA == nameB;
    if (sameName && (phone || email || (a.company != 0 && a.company == b.company)))
        return Link::Certain;
    if ((mobile || email) && !sameName && namesClose(nameA.toString(), nameB.toString()))
        return Link::Probable;
    return Link::None;
}

// One thread beside the caller's for the whole search, so that what it keeps per thread (the
// transform, the characters and names it has seen) is made once.
class Worker {
public:
    Worker()
        : m_thread([this] { run(); }) {}
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    template <class R> std::future<R> post(std::function<R()> job) {
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(job));
        std::future<R> result = task->get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.emplace_back([task] { (*task)(); });
        }
        m_wake.notify_one();
        return result;
    }

private:
    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_done || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_done = false;
    std::thread m_thread; // last: started once the rest is made
};

struct Pair {
    quint32 a, b;
    bool certain;
    bool operator<(const Pair& o) const {
        return a != o.a ? a < o.a : b != o.b ? b < o.b : certain > o.certain;
    }
};

class Sets {
public:
    explicit Sets(std::size_t n)
        : m_parent(n)
        , m_size(n, 1) {
        std::iota(m_parent.begin(), m_parent.end(), 0u);
    }
    quint32 find(quint32 i) {
        while (m_parent[i] != i)
            i = m_parent[i] = m_parent[m_parent[i]];
        return i;
    }
    void join(quint32 into, quint32 other) {
        into = find(into);
        other = find(other);
        if (into == other)
            return;
        if (m_size[into] < m_size[other])
            std::swap(into, other);
        m_parent[other] = into;
        m_size[into] += m_size[other];
    }
    quint32 size(quint32 i) { return m_size[find(i)]; }

private:
    std::vector<quint32> m_parent;
    std::vector<quint32> m_size;
};

// A key and a card that has it, in 12 bytes: a million cards have several million.
struct Block {
    quint32 low, high; // the key
    quint32 card;
    Block(quint64 key, quint32 c)
        : low(quint32(key))
        , high(quint32(key >> 32))
        , card(c) {}
    quint64 key() const { return quint64(high) << 32 | low; }
    bool operator<(const Block& o) const {
        return high != o.high ? high < o.high : low != o.low ? low < o.low : card < o.card;
    }
};
static_assert(sizeof(Block) == 12, "a block is three numbers");

// The linked pairs among the blocks from `begin` to `end` (whole blocks).
std::vector<Pair> pairsIn(const Store& store, const Block* begin, const Block* end) {
    std::vector<Pair> pairs;
    while (begin != end) {
        const Block* last = begin + 1;
        while (last != end && last->key() == begin->key())
            ++last;
        if (last - begin >= 2 && last - begin <= kLargestBlock) {
            for (const Block* i = begin; i != last; ++i)
                for (const Block* j = i + 1; j != last; ++j) {
                    const quint32 a = i->card, b = j->card;
                    if (a == b)
                        continue;
                    const Link l = link(store, store.cards[a], store.cards[b]);
                    if (l != Link::None)
                        pairs.push_back({std::min(a, b), std::max(a, b), l == Link::Certain});
                }
        }
        begin = last;
    }
    return pairs;
}

// Blocks of cards that share a key, each pair in a block compared once by the rule; the
// second half of the blocks on `worker`, when there is one.
QVector<Group> group(const QVector<qint64>& ids, Store& store, Worker* worker) {
    const std::vector<Compact>& cards = store.cards;
    const std::vector<quint64>& keys = store.keys;
    std::vector<Block> blocks;
    blocks.reserve(keys.size() + cards.size() / 2);
    for (quint32 i = 0; i < cards.size(); ++i) {
        const Compact& c = cards[i];
        for (quint32 k = 0; k < c.keyCount; ++k)
            blocks.emplace_back(keys[c.firstKey + k], i);
        if (c.nameLength != 0 && c.company != 0)
            blocks.emplace_back(
                (quint64(qHash(store.name(c), c.company)) & ~quint64(3)) | kNameCompany, i);
    }
    std::sort(blocks.begin(), blocks.end());
    const Block* const first = blocks.data();
    const Block* const end = first + blocks.size();
    // Cut in the middle, moved on to where a block begins.
    const Block* middle = first + blocks.size() / 2;
    while (middle != first && middle != end && (middle - 1)->key() == middle->key())
        ++middle;
    std::future<std::vector<Pair>> later;
    if (worker)
        later = worker->post<std::vector<Pair>>(
            [&store, middle, end] { return pairsIn(store, middle, end); });
    std::vector<Pair> pairs = pairsIn(store, first, worker ? middle : end);
    if (worker) {
        const std::vector<Pair> more = later.get();
        pairs.insert(pairs.end(), more.begin(), more.end());
    }
    std::vector<Block>().swap(blocks);
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end(),
                            [](const Pair& x, const Pair& y) { return x.a == y.a && x.b == y.b; }),
                pairs.end());

    Sets sets(cards.size());
    for (const Pair& p : pairs)
        if (p.certain)
            sets.join(p.a, p.b);
    // A card alone joins the core of a card it is probably linked to, when that card was not
    // itself brought in that way; a card that brought one in stays where it is.
    std::vector<quint8> added(cards.size(), 0), brought(cards.size(), 0);
    auto attach = [&](quint32 lone, quint32 to) {
        if (sets.size(lone) != 1 || added[lone] || brought[lone] || added[to])
            return false;
        sets.join(to, lone);
        added[lone] = 1;
        brought[to] = 1;
        return true;
    };
    for (const Pair& p : pairs)
        if (!p.certain && sets.find(p.a) != sets.find(p.b) && !attach(p.b, p.a))
            attach(p.a, p.b);

    QHash<quint32, int> groupOf;
    QVector<Group> groups;
    for (quint32 i = 0; i < cards.size(); ++i) {
        if (sets.size(i) < 2)
            continue;
        const quint32 root = sets.find(i);
        auto it = groupOf.find(root);
        if (it == groupOf.end()) {
            it = groupOf.insert(root, groups.size());
            groups.append(Group{{}, true});
        }
        Group& g = groups[*it];
        g.ids.append(ids[int(i)]);
        if (added[i])
            g.certain = false;
    }
    for (Group& g : groups)
        std::sort(g.ids.begin(), g.ids.end());
    std::sort(groups.begin(), groups.end(),
              [](const Group& x, const Group& y) { return x.ids.first() < y.ids.first(); });
    return groups;
}

} // namespace

Link linkOf(const Profile& a, const Profile& b) {
    Store store;
    store.add(a);
    store.add(b);
    return link(store, store.cards[0], store.cards[1]);
}

QVector<Group> groupsOf(const QVector<qint64>& ids, const QVector<Profile>& profiles) {
    Store store;
    for (const Profile& p : profiles)
        store.add(p);
    return group(ids, store, nullptr);
}

QVector<Group> findGroups(sqlite3* db) {
    static const char* const kColumns[] = {"姓名", "单位",     "工作电话", "分机",
                                           "手机", "家庭电话", "传真",     "E-mail"};
    constexpr int kCount = int(std::size(kColumns));
    QStringList names;
    for (const char* c : kColumns)
        names << Sqlite::quoted(QString::fromUtf8(c));
    int rc = SQLITE_OK;
    const qint64 total =
        Sqlite::firstColumn(db, "SELECT count(*) FROM \"zl\"", &rc).value(0).toLongLong();
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    Sqlite::Statement st;
    rc = st.prepare(db, QStringLiteral("SELECT \"ID\", %1 FROM \"zl\" ORDER BY \"ID\"")
                            .arg(names.join(QLatin1Char(',')))
                            .toUtf8());
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    int field[kCount];
    for (int c = 0; c < kCount; ++c)
        field[c] = Card::indexOf(QString::fromUtf8(kColumns[c]));

    QVector<qint64> ids;
    ids.reserve(total);
    Store store;
    store.cards.reserve(std::size_t(total));
    store.keys.reserve(std::size_t(total) * 4);
    store.names.reserve(std::size_t(total) * 4);
    // The cards are read here and folded on two threads, a batch at a time: folding is most
    // of the work, and each card's alone. While the worker folds most of one batch, this
    // thread folds the rest and reads the next one into the other buffer.
    constexpr int kBatch = 8192;
    std::vector<Card> buffers[2];
    int filling = 0;
    buffers[0].reserve(kBatch);
    buffers[1].reserve(kBatch);
    auto fold = [](const std::vector<Card>& batch, std::size_t from, std::size_t to) {
        Store part;
        part.cards.reserve(to - from);
        part.keys.reserve((to - from) * 4);
        for (std::size_t i = from; i < to; ++i)
            part.add(profileOf(batch[i]));
        return part;
    };
    Worker worker;
    std::future<Store> folding; // the worker's share of the previous batch
    auto flush = [&] {
        if (folding.valid())
            store.append(folding.get());
        const std::vector<Card>& batch = buffers[filling];
        // Reading takes about half as long as folding: this thread's share is smaller.
        const std::size_t cut = batch.size() / 3;
        store.append(fold(batch, 0, cut));
        folding =
            worker.post<Store>([&batch, &fold, cut] { return fold(batch, cut, batch.size()); });
        filling = 1 - filling;
        buffers[filling].clear();
    };
    while ((rc = st.step()) == SQLITE_ROW) {
        ids.append(st.int64(0));
        std::vector<Card>& batch = buffers[filling];
        batch.emplace_back();
        Card& card = batch.back();
        for (int c = 0; c < kCount; ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), c + 1));
            if (text)
                card.values[std::size_t(field[c])] =
                    QString::fromUtf8(text, sqlite3_column_bytes(st.get(), c + 1));
        }
        if (int(batch.size()) == kBatch)
            flush();
    }
    if (rc != SQLITE_DONE) {
        if (folding.valid())
            folding.wait(); // it reads the buffer
        throw EDatabaseError(Sqlite::errorText(db, rc));
    }
    flush();
    store.append(folding.get());
    return group(ids, store, &worker);
}

} // namespace Duplicates

#include "finder.h"

#include "data/card.h"
#include "data/dberror.h"
#include "data/sqlite.h"

#include <QHash>

#include <algorithm>
#include <numeric>

namespace Duplicates {

namespace {

enum Kind : quint64 { kPhone = 0, kMobile = 1, kEmail = 2, kNameCompany = 3 };

quint64 hashed(const QByteArray& text, Kind kind) {
    return (quint64(qHash(text, 0x5eed)) & ~quint64(3)) | kind;
}

// What the rule reads of a card, small enough for a million of them.
struct Compact {
    QString name;
    quint64 company = 0;
    quint32 firstKey = 0;
    quint32 keyCount = 0;
};

void compact(const Profile& p, Compact* c, std::vector<quint64>& keys) {
    c->name = p.name;
    c->company = p.company.isEmpty() ? 0 : quint64(qHash(p.company, 0x5eed)) | 1;
    c->firstKey = quint32(keys.size());
    for (const Phone& phone : p.phones)
        keys.push_back(
            hashed(QByteArray::fromStdString(phone.key), phone.mobile ? kMobile : kPhone));
    for (const QString& e : p.emails)
        keys.push_back(hashed(e.toUtf8(), kEmail));
    std::sort(keys.begin() + c->firstKey, keys.end());
    keys.erase(std::unique(keys.begin() + c->firstKey, keys.end()), keys.end());
    c->keyCount = quint32(keys.size() - c->firstKey);
}

Link link(const Compact& a, const Compact& b, const std::vector<quint64>& keys) {
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
    const bool sameName = !a.name.isEmpty() && a.name == b.name;
    if (sameName && (phone || email || (a.company != 0 && a.company == b.company)))
        return Link::Certain;
    if ((mobile || email) && !sameName && namesClose(a.name, b.name))
        return Link::Probable;
    return Link::None;
}

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

// Blocks of cards that share a key, each pair in a block compared once by the rule.
QVector<Group> group(const QVector<qint64>& ids, const std::vector<Compact>& cards,
                     const std::vector<quint64>& keys) {
    std::vector<std::pair<quint64, quint32>> blocks;
    blocks.reserve(keys.size() + cards.size() / 2);
    for (quint32 i = 0; i < cards.size(); ++i) {
        const Compact& c = cards[i];
        for (quint32 k = 0; k < c.keyCount; ++k)
            blocks.emplace_back(keys[c.firstKey + k], i);
        if (!c.name.isEmpty() && c.company != 0)
            blocks.emplace_back((quint64(qHash(c.name, c.company)) & ~quint64(3)) | kNameCompany,
                                i);
    }
    std::sort(blocks.begin(), blocks.end());
    std::vector<Pair> pairs;
    for (std::size_t begin = 0; begin < blocks.size();) {
        std::size_t end = begin + 1;
        while (end < blocks.size() && blocks[end].first == blocks[begin].first)
            ++end;
        if (end - begin >= 2 && end - begin <= std::size_t(kLargestBlock)) {
            for (std::size_t i = begin; i < end; ++i)
                for (std::size_t j = i + 1; j < end; ++j) {
                    const quint32 a = blocks[i].second, b = blocks[j].second;
                    if (a == b)
                        continue;
                    const Link l = link(cards[a], cards[b], keys);
                    if (l != Link::None)
                        pairs.push_back({std::min(a, b), std::max(a, b), l == Link::Certain});
                }
        }
        begin = end;
    }
    std::vector<std::pair<quint64, quint32>>().swap(blocks);
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
    std::vector<quint64> keys;
    Compact ca, cb;
    compact(a, &ca, keys);
    compact(b, &cb, keys);
    return link(ca, cb, keys);
}

QVector<Group> groupsOf(const QVector<qint64>& ids, const QVector<Profile>& profiles) {
    std::vector<Compact> cards(std::size_t(profiles.size()));
    std::vector<quint64> keys;
    for (int i = 0; i < profiles.size(); ++i)
        compact(profiles[i], &cards[std::size_t(i)], keys);
    return group(ids, cards, keys);
}

QVector<Group> findGroups(sqlite3* db) {
    static const char* const kColumns[] = {"姓名", "单位",     "工作电话", "分机",
                                           "手机", "家庭电话", "传真",     "E-mail"};
    QStringList names;
    for (const char* c : kColumns)
        names << Sqlite::quoted(QString::fromUtf8(c));
    Sqlite::Statement st;
    int rc = st.prepare(db, QStringLiteral("SELECT \"ID\", %1 FROM \"zl\" ORDER BY \"ID\"")
                                .arg(names.join(QLatin1Char(',')))
                                .toUtf8());
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    int field[8];
    for (int c = 0; c < 8; ++c)
        field[c] = Card::indexOf(QString::fromUtf8(kColumns[c]));
    QVector<qint64> ids;
    std::vector<Compact> cards;
    std::vector<quint64> keys;
    Card card;
    while ((rc = st.step()) == SQLITE_ROW) {
        ids.append(st.int64(0));
        for (int c = 0; c < 8; ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), c + 1));
            card.values[std::size_t(field[c])] =
                text ? QString::fromUtf8(text, sqlite3_column_bytes(st.get(), c + 1)) : QString();
        }
        cards.emplace_back();
        compact(profileOf(card), &cards.back(), keys);
    }
    if (rc != SQLITE_DONE)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    return group(ids, cards, keys);
}

} // namespace Duplicates

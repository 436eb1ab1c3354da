#pragma once

#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cmath>

namespace CardImages {

/// The random choices behind a drawn card and its photo: the same seed, the same card.
class Dice {
public:
    explicit Dice(quint32 seed)
        : m_rng(seed) {}
    int below(int n) { return int(m_rng.bounded(quint32(n))); }
    bool chance(int percent) { return below(100) < percent; }
    template <typename T, size_t N> const T& pick(const T (&items)[N]) { return items[below(N)]; }
    QString digits(int n) {
        QString s;
        for (int i = 0; i < n; ++i)
            s += QChar(u'0' + below(10));
        return s;
    }
    double uniform() { return m_rng.generateDouble(); }
    double gauss() {
        const double a = std::max(uniform(), 1e-12);
        return std::sqrt(-2.0 * std::log(a)) * std::cos(2.0 * M_PI * uniform());
    }

private:
    QRandomGenerator m_rng;
};

} // namespace CardImages

#pragma once

#include "data/card.h"

#include <QVector>

#include <cstdint>

namespace Bench {

/// One card of the labelled set: who it belongs to, and what it is there to try.
struct LabelledCard {
    Card card;
    int person; ///< cards of one person are duplicates, of two never
    int family; ///< a person with the cards made to resemble them; the halves split families
    int kind;   ///< index into duplicateKinds() for a duplicate, -1 for an original card
    int trap;   ///< index into trapKinds() for a card of another person made alike, else -1
};

const char* const* duplicateKinds(int* count);
const char* const* trapKinds(int* count);

/// `families` families of cards, the same for the same seed on every machine.
QVector<LabelledCard> labelledCards(std::uint64_t seed, int families);

} // namespace Bench

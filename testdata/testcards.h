#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace Bench {

/// The 24 written columns of a card, in the order cardColumns() names them.
constexpr int kCardFields = 24;
const std::array<const char*, kCardFields>& cardColumns();

/// Reproducible cards: the same seed gives the same cards on every machine, and the
/// first n cards of a long run equal those of a short one.
class CardGenerator {
public:
    explicit CardGenerator(std::uint64_t seed = 20240501);
    /// The next card's column values (UTF-8), in cardColumns() order; blanks are "".
    const std::array<std::string, kCardFields>& next();

    /// Text in the "E-mail" column of only about one card in ten thousand.
    static const char* rareEmailText();
    /// The surname searched for: one of the most common.
    static const char* commonSurname();

private:
    std::uint64_t random();
    int below(int n);
    bool chance(int percent) { return below(100) < percent; }
    std::string digits(int count);

    std::uint64_t m_state;
    std::uint64_t m_index = 0;
    std::array<std::string, kCardFields> m_card;
};

/// Writes `count` generated cards into table zl of an existing database, in one
/// transaction. Returns an empty text, or what went wrong.
std::string fillCards(const std::string& databaseFile, long count);

} // namespace Bench

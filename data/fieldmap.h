#pragma once

#include "core/card.h"

#include <QString>
#include <array>

/// One written column of a card.
struct FieldMapEntry {
    const char* column;
};

/// The written columns of a card in the order they are stored and loaded.
extern const std::array<FieldMapEntry, kFieldCount> kFieldMap;

/// The 26 grid columns of table zl, in grid order.
extern const std::array<const char*, 26> kCardColumns;

/// The 23 rows of the detail pane, in pane order.
extern const std::array<const char*, 23> kDetailColumns;

/// The 22 entries of the search field list.
extern const std::array<const char*, 22> kSearchFields;

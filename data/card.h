#pragma once

#include "fieldmap.h"

#include <QString>

#include <array>

/// The 24 written columns of one card, in field-map order.
struct Card {
    std::array<QString, 24> values;

    /// Position of a written column in the field map, -1 when it is not one.
    static int indexOf(const QString& column);

    QString value(const QString& column) const;
    /// Sets a written column; a name that is not one is ignored.
    void setValue(const QString& column, const QString& text);
    bool operator==(const Card& other) const { return values == other.values; }
    bool operator!=(const Card& other) const { return values != other.values; }
};

#include "card.h"

const std::array<Field, kFieldCount> kFields = [] {
    std::array<Field, kFieldCount> fields{};
    for (int i = 0; i < kFieldCount; ++i)
        fields[std::size_t(i)] = Field(i);
    return fields;
}();

namespace {

// Made once: callers look names up for every card of an import.
const std::array<QString, kFieldCount>& columnTexts() {
    static const std::array<QString, kFieldCount> names = [] {
        std::array<QString, kFieldCount> list;
        for (int i = 0; i < kFieldCount; ++i)
            list[std::size_t(i)] = QString::fromUtf8(kColumnNames[std::size_t(i)]);
        return list;
    }();
    return names;
}

} // namespace

QString columnText(Field field) {
    return columnTexts()[std::size_t(field)];
}

int Card::indexOf(const QString& column) {
    const std::array<QString, kFieldCount>& names = columnTexts();
    for (int i = 0; i < kFieldCount; ++i) {
        if (column == names[std::size_t(i)])
            return i;
    }
    return -1;
}

QString Card::value(const QString& column) const {
    const int i = indexOf(column);
    return i < 0 ? QString() : values[std::size_t(i)];
}

void Card::setValue(const QString& column, const QString& text) {
    const int i = indexOf(column);
    if (i >= 0)
        values[std::size_t(i)] = text;
}

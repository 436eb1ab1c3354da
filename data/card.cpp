#include "card.h"

int Card::indexOf(const QString& column) {
    // Made once: callers look names up for every card of an import.
    static const std::array<QString, 24> names = [] {
        std::array<QString, 24> list;
        for (int i = 0; i < int(kFieldMap.size()); ++i)
            list[i] = QString::fromUtf8(kFieldMap[i].column);
        return list;
    }();
    for (int i = 0; i < int(names.size()); ++i) {
        if (column == names[i])
            return i;
    }
    return -1;
}

QString Card::value(const QString& column) const {
    const int i = indexOf(column);
    return i < 0 ? QString() : values[i];
}

void Card::setValue(const QString& column, const QString& text) {
    const int i = indexOf(column);
    if (i >= 0)
        values[i] = text;
}

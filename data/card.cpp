#include "card.h"

int Card::indexOf(const QString& column) {
    for (int i = 0; i < int(kFieldMap.size()); ++i) {
        if (column == QString::fromUtf8(kFieldMap[i].column))
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

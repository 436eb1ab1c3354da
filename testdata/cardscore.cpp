// How well cards were read, against the cards drawn.
#include "cardimages.h"

#include <algorithm>
#include <vector>

namespace CardImages {

double characterAccuracy(const QString& truth, const QString& found) {
    if (truth.isEmpty())
        return found.isEmpty() ? 1.0 : 0.0;
    std::vector<int> previous(size_t(found.size()) + 1), current(previous.size());
    for (size_t j = 0; j < previous.size(); ++j)
        previous[j] = int(j);
    for (int i = 1; i <= truth.size(); ++i) {
        current[0] = i;
        for (int j = 1; j <= found.size(); ++j) {
            const int substitution = previous[j - 1] + (truth[i - 1] == found[j - 1] ? 0 : 1);
            current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return std::max(0.0, 1.0 - double(previous[found.size()]) / truth.size());
}

const QStringList& Tally::exactColumns() {
    static const QStringList columns = {QStringLiteral("手机"), QStringLiteral("工作电话"),
                                        QStringLiteral("传真"), QStringLiteral("E-mail"),
                                        QStringLiteral("工作邮编")};
    return columns;
}

const QStringList& Tally::characterColumns() {
    static const QStringList columns = {
        QStringLiteral("单位"), QStringLiteral("部门"),     QStringLiteral("职务"),
        QStringLiteral("职称"), QStringLiteral("工作地址"), QStringLiteral("主页"),
        QStringLiteral("OICQ"), QStringLiteral("分机"),     QStringLiteral("备注")};
    return columns;
}

void Tally::add(const Card& truth, const Card& found, const QString& id) {
    auto wrong = [&](const QString& column) {
        mismatches << QStringLiteral("%1 %2: want [%3] got [%4]")
                          .arg(id, column, truth.value(column), found.value(column));
    };
    ++m_cards;
    const QString name = QStringLiteral("姓名");
    bool whole = truth.value(name) == found.value(name);
    if (whole)
        ++m_names;
    else
        wrong(name);
    // The same number however written: without "+86", signs and leading zeros.
    auto digits = [](QString s) {
        s.remove(QStringLiteral("+86"));
        QString d;
        for (const QChar c : s) {
            if (c.isDigit() || c == QLatin1Char('@') || c.isLetter())
                d += c;
        }
        while (d.startsWith(QLatin1Char('0')))
            d.remove(0, 1);
        return d;
    };
    for (const QString& column : exactColumns()) {
        if (truth.value(column).isEmpty())
            continue;
        Count& c = m_columns[column];
        ++c.total;
        ++m_values;
        m_digits += digits(truth.value(column)) == digits(found.value(column)) ? 1 : 0;
        if (truth.value(column) == found.value(column)) {
            ++c.right;
        } else {
            wrong(column);
            whole = false;
        }
    }
    m_whole += whole ? 1 : 0;
    for (const QString& column : characterColumns()) {
        const QString want = truth.value(column);
        if (want.isEmpty())
            continue;
        const double accuracy = characterAccuracy(want, found.value(column));
        Count& c = m_columns[column];
        c.right += accuracy * want.size();
        c.total += want.size();
        if (accuracy < 1)
            wrong(column);
    }
}

double Tally::name() const {
    return m_cards == 0 ? 1.0 : double(m_names) / m_cards;
}

double Tally::exact(const QString& column) const {
    const Count c = m_columns.value(column);
    return c.total == 0 ? 1.0 : c.right / c.total;
}

double Tally::characters(const QString& column) const {
    return exact(column);
}

int Tally::filled(const QString& column) const {
    return int(m_columns.value(column).total);
}

double Tally::exactAll() const {
    double right = 0, total = 0;
    for (const QString& column : exactColumns()) {
        right += m_columns.value(column).right;
        total += m_columns.value(column).total;
    }
    return total == 0 ? 1.0 : right / total;
}

double Tally::characters(const QStringList& columns) const {
    double right = 0, total = 0;
    for (const QString& column : columns) {
        right += m_columns.value(column).right;
        total += m_columns.value(column).total;
    }
    return total == 0 ? 1.0 : right / total;
}

double Tally::charactersAll() const {
    double right = 0, total = 0;
    for (const QString& column : characterColumns()) {
        right += m_columns.value(column).right;
        total += m_columns.value(column).total;
    }
    return total == 0 ? 1.0 : right / total;
}

} // namespace CardImages

#include "exchangesupport.h"

#include "data/dberror.h"
#include "data/fieldmap.h"
#include "exchange/cardwriter.h"

#include <QBuffer>

namespace ExchangeSupport {

namespace {

QString shown(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return text.size() > 200 ? text.left(200) + QStringLiteral("…(%1)").arg(text.size()) : text;
}

} // namespace

Read readBytes(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    Exchange::CardFileReader reader(&buffer);
    Read read;
    Card c;
    while (reader.next(&c))
        read.cards << c;
    read.skipped = reader.skipped();
    return read;
}

QByteArray writeBytes(const QList<Card>& cards, Exchange::Format format) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    Exchange::CardWriter writer(&buffer, format);
    for (const Card& c : cards)
        writer.write(c);
    writer.finish();
    return buffer.data();
}

Card card(std::initializer_list<std::pair<const char*, QString>> values) {
    Card c;
    for (const auto& [column, value] : values) {
        const int i = Card::indexOf(QString::fromUtf8(column));
        Q_ASSERT(i >= 0);
        c.values[i] = value;
    }
    return c;
}

QString differences(const QList<Card>& actual, const QList<Card>& expected) {
    QStringList out;
    if (actual.size() != expected.size())
        out << QStringLiteral("%1 cards instead of %2").arg(actual.size()).arg(expected.size());
    for (int n = 0; n < qMin(actual.size(), expected.size()); ++n) {
        for (int i = 0; i < int(kFieldMap.size()); ++i) {
            if (actual[n].values[i] != expected[n].values[i])
                out << QStringLiteral("card %1, %2: [%3] instead of [%4]")
                           .arg(n + 1)
                           .arg(QString::fromUtf8(kFieldMap[i].column))
                           .arg(shown(actual[n].values[i]), shown(expected[n].values[i]));
        }
    }
    return out.join(QLatin1Char('\n'));
}

QString readError(const QByteArray& bytes) {
    try {
        readBytes(bytes);
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QString();
}

} // namespace ExchangeSupport

#pragma once

#include "data/card.h"
#include "exchange/cardfilereader.h"
#include "exchange/format.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <initializer_list>
#include <utility>

namespace ExchangeSupport {

/// Cards and skipped entries of one file.
struct Read {
    QList<Card> cards;
    QList<Exchange::Skipped> skipped;
};

/// Reads all cards of a file's bytes; the reader's errors pass through.
Read readBytes(const QByteArray& bytes);
/// The bytes the writer makes of these cards.
QByteArray writeBytes(const QList<Card>& cards, Exchange::Format format);
/// A card from pairs of column name and value (UTF-8).
Card card(std::initializer_list<std::pair<const char*, QString>> values);
/// Empty when the cards are equal, else which fields differ and how.
QString differences(const QList<Card>& actual, const QList<Card>& expected);
/// The error message reading these bytes throws; empty when nothing is thrown.
QString readError(const QByteArray& bytes);

} // namespace ExchangeSupport

#pragma once

#include "assemble.h"
#include "cardfilereader.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace Exchange {

class Gb18030Encoder;
class LineSource;
class TextDecoder;

/// Reads the cards of a CSV file: a header row, then one card per row.
class CsvParser {
public:
    CsvParser(LineSource& source, TextDecoder& decoder, QList<Skipped>& skipped);
    ~CsvParser();
    /// The next row that has a name, as a card; false at the end of the file.
    bool next(Card* card);

    struct Target;

private:
    bool readRecord(QList<QByteArray>* fields, qint64* line);
    void readHeader();
    void assemble(const QList<QByteArray>& fields, qint64 line);

    // The steps of assemble().
    struct Row;
    void assembleOwnRow(const QList<QByteArray>& fields, qint64 line);
    void sortFields(const QList<QByteArray>& fields, qint64 line, Row* row);
    void placeName(const Row& row);
    void placeBirthday(const Row& row);
    void placeAddresses(const Row& row);
    void placeEntries(const Row& row);
    void placeLeftovers(const Row& row);

    LineSource& m_source;
    TextDecoder& m_decoder;
    QList<Skipped>& m_skipped;
    CardAssembler m_card;
    char m_delimiter = ',';
    bool m_headerRead = false;
    bool m_ownHeader = false; // exactly our 24 columns: values are taken as they stand
    QStringList m_headers;
    QList<Target> m_targets;
};

/// A value as a spreadsheet export writes it: with an apostrophe before one a spreadsheet
/// would take for a formula.
QString withFormulaGuard(const QString& value);
/// A value of our own spreadsheet export as it was before withFormulaGuard().
QString withoutFormulaGuard(const QString& value);

/// Writes cards as CSV rows under a header of our column names.
class CsvEncoder {
public:
    /// GB18030 bytes when gb18030 is set, else UTF-8.
    explicit CsvEncoder(bool gb18030);
    ~CsvEncoder();
    /// The byte order mark (UTF-8 only) and the header row.
    void header(QByteArray* out);
    /// Appends the card's row, ending in CR LF.
    void encode(const Card& card, QByteArray* out);

private:
    void row(const QString& line, QByteArray* out);
    std::unique_ptr<Gb18030Encoder> m_gb;
};

} // namespace Exchange

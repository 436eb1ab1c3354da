#pragma once

#include "data/card.h"

#include <QString>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace Exchange {

/// Writes cards to an Excel workbook (.xlsx), one row each under a header of our column
/// names, every cell text: spreadsheets keep the leading zeros of postcodes and phones and
/// never take a value for a formula. Failures throw the data layer's error.
class WorkbookWriter {
public:
    /// Starts the workbook that close() writes to `path`.
    explicit WorkbookWriter(const QString& path);
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    void write(const Card& card);
    /// Writes the file; nothing is there before.
    void close();
    int cardsWritten() const { return m_rows; }

private:
    void cell(Field field, const QString& text);

    QString m_path;
    QByteArray m_tmpdir;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_text = nullptr;
    int m_rows = 0;
    QString m_name; // of the card being written
};

} // namespace Exchange

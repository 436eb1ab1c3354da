#include "workbook.h"

#include "assemble.h"
#include "textsource.h"

#include <QDir>
#include <QFileInfo>

#include <xlsxwriter.h>

namespace Exchange {

namespace {

// What a worksheet holds at most.
constexpr int kMaxCell = 32767;
constexpr int kMaxRows = 1048576;

} // namespace

WorkbookWriter::WorkbookWriter(const QString& path)
    : m_path(path)
    , m_tmpdir(QFile::encodeName(QFileInfo(path).absolutePath())) {
    // Row by row, its scratch files beside the target rather than in a small /tmp.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_tmpdir.data();
    m_book = workbook_new_opt(QFile::encodeName(path).constData(), &options);
    if (m_book)
        m_sheet = workbook_add_worksheet(m_book, "名片");
    if (!m_sheet)
        fail(QStringLiteral("无法建立 Excel 工作簿。请检查磁盘空间和写入权限后再导出。"));
    m_text = workbook_add_format(m_book);
    format_set_num_format(m_text, "@"); // cells typed later stay text too
    worksheet_set_column(m_sheet, 0, kFieldCount - 1, 14, m_text);
    for (Field f : kFields)
        cell(f, columnText(f));
}

WorkbookWriter::~WorkbookWriter() {
    if (m_book) {
        // Unfinished: the workbook is let go without a file.
        const QString path = m_path;
        workbook_close(m_book);
        QFile::remove(path);
    }
}

void WorkbookWriter::cell(Field field, const QString& text) {
    if (text.isEmpty())
        return;
    if (text.size() > kMaxCell)
        fail(QStringLiteral("名片“%1”的“%2”有 %3 个字符，Excel 工作簿的一格最多放 %4 个。请改用 "
                            "CSV 或 vCard 格式导出，那样不会截断。")
                 .arg(m_name.left(40), columnText(field))
                 .arg(text.size())
                 .arg(kMaxCell));
    const lxw_error error = worksheet_write_string(
        m_sheet, lxw_row_t(m_rows), lxw_col_t(indexOf(field)), text.toUtf8().constData(), m_text);
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("写入 Excel 工作簿失败。请检查磁盘空间和写入权限后再导出。\n(%1)")
                 .arg(QString::fromUtf8(lxw_strerror(error))));
}

void WorkbookWriter::write(const Card& card) {
    if (m_rows + 1 >= kMaxRows)
        fail(QStringLiteral("Excel 工作簿最多放 %1 张名片。请用查询分几次导出，或改用 CSV 格式。")
                 .arg(kMaxRows - 1));
    ++m_rows;
    m_name = card[Field::Name];
    for (Field f : kFields)
        cell(f, card[f]);
}

void WorkbookWriter::close() {
    lxw_workbook* book = m_book;
    m_book = nullptr;
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR) {
        QFile::remove(m_path);
        fail(QStringLiteral("Excel 工作簿没有写完：%1。请检查磁盘空间和写入权限后再导出。\n(%2)")
                 .arg(QDir::toNativeSeparators(m_path), QString::fromUtf8(lxw_strerror(error))));
    }
}

} // namespace Exchange

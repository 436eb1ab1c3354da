#include "cardwriter.h"

#include "csv.h"
#include "textsource.h"
#include "vcard.h"

#include <QFileDevice>
#include <QIODevice>

#include <cerrno>
#include <cstring>

namespace Exchange {

namespace {
constexpr qsizetype kFlushSize = 256 * 1024;
}

CardWriter::CardWriter(QIODevice* device, Format format)
    : m_device(device) {
    switch (format) {
    case Format::VCard30:
        m_vcard = std::make_unique<VCardEncoder>(30);
        break;
    case Format::VCard21:
        m_vcard = std::make_unique<VCardEncoder>(21);
        break;
    case Format::VCard40:
        m_vcard = std::make_unique<VCardEncoder>(40);
        break;
    case Format::CsvUtf8:
    case Format::CsvGb18030:
        m_csv = std::make_unique<CsvEncoder>(format == Format::CsvGb18030);
        m_csv->header(&m_buffer);
        break;
    case Format::Xlsx: // a workbook is no text stream: exportCards writes it
        fail(QStringLiteral("Excel 工作簿不能这样写出。请改用“导出名片”。"));
    }
}

CardWriter::~CardWriter() = default;

void CardWriter::write(const Card& card, const QString& uid, const QByteArray& picture) {
    if (m_vcard)
        m_vcard->encode(card, uid, &m_buffer, picture);
    else
        m_csv->encode(card, &m_buffer);
    ++m_count;
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void CardWriter::finish() {
    flush();
    // A file keeps the last bytes in its own buffer: a full disk shows only when they go.
    auto* file = qobject_cast<QFileDevice*>(m_device);
    errno = 0;
    if (file && !file->flush())
        failWrite(errno, file->errorString());
}

void failWrite(int error, const QString& qtText) {
    // Qt's own text for a full disk is often "Unknown error"; the system's says it.
    if (error == ENOSPC || error == EDQUOT || error == EFBIG)
        fail(QStringLiteral("写入文件失败：磁盘已满，文件没有写完，也没有留下。请腾出磁盘空间或"
                            "换一个磁盘后再导出。\n(%1)")
                 .arg(QString::fromLocal8Bit(std::strerror(error))));
    fail(QStringLiteral("写入文件失败：文件没有写完，也没有留下。请检查磁盘空间和写入权限后再"
                        "导出。\n(%1)")
             .arg(error ? QString::fromLocal8Bit(std::strerror(error)) : qtText));
}

void CardWriter::flush() {
    if (m_buffer.isEmpty())
        return;
    errno = 0;
    if (m_device->write(m_buffer) != m_buffer.size())
        failWrite(errno, m_device->errorString());
    m_buffer.clear();
}

} // namespace Exchange

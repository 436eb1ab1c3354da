#include "cardwriter.h"

#include "csv.h"
#include "textsource.h"
#include "vcard.h"

#include <QIODevice>

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
    }
}

CardWriter::~CardWriter() = default;

void CardWriter::write(const Card& card) {
    if (m_vcard)
        m_vcard->encode(card, &m_buffer);
    else
        m_csv->encode(card, &m_buffer);
    ++m_count;
    if (m_buffer.size() >= kFlushSize)
        flush();
}

void CardWriter::finish() {
    flush();
}

void CardWriter::flush() {
    if (m_buffer.isEmpty())
        return;
    if (m_device->write(m_buffer) != m_buffer.size())
        fail(QStringLiteral("写入文件失败：%1。请检查磁盘空间和写入权限后再导出。")
                 .arg(m_device->errorString()));
    m_buffer.clear();
}

} // namespace Exchange

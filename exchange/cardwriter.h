#pragma once

#include "data/card.h"
#include "format.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;

namespace Exchange {

class CsvEncoder;
class VCardEncoder;

/// Writes cards to a device one at a time in one format, keeping only a small buffer. Write
/// failures throw the data layer's error with a message saying what to do.
class CardWriter {
public:
    /// Writes to an open device, which must outlive the writer; a CSV header row (after a
    /// byte order mark for CSV UTF-8) is written at once. A text format only (not Xlsx).
    CardWriter(QIODevice* device, Format format);
    ~CardWriter();
    CardWriter(const CardWriter&) = delete;
    CardWriter& operator=(const CardWriter&) = delete;

    /// Adds one card; vCard writes its UID when it has one, and 3.0 and 4.0 its picture
    /// (JPEG bytes) when given one.
    void write(const Card& card, const QString& uid = QString(),
               const QByteArray& picture = QByteArray());
    /// Whether the format carries a UID (vCard).
    bool writesUid() const { return m_vcard != nullptr; }
    /// Writes out what is buffered, through the file's own buffer too; call it before
    /// committing the file.
    void finish();
    /// Cards written so far.
    int cardsWritten() const { return m_count; }

private:
    void flush();

    QIODevice* m_device;
    std::unique_ptr<VCardEncoder> m_vcard;
    std::unique_ptr<CsvEncoder> m_csv;
    QByteArray m_buffer;
    int m_count = 0;
};

/// Throws the message for a write that failed with the system's `error` (0 when unknown; Qt's
/// text is used then): a full disk said as such.
[[noreturn]] void failWrite(int error, const QString& qtText);

} // namespace Exchange

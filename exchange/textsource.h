#pragma once

#include "cardfilereader.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class QIODevice;
struct UConverter;

namespace Exchange {

/// Throws the module's error: "第 N 行：" and the text, so callers add nothing.
[[noreturn]] void failAtLine(qint64 line, const QString& text);
/// Throws the module's error with the text alone.
[[noreturn]] void fail(const QString& text);

/// True when the bytes are well-formed UTF-8; a sequence cut off by the end counts as
/// well-formed when allowCutEnd is set.
bool isUtf8(const char* data, qsizetype size, bool allowCutEnd = false);

/// The longest line (or card property, or CSV record) read: a file without line ends is
/// refused before it fills the memory.
constexpr qsizetype kMaxLine = 64 * 1024 * 1024;
/// Throws the message for a line longer than kMaxLine.
[[noreturn]] void failLongLine(qint64 line);

/// Physical lines of a file, read in chunks: line numbers, terminators and the bytes consumed.
/// A UTF-16 file (with its byte order mark, or without one when its zero bytes show it)
/// comes out as UTF-8. Zero bytes and lines over kMaxLine throw as soon as they are read.
class LineSource {
public:
    explicit LineSource(QIODevice* device);
    ~LineSource();
    LineSource(const LineSource&) = delete;
    LineSource& operator=(const LineSource&) = delete;

    /// The next line without its terminator ("\r\n", "\n", "\r" or "" at the end of the file).
    /// False at the end.
    bool readLine(QByteArray* line, QByteArray* terminator = nullptr);
    /// Number of the line last read, from 1.
    qint64 lineNumber() const { return m_line; }
    /// Up to `size` bytes from the current position, without consuming them.
    QByteArray peek(qsizetype size);
    /// Drops `size` bytes (a byte order mark) before the first line.
    void skip(qsizetype size);
    qint64 bytesConsumed() const;
    qint64 bytesTotal() const { return m_total; }

private:
    bool fill();
    void startUtf16(const char* name);
    void checkZeros(const char* data, qsizetype size);

    QIODevice* m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_started = false;
    qint64 m_line = 0;
    qint64 m_consumed = 0;
    qint64 m_total = 0;
    UConverter* m_utf16 = nullptr;
    bool m_binary = false;
};

/// Turns bytes into text: named charsets through ICU, the rest by what the file's start shows
/// (UTF-8 when that is well-formed UTF-8, else GB18030).
class TextDecoder {
public:
    TextDecoder();
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    /// Decides the default charset from the file's first bytes.
    void guessFrom(const QByteArray& sample, bool sampleIsWholeFile);
    /// Decides the default charset from a whole entry while the file's start left it open.
    void guessFromEntry(const QByteArray& entry);
    /// Decides the charset of one card from its undeclared bytes, starting at `line`: each
    /// card by its own text. A card read otherwise than the one before it is noted.
    void decideForEntry(const QByteArray& entry, qint64 line);
    /// Where decisions worth a word in the notice go (a bad byte replaced, a card read in
    /// another encoding); none when not set.
    void setNotes(QList<Skipped>* notes) { m_notes = notes; }
    bool isDecided() const { return m_guess != Guess::Undecided; }
    /// Bytes in the file's charset; a charset name (CHARSET=...) overrides it. Throws naming
    /// the line when the bytes cannot be decoded.
    QString decode(const QByteArray& bytes, qint64 line, const QByteArray& charset = QByteArray());

private:
    enum class Guess { Undecided, Utf8, Gb18030 };
    UConverter* converter(const QByteArray& name, qint64 line);
    bool icuDecode(UConverter* conv, const QByteArray& bytes, QString* text);
    QString decodeGb18030(const QByteArray& bytes, qint64 line);

    void note(qint64 line, const QString& text);

    Guess m_guess = Guess::Undecided;
    Guess m_lastEntry = Guess::Undecided;
    Guess m_fileGuess = Guess::Undecided; // what the file's start showed
    QList<Skipped>* m_notes = nullptr;
    QHash<QByteArray, UConverter*> m_converters;
};

/// Encodes text as GB18030 through ICU.
class Gb18030Encoder {
public:
    Gb18030Encoder();
    ~Gb18030Encoder();
    Gb18030Encoder(const Gb18030Encoder&) = delete;
    Gb18030Encoder& operator=(const Gb18030Encoder&) = delete;

    QByteArray encode(const QString& text);

private:
    UConverter* m_conv = nullptr;
};

} // namespace Exchange

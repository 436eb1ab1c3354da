#include "textsource.h"

#include "data/dberror.h"

#include <QIODevice>

#include <unicode/ucnv.h>

#include <cstring>

namespace Exchange {

namespace {

constexpr qsizetype kChunk = 256 * 1024;

UConverter* openConverter(const char* name) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(name, &error);
    if (U_FAILURE(error))
        return nullptr;
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    return conv;
}

bool isAscii(const QByteArray& bytes) {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Charset names that mean GB2312, GBK or GB18030: all are read as GB18030, which holds them
// all (phones that say GB2312 often send GBK characters).
bool isGbName(const QByteArray& upper) {
    return upper == "GB18030" || upper == "GB2312" || upper == "GBK" || upper == "CP936" ||
           upper == "EUC-CN" || upper == "X-GBK" || upper == "MS936" || upper == "WINDOWS-936" ||
           upper == "GB_2312-80" || upper == "CSGB2312" || upper == "X-EUC-CN";
}

// Qt drops a byte order mark at the start; in a value it is a character to keep.
QString fromUtf8(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QChar(0xFEFF) + QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    return QString::fromUtf8(bytes);
}

} // namespace

void failAtLine(qint64 line, const QString& text) {
    fail(QStringLiteral("第 %1 行：%2").arg(line).arg(text));
}

void fail(const QString& text) {
    throw EDatabaseError(text);
}

void failLongLine(qint64 line) {
    failAtLine(line, QStringLiteral("这一行超过 64 MB 还没有结束，不是通讯录或表格程序导出的 "
                                    "vCard（.vcf）或 CSV 文件。请选择正确的文件后再导入。"));
}

bool isUtf8(const char* data, qsizetype size, bool allowCutEnd) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int more;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0)
                lo = 0xA0; // no overlong forms
            else if (c == 0xED)
                hi = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        for (int i = 1; i <= more; ++i) {
            if (p + i >= end)
                return allowCutEnd;
            const unsigned char t = p[i];
            if (i == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF))
                return false;
        }
        p += more + 1;
    }
    return true;
}

// ---- LineSource ---------------------------------------------------------------------------

LineSource::LineSource(QIODevice* device)
    : m_device(device) {
    m_total = device->isSequential() ? 0 : device->size();
}

LineSource::~LineSource() {
    if (m_utf16)
        ucnv_close(m_utf16);
}

qint64 LineSource::bytesConsumed() const {
    // A transcoded file is measured by what was read from it.
    return m_utf16 ? m_device->pos() : m_consumed;
}

// Zero bytes are refused as they come, before a line or a file of them is held.
void LineSource::checkZeros(const char* data, qsizetype size) {
    if (m_binary)
        return;
    const auto* zero = static_cast<const char*>(std::memchr(data, 0, size));
    if (!zero)
        return;
    // The line it is on: lines already read, and the breaks before it.
    qint64 line = m_line + 1;
    const qsizetype held = m_buffer.size() - m_pos;
    for (const char c : QByteArrayView(m_buffer.constData() + m_pos, held))
        line += c == '\n' ? 1 : 0;
    for (const char* p = data; p < zero; ++p)
        line += *p == '\n' ? 1 : 0;
    failAtLine(line, QStringLiteral("这里有零字节，这不是文本文件，不是 vCard（.vcf）或 CSV 文件。"
                                    "请选择通讯录或表格程序导出的 vCard 或 CSV 文件。"));
}

void LineSource::startUtf16(const char* name) {
    m_utf16 = openConverter(name);
}

bool LineSource::fill() {
    if (m_eof)
        return false;
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    QByteArray chunk(kChunk, Qt::Uninitialized);
    const qint64 n = m_device->read(chunk.data(), kChunk);
    if (n < 0) {
        fail(QStringLiteral("读取文件失败。请检查文件是否还在、能否读取后再试。\n(%1)")
                 .arg(m_device->errorString()));
    }
    if (n == 0) {
        m_eof = true;
        return false;
    }
    chunk.resize(n);
    if (!m_started) {
        m_started = true;
        if (chunk.size() >= 2) {
            const auto b0 = static_cast<unsigned char>(chunk[0]);
            const auto b1 = static_cast<unsigned char>(chunk[1]);
            if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
                startUtf16(b0 == 0xFF ? "UTF-16LE" : "UTF-16BE");
                chunk.remove(0, 2);
            } else if (chunk.startsWith("PK\x03\x04") ||
                       chunk.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
                m_binary = true; // a workbook: the reader names it
            } else {
                // Without a byte order mark, UTF-16 shows by the zero byte of each Latin
                // letter, digit, comma and line end, always on the same side of the pair.
                qsizetype evenZeros = 0, oddZeros = 0;
                const qsizetype pairs = qMin<qsizetype>(chunk.size(), 4096) / 2;
                for (qsizetype i = 0; i < pairs; ++i) {
                    evenZeros += chunk[2 * i] == 0 ? 1 : 0;
                    oddZeros += chunk[2 * i + 1] == 0 ? 1 : 0;
                }
                if (pairs >= 2 && oddZeros * 4 >= pairs && evenZeros == 0)
                    startUtf16("UTF-16LE");
                else if (pairs >= 2 && evenZeros * 4 >= pairs && oddZeros == 0)
                    startUtf16("UTF-16BE");
            }
        }
    }
    if (m_utf16) {
        // Stream through ICU: a character cut by the chunk's end waits in the converter.
        const bool last = m_device->atEnd();
        QString text(chunk.size() / 2 + 8, Qt::Uninitialized);
        const char* src = chunk.constData();
        const char* srcEnd = src + chunk.size();
        UChar* dest = reinterpret_cast<UChar*>(text.data());
        UChar* destStart = dest;
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(m_utf16, &dest, destStart + text.size(), &src, srcEnd, nullptr, last,
                       &error);
        if (U_FAILURE(error))
            failAtLine(m_line + 1, QStringLiteral("UTF-16 文字有错，无法读出。文件可能已损坏；"
                                                  "请将它另存为 UTF-8 编码后再导入。"));
        text.resize(dest - destStart);
        const QByteArray utf8 = text.toUtf8();
        checkZeros(utf8.constData(), utf8.size());
        m_buffer += utf8;
        return true;
    }
    checkZeros(chunk.constData(), chunk.size());
    m_buffer += chunk;
    return true;
}

QByteArray LineSource::peek(qsizetype size) {
    while (m_buffer.size() - m_pos < size && fill()) {
    }
    return m_buffer.mid(m_pos, size);
}

void LineSource::skip(qsizetype size) {
    peek(size);
    const qsizetype n = qMin(size, m_buffer.size() - m_pos);
    m_pos += n;
    m_consumed += n;
}

bool LineSource::readLine(QByteArray* line, QByteArray* terminator) {
    for (;;) {
        const char* begin = m_buffer.constData() + m_pos;
        const qsizetype avail = m_buffer.size() - m_pos;
        const auto* nl = static_cast<const char*>(std::memchr(begin, '\n', avail));
        const char* limit = nl ? nl : begin + avail;
        const auto* cr = static_cast<const char*>(std::memchr(begin, '\r', limit - begin));
        const char* end = nullptr;
        qsizetype termSize = 0;
        if (cr) {
            if (cr + 1 < begin + avail) {
                end = cr;
                termSize = cr[1] == '\n' ? 2 : 1;
            } else if (m_eof) {
                end = cr;
                termSize = 1;
            }
        } else if (nl) {
            end = nl;
            termSize = 1;
        } else if (m_eof) {
            if (avail == 0)
                return false;
            end = begin + avail;
        }
        if (!end) {
            if (avail > kMaxLine)
                failLongLine(m_line + 1);
            fill();
            continue;
        }
        ++m_line;
        const qsizetype length = end - begin;
        *line = QByteArray(begin, length);
        if (terminator)
            *terminator = QByteArray(end, termSize);
        m_pos += length + termSize;
        m_consumed += length + termSize;
        return true;
    }
}

// ---- TextDecoder --------------------------------------------------------------------------

TextDecoder::TextDecoder() = default;

TextDecoder::~TextDecoder() {
    for (UConverter* conv : std::as_const(m_converters)) {
        if (conv)
            ucnv_close(conv);
    }
}

void TextDecoder::guessFrom(const QByteArray& sample, bool sampleIsWholeFile) {
    if (isAscii(sample))
        m_guess = Guess::Undecided;
    else if (isUtf8(sample.constData(), sample.size(), !sampleIsWholeFile))
        m_guess = Guess::Utf8;
    else
        m_guess = Guess::Gb18030;
    m_fileGuess = m_guess;
}

void TextDecoder::guessFromEntry(const QByteArray& entry) {
    if (m_guess == Guess::Undecided && !isAscii(entry))
        m_guess = isUtf8(entry.constData(), entry.size()) ? Guess::Utf8 : Guess::Gb18030;
}

void TextDecoder::decideForEntry(const QByteArray& entry, qint64 line) {
    if (isAscii(entry))
        return; // nothing to decide: the card before it stands
    // A few GB18030 characters can pass for two-byte UTF-8 (值 for U+05B5); Chinese text in
    // UTF-8 has three-byte characters. In a file that looked like GB18030, only those count.
    bool utf8 = isUtf8(entry.constData(), entry.size());
    if (utf8 && m_fileGuess == Guess::Gb18030) {
        bool wide = false;
        for (const char c : entry)
            wide = wide || static_cast<unsigned char>(c) >= 0xE0;
        utf8 = wide;
    }
    m_guess = utf8 ? Guess::Utf8 : Guess::Gb18030;
    if (m_lastEntry != Guess::Undecided && m_lastEntry != m_guess)
        note(line, m_guess == Guess::Utf8
                       ? QStringLiteral("这张名片的文字是 UTF-8 编码，与它前面的名片不同，已按 "
                                        "UTF-8 读出；请核对它的文字。")
                       : QStringLiteral("这张名片的文字不是 UTF-8 编码，与它前面的名片不同，已按 "
                                        "GB18030（GBK）读出；请核对它的文字。"));
    m_lastEntry = m_guess;
}

void TextDecoder::note(qint64 line, const QString& text) {
    if (m_notes)
        *m_notes << Skipped{line, text, true};
}

UConverter* TextDecoder::converter(const QByteArray& name, qint64 line) {
    auto it = m_converters.constFind(name);
    if (it != m_converters.constEnd())
        return it.value();
    UConverter* conv = openConverter(name.constData());
    if (!conv)
        failAtLine(line, QStringLiteral("不认识字符集“%1”，无法读出这里的文字。请将文件另存为 "
                                        "UTF-8 编码后再导入。")
                             .arg(QString::fromLatin1(name)));
    m_converters.insert(name, conv);
    return conv;
}

bool TextDecoder::icuDecode(UConverter* conv, const QByteArray& bytes, QString* text) {
    // The Chinese charsets need no more UTF-16 units than they have bytes; another may.
    QString out(bytes.size() + 1, Qt::Uninitialized);
    UErrorCode error = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                              bytes.constData(), int32_t(bytes.size()), &error);
    if (error == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(n + 1);
        error = U_ZERO_ERROR;
        n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                          bytes.constData(), int32_t(bytes.size()), &error);
    }
    if (U_FAILURE(error))
        return false;
    out.resize(n);
    *text = out;
    return true;
}

QString TextDecoder::decodeGb18030(const QByteArray& bytes, qint64 line) {
    QString text;
    if (icuDecode(converter("GB18030", line), bytes, &text))
        return text;
    // GBK as Windows writes it has a few single bytes (0x80 for the euro sign) that GB18030
    // lacks.
    if (icuDecode(converter("windows-936-2000", line), bytes, &text))
        return text;
    failAtLine(line, QStringLiteral("这里的文字既不是 UTF-8 也不是 GB18030（GBK）编码，无法读出。"
                                    "文件可能已损坏；请用原来的程序重新导出，或将它另存为 UTF-8 "
                                    "编码后再导入。"));
}

QString TextDecoder::decode(const QByteArray& bytes, qint64 line, const QByteArray& charset) {
    if (!charset.isEmpty()) {
        const QByteArray upper = charset.toUpper();
        if (upper == "UTF-8" || upper == "UTF8") {
            // As declared: a stray bad byte becomes U+FFFD, and the notice says where.
            if (!isUtf8(bytes.constData(), bytes.size()))
                note(line, QStringLiteral("标明为 UTF-8 的文字里有不合 UTF-8 的字节，已换成"
                                          "“\uFFFD”；请核对这张名片的文字。"));
            return fromUtf8(bytes);
        }
        // UTF-7 and HZ spell their text in ASCII bytes; the others keep ASCII as it is.
        if (isAscii(bytes) && !upper.startsWith("UTF-7") && !upper.startsWith("HZ"))
            return QString::fromLatin1(bytes);
        if (isGbName(upper))
            return decodeGb18030(bytes, line);
        if (upper == "US-ASCII" || upper == "ASCII")
            return decode(bytes, line); // not ASCII after all: as if unlabelled
        QByteArray name = upper;
        if (upper == "BIG5" || upper == "BIG-5" || upper == "CP950" || upper == "X-X-BIG5")
            name = "Big5"; // ICU's Big5 is Windows' code page 950
        QString text;
        if (icuDecode(converter(name, line), bytes, &text))
            return text;
        failAtLine(line, QStringLiteral("这里的文字不符合它标明的字符集 %1，无法读出。文件可能已"
                                        "损坏；请用原来的程序重新导出后再导入。")
                             .arg(QString::fromLatin1(charset)));
    }
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    switch (m_guess) {
    case Guess::Gb18030:
        return decodeGb18030(bytes, line);
    case Guess::Undecided:
        // The first text beyond ASCII decides for the rest of the file.
        if (isUtf8(bytes.constData(), bytes.size())) {
            m_guess = Guess::Utf8;
            return fromUtf8(bytes);
        }
        m_guess = Guess::Gb18030;
        return decodeGb18030(bytes, line);
    case Guess::Utf8:
        break;
    }
    if (isUtf8(bytes.constData(), bytes.size()))
        return fromUtf8(bytes);
    return decodeGb18030(bytes, line);
}

// ---- Gb18030Encoder -----------------------------------------------------------------------

Gb18030Encoder::Gb18030Encoder()
    : m_conv(openConverter("GB18030")) {}

Gb18030Encoder::~Gb18030Encoder() {
    if (m_conv)
        ucnv_close(m_conv);
}

QByteArray Gb18030Encoder::encode(const QString& text) {
    // GB18030 spends at most four bytes on a UTF-16 unit.
    QByteArray out(text.size() * 4 + 4, Qt::Uninitialized);
    UErrorCode error = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(m_conv, out.data(), int32_t(out.size()),
                                      reinterpret_cast<const UChar*>(text.constData()),
                                      int32_t(text.size()), &error);
    if (U_FAILURE(error)) {
        // Only a lone surrogate can fail; GB18030 holds every character.
        fail(QStringLiteral("有文字无法写成 GB18030 编码（含有不成对的代理字符）。请改用"
                            "“CSV UTF-8”格式导出。"));
    }
    out.resize(n);
    return out;
}

} // namespace Exchange

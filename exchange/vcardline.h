#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The syntax of vCard content lines, both ways: folding, parameters, escapes,
// quoted-printable and charsets. What a property means is left to the reader and writer.
namespace Exchange {

class LineSource;
class TextDecoder;

namespace VCardSyntax {

/// Our own parameter saying which line breaks of a value were not plain LF: one letter per
/// break (L = LF, C = CR, W = CR LF), or one letter for all of them.
inline const QByteArray kBreaksParam = "X-QUEMBE-EOL";

/// Appends `line` and its CR LF, folded at 75 octets, never inside a UTF-8 sequence.
void appendFolded(QByteArray* out, const QByteArray& line);

/// One content line as written: "group.NAME;param=value;BARE:value".
struct ContentLine {
    QByteArray group; // upper case
    QByteArray name;  // upper case
    QByteArray writtenName;
    QList<QByteArray> types;        // upper case, from TYPE= and bare 2.1 parameters
    QList<QByteArray> writtenTypes; // the same as written
    QByteArray encoding;            // upper case
    QByteArray charset;
    QByteArray valueType; // upper case
    QByteArray service;   // X-SERVICE-TYPE, upper case
    QByteArray breaks;    // kBreaksParam
    QByteArray customType;
    QByteArray raw;
    qint64 line = 0;

    bool has(const char* type) const { return types.contains(QByteArray(type)); }
};

/// Gives a file's content lines whole: folded lines (CR LF and a blank; 2.1 keeps the
/// blank) and quoted-printable soft line breaks ("=" at the end) joined.
class LineReader {
public:
    explicit LineReader(LineSource& source);
    /// The next content line and the line of the file it starts on; false at the end.
    bool read(QByteArray* line, qint64* lineNumber);
    /// Whether the card being read is 2.1, whose folded lines keep their first blank.
    void setVersion21(bool version21) { m_version21 = version21; }

private:
    bool readPhysical(QByteArray* line);

    LineSource& m_source;
    QByteArray m_pending;
    qint64 m_pendingLine = 0;
    bool m_hasPending = false;
    bool m_version21 = false;
};

/// Splits a content line into group, name, parameters and value; false when it has no name.
bool parse(const QByteArray& line, qint64 lineNumber, ContentLine* out);
/// The line is this text, give or take blanks and letter case.
bool isLine(const QByteArray& line, const char* text);
/// Only blanks (and a DOS end-of-file mark).
bool isBlank(const QByteArray& line);
QByteArray decodeQuotedPrintable(const QByteArray& in);
/// The value as text: its transfer encoding and charset undone.
QString text(const ContentLine& line, TextDecoder& decoder);
/// The value's components (split at ';' when compound) with escapes undone; a comma becomes
/// `listSeparator` where one is given.
QStringList components(const ContentLine& line, TextDecoder& decoder, bool compound,
                       QChar listSeparator = QChar());

/// Appends a content line of `version` (21, 30 or 40) with these text components: escaped,
/// kBreaksParam added where a break is not LF, folded, or quoted-printable in 2.1.
void write(QByteArray* out, int version, const QByteArray& nameAndParams,
           const QStringList& components);
/// The same for a URI value, written as it stands, without text escapes.
void writeUri(QByteArray* out, int version, const QByteArray& nameAndParams, const QString& uri);

} // namespace VCardSyntax
} // namespace Exchange

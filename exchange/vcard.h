#pragma once

#include "assemble.h"
#include "cardfilereader.h"
#include "vcardline.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace Exchange {

class LineSource;
class TextDecoder;

/// Reads the cards of a vCard file (2.1, 3.0, 4.0) one at a time: the content lines
/// (vcardline.h) of each card mapped to its columns.
class VCardParser {
public:
    VCardParser(LineSource& source, TextDecoder& decoder, QList<Skipped>& skipped);
    ~VCardParser();
    /// The next card that has a name; false at the end of the file.
    bool next(Card* card);
    /// The UID of the card next() gave last; empty when it had none.
    const QString& uid() const { return m_uid; }
    /// The picture of the card next() gave last (its first PHOTO held in the card itself).
    const CardPhoto& photo() const { return m_photo; }

    struct Property;

private:
    QStringList components(const Property& p, bool compound) const;
    void assemble(const QList<Property>& props);
    void addTel(const Property& p, const QString& groupLabel);
    void addAddress(const Property& p, const QStringList& parts, const QString& groupLabel);
    void addImpp(const Property& p);

    VCardSyntax::LineReader m_lines;
    TextDecoder& m_decoder;
    QList<Skipped>& m_skipped;
    CardAssembler m_card;
    QString m_uid;
    CardPhoto m_photo;
    qint64 m_begin = 0; // the line of the card's BEGIN:VCARD
};

/// Writes cards as vCard text of one version.
class VCardEncoder {
public:
    /// version is 21, 30 or 40.
    explicit VCardEncoder(int version);
    /// Appends the card's vCard, lines ending in CR LF; a UID when `uid` is not empty, and
    /// a PHOTO of these JPEG bytes (3.0 and 4.0 only) when `photo` is not empty.
    void encode(const Card& card, const QString& uid, QByteArray* out,
                const QByteArray& photo = QByteArray()) const;

private:
    /// A property of text components (vcardline.h writes the line).
    void property(QByteArray* out, const QByteArray& nameAndParams,
                  const QStringList& components) const;
    /// A URI value: written as it stands, without text escapes.
    void uriProperty(QByteArray* out, const QByteArray& nameAndParams, const QString& uri) const;
    int m_version;
};

} // namespace Exchange

#pragma once

#include "data/card.h"

#include <QList>
#include <QString>

#include <memory>

class QFile;
class QIODevice;

namespace Exchange {

/// An entry of the file that did not become a card, or a part of it that was left out; or,
/// when `imported`, a card that came in with something the user should look at.
struct Skipped {
    qint64 line;    ///< where it starts in the file, from 1
    QString reason; ///< what happened, in Chinese
    bool imported = false;

    /// "第 12 行：" followed by the reason.
    QString text() const;
};

/// A picture a card file holds for a card (vCard PHOTO), as its bytes say.
struct CardPhoto {
    bool present = false; ///< the card holds a picture; a link to one elsewhere is none
    QByteArray bytes;     ///< the picture file's bytes; empty when they could not be decoded
    qint64 line = 0;      ///< where it is in the file
};

/// Reads the cards of a vCard or CSV file one at a time, recognising the kind of file and its
/// encoding. Errors that make the file unreadable throw the data layer's error with a message
/// that names the line; a caller that already took cards must drop them. To cancel, stop
/// calling next().
class CardFileReader {
public:
    enum class Kind { Unknown, VCard, Csv };

    /// Reads from an open device; it must outlive the reader. `fileName` (else the device's
    /// own) tells a .vcf file, which is never read as CSV.
    explicit CardFileReader(QIODevice* device, const QString& fileName = QString());
    ~CardFileReader();
    CardFileReader(const CardFileReader&) = delete;
    CardFileReader& operator=(const CardFileReader&) = delete;

    /// The next card; false at the end of the file.
    bool next(Card* card);
    /// The kind of file, known after the first next().
    Kind kind() const;
    /// Entries left out so far, in file order.
    const QList<Skipped>& skipped() const;
    /// The UID of the card next() gave last (vCard); empty when it had none.
    QString uid() const;
    /// The picture of the card next() gave last (vCard); none when it had none.
    CardPhoto photo() const;
    /// Bytes of the file consumed so far, for a progress bar.
    qint64 bytesRead() const;
    /// Size of the file, 0 when it is not known.
    qint64 bytesTotal() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// Opens a file for CardFileReader; throws a message naming the file when it cannot be opened or
/// is not a plain file (a pipe, a device, a folder), without waiting on it.
std::unique_ptr<QFile> openForReading(const QString& path);

/// The notice after an import: how many cards were added, how many were already here, and
/// what was left out or changed and why (the first `listed` of each).
QString importSummary(int added, const QList<Skipped>& skipped, int listed = 10,
                      int duplicates = 0);

} // namespace Exchange

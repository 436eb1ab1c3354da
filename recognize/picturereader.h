#pragma once

#include "recognize/textline.h"

#include "core/card.h"
#include "core/progress.h"

#include <QImage>
#include <QList>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace Recognize {

class LineReader;

/// Characters of a column read with low confidence, for the user to check.
struct UnsureText {
    int column = 0; ///< index into Card::values
    int start = 0;  ///< in the column's text
    int length = 0;
    bool operator==(const UnsureText& o) const {
        return column == o.column && start == o.start && length == o.length;
    }
};

/// Where the characters of `lines` read with low confidence stand in the columns of `card`
/// (parsed from those lines); the columns in `exact` are left out.
QList<UnsureText> unsureTextIn(const Card& card, const QList<TextLine>& lines,
                               const QList<int>& exact = {});

/// What reads the lines of a card: Tesseract's chi_sim and eng, the PP-OCR model (rare
/// characters, photos), or the model with Tesseract where each reads better.
enum class Recognizer { Tesseract, Model, Mixed };

/// Shared between the thread that reads a card and the one that waits for it: the
/// percentage read, and the cancel.
class Progress : public Core::Progress {
public:
    Progress()
        : Core::Progress(Phase::Recognizing, 100) {}
};

/// Reads the text of card pictures with Tesseract and, where its files are there, the PP-OCR
/// model. Holds the loaded language models, so
/// one reader serves many cards; use it from one thread at a time, any thread: it needs no
/// GUI objects. Loading takes about a second, reading a card about half of one.
class PictureReader {
public:
    /// Loads the reading module and the models; throws EDatabaseError when either is
    /// missing. Turns OpenMP's parallel regions off for the process (Tesseract's are the
    /// only ones): its waiting threads cost more than they gain on a small machine.
    PictureReader();
    ~PictureReader();
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    /// What reads the lines: the best there is, Tesseract when the model is missing.
    Recognizer recognizer() const { return m_recognizer; }
    /// Reads with `recognizer` from now on; false, and nothing changed, when it needs the
    /// model and the model could not be loaded.
    bool setRecognizer(Recognizer recognizer);

    /// The lines of text on the picture, top to bottom; nothing when cancelled.
    std::optional<QList<TextLine>> readLines(const QImage& image, Progress* progress = nullptr);
    /// The card on the picture; nothing when cancelled. The fields of a QR code holding a
    /// vCard or MECARD are taken exactly and the reading fills the others; fromCode gets the
    /// columns the code gave, unsure the characters read with low confidence. A picture
    /// without text gives a card isBlank says is blank.
    std::optional<Card> readCard(const QImage& image, Progress* progress = nullptr,
                                 QList<int>* fromCode = nullptr,
                                 QList<UnsureText>* unsure = nullptr);

    /// What is kept of `image` with its card: the card cut out and seen straight on when it
    /// stands out from a desk it was photographed on, else the whole picture.
    QImage pictureToKeep(const QImage& image);

private:
    std::unique_ptr<LineReader> m_reader;
    bool m_model = false;
    Recognizer m_recognizer = Recognizer::Tesseract;
};

/// The reading module's file: the one QUEMBE_OCR_MODULE names, else the one beside the
/// program, where it is installed or in the build tree; empty when there is none.
QString modulePath();

/// The folder holding chi_sim.traineddata: TESSDATA_PREFIX when it has it, else the usual
/// system places; empty when none has it.
QString languageFolder();

/// The folder of the recognition model (rec-48x*.onnx, keys.txt): QUEMBE_OCR_MODELS when
/// set, else ocr-models beside the program, where it is installed or in the user's data
/// folder (~/.local/share/quembe/ocr-models, where scripts/install-deps.sh puts it); empty
/// when none has it.
QString modelFolder();

/// Reads a picture file, a very large photo at a smaller size; throws EDatabaseError, in
/// words for the user, when the file is missing, no file, unreadable, cut short, damaged,
/// too big or not a picture.
QImage loadImage(const QString& path);

/// The file dialog's filter for card pictures: the formats this Qt can read.
QString pictureFilter();

/// Whether recognition found nothing on the card.
bool isBlank(const Card& card);
/// What is said when a picture holds no text to read.
QString noTextMessage();

} // namespace Recognize

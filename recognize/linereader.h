#pragma once

#include "recognize/picturereader.h"

// Tesseract and the libraries it pulls in (some forty) are loaded only when a card is first
// read: linked into the program they would slow every start. The reader lives in a module
// of its own; the program reaches it through this interface alone.

namespace Recognize {

class LineReader {
public:
    virtual ~LineReader() = default;
    /// The lines of text on the picture, top to bottom; nothing when cancelled.
    virtual std::optional<QList<TextLine>> readLines(const QImage& image, Progress* progress) = 0;
    /// The card on a photo cut out and seen straight on, in colour; null when no card stands
    /// out from what it lies on (a scan, or the card alone).
    virtual QImage cardOf(const QImage& image) = 0;
    /// Loads the recognition model of `folder`; false, Tesseract alone, when it cannot.
    virtual bool loadModel(const char* folder) = 0;
    /// Which reads the lines from now on; the model only once loaded.
    virtual void setRecognizer(Recognizer recognizer) = 0;
};

} // namespace Recognize

/// The module's one entry: a reader with the language data of `languageFolder` loaded, or
/// null when that data cannot be loaded.
extern "C" {
using QuembeMakeLineReader = Recognize::LineReader* (*)(const char* languageFolder);
}
#define QUEMBE_MAKE_LINE_READER "quembe_make_line_reader"

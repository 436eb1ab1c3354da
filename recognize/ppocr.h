#pragma once

// Lines read by the PP-OCR recognition model through OpenCV's dnn: a wider character set
// than Tesseract's chi_sim (rare surnames and given-name characters) and steadier on photos.

#include "recognize/textline.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Recognize {

class PpOcr {
public:
    /// The model of `folder` (rec-48xWIDTH.onnx at each width, keys.txt); null when a file
    /// is missing, damaged or does not fit the others.
    static std::unique_ptr<PpOcr> load(const QString& folder);
    ~PpOcr();
    PpOcr(const PpOcr&) = delete;
    PpOcr& operator=(const PpOcr&) = delete;

    /// How likely character c is at place `at` of the text (a name's surname first), as a
    /// weight on the model's score; null for any text.
    using Likely = std::function<double(int at, QChar c)>;

    /// The text in `box` of the grey picture, ink darker than `threshold`; items standing
    /// apart by more than `gap` pixels are parted by a tab. Characters less sure than
    /// kUnsureBelow are listed in unsure; confidence is their mean, 0 to 100. Nothing when
    /// the model fails to run. gapBefore, when given, gets for each character the gap in the
    /// ink before it in heights of the type.
    std::optional<TextLine> read(const QImage& gray, int threshold, const QRect& box, int gap,
                                 const Likely& likely = nullptr,
                                 QList<double>* gapBefore = nullptr) const;
    /// The text of a picture of one piece of a line; confidence -1 when the model fails.
    TextLine readPiece(const QImage& gray, int threshold, const Likely& likely = nullptr,
                       QList<double>* gapBefore = nullptr) const;

    static constexpr double kUnsureBelow = 0.6;

private:
    struct Net;
    PpOcr();
    std::vector<std::unique_ptr<Net>> m_nets; // narrowest first
    QStringList m_keys;                       // class 0 is the blank; after the keys a space
};

} // namespace Recognize

#pragma once

#include <QList>
#include <QRect>
#include <QString>

namespace Recognize {

/// One line of text read from a card, with where it stood on the picture.
struct TextLine {
    QString text;
    QRect box;          ///< in the straightened picture's pixels
    int confidence = 0; ///< 0 to 100
    QList<int> unsure;  ///< where in text are characters read with low confidence
};

} // namespace Recognize

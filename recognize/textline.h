#pragma once

#include <QRect>
#include <QString>

namespace Recognize {

/// One line of text read from a card, with where it stood on the picture.
struct TextLine {
    QString text;
    QRect box;          ///< in the straightened picture's pixels
    int confidence = 0; ///< 0 to 100
};

} // namespace Recognize

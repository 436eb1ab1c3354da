#pragma once

#include <QStringList>
#include <QTextStream>

namespace Recognize {

/// `quembe-cards recognize IMAGE...`: for each picture a line "# FILE", then what was found,
/// one "column: value" line per filled column of zl in field-map order (a value of several
/// lines gives several lines of that column), then an empty line. A file that is missing,
/// damaged or no picture, or a picture without text, is reported on err and the others are still
/// read. Returns 0 when every picture was read, 1 when one was not, 2 when no picture was named.
int runCommand(const QStringList& images, QTextStream& out, QTextStream& err);

} // namespace Recognize

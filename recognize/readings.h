#pragma once

#include <QString>

/// Two readings of one line (the model's and Tesseract's) put together where each saw what
/// the other lost.
namespace Recognize::Readings {

/// The model's reading with the "@" of a mail that Tesseract read and the model did not:
/// placed before the host Tesseract read after its "@", in place of a round letter the
/// model read for it or else in front of the host. The model's reading as it is when it
/// has an "@", Tesseract's has none, or the host is not found in it.
QString withMailSign(const QString& model, const QString& tesseract);

} // namespace Recognize::Readings

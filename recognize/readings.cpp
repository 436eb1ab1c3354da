#include "recognize/readings.h"

namespace Recognize::Readings {

namespace {

bool hostCharacter(QChar c) {
    return c.unicode() < 0x80 &&
           (c.isLetterOrNumber() || c == QLatin1Char('.') || c == QLatin1Char('-'));
}

// The last letters and digits of a text, small.
QString lastLetters(const QString& text, int count) {
    QString out;
    for (int i = int(text.size()) - 1; i >= 0 && out.size() < count; --i) {
        if (text[i].isLetterOrNumber())
            out.prepend(text[i].toLower());
    }
    return out;
}

} // namespace

QString withMailSign(const QString& model, const QString& tesseract) {
    const QChar at = QLatin1Char('@');
    const int sign = int(tesseract.indexOf(at));
    if (model.contains(at) || sign <= 0)
        return model;
    int end = sign + 1;
    while (end < tesseract.size() && hostCharacter(tesseract[end]))
        ++end;
    // Tesseract runs a host into what follows it now and then ("tianyu.comLianyu."): the
    // longest beginning of it the model read too is the host; one without a dot is too
    // short to say.
    const QString host = tesseract.mid(sign + 1, end - sign - 1);
    for (int length = int(host.size()); length >= 4; --length) {
        const QString part = host.left(length);
        if (!part.contains(QLatin1Char('.')) || part.endsWith(QLatin1Char('.')))
            continue;
        const int p = int(model.lastIndexOf(part, -1, Qt::CaseInsensitive));
        if (p <= 0 || !model[p - 1].isLetterOrNumber())
            continue;
        QString mended = model;
        // "yao@" read "yaoo": the round letter is the sign when what stands before it ends
        // as the name before Tesseract's "@" does.
        const QString name = lastLetters(tesseract.left(sign), 2);
        if (QStringLiteral("oaecgQO0").contains(model[p - 1]) && !name.isEmpty() &&
            lastLetters(model.left(p - 1), int(name.size())) == name)
            mended[p - 1] = at;
        else
            mended.insert(p, at);
        return mended;
    }
    return model;
}

} // namespace Recognize::Readings

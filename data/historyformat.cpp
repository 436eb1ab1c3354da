#include "historyformat.h"

#include <algorithm>

namespace History::Format {

namespace {

void putNumber(QByteArray& out, quint64 value) {
    while (value >= 0x80) {
        out.append(char((value & 0x7f) | 0x80));
        value >>= 7;
    }
    out.append(char(value));
}

bool takeNumber(const QByteArray& in, int& at, quint64* value) {
    *value = 0;
    for (int shift = 0; at < in.size() && shift < 64; shift += 7) {
        const auto byte = quint8(in.at(at++));
        *value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

// A text as its length plus one and its UTF-8 bytes; 0 for a null text (an older file's
// NULL column stays NULL when it comes back).
void putText(QByteArray& out, const QString& text) {
    if (text.isNull()) {
        putNumber(out, 0);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    putNumber(out, quint64(bytes.size()) + 1);
    out.append(bytes);
}

bool takeText(const QByteArray& in, int& at, QString* text) {
    quint64 length = 0;
    if (!takeNumber(in, at, &length))
        return false;
    if (length == 0) {
        *text = QString();
        return true;
    }
    if (length - 1 > quint64(in.size() - at))
        return false;
    *text = QString::fromUtf8(in.constData() + at, int(length - 1));
    if (text->isNull())
        *text = QString(QLatin1String(""));
    at += int(length - 1);
    return true;
}

} // namespace

QByteArray encodeImage(const Image& image, bool whole) {
    QByteArray out;
    out.append(char(whole ? 1 : 0));
    for (const QString& value : image.card.values)
        putText(out, value);
    if (whole) {
        putText(out, image.addedOn);
        putText(out, image.uid);
    }
    return out;
}

Image decodeImage(const QByteArray& bytes) {
    Image image;
    if (bytes.isEmpty())
        return image;
    const bool whole = bytes.at(0) == 1;
    int at = 1;
    for (QString& value : image.card.values) {
        if (!takeText(bytes, at, &value))
            return Image();
    }
    if (whole && (!takeText(bytes, at, &image.addedOn) || !takeText(bytes, at, &image.uid)))
        return Image();
    image.exists = true;
    return image;
}

std::optional<qint32> sum(const Image& image) {
    if (!image.exists)
        return std::nullopt;
    // FNV-1a over the UTF-16 of each field, each ended by a code unit no text holds alone.
    quint64 hash = 14695981039346656037ULL;
    auto add = [&hash](char16_t unit) {
        hash ^= unit;
        hash *= 1099511628211ULL;
    };
    for (const QString& value : image.card.values) {
        for (QChar c : value)
            add(c.unicode());
        add(0xffff);
    }
    return qint32(quint32(hash ^ (hash >> 32)));
}

QByteArray encodeIds(QVector<qint64> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    QByteArray out;
    qint64 previous = 0;
    for (int i = 0; i < ids.size();) {
        int run = 1;
        while (i + run < ids.size() && ids[i + run] == ids[i] + run)
            ++run;
        putNumber(out, quint64(ids[i] - previous));
        putNumber(out, quint64(run));
        previous = ids[i] + run - 1;
        i += run;
    }
    return out;
}

QVector<qint64> decodeIds(const QByteArray& bytes) {
    QVector<qint64> ids;
    int at = 0;
    qint64 previous = 0;
    quint64 gap = 0;
    quint64 run = 0;
    while (at < bytes.size() && takeNumber(bytes, at, &gap) && takeNumber(bytes, at, &run)) {
        const qint64 first = previous + qint64(gap);
        for (quint64 k = 0; k < run && k < 100000000; ++k)
            ids.append(first + qint64(k));
        previous = first + qint64(run) - 1;
    }
    return ids;
}

} // namespace History::Format

#include "cardreader.h"

#include "csv.h"
#include "textsource.h"
#include "vcard.h"

#include <QFile>

namespace Exchange {

namespace {

// How much of the file's start decides its kind and encoding.
constexpr qsizetype kSample = 1024 * 1024;

bool startsWith(const QByteArray& bytes, const char* prefix, qsizetype size) {
    return bytes.size() >= size && std::memcmp(bytes.constData(), prefix, size) == 0;
}

// A vCard file has BEGIN:VCARD among its first lines (a CSV header never is that line).
bool isVCard(const QByteArray& sample) {
    int lines = 0;
    qsizetype pos = 0;
    while (pos < sample.size() && lines < 10) {
        qsizetype end = pos;
        while (end < sample.size() && sample[end] != '\n' && sample[end] != '\r')
            ++end;
        const QByteArray line = sample.mid(pos, end - pos).trimmed();
        if (line.compare("BEGIN:VCARD", Qt::CaseInsensitive) == 0)
            return true;
        if (!line.isEmpty())
            ++lines;
        pos = end + 1;
    }
    return false;
}

} // namespace

QString Skipped::text() const {
    return QStringLiteral("第 %1 行：%2").arg(line).arg(reason);
}

struct CardReader::Impl {
    explicit Impl(QIODevice* device)
        : source(device) {}

    void start();

    LineSource source;
    TextDecoder decoder;
    QList<Skipped> skipped;
    Kind kind = Kind::Unknown;
    std::unique_ptr<VCardParser> vcard;
    std::unique_ptr<CsvParser> csv;
    bool started = false;
    int cards = 0;
};

void CardReader::Impl::start() {
    started = true;
    QByteArray sample = source.peek(kSample);
    if (sample.isEmpty())
        return;
    if (startsWith(sample, "PK\x03\x04", 4) ||
        startsWith(sample, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) {
        failAtLine(1, QStringLiteral("这是 Excel 工作簿或压缩文件，不是 vCard 或 CSV 文件。请在 "
                                     "Excel 里用“另存为”存成“CSV UTF-8”或“CSV”文件后再导入。"));
    }
    const bool whole = sample.size() < kSample;
    if (startsWith(sample, "\xEF\xBB\xBF", 3)) {
        source.skip(3);
        sample.remove(0, 3);
    } else if (startsWith(sample, "\x84\x31\x95\x33", 4)) { // GB18030's byte order mark
        source.skip(4);
        sample.remove(0, 4);
    }
    decoder.guessFrom(sample, whole);
    if (isVCard(sample)) {
        kind = Kind::VCard;
        vcard = std::make_unique<VCardParser>(source, decoder, skipped);
    } else {
        kind = Kind::Csv;
        csv = std::make_unique<CsvParser>(source, decoder, skipped);
    }
}

CardReader::CardReader(QIODevice* device)
    : d(std::make_unique<Impl>(device)) {}

CardReader::~CardReader() = default;

bool CardReader::next(Card* card) {
    if (!d->started)
        d->start();
    const bool got = d->vcard ? d->vcard->next(card) : d->csv ? d->csv->next(card) : false;
    if (got)
        ++d->cards;
    return got;
}

CardReader::Kind CardReader::kind() const {
    return d->kind;
}

const QList<Skipped>& CardReader::skipped() const {
    return d->skipped;
}

int CardReader::cardsRead() const {
    return d->cards;
}

qint64 CardReader::bytesRead() const {
    return d->source.bytesConsumed();
}

qint64 CardReader::bytesTotal() const {
    return d->source.bytesTotal();
}

std::unique_ptr<QFile> openForReading(const QString& path) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法打开文件“%1”：%2。请检查文件是否存在、是否有权限读取。")
                 .arg(path, file->errorString()));
    return file;
}

QString importSummary(int added, const QList<Skipped>& skipped, int listed) {
    QString text = QStringLiteral("已添加 %1 张名片。").arg(added);
    if (skipped.isEmpty())
        return text;
    text += QStringLiteral("\n有 %1 处没有导入：").arg(skipped.size());
    for (int i = 0; i < skipped.size() && i < listed; ++i)
        text += QLatin1Char('\n') + skipped[i].text();
    if (skipped.size() > listed)
        text += QStringLiteral("\n……另有 %1 处未列出。").arg(skipped.size() - listed);
    return text;
}

} // namespace Exchange

#include "cardfilereader.h"

#include "csv.h"
#include "textsource.h"
#include "vcard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

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

struct CardFileReader::Impl {
    explicit Impl(QIODevice* device)
        : device(device)
        , source(device) {
        decoder.setNotes(&skipped);
    }

    void start();

    QIODevice* device;
    QString fileName;
    LineSource source;
    TextDecoder decoder;
    QList<Skipped> skipped;
    Kind kind = Kind::Unknown;
    std::unique_ptr<VCardParser> vcard;
    std::unique_ptr<CsvParser> csv;
    bool started = false;
};

void CardFileReader::Impl::start() {
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
    // A file named .vcf is a vCard file, or is not one: never read as CSV.
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    const bool namedVCard = suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard");
    if (namedVCard && !isVCard(sample) && !sample.toUpper().contains("BEGIN:VCARD"))
        failAtLine(1, QStringLiteral("这个 .vcf 文件里找不到名片的开头 BEGIN:VCARD，它不是 vCard "
                                     "名片文件，或者已损坏。请用通讯录程序重新导出名片后再导入。"));
    if (isVCard(sample) || namedVCard) {
        kind = Kind::VCard;
        vcard = std::make_unique<VCardParser>(source, decoder, skipped);
    } else {
        kind = Kind::Csv;
        csv = std::make_unique<CsvParser>(source, decoder, skipped);
    }
}

CardFileReader::CardFileReader(QIODevice* device, const QString& fileName)
    : d(std::make_unique<Impl>(device)) {
    const auto* file = qobject_cast<QFile*>(device);
    d->fileName = fileName.isEmpty() && file ? file->fileName() : fileName;
}

CardFileReader::~CardFileReader() = default;

bool CardFileReader::next(Card* card) {
    if (!d->started)
        d->start();
    return d->vcard ? d->vcard->next(card) : d->csv ? d->csv->next(card) : false;
}

CardFileReader::Kind CardFileReader::kind() const {
    return d->kind;
}

const QList<Skipped>& CardFileReader::skipped() const {
    return d->skipped;
}

QString CardFileReader::uid() const {
    return d->vcard ? d->vcard->uid() : QString();
}

CardPhoto CardFileReader::photo() const {
    return d->vcard ? d->vcard->photo() : CardPhoto();
}

qint64 CardFileReader::bytesRead() const {
    return d->source.bytesConsumed();
}

qint64 CardFileReader::bytesTotal() const {
    return d->source.bytesTotal();
}

std::unique_ptr<QFile> openForReading(const QString& path) {
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    // Opened without waiting (a pipe with no writer would hold the open for good), looked
    // at, and read only when it is a plain file: a device or a pipe may never end.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        fail(
            QStringLiteral("无法打开文件“%1”。请检查文件是否存在、是否有权限读取。\n(%2)")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(QStringLiteral("“%1”不是普通文件（是文件夹、管道或设备），不能从它导入名片。请选择"
                            "通讯录或表格程序导出的 vCard（.vcf）或 CSV 文件。")
                 .arg(QDir::toNativeSeparators(path)));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fail(QStringLiteral("无法打开文件“%1”。请检查文件是否存在、是否有权限读取。\n(%2)")
                 .arg(QDir::toNativeSeparators(path), file->errorString()));
    }
#else
    if (!QFileInfo(path).isFile() || !file->open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法打开文件“%1”。请检查文件是否存在、是否是普通文件、是否有权限"
                            "读取。\n(%2)")
                 .arg(QDir::toNativeSeparators(path), file->errorString()));
#endif
    return file;
}

QString importSummary(int added, const QList<Skipped>& skipped, int listed, int duplicates) {
    QString text = QStringLiteral("已添加 %1 张名片。").arg(added);
    if (duplicates > 0)
        text += QStringLiteral("\n已跳过 %1 张已有的名片。").arg(duplicates);
    auto list = [&](bool imported, const QString& head) {
        QList<Skipped> some;
        for (const Skipped& s : skipped) {
            if (s.imported == imported)
                some << s;
        }
        if (some.isEmpty())
            return;
        text += head.arg(some.size());
        for (int i = 0; i < some.size() && i < listed; ++i)
            text += QLatin1Char('\n') + some[i].text();
        if (some.size() > listed)
            text += QStringLiteral("\n……另有 %1 处未列出。").arg(some.size() - listed);
    };
    list(true, QStringLiteral("\n有 %1 处请核对："));
    list(false, QStringLiteral("\n有 %1 处没有导入："));
    return text;
}

} // namespace Exchange

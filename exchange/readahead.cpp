#include "readahead.h"

#include "core/error.h"
#include "data/sqlite.h"

#include <QFile>

namespace Exchange {

namespace {

// Handed over a batch at a time: one lock for a few hundred cards.
constexpr std::size_t kBatchCards = 256;
// Pictures make a batch heavy: it goes sooner.
constexpr qsizetype kBatchPictureBytes = 1 << 20;
constexpr std::size_t kBatchesAhead = 3;

struct Stopped {};

} // namespace

ReadAhead::ReadAhead(const QStringList& files, Hash hash, bool photos)
    : m_files(files)
    , m_hash(std::move(hash))
    , m_photos(photos)
    , m_thread([this] { read(); }) {}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ReadAhead::hand(std::vector<Entry>& batch) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kBatchesAhead; });
    if (m_stop)
        throw Stopped();
    m_ready.push_back(std::move(batch));
    batch = {};
    lock.unlock();
    m_changed.notify_all();
}

void ReadAhead::read() {
    std::vector<Entry> batch;
    try {
        try {
            qint64 before = 0; // bytes of the files already read
            qsizetype pictureBytes = 0;
            for (const QString& file : m_files) {
                std::unique_ptr<QFile> device;
                try {
                    device = openForReading(file);
                } catch (const EError& e) {
                    // The reason names the file.
                    throw EError(QStringLiteral("文件无法导入，没有添加任何名片：\n") +
                                 e.message());
                }
                CardFileReader reader(device.get(), file);
                for (;;) {
                    Entry entry;
                    try {
                        if (!reader.next(&entry.card))
                            break;
                    } catch (const EError& e) {
                        // The reader that failed names the line; the file is named here.
                        throw EError(QStringLiteral("文件无法导入，没有添加任何名片：\n%1\n%2")
                                         .arg(Sqlite::native(file), e.message()));
                    }
                    if (m_hash)
                        entry.hash = m_hash(entry.card);
                    entry.uid = reader.uid();
                    if (m_photos)
                        entry.photo = reader.photo();
                    entry.bytes = before + reader.bytesRead();
                    pictureBytes += entry.photo.bytes.size();
                    batch.push_back(std::move(entry));
                    if (batch.size() >= kBatchCards || pictureBytes >= kBatchPictureBytes) {
                        hand(batch);
                        pictureBytes = 0;
                    }
                }
                before += reader.bytesTotal();
                Entry end;
                end.kind = Entry::Kind::FileEnd;
                end.file = file;
                end.notes = reader.skipped();
                end.bytes = before;
                batch.push_back(std::move(end));
            }
        } catch (const Stopped&) {
            throw;
        } catch (...) {
            Entry failed;
            failed.kind = Entry::Kind::Error;
            failed.error = std::current_exception();
            batch.push_back(std::move(failed));
        }
        if (!batch.empty())
            hand(batch);
    } catch (const Stopped&) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();
}

bool ReadAhead::next(Entry* entry) {
    if (m_at >= m_taking.size()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_ready.empty() || m_done; });
        if (m_ready.empty())
            return false;
        m_taking = std::move(m_ready.front());
        m_ready.pop_front();
        m_at = 0;
        lock.unlock();
        m_changed.notify_all();
    }
    *entry = std::move(m_taking[m_at++]);
    return true;
}

} // namespace Exchange

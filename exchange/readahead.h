#pragma once

#include "cardfilereader.h"

#include <QStringList>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Exchange {

/// Reads the cards of files on a thread of its own while the caller writes the cards it read
/// before: an import then parses and writes at once. A few hundred cards wait at most.
class ReadAhead {
public:
    struct Entry {
        enum class Kind { Card, FileEnd, Error } kind = Kind::Card;
        Card card;
        quint64 hash = 0; ///< of the card, by `hash`
        QString uid;
        CardPhoto photo;
        qint64 bytes = 0;     ///< of all the files read up to here
        QString file;         ///< at a FileEnd, the file that ended
        QList<Skipped> notes; ///< at a FileEnd, its entries left out
        std::exception_ptr error;
    };
    using Hash = std::function<quint64(const Card& card)>;

    /// Starts reading `files` in turn. `hash` runs on the reading thread; `photos` keeps the
    /// cards' pictures.
    ReadAhead(const QStringList& files, Hash hash, bool photos);
    /// Stops the reading, wherever it is.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    /// The next card, the end of a file, or a file that could not be read (its error says
    /// why, naming the file, as the import reports it); false after the last file.
    bool next(Entry* entry);

private:
    void read();
    void hand(std::vector<Entry>& batch);

    const QStringList m_files;
    const Hash m_hash;
    const bool m_photos;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::vector<Entry>> m_ready;
    std::vector<Entry> m_taking; // the batch being handed out
    std::size_t m_at = 0;
    bool m_done = false, m_stop = false;
    std::thread m_thread;
};

} // namespace Exchange

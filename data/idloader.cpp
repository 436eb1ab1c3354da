#include "idloader.h"

#include "core/error.h"

#include <algorithm>
#include <chrono>

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace {

// Batches grow, so that the rows come soon and in few hand-overs.
const qsizetype kFirstBatch = 1024;
const qsizetype kLargestBatch = 65536;
// A slow statement (a search over a large table) still hands over what it found this often.
const auto kHandEvery = std::chrono::milliseconds(100);

const qsizetype kNobodyWaits = std::numeric_limits<qsizetype>::max();
// The program's allocator maps blocks of 1 MB and more of their own (Platform::TApplication).
const qsizetype kHeapIds = 1024 * 1024 / qsizetype(sizeof(qint64));

#ifdef __linux__
const int kRestNiceness = 10;
#endif

std::function<void(const std::atomic<bool>&)> g_beforeTheRest;

} // namespace

void IdLoader::setBeforeTheRestForTesting(std::function<void(const std::atomic<bool>&)> hook) {
    g_beforeTheRest = std::move(hook);
}

IdLoader::IdLoader(const QString& file, const QByteArray& statement, const QVariantList& parameters,
                   qsizetype firstRows, std::function<void()> ready)
    : m_file(file)
    , m_ready(std::move(ready))
    , m_wanted(kNobodyWaits) {
    // The first rows on the caller's thread: it needs them now, and a thread of its own
    // would first have to be given a processor. The connection is used here, then by the
    // thread alone: it needs no lock for each step.
    int rc = m_db.open(file, Sqlite::OpenMode::ReadOnly, true);
    m_reader = m_db.get();
    if (rc == SQLITE_OK)
        rc = m_statement.prepare(m_db.get(), "SELECT \"ID\" FROM (\n" + statement + "\n)");
    const int count = qMin(int(parameters.size()), m_statement.parameterCount());
    for (int i = 0; rc == SQLITE_OK && i < count; ++i)
        rc = m_statement.bind(i + 1, parameters.at(i));
    if (rc != SQLITE_OK) {
        end(rc);
        return;
    }
    m_step = [this](QVector<qint64>& out, qsizetype max) {
        for (qsizetype i = 0; i < max; ++i) {
            const int rc = m_statement.step();
            if (rc != SQLITE_ROW)
                return rc;
            out.append(m_statement.int64(0));
        }
        return SQLITE_ROW;
    };
    if (read(firstRows, false))
        hand(m_batch, false);
}

IdLoader::IdLoader(const QString& file, const Source& source, qsizetype firstRows,
                   std::function<void()> ready)
    : m_file(file)
    , m_ready(std::move(ready))
    , m_wanted(kNobodyWaits) {
    const int rc = m_db.open(file, Sqlite::OpenMode::ReadOnly, true);
    m_reader = m_db.get();
    if (rc != SQLITE_OK) {
        end(rc);
        return;
    }
    begin(source, firstRows);
}

IdLoader::IdLoader(sqlite3* reader, const Source& source, qsizetype firstRows,
                   std::function<void()> ready)
    : m_file(QString::fromUtf8(sqlite3_db_filename(reader, "main")))
    , m_reader(reader)
    , m_ready(std::move(ready))
    , m_wanted(kNobodyWaits) {
    begin(source, firstRows);
}

void IdLoader::begin(const Source& source, qsizetype firstRows) {
    try {
        m_step = source(m_reader);
    } catch (const EError& e) {
        end(SQLITE_ERROR, e.message());
        return;
    }
    if (read(firstRows, false))
        hand(m_batch, false);
}

void IdLoader::start() {
    if (m_started)
        return;
    m_started = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended)
            return;
    }
    // From here on the hand-overs come from the thread: announce them.
    m_announce = true;
    m_thread = std::thread(&IdLoader::run, this);
}

IdLoader::~IdLoader() {
    m_stop = true;
    if (m_thread.joinable()) {
        sqlite3_interrupt(m_reader);
        m_thread.join();
    }
    // A borrowed connection is left as found: no statement of ours holds its read lock.
    m_step = nullptr;
    m_statement.reset();
}

bool IdLoader::read(qsizetype rows, bool handOver) {
    using Clock = std::chrono::steady_clock;
    qsizetype target = kFirstBatch;
    Clock::time_point handed = Clock::now();
    for (qsizetype read = 0; read < rows;) {
        if (m_stop) {
            end(SQLITE_INTERRUPT);
            return false;
        }
        if (m_batch.isEmpty())
            m_batch.reserve(handOver ? target : qMin(rows, kLargestBatch));
        const qsizetype before = m_batch.size();
        int rc = SQLITE_ERROR;
        QString why;
        try {
            // A thousand rows between looks at the stop flag and the clock.
            rc = m_step(m_batch, qMin<qsizetype>(rows - read, 1024));
        } catch (const EError& e) {
            why = e.message();
        }
        read += m_batch.size() - before;
        if (rc != SQLITE_ROW) {
            if (m_stop)
                end(SQLITE_INTERRUPT);
            else
                end(rc, why);
            return false;
        }
        if (!handOver)
            continue;
        // Only this thread changes m_count.
        if (m_batch.size() >= target || m_count + m_batch.size() >= m_wanted.load()) {
            hand(m_batch, false);
            target = std::min(target * 2, kLargestBatch);
            handed = Clock::now();
        } else if (!m_batch.isEmpty() && Clock::now() - handed > kHandEvery) {
            hand(m_batch, false);
            handed = Clock::now();
        }
    }
    return true;
}

void IdLoader::run() {
#ifdef __linux__
    // The rest is not waited for: the window's own thread, painting what is known, comes
    // first on a busy machine. Linux gives this thread alone the lower priority.
    setpriority(PRIO_PROCESS, 0, kRestNiceness);
#endif
    if (g_beforeTheRest)
        g_beforeTheRest(m_stop);
    if (m_stop)
        end(SQLITE_INTERRUPT);
    else
        read(kNobodyWaits, true);
}

void IdLoader::end(int rc, const QString& message) {
    const QString why = rc == SQLITE_DONE    ? QString()
                        : !message.isEmpty() ? message
                                             : Sqlite::errorText(m_reader, rc, m_file);
    // The read lock goes with the statements.
    m_statement.reset();
    m_step = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_result = rc;
        m_errorText = why;
    }
    hand(m_batch, true);
}

void IdLoader::hand(QVector<qint64>& batch, bool end) {
    bool announce = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_count += batch.size();
        if (!batch.isEmpty())
            m_handed.push_back(std::move(batch));
        m_ended = m_ended || end;
        // The end is always told: nobody need wait for a later hand-over that never comes.
        announce = !m_announced || end;
        m_announced = true;
    }
    batch.clear();
    m_changed.notify_all();
    if (announce && m_announce && m_ready && !m_stop)
        m_ready();
}

bool IdLoader::takeUntil(QVector<qint64>& ids, qsizetype count) {
    start();
    // A long list is taken as it comes: left to pile up until the last, its batches held as
    // much memory again as the list itself. A short one is taken at once, its room made once.
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_handed.empty() && !m_ended && m_count >= count)
                return false;
            m_wanted = count;
            m_changed.wait(lock, [&] {
                return m_ended || m_count >= count || (!m_handed.empty() && m_count >= kHeapIds);
            });
            m_wanted = kNobodyWaits;
        }
        if (take(ids))
            return true;
    }
}

bool IdLoader::take(QVector<qint64>& ids) {
    std::vector<QVector<qint64>> batches;
    bool ended = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        batches.swap(m_handed);
        m_announced = false;
        ended = m_ended;
    }
    qsizetype count = ids.size();
    for (const QVector<qint64>& batch : batches)
        count += batch.size();
    // A list the heap holds gets its room once, exactly, as the heap gives it back to the next
    // list; a larger one, in blocks the system maps, grows by reallocation, which moves its
    // pages instead of copying them beside the old ones at every take. Each batch is let go
    // of as soon as it is copied.
    if (count > ids.capacity() && count < kHeapIds)
        ids.reserve(count);
    for (QVector<qint64>& batch : batches) {
        ids += batch;
        batch = QVector<qint64>();
    }
    return ended;
}

bool IdLoader::ended() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

int IdLoader::result() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_result;
}

QString IdLoader::errorText() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errorText;
}

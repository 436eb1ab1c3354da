#pragma once

#include <QString>

#include <atomic>
#include <functional>

namespace Core {

/// How far a long operation is, and whether the user asked it to stop. The work moves it
/// through named phases and counts its steps; whoever shows it listens. The work may run on
/// another thread than the one that cancels.
class Progress {
public:
    /// The stages of the long operations, each with the text a progress dialog shows.
    enum class Phase {
        Importing,     ///< cards read from files and added
        Filing,        ///< cards just added filed for the quick find
        Exporting,     ///< cards written to a file
        Indexing,      ///< the quick find's index built for a file that has none
        Recognizing,   ///< a card read from a picture, in percent
        SyncChecking,  ///< the address book's changes asked for
        SyncReceiving, ///< the server's new and changed cards taken in
        SyncSending,   ///< this side's changes written to the server
    };
    /// Told of every step, on the thread of the work.
    using Listener = std::function<void(const Progress& progress)>;

    explicit Progress(Phase phase, qint64 total = 0)
        : m_phase(phase)
        , m_total(total) {}
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Set before the work starts.
    void setListener(Listener listener) { m_listener = std::move(listener); }

    // Inline: the recognition module, loaded at run time, calls them from the program.
    /// Moves on to another phase of `total` steps, none of them done.
    void begin(Phase phase, qint64 total) {
        m_total = total;
        m_done = 0;
        m_phase = phase;
    }
    /// `done` steps of the phase are done (a smaller count than before changes nothing);
    /// tells the listener. False once the operation is cancelled.
    bool advance(qint64 done) {
        qint64 old = m_done.load();
        while (done > old && !m_done.compare_exchange_weak(old, done)) {
        }
        if (m_listener)
            m_listener(*this);
        return !cancelled();
    }

    /// Asks the work to stop at its next step; from any thread.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }

    Phase phase() const { return m_phase; }
    qint64 done() const { return m_done; }
    qint64 total() const { return m_total; }

    /// What the user is told while the phase lasts.
    static QString text(Phase phase);

private:
    std::atomic<Phase> m_phase;
    std::atomic<qint64> m_total;
    std::atomic<qint64> m_done{0};
    std::atomic<bool> m_cancelled{false};
    Listener m_listener;
};

} // namespace Core

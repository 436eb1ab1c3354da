// quembe-bench's quick find, typed into its input over the whole list. A Chinese word arrives
// whole, as an input method commits it; letters and digits are keys, and the time is that of
// the key that completes the word. Each time runs to the painted grid.
#include "scenarios.h"

#include "testcards.h"

#include "data/adoquery.h"
#include "mainwindow/VELMORA.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QLineEdit>

#include <sqlite3.h>

#include <ctime>

namespace Bench {

std::vector<QString> quickFindWords() {
    return {QString::fromUtf8(CardGenerator::commonSurname()), QStringLiteral("zs"),
            QStringLiteral("3721"), QStringLiteral("科技"), QStringLiteral("股份有限公司")};
}

namespace {

/// Processor time of this thread: what a step cost the window's own thread, whatever the load.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

bool isChinese(const QString& text) {
    return text.front().unicode() >= 0x2E80;
}

/// The cards the shell's LIKE finds: the quick find must find at least those.
long likeHits(const QString& database, const QString& word) {
    sqlite3* db = nullptr;
    long n = -1;
    if (sqlite3_open_v2(database.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK)
        n = long(scalar(db, "select count(*) from zl where " + likeCondition(word.toStdString())));
    sqlite3_close(db);
    return n;
}

/// Counts the paints of the grid's rows.
class Paints : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

/// The input of the quick find, typed into as a user types.
class QuickInput {
public:
    explicit QuickInput(const Context& c)
        : m_c(c)
        , m_edit(FrmMain->EditKSCZ) {
        FrmMain->DBGrid1->viewport()->installEventFilter(&m_paints);
    }
    ~QuickInput() { FrmMain->DBGrid1->viewport()->removeEventFilter(&m_paints); }

    void key(QChar c) {
        const char a = c.toLatin1();
        const int code = a >= 'a' && a <= 'z'   ? Qt::Key_A + (a - 'a')
                         : a >= '0' && a <= '9' ? Qt::Key_0 + (a - '0')
                                                : Qt::Key_unknown;
        const int before = m_paints.count;
        sendKey(m_edit, code, Qt::NoModifier, QString(c));
        repaint();
        checkPainted(before);
    }
    /// Everything of the word but its last key, untimed.
    void start(const QString& text) {
        if (!isChinese(text)) {
            for (QChar c : text.chopped(1))
                key(c);
        }
    }
    /// The key that completes the word, or the input method's commit of a Chinese one.
    void end(const QString& text) {
        if (isChinese(text)) {
            const int before = m_paints.count;
            QInputMethodEvent event;
            event.setCommitString(text);
            QCoreApplication::sendEvent(m_edit, &event);
            repaint();
            checkPainted(before);
        } else {
            key(text.back());
        }
    }
    void checkListed(const std::string& step, const QString& text) const {
        checkNoBox(m_c, step.c_str());
        expect(m_edit->text() == text,
               step + ": the quick-find input holds \"" + m_edit->text().toStdString() + "\"");
        expect(FrmMain->modeMarker() == QStringLiteral("查询"),
               step + ": the list is not a search result");
    }
    void empty() {
        sendKey(m_edit, Qt::Key_Escape, Qt::NoModifier);
        repaint();
        checkNoBox(m_c, "Esc in the quick find");
        expect(m_edit->text().isEmpty(), "Esc: the quick find still holds text");
        allListed(m_c, "Esc in the quick find");
    }

private:
    /// A key's time ends with the grid painted: a list reopened and never shown is no answer.
    void checkPainted(int before) const {
        expect(m_paints.count > before, "quick find '" + m_edit->text().toStdString() +
                                            "': the grid was not painted after the key");
    }

    const Context& m_c;
    QLineEdit* m_edit;
    Paints m_paints;
};

} // namespace

void quickFind(Context& c) {
    struct Word {
        QString text;
        std::size_t shellQuery;
        std::vector<double> ms = {}, cpu = {};
        int hits = -1;
        long likeHits = -1;
    };
    std::vector<Word> words;
    for (const QString& w : quickFindWords())
        words.push_back({w, c.shellQuick[words.size()]});
    TADOQuery* list = FrmMain->ADOQuery1;
    QuickInput input(c);
    const int quickRuns = qEnvironmentVariableIsSet("QUEMBE_BENCH_RUNS") ? c.runs : 7;
    input.empty();
    resetPeak();
    // The first quick find after the window opened also checks the index against zl once.
    const QString firstWord = words.front().text;
    Clock::time_point start = Clock::now();
    const double cpuBeforeFirst = threadCpuMs();
    input.end(firstWord);
    const double tFirst = lap("quickFirst", start);
    const double cpuFirst = threadCpuMs() - cpuBeforeFirst;
    input.checkListed("the first quick find", firstWord);
    for (Word& w : words) {
        const std::string step = "quick find '" + w.text.toStdString() + "'";
        // One untimed run first: the words' pages in the cache, as after a few keys.
        input.empty();
        input.start(w.text);
        input.end(w.text);
        for (int i = 0; i < quickRuns; ++i) {
            input.empty();
            input.start(w.text);
            start = Clock::now();
            const double cpu = threadCpuMs();
            input.end(w.text);
            w.ms.push_back(lap("quickFind", start));
            w.cpu.push_back(threadCpuMs() - cpu);
            input.checkListed(step, w.text);
        }
        w.hits = list->RecordCount();
        w.likeHits = likeHits(c.database, w.text);
    }
    // "zhangs" one key at a time, each key to the painted grid.
    const QString spelled = QStringLiteral("zhangs");
    std::vector<std::vector<double>> perKey(std::size_t(spelled.size())),
        perKeyCpu(std::size_t(spelled.size()));
    std::vector<int> perKeyHits(std::size_t(spelled.size()), 0);
    for (int i = 0; i < quickRuns; ++i) {
        input.empty();
        for (int k = 0; k < spelled.size(); ++k) {
            start = Clock::now();
            const double cpu = threadCpuMs();
            input.key(spelled[k]);
            perKey[std::size_t(k)].push_back(lap("quickKey", start));
            perKeyCpu[std::size_t(k)].push_back(threadCpuMs() - cpu);
            input.checkListed("typing \"zhangs\"", spelled.left(k + 1));
            perKeyHits[std::size_t(k)] = list->RecordCount();
        }
    }
    input.empty();
    c.markMemory("after the quick finds");
    const long peakKb = statusKb("VmHWM");
    // For scale: the whole window painted into a picture, everything drawn once.
    const std::vector<double> tPaintAlone =
        measure("paint", quickRuns, [] { (void)FrmMain->grab(); });

    // One frame at 60 Hz up to 100,000 cards, two at more; a long phrase three.
    const bool many = c.cards > 100000;
    const double limit = many ? 33 : 16;
    c.rows.push_back(
        under("6 first quick find '" + firstWord.toStdString() + "' (one run)", tFirst, limit));
    for (const Word& w : words) {
        const std::string step =
            "6 quick find '" + w.text.toStdString() + "' (" + std::to_string(w.hits) + " hits)";
        c.rows.push_back(
            besideShell(under(step, median(w.ms), many && w.text.size() > 4 ? 50 : limit),
                        "shell, LIKE in 24 columns", c.shell[w.shellQuery]));
    }
    for (int k = 0; k < spelled.size(); ++k)
        c.rows.push_back(under("6 typing, key " + std::to_string(k + 1) + " '" +
                                   spelled.left(k + 1).toStdString() + "' (" +
                                   std::to_string(perKeyHits[std::size_t(k)]) + " hits)",
                               median(perKey[std::size_t(k)]), limit));
    c.rows.push_back(under("6 quick find, peak RSS (MB)", peakKb / 1024.0, 150, "MB"));
    c.rows.push_back(reference("  the whole window painted (grab)", median(tPaintAlone)));

    c.note("first quick find '%s': %.1f ms (processor time of the window's thread: %.1f)",
           qPrintable(firstWord), tFirst, cpuFirst);
    for (const Word& w : words) {
        c.noteLater([w, shell = &c.shell[w.shellQuery]] {
            return "runs, quick find '" + w.text.toStdString() + "': " + runsOf(w.ms) +
                   " (processor time of the window's thread: " + runsOf(w.cpu) + ")" +
                   "; shell LIKE over the 24 columns: " + runsOf(shell->times) + " (" +
                   std::to_string(w.likeHits) + " hits)";
        });
    }
    for (const Word& w : words) {
        // Every card LIKE finds holds the word as it is typed; the quick find finds more
        // (pinyin, initials, phone digits), never fewer.
        if (w.hits < w.likeHits || (isChinese(w.text) && w.hits != w.likeHits))
            c.note("WARNING: the quick find lists %d cards for '%s', the shell's LIKE finds %ld",
                   w.hits, qPrintable(w.text), w.likeHits);
    }
    for (int k = 0; k < spelled.size(); ++k)
        c.note("runs, typing '%s': %s (processor time of the window's thread: %s)",
               qPrintable(spelled.left(k + 1)), runsOf(perKey[std::size_t(k)]).c_str(),
               runsOf(perKeyCpu[std::size_t(k)]).c_str());
}

} // namespace Bench

// Finding cards as you type: the list narrows at every key, by text, pinyin, initials or
// phone digits, over the whole list like the panel's search.
#include "quickfindpanel.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/sqlite.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "quickfind/cardindex.h"
#include "quickfind/finder.h"
#include "quickfind/quickfind.h"
#include "quickfind/spelling.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

namespace {

// Room between the link label and the input.
const int kGap = 6;
// The finds' own cache: the index blocks and cards a few keys in a row read again.
const char* const kReaderCache = "PRAGMA cache_size=-8192";
// How long the work ahead of the finds gives way to a key: its list found and painted.
const auto kGiveWayFor = std::chrono::milliseconds(150);

std::int64_t steadyNow() {
    return std::chrono::steady_clock::now().time_since_epoch().count();
}

} // namespace

QuickFindPanel::QuickFindPanel(const Window& window)
    : QObject(window.window)
    , m_window(window) {
    setObjectName(QStringLiteral("QuickFindPanel"));
    QLineEdit* input = m_window.input;
    // Typed into on purpose, never the first stop: the grid keeps the focus at start.
    QWidget::setTabOrder(m_window.grid, input);
    m_window.strip->installEventFilter(this);
    input->installEventFilter(this);
    input->setToolTip(
        QStringLiteral("输入后列表随即缩小。可以输入：任何一栏中的一段文字（繁体、简体都可以）；"
                       "姓名或单位的全拼、首字母或全拼加首字母（zhangsan、zs、zhangsf；"
                       "zh、ch、sh 要打全）；电话号码，怎样写都可以（010-62751234、"
                       "138.1234.5678）。几个词用空格隔开，每个都要找到。\n"
                       "↓ 或回车：到列表的第一张；Esc：清空，列出全部名片。"));
    m_count = new QLabel(m_window.strip);
    m_count->setObjectName(QStringLiteral("LabelKSCZ"));
    m_count->hide();
    place();
    auto recount = [this] {
        if (!m_count->isHidden() && m_window.cards->IdStream)
            showCount(true);
    };
    connect(m_window.cards, &TADOQuery::rowsAppended, this, recount);
    connect(m_window.cards, &TADOQuery::loadEnded, this, recount);
    connect(input, &QLineEdit::textEdited, this,
            [this](const QString&) { Platform::guarded([this] { narrowList(); })(); });
    // Begun while the password is typed: nobody finds anything before that. A key stops it,
    // so that the key has the processor to itself; it goes on once the key is answered.
    m_spelling = std::async(std::launch::async, [this] {
        do {
            m_stopSpelling = false;
            if (m_closing)
                break;
            giveWay();
            QuickFind::prepareSpelling(m_stopSpelling);
        } while (m_stopSpelling && !m_closing);
    });
    // An older file gets its index once the window is up, not while the list is drawn; a file
    // that has one has it checked on a thread meanwhile.
    QTimer::singleShot(0, this, [this] {
        QTimer::singleShot(0, this, Platform::guarded([this] { prepareEarly(); }));
    });
}

QuickFindPanel::~QuickFindPanel() {
    m_closing = true;
    m_stopSpelling = true;
    if (m_spelling.valid())
        m_spelling.wait();
}

void QuickFindPanel::giveWay() const {
    while (!m_closing && steadyNow() < m_answeringUntil.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void QuickFindPanel::waitForCheck() {
    if (m_indexCheck.valid())
        m_indexCheck.wait();
}

void QuickFindPanel::finishCheck() {
    if (m_indexCheck.valid())
        m_indexCheck.get();
}

bool QuickFindPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.input && event->type() == QEvent::KeyPress &&
        useKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    if (watched == m_window.strip && event->type() == QEvent::Resize)
        place();
    return QObject::eventFilter(watched, event);
}

void QuickFindPanel::prepareEarly() {
    TADOConnection* connection = m_window.connection;
    if (!connection->Connected())
        return;
    // Only a head start, which nobody asked for: a file another program holds right now gets
    // no error box here. The first find does the same work and says what is wrong.
    try {
        if (!QuickFind::isBuilt(connection->handle()))
            prepare(false);
        else if (!m_repaired && !m_indexCheck.valid())
            m_indexCheck =
                CardIndex::checkInBackground(connection->databaseFile(), [this] { giveWay(); });
    } catch (const EError&) {
    }
}

void QuickFindPanel::place() {
    QWidget* strip = m_window.strip;
    // From the end of the link label to the end of the strip.
    const int left = m_window.link->x() + m_window.link->width() + kGap;
    int right = strip->width() - 1;
    if (m_count && !m_count->isHidden()) {
        m_count->adjustSize();
        right -= m_count->width() + kGap;
        m_count->move(right + kGap, (strip->height() - m_count->height()) / 2);
    }
    m_window.input->setGeometry(left, 1, qMax(40, right - left), 17);
}

void QuickFindPanel::showCount(bool shown) {
    // While the rest are still being found, what is known so far.
    TADOQuery* cards = m_window.cards;
    if (shown)
        m_count->setText(cards->Loading()
                             ? QStringLiteral("已找到 %1 张…").arg(cards->LoadedCount())
                             : QStringLiteral("共 %1 张").arg(cards->RecordCount()));
    m_count->setVisible(shown);
    place();
}

void QuickFindPanel::clear() {
    const QSignalBlocker quiet(m_window.input);
    m_window.input->clear();
    showCount(false);
}

bool QuickFindPanel::useKey(int key) {
    if (key == Qt::Key_Escape) {
        Platform::guarded([this] { showAll(); })();
        return true;
    }
    // Down or Enter: on to the first card listed, to be read or opened with Enter.
    TADOQuery* cards = m_window.cards;
    if ((key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) && cards->Active() &&
        !cards->IsEmpty()) {
        Platform::guarded([this, cards] {
            cards->First();
            m_window.grid->setFocus(Qt::ShortcutFocusReason);
        })();
        return true;
    }
    return false;
}

void QuickFindPanel::prepare(bool repair) {
    TADOConnection* connection = m_window.connection;
    connection->Open();
    sqlite3* db = connection->handle();
    const bool build = !QuickFind::isBuilt(db);
    if (!build && (!repair || m_repaired))
        return;
    m_unchecked = false;
    if (!build && m_indexCheck.valid()) {
        // Not waited for: until it has answered, a find reads what the index cannot vouch for.
        if (m_indexCheck.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            m_unchecked = true;
            return;
        }
        if (m_indexCheck.get()) {
            m_repaired = true; // the check found nothing to bring in line
            return;
        }
    }
    // Both write to the file: the list's own reading must be done first.
    connection->finishReading();
    // Shown only while the index is built, which tells how many cards there are first.
    Core::Progress work(Core::Progress::Phase::Indexing);
    std::optional<Platform::Progress> progress;
    const bool ready = QuickFind::ensureReady(db, [&](qint64 done, qint64 total) {
        if (!progress) {
            work.begin(Core::Progress::Phase::Indexing, qMax<qint64>(1, total));
            progress.emplace(m_window.window, work);
        }
        return work.advance(done);
    });
    if (!ready) {
        Platform::showMessage(QStringLiteral("快速查找的整理已取消。快速查找仍然可以用，只是在很多"
                                             "名片中查找会慢一些；下次打开本程序时会再整理。"));
        return;
    }
    m_repaired = true;
}

std::shared_ptr<Sqlite::Database> QuickFindPanel::reader() {
    const QString file = m_window.connection->databaseFile();
    if (m_reader && m_reader->file() == file)
        return m_reader;
    auto reader = std::make_shared<Sqlite::Database>();
    if (reader->open(file, Sqlite::OpenMode::ReadOnly, true) != SQLITE_OK ||
        reader->exec(kReaderCache) != SQLITE_OK)
        return m_reader = nullptr;
    return m_reader = reader;
}

void QuickFindPanel::focusInput() {
    m_window.checkFocusMayLeave();
    m_window.input->setFocus(Qt::ShortcutFocusReason);
    m_window.input->selectAll();
}

void QuickFindPanel::narrowList() {
    TADOQuery* cards = m_window.cards;
    const QString text = m_window.input->text();
    if (text.trimmed().isEmpty()) {
        // Emptied by the user: all cards again, as "返        回" gives them.
        if (cards->IdStream)
            m_window.showAllCards();
        return;
    }
    // The work ahead of the finds waits meanwhile: on a busy machine it took the processor
    // from the first keys.
    m_answeringUntil =
        steadyNow() +
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(kGiveWayFor).count();
    m_stopSpelling = true;
    // Looking somebody up while a card is being added or modified narrows the list behind
    // the editor; the card being modified stays listed, so that its save finds it.
    qint64 editing = 0;
    const bool keepEditor = m_window.editorHoldsChanges(&editing);
    prepare(true);
    cards->Close();
    cards->SQL.Clear();
    cards->SQL.Add(QStringLiteral("select * from zl"));
    cards->Parameters.clear();
    // The first screen from the first matches; the rest are found on a thread meanwhile.
    cards->IdStream = [text, editing, unchecked = m_unchecked](sqlite3* db, sqlite3* reader) {
        const auto listing = std::make_shared<QuickFind::Listing>(
            reader, text, QuickFind::isBuilt(db) && (unchecked || QuickFind::writtenSinceCheck(db)),
            editing);
        return [listing](QVector<qint64>& ids, qsizetype count) {
            return listing->next(ids, count) ? SQLITE_ROW : SQLITE_DONE;
        };
    };
    cards->IdStreamReader = [reader = reader()] { return reader ? reader->get() : nullptr; };
    cards->Open();
    showCount(true);
    // Otherwise the list is a search result, as the panel's search leaves it.
    m_window.showResult(keepEditor);
}

void QuickFindPanel::showAll() {
    if (!m_window.input->text().isEmpty() || m_window.cards->IdStream)
        m_window.showAllCards();
}

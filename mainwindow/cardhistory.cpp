#include "cardhistory.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "dialogs/historydialog.h"
#include "duplicates/follow.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "platform/window.h"
#include "quickfind/cardindex.h"

#include <QAbstractItemView>
#include <QAction>
#include <QMenu>

#include <optional>

CardHistory::CardHistory(QWidget* window, QMenu* menu, TADOConnection* connection, TADOQuery* cards,
                         QAbstractItemView* grid)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards) {
    setObjectName(QStringLiteral("CardHistory"));
    // Cards put back follow as the list's writes do; the duplicate keys too.
    m_follow = [own = cards->WriteHook](sqlite3* db, const QString& table, qint64 id,
                                        RowWrite write) {
        if (own)
            own(db, table, id, write);
        else
            CardIndex::rowWritten(db, table, id, write);
        Duplicates::followKeys(db, table, id, write);
    };
    m_recorder = History::recordWrites(cards);
    // A save of the recognised card, or its refusal, ends its word.
    connect(cards, &TADOQuery::stateChanged, this, [this] {
        if (m_cards->state() != TADOQuery::dsBrowse)
            return;
        const qint64 saved = m_recorder->addedWithVerb();
        m_recorder->setAddVerb(QString());
        if (saved)
            emit recognisedCardSaved(saved);
    });

    QAction* item = menu->addAction(QStringLiteral("撤销...  &Z"));
    item->setObjectName(QStringLiteral("HistoryAction"));
    connect(item, &QAction::triggered, this, Platform::guarded([this] { showDialog(); }));
    auto* last = new QAction(QStringLiteral("撤销上一个操作"), grid);
    last->setObjectName(QStringLiteral("HistoryUndoLast"));
    last->setShortcut(QKeySequence::Undo);
    last->setShortcutContext(Qt::WidgetShortcut);
    grid->addAction(last);
    connect(last, &QAction::triggered, this, Platform::guarded([this] { undoLast(); }));
}

CardHistory::~CardHistory() = default;

sqlite3* CardHistory::db() const {
    m_connection->Open();
    return m_connection->handle();
}

void CardHistory::showDialog() {
    if (!m_dialog) {
        HistoryDialog::Source source;
        source.operations = [this] { return History::recent(db()); };
        source.deletedCards = [this] { return History::deletedCards(db()); };
        source.undo = [this](qint64 number) { undo(number); };
        source.restore = [this](qint64 number, qint64 id) { undo(number, id); };
        m_dialog = new HistoryDialog(m_window, std::move(source));
    } else {
        m_dialog->reload();
    }
    Platform::showModal(m_dialog);
}

void CardHistory::undoLast() {
    // Step by step backwards: an operation undone already, or an undo, is passed over.
    for (const History::Entry& entry : History::recent(db(), 200)) {
        if (entry.undone || entry.undoes != 0)
            continue;
        if (Platform::messageBox(m_window,
                                 QStringLiteral("撤销最近的操作“%1”（%2）吗？")
                                     .arg(entry.description,
                                          entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                                 QStringLiteral("撤销"),
                                 Platform::MB_YESNO | Platform::MB_ICONQUESTION) != Platform::IDYES)
            return;
        undo(entry.number);
        return;
    }
    Platform::showMessage(QStringLiteral("没有可以撤销的操作。"));
}

void CardHistory::addingRecognisedCard() {
    m_recorder->setAddVerb(QStringLiteral("识别"));
}

void CardHistory::editorReset() {
    m_recorder->setAddVerb(QString());
}

void CardHistory::undo(qint64 number, qint64 onlyCard) {
    if (m_cards->state() == TADOQuery::dsEdit || m_cards->state() == TADOQuery::dsInsert)
        throw EError(QStringLiteral("正在编辑名片，没有撤销。请先保存或取消这张名片，再撤销。"));
    sqlite3* handle = db();
    // The list's own reading must not hold the file while the cards go back.
    m_connection->finishReading();
    const qint64 current = m_cards->CurrentId();
    // An import of many cards takes a while to go: the bar moves, and it can be stopped.
    std::optional<Platform::Progress> progress;
    bool cancelled = false;
    History::undo(handle, m_connection->databaseFile(), number, m_follow, onlyCard,
                  [&](qint64 done, qint64 total) {
                      if (done % 500 != 0)
                          return true;
                      if (!progress)
                          progress.emplace(m_window, QStringLiteral("正在撤销……"), total);
                      cancelled = !progress->setValue(done);
                      return !cancelled;
                  });
    if (progress)
        progress->close();
    if (cancelled) {
        Platform::showMessage(QStringLiteral("撤销已取消，名片没有改动。"));
        return;
    }
    m_cards->Close();
    m_cards->Open();
    if (!(onlyCard && m_cards->Locate(onlyCard)) && current)
        m_cards->Locate(current);
}

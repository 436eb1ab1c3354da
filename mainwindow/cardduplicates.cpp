// The cards that are one person's: found, shown side by side and merged; asked about before
// a new card repeats someone's mobile number or e-mail address.
#include "cardduplicates.h"

#include "VELMORA.h"
#include "cardeditor.h"
#include "cardtransfer.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "dialogs/duplicatesdialog.h"
#include "duplicates/finder.h"
#include "duplicates/keys.h"
#include "duplicates/merge.h"
#include "exchange/transfer.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "platform/window.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include <optional>

namespace {

const int kCheckAfterMs = 1000;

QString nameOf(const Card& card) {
    return card[Field::Name];
}

} // namespace

CardDuplicates::CardDuplicates(TFrmMain* window, QMenu* menu, TADOConnection* connection,
                               TADOQuery* cards)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards) {
    setObjectName(QStringLiteral("CardDuplicates"));
    m_action = menu->addAction(QStringLiteral("查找重复名片...  &U"));
    m_action->setObjectName(QStringLiteral("ActionFindDuplicates"));
    connect(m_action, &QAction::triggered, this, Platform::guarded([this] { showDuplicates(); }));

    // Each card the list writes has its keys follow in the same transaction.
    auto previous = cards->WriteHook;
    cards->WriteHook = [previous](sqlite3* db, const QString& table, qint64 id, RowWrite write) {
        if (previous)
            previous(db, table, id, write);
        Duplicates::rowWritten(db, table, id, write);
    };

    if (auto* transfer = window->findChild<CardTransfer*>()) {
        transfer->setDuplicates(
            Duplicates::importOptions(),
            [this](const QVector<qint64>& ids) {
                // The cards are in by now; which of them resemble older ones is only a hint,
                // never a reason to withhold the notice that says what was added.
                try {
                    return Duplicates::resemblingOlder(database(), ids);
                } catch (const EError&) {
                    return 0;
                }
            },
            [this] { showDuplicates(); });
    }

    // An older file gets its keys once the window is up. Nobody asked: a file another program
    // holds right now gets no error box here; the next use tries again and says why.
    QTimer::singleShot(0, this, [this] {
        // Only the missing keys: bringing them in line waits for their first use.
        try {
            if (m_connection->Connected() && !Duplicates::hasKeys(database()))
                ensureKeys();
        } catch (const EError&) {
        }
    });
    // Keys that are there are compared with the cards on a thread while the password is
    // typed, after the start's own reading: the first card saved then need not wait for every
    // card to be read.
    QTimer::singleShot(kCheckAfterMs, this, [this] {
        try {
            if (m_connection->Connected() && Duplicates::hasKeys(database()) &&
                !Duplicates::keysInLine(database()) && Duplicates::KeyCheck::worthwhile(database()))
                m_keyCheck = std::make_unique<Duplicates::KeyCheck>(database(),
                                                                    m_connection->databaseFile());
        } catch (const EError&) {
        }
    });
}

CardDuplicates::~CardDuplicates() = default;

void CardDuplicates::waitForCheck() {
    if (m_keyCheck)
        m_keyCheck->wait();
}

void CardDuplicates::connectionClosing() {
    m_keyCheck.reset();
}

TDuplicatesDialog* CardDuplicates::dialog() const {
    return m_dialog;
}

sqlite3* CardDuplicates::database() {
    m_connection->Open();
    return m_connection->handle();
}

void CardDuplicates::ensureKeys() {
    sqlite3* db = database();
    if (m_keysStopped || Duplicates::keysInLine(db))
        return;
    // The list's own reading must not hold the file while the keys are written.
    m_connection->finishReading();
    // Shown only when the keys are made anew, which takes a while at many cards.
    std::optional<Platform::Progress> progress;
    auto tell = [&](qint64 done) {
        if (done % 1000 != 0)
            return true;
        if (!progress)
            progress.emplace(m_window, QStringLiteral("正在为查找重复名片建立索引……"),
                             qMax<qint64>(1, Exchange::cardCount(m_connection->database())));
        return progress->setValue(done);
    };
    // Cancelled, the file stays without keys: duplicates are then found by reading every card,
    // and the next start asks again. Keys there are brought in line with what other programs
    // wrote.
    m_keysStopped = Duplicates::hasKeys(db) ? !Duplicates::catchUpKeys(db, tell)
                                            : !Duplicates::rebuildKeys(db, tell);
}

void CardDuplicates::showResult(qint64 id) {
    // The list is read again so that it shows the merged card, made current.
    m_cards->Close();
    m_cards->Open();
    m_cards->Locate(id);
}

void CardDuplicates::showDuplicates() {
    ensureKeys();
    TDuplicatesDialog::Actions actions;
    actions.load = [this] {
        QVector<TDuplicatesDialog::Group> groups;
        for (const Duplicates::Group& found : Duplicates::findGroups(database())) {
            TDuplicatesDialog::Group g;
            g.cards = Duplicates::cardsOf(database(), found.ids, &g.ids);
            g.certain = found.certain;
            if (g.ids.size() > 1)
                groups.append(g);
        }
        return groups;
    };
    actions.merge = [this](const QVector<qint64>& ids, const QVector<int>& choices) {
        m_connection->finishReading();
        Duplicates::mergeCards(database(), ids, choices);
        showResult(ids.first());
    };
    actions.mergeAllCertain = [this] {
        m_connection->finishReading();
        const QVector<Duplicates::Group> merged = Duplicates::mergeAllCertain(database());
        if (!merged.isEmpty())
            showResult(merged.first().ids.first());
        return int(merged.size());
    };
    delete m_dialog;
    m_dialog = new TDuplicatesDialog(m_window, std::move(actions));
    m_dialog->reload();
    Platform::showModal(m_dialog);
}

bool CardDuplicates::mayAddEditorCard() {
    Card card;
    for (const EditorInput& input : kEditorInputs)
        card[input.field] = m_window->inputText(QString::fromLatin1(input.control));
    ensureKeys();
    sqlite3* db = database();
    // The mobile number first: it names one person more surely than an address.
    Card byMobile = card;
    byMobile[Field::Email].clear();
    QVector<qint64> holders = Duplicates::holdersOfMobileOrEmail(db, byMobile);
    QString what = QStringLiteral("手机号码");
    if (holders.isEmpty()) {
        holders = Duplicates::holdersOfMobileOrEmail(db, card);
        what = QStringLiteral("电子邮件地址");
    }
    if (holders.isEmpty())
        return true;
    const QVector<Card> cards = Duplicates::cardsOf(db, holders.mid(0, 1));
    const QString name = cards.isEmpty() ? QString() : nameOf(cards.first());
    const QString who =
        holders.size() == 1 ? name : QStringLiteral("%1 等 %2 张").arg(name).arg(holders.size());
    const QString question = QStringLiteral("已有名片 %1 使用这个%2，仍然添加吗？").arg(who, what);
    return Platform::messageBox(m_window, question, Platform::applicationTitle(),
                                Platform::MB_YESNO | Platform::MB_ICONQUESTION) == Platform::IDYES;
}

bool CardDuplicates::alreadyHere(const Card& card) {
    ensureKeys();
    const qint64 id = Duplicates::sameCardHere(database(), card);
    if (id == 0)
        return false;
    const QVector<Card> cards = Duplicates::cardsOf(database(), {id});
    m_cards->Open();
    m_cards->Locate(id);
    Platform::showMessage(QStringLiteral("这张名片已经有了：与名片 %1 相同，没有再添加。")
                              .arg(cards.isEmpty() ? QString() : nameOf(cards.first())));
    return true;
}

void CardDuplicates::offerSimilar(qint64 id) {
    Platform::guarded([this, id] {
        if (Duplicates::resemblingOlder(database(), {id}) == 0)
            return;
        if (Platform::messageBox(m_window,
                                 QStringLiteral("名片已保存。它与已有的名片相似，可能是同一个人的。"
                                                "现在查找重复名片吗？"),
                                 Platform::applicationTitle(),
                                 Platform::MB_YESNO | Platform::MB_ICONQUESTION) == Platform::IDYES)
            showDuplicates();
    })();
}

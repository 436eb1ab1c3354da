#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>

namespace Duplicates {
class KeyCheck;
}
struct Card;
struct sqlite3;
class QAction;
class QMenu;
class TADOConnection;
class TADOQuery;
class TDuplicatesDialog;
class TFrmMain;

/// The cards that are one person's, for the window: 数据 → 查找重复名片 and its dialog, the
/// duplicate keys kept in step with the list's writes and imports, the question before a new
/// card that shares a mobile number or e-mail address is saved.
class CardDuplicates : public QObject {
    Q_OBJECT
public:
    /// Adds its item to `menu`; from now on every card `cards` writes has its keys follow.
    CardDuplicates(TFrmMain* window, QMenu* menu, TADOConnection* connection, TADOQuery* cards);
    ~CardDuplicates() override;

    QAction* action() const { return m_action; }
    /// The dialog last opened, while it lives.
    TDuplicatesDialog* dialog() const;

    /// Opens the dialog over the groups found.
    void showDuplicates();
    /// Before the card in the editor is added: when another card has its mobile number or
    /// e-mail address, asks whether to add it all the same. False: the user said no.
    bool mayAddEditorCard();
    /// Before a recognised card goes into the editor: when a card already there says the same
    /// after folding, says so and makes that card current. True: it is there already.
    bool alreadyHere(const Card& card);
    /// A card read from a picture was saved as card `id`: when it resembles an older card,
    /// offers the dialog.
    void offerSimilar(qint64 id);
    /// Makes the keys for a file that has none (an older file, a restored backup), with a
    /// progress dialog.
    void ensureKeys();
    /// Until the comparison of the keys on a thread no longer reads the file.
    void waitForCheck();
    /// The connection closes: a comparison made through it is of no use.
    void connectionClosing();

private:
    sqlite3* database();
    void showResult(qint64 id);

    TFrmMain* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    QAction* m_action = nullptr;
    QPointer<TDuplicatesDialog> m_dialog;
    // The user stopped the making of the keys: not asked again in this session.
    bool m_keysStopped = false;
    std::unique_ptr<Duplicates::KeyCheck> m_keyCheck;
};

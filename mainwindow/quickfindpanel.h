#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>

class QLabel;
class QLineEdit;
class QWidget;
class TADOConnection;
class TADOQuery;
struct sqlite3;
namespace Sqlite {
class Database;
}

/// Finding cards as you type: the input on the strip above the grid narrows the window's
/// list at every key, and keeps the quick find's index ready for it.
class QuickFindPanel : public QObject {
    Q_OBJECT
public:
    /// What the panel needs of the window whose list it narrows.
    struct Window {
        QWidget* window = nullptr;
        QLineEdit* input = nullptr; ///< on `strip`, right of `link`
        QWidget* strip = nullptr;
        QWidget* link = nullptr;
        QWidget* grid = nullptr; ///< shows `cards`
        TADOConnection* connection = nullptr;
        TADOQuery* cards = nullptr;
        /// True while the add or modify editor holds texts not yet saved; `modified` is
        /// then the card being modified, 0 for a new one.
        std::function<bool(qint64* modified)> editorHoldsChanges;
        /// Lists all cards again, as "返        回" does.
        std::function<void()> showAllCards;
        /// The panes and marker of a listed result; `keepEditor` leaves the editor open.
        std::function<void(bool keepEditor)> showResult;
        /// Raises an error when the focus may not leave the control that has it.
        std::function<void()> checkFocusMayLeave;
    };

    /// A child of `window.window`.
    explicit QuickFindPanel(const Window& window);
    ~QuickFindPanel() override;

    /// Empties the input without narrowing anything, as another listing of the cards does.
    void clear();
    /// Waits for the index check the panel started on a thread: it reads the file.
    void waitForCheck();
    /// The same, and takes its result: before the file is copied or replaced.
    void finishCheck();
    /// The database was replaced: its index is checked afresh.
    void databaseReplaced() {
        m_repaired = false;
        m_reader.reset();
    }

public slots:
    /// Moves the focus to the input with its text selected (Ctrl+F).
    void focusInput();
    /// Narrows the list to the cards the input's text finds.
    void narrowList();
    /// Empties the input and lists all cards (Esc).
    void showAll();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Places the input from the end of the link label to the end of the strip.
    void place();
    /// "共 N 张" beside the input while it holds text.
    void showCount(bool shown);
    /// Esc, Down and Enter in the input; true when the key was used.
    bool useKey(int key);
    /// The index, made for a file that has none (with a progress dialog), and brought in
    /// line once with cards other programs added or deleted.
    void prepare(bool repair);
    /// The same once the window is up, without being asked: failures wait for the first find.
    void prepareEarly();
    /// The read-only connection the finds read over, opened once; null when it cannot be
    /// opened (the list then opens one of its own, which says why).
    std::shared_ptr<Sqlite::Database> reader();

    /// On the threads working ahead of the finds: waits while a key is being answered.
    void giveWay() const;

    Window m_window;
    QLabel* m_count = nullptr;
    bool m_repaired = false;
    bool m_unchecked = false; // the index check has not answered yet
    // Until when (steady clock) the work ahead gives way to the key being answered, and
    // whether the window is going: before the threads that read them.
    std::atomic<std::int64_t> m_answeringUntil{0};
    std::atomic<bool> m_closing{false};
    // Once the window is up, loads the pinyin tables and checks the index on a thread, so
    // that the first key need not.
    std::future<bool> m_indexCheck;
    // The readings of the common ideographs, worked out on a thread before the first find;
    // stopped by each key, and begun again once it is answered.
    std::atomic<bool> m_stopSpelling{false};
    std::future<void> m_spelling;
    // Kept from key to key: a fresh connection starts with a cold cache and no schema.
    std::shared_ptr<Sqlite::Database> m_reader;
};

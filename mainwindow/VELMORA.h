#pragma once

#include "ui_VELMORA.h"

#include <QHash>
#include <QMainWindow>

#include <memory>

class CardDuplicates;
class CardEditor;
class CardSync;
class CardHistory;
class CardPictures;
class CardRecognition;
class CardTransfer;
class QuickFindPanel;
class QMenu;
class TADOConnection;
class TADOQuery;
class TDataSource;

/// The main window: card list, detail pane, card editor, system pages and the commands.
class TFrmMain : public QMainWindow, public Ui::TFrmMain {
    Q_OBJECT
public:
    /// Loads the window's settings and opens the database; raises an error if it cannot.
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    TADOConnection* ADOConnection1 = nullptr;
    TADOQuery* ADOQuery1 = nullptr;
    TADOQuery* ADOQuery2 = nullptr;
    TDataSource* DataSource1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N12 = nullptr;
    QAction* N14 = nullptr;
    QAction* N20 = nullptr;
    QAction* N17 = nullptr;
    QAction* N18 = nullptr;
    QAction* N19 = nullptr;

    /// Lays the window out and paints it once off screen, so that showing it is quick: the
    /// first painting of its texts is the slow part. Shows nothing; once is enough.
    void prepareToShow();

    /// The mode marker: the group box's caption.
    QString modeMarker() const;
    void setModeMarker(const QString& marker);

    /// Shows a page of the card editor, taking the focus along if it was on the page left.
    void showEditorPage(QWidget* page);
    /// Empties the 24 inputs of the card editor in field-map order.
    void clearEditor();
    /// The text an editor input holds, as it is stored.
    QString inputText(const QString& control) const;
    void setInputText(const QString& control, const QString& text);

    /// The web site that the link label and the menu open.
    static const QString kHomePage;
    /// What stands in for the conferencing program.
    static QString conferencingProgram();

public slots:
    // Start-up and closing
    void N13Click();
    // Pressed look of the operations buttons
    void SpeedButton1MouseDown();
    void SpeedButton1MouseUp();
    void SpeedButton2MouseDown();
    void SpeedButton2MouseUp();
    void SpeedButton3MouseDown();
    void SpeedButton3MouseUp();
    void SpeedButton4MouseDown();
    void SpeedButton4MouseUp();
    void SpeedButton5MouseDown();
    void SpeedButton5MouseUp();
    // Browsing and the detail pane
    void DBGrid1CellClick();
    void SpeedButtonFClick();
    void SpeedButtonSClick();
    // Adding
    void SpeedButton1Click();
    void Button6Click();
    void Button8Click();
    void Button9Click();
    void Button11Click();
    void Button7Click();
    void Button10Click();
    void Button13Click();
    void Edit1KeyPress(QChar& key);
    void Edit8KeyPress(QChar& key);
    void ButtonTJQDClick();
    void Memo1KeyPress(QChar& key);
    // Modifying
    void SpeedButton2Click();
    void DBGrid1DblClick();
    void ButtonXGQDClick();
    // Deleting
    void SpeedButton3Click();
    // Searching
    void SpeedButton4Click();
    void EditGJZKeyPress(QChar& key);
    void SpeedButton5Click();
    // Password
    void N9Click();
    void Button1Click();
    void EditXMMHDKeyPress(QChar& key);
    void Button2Click();
    // Backup and restore
    void N10Click();
    void N11Click();
    // About, help, dial and homepage
    void N7Click();
    void N8Click();
    void H1Click();
    void Button14Click();
    void Memo3KeyPress(QChar& key);
    void BitBtn1Click();
    void N15Click();
    void N16Click();
    void Label35Click();
    void Label35MouseMove();
    void Label35MouseLeave();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCloseQuery();
    void connectHandlers();
    void setUpGrid();
    void setUpLooks();
    void onKey(QObject* input, void (TFrmMain::*handler)(QChar&));
    void fitEditorLabels();
    void checkFocusMayLeave() const;
    void loadEditor();
    void storeEditor();
    void saveNewCard();
    void saveModifiedCard();
    void search();
    /// The panes and marker of a listed search result (the panel's search, the quick find).
    void showSearchResult();
    void confirmPassword();
    /// Opens a page of the system pages (password, help, about) in place of the editor.
    void showSystemPage(QWidget* page);
    void closeSystemPages();
    void openHomePage();
    void reopenCards();
    /// True while the add or modify editor is open with texts not yet saved: what changes
    /// the list behind it must leave it open. `modified` is then the card being modified,
    /// 0 for a new one.
    bool editorHoldsChanges(qint64* modified = nullptr) const;
    /// The panes of a quick find's result; `keepEditor` leaves the editor open.
    void showQuickFindResult(bool keepEditor);
    void closeConnection();

    std::unique_ptr<CardEditor> m_editor;
    // Import and export, a card from a picture and the quick find; children of the window.
    CardTransfer* m_transfer = nullptr;
    CardSync* m_sync = nullptr;
    CardHistory* m_history = nullptr;
    CardDuplicates* m_duplicates = nullptr;
    CardRecognition* m_recognition = nullptr;
    CardPictures* m_pictures = nullptr;
    QuickFindPanel* m_quickFind = nullptr;
    QHash<QObject*, void (TFrmMain::*)(QChar&)> m_keyHandlers;
    QString m_modeMarker;
    // The card the editor was loaded from, so that a save writes that card, and only while
    // no other program has changed it since.
    qint64 m_loadedId = 0;
    QVector<QVariant> m_loadedValues;
    bool m_loadedFromEmptyList = false;
    bool m_prepared = false;
};

extern TFrmMain* FrmMain;

#include "VELMORA.h"

#include "cardduplicates.h"
#include "cardeditor.h"
#include "cardhistory.h"
#include "cardpictures.h"
#include "cardqr.h"
#include "cardrecognition.h"
#include "cardsync.h"
#include "cardtransfer.h"
#include "controls.h"
#include "dbcontrols.h"
#include "quickfindpanel.h"

#include "core/card.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/datasource.h"
#include "data/fieldmap.h"
#include "data/password.h"
#include "data/search.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "platform/application.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/shell.h"
#include "platform/window.h"
#include "quickfind/cardindex.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTabBar>

#include <limits>

TFrmMain* FrmMain = nullptr;

const QString TFrmMain::kHomePage = QStringLiteral("http://www.qel.example");

namespace {

const QString kAdding = QStringLiteral("添加");
const QString kModifying = QStringLiteral("修改");
const QString kSearching = QStringLiteral("查询");

const QChar kEnter(13);

// The grid's columns in grid order.
struct GridColumn {
    const char* name;
    int width;  // -1 hides the column, 0 keeps the default width
    QRgb color; // 0: the grid's own colour
};
const GridColumn kGridColumns[] = {
    {"ID", -1, 0},        {"姓名", 60, 0xFFC0DCC0}, {"单位", 150, 0xFFD6E6C4}, {"部门", 70, 0},
    {"职务", 70, 0},      {"职称", 70, 0},          {"生日", 70, 0},           {"专业", 80, 0},
    {"学历", 40, 0},      {"毕业院校", 80, 0},      {"毕业日期", 70, 0},       {"工作电话", 70, 0},
    {"分机", 70, 0},      {"传真", 100, 0},         {"手机", 70, 0},           {"家庭电话", 70, 0},
    {"OICQ", 70, 0},      {"MSN", 120, 0},          {"E-mail", 120, 0},        {"主页", 120, 0},
    {"工作地址", 150, 0}, {"工作邮编", 60, 0},      {"家庭地址", 150, 0},      {"家庭邮编", 60, 0},
    {"备注", 0, 0},       {"添加日期", 70, 0},
};

} // namespace

QString TFrmMain::conferencingProgram() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Program Files\\NetMeeting\\conf.exe");
#else
    return QStringLiteral("/usr/bin/linphone");
#endif
}

TFrmMain::TFrmMain(QWidget* parent)
    : QMainWindow(parent) {
    setupUi(this);
    m_editor = std::make_unique<CardEditor>(this);
    setUpLooks();
    setModeMarker(QString());

    ADOConnection1 = new TADOConnection(this);
    ADOConnection1->setObjectName(QStringLiteral("ADOConnection1"));
    ADOConnection1->ConnectionString = QString::fromUtf8(kStoredConnectionString);
    ADOConnection1->LoginPrompt = false;

    ADOQuery1 = new TADOQuery(QStringLiteral("ADOQuery1"), this);
    ADOQuery1->setConnection(ADOConnection1);
    ADOQuery1->SQL.Add(QStringLiteral("select *"));
    ADOQuery1->SQL.Add(QStringLiteral("from zl"));
    // Each card the list writes is filed for the quick find in the same transaction.
    ADOQuery1->WriteHook = CardIndex::rowWritten;

    ADOQuery2 = new TADOQuery(QStringLiteral("ADOQuery2"), this);
    ADOQuery2->setConnection(ADOConnection1);
    ADOQuery2->SQL.Add(QStringLiteral("select *"));
    ADOQuery2->SQL.Add(QStringLiteral("from yh"));

    DataSource1 = new TDataSource(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setDataSet(ADOQuery1);

    m_transfer = new CardTransfer(this, ADOConnection1, ADOQuery1);
    m_recognition = new CardRecognition(this, ADOQuery1, [this](const Card& card) {
        if (m_duplicates->alreadyHere(card))
            return false;
        // As "添        加" does, then the fields found; nothing is stored until the user saves.
        SpeedButton1Click();
        m_history->addingRecognisedCard();
        for (const EditorInput& input : kEditorInputs)
            setInputText(QString::fromLatin1(input.control), card[input.field]);
        return true;
    });
    m_quickFind = new QuickFindPanel(
        {this, EditKSCZ, PanelSBT, Label35, DBGrid1, ADOConnection1, ADOQuery1,
         [this](qint64* modified) { return editorHoldsChanges(modified); },
         [this] { SpeedButton5Click(); }, [this](bool keep) { showQuickFindResult(keep); },
         [this] { checkFocusMayLeave(); }});
    m_sync = new CardSync(this, N1, ADOConnection1, ADOQuery1);
    m_duplicates = new CardDuplicates(this, N1, ADOConnection1, ADOQuery1);
    m_history = new CardHistory(this, N1, ADOConnection1, ADOQuery1, DBGrid1);
    connect(m_history, &CardHistory::recognisedCardSaved, m_duplicates,
            &CardDuplicates::offerSimilar, Qt::QueuedConnection);
    new CardQr(this, PopupMenu1, ValueListEditor1, ADOConnection1, ADOQuery1);
    m_pictures = new CardPictures(this, ADOConnection1, ADOQuery1);

    setUpGrid();
    connectHandlers();

    // Stored as connected and active: opening happens while the window is created.
    ADOConnection1->Open();
    ADOQuery1->Open();
    ADOQuery2->Open();
}

TFrmMain::~TFrmMain() {
    // Its check of the index ends before the connection closes.
    delete m_quickFind;
    if (FrmMain == this)
        FrmMain = nullptr;
}

void TFrmMain::prepareToShow() {
    if (m_prepared || isVisible())
        return;
    m_prepared = true;
    // Polishes and lays out every control, reads the first rows and loads the glyphs.
    (void)grab();
}

void TFrmMain::setUpLooks() {
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
    // 630 × 454 outside; the client area below the menu is 622 × 408.
    resize(622, 408 + menuBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(630 / 2, 454 / 2));

    // The operations panel's labels size themselves to their captions.
    for (QLabel* label : {Label23, Label24})
        label->adjustSize();
    // The buttons lie over the rules that underline them.
    for (TSpeedButton* b : {SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4, SpeedButton5}) {
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->raise();
    }

    // Arrow glyphs with their white drawn transparent.
    auto glyph = [](const QString& file) {
        QPixmap pixmap(file);
        pixmap.setMask(pixmap.createMaskFromColor(Qt::white));
        return QIcon(pixmap);
    };
    SpeedButtonF->setIcon(glyph(QStringLiteral(":/images/arrow_right.png")));
    SpeedButtonS->setIcon(glyph(QStringLiteral(":/images/arrow_left.png")));

    // No input limits its length but those whose stored settings do (the passwords, the
    // postcodes): the toolkit's own limit would cut a pasted text short without a word.
    const int toolkitLimit = QLineEdit().maxLength();
    for (QLineEdit* edit : findChildren<QLineEdit*>()) {
        if (edit->maxLength() == toolkitLimit)
            edit->setMaxLength(std::numeric_limits<int>::max());
    }

    // Every character of a password shows as "*".
    for (QLineEdit* edit : {EditXMM, EditXMMHD})
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));

    // Tabs as low as the caption needs: the pages below them get the height their
    // controls were placed for ("退  出" on the About page ends 134 pixels down).
    for (QTabWidget* pages : {PageControlZL, PageControlSYS})
        pages->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { height: 22px; }"));
    fitEditorLabels();

    // Both lists start with an empty text, not their first item.
    ComboBoxGXZD->setCurrentIndex(-1);
    ComboBox1->setCurrentIndex(-1);

    Label35->adjustSize();
    Label35->setCursor(Qt::ArrowCursor);
    Label35->setMouseTracking(true);

    QFont memoFont;
    memoFont.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                          QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    memoFont.setPixelSize(12);
    Memo2->setFont(memoFont);
    Memo3->setFont(memoFont);

    // Separators named as the menus store them.
    N12 = N2->actions().at(3);
    N12->setObjectName(QStringLiteral("N12"));
    N14 = N1->actions().at(3);
    N14->setObjectName(QStringLiteral("N14"));
    N20 = N1->actions().at(5);
    N20->setObjectName(QStringLiteral("N20"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N17 = PopupMenu1->addAction(QStringLiteral("添加... &A"));
    N17->setObjectName(QStringLiteral("N17"));
    N18 = PopupMenu1->addAction(QStringLiteral("修改... &E"));
    N18->setObjectName(QStringLiteral("N18"));
    N19 = PopupMenu1->addAction(QStringLiteral("删除... &D"));
    N19->setObjectName(QStringLiteral("N19"));

    // Shortcuts work wherever the focus is in the window.
    for (QAction* action : {N4, N5, N6, H1, N24, N25}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }

    PanelCK->installEventFilter(this);
    ValueListEditor1->installEventFilter(this);
    Label35->installEventFilter(this);
}

void TFrmMain::setUpGrid() {
    QStringList columns;
    for (const GridColumn& column : kGridColumns)
        columns << QString::fromUtf8(column.name);
    DataSource1->setColumns(columns);
    DBGrid1->setDataSource(DataSource1);
    for (const GridColumn& column : kGridColumns) {
        const QString name = QString::fromUtf8(column.name);
        if (column.width != 0)
            DBGrid1->setColumnWidthByName(name, column.width);
        if (column.color != 0)
            DBGrid1->setColumnColor(name, QColor::fromRgb(column.color));
    }
    DBGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    DBNavigator1->setDataSet(ADOQuery1);
}

void TFrmMain::connectHandlers() {
    using Platform::guarded;
    auto click = [this](QAbstractButton* button, void (TFrmMain::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                guarded([this, handler] { (this->*handler)(); }));
    };
    auto trigger = [this](QAction* action, void (TFrmMain::*handler)()) {
        connect(action, &QAction::triggered, this,
                guarded([this, handler] { (this->*handler)(); }));
    };
    auto press = [this](TSpeedButton* button, void (TFrmMain::*down)(), void (TFrmMain::*up)()) {
        connect(button, &TSpeedButton::mouseDown, this, guarded([this, down] { (this->*down)(); }));
        connect(button, &TSpeedButton::mouseUp, this, guarded([this, up] { (this->*up)(); }));
    };

    // One command, one handler: button, menu item and popup item alike.
    click(SpeedButton1, &TFrmMain::SpeedButton1Click);
    trigger(N4, &TFrmMain::SpeedButton1Click);
    trigger(N17, &TFrmMain::SpeedButton1Click);
    click(SpeedButton2, &TFrmMain::SpeedButton2Click);
    trigger(N5, &TFrmMain::SpeedButton2Click);
    trigger(N18, &TFrmMain::SpeedButton2Click);
    click(SpeedButton3, &TFrmMain::SpeedButton3Click);
    trigger(N6, &TFrmMain::SpeedButton3Click);
    trigger(N19, &TFrmMain::SpeedButton3Click);
    click(SpeedButton4, &TFrmMain::SpeedButton4Click);
    click(SpeedButton5, &TFrmMain::SpeedButton5Click);
    press(SpeedButton1, &TFrmMain::SpeedButton1MouseDown, &TFrmMain::SpeedButton1MouseUp);
    press(SpeedButton2, &TFrmMain::SpeedButton2MouseDown, &TFrmMain::SpeedButton2MouseUp);
    press(SpeedButton3, &TFrmMain::SpeedButton3MouseDown, &TFrmMain::SpeedButton3MouseUp);
    press(SpeedButton4, &TFrmMain::SpeedButton4MouseDown, &TFrmMain::SpeedButton4MouseUp);
    press(SpeedButton5, &TFrmMain::SpeedButton5MouseDown, &TFrmMain::SpeedButton5MouseUp);

    click(SpeedButtonF, &TFrmMain::SpeedButtonFClick);
    click(SpeedButtonS, &TFrmMain::SpeedButtonSClick);
    connect(DBGrid1, &QAbstractItemView::clicked, this,
            [this](const QModelIndex&) { guarded([this] { DBGrid1CellClick(); })(); });
    connect(DBGrid1, &TDBGrid::dblClick, this, guarded([this] { DBGrid1DblClick(); }));
    connect(DBGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(DBGrid1->viewport()->mapToGlobal(pos));
    });

    click(Button6, &TFrmMain::Button6Click);
    click(Button8, &TFrmMain::Button8Click);
    click(Button9, &TFrmMain::Button9Click);
    click(Button11, &TFrmMain::Button11Click);
    click(Button7, &TFrmMain::Button7Click);
    click(Button10, &TFrmMain::Button10Click);
    click(Button13, &TFrmMain::Button13Click);
    click(ButtonTJQD, &TFrmMain::ButtonTJQDClick);
    click(ButtonXGQD, &TFrmMain::ButtonXGQDClick);
    for (QWidget* input :
         {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit16), static_cast<QWidget*>(Edit2),
          static_cast<QWidget*>(Edit3), static_cast<QWidget*>(Edit4), static_cast<QWidget*>(Edit5),
          static_cast<QWidget*>(Edit6), static_cast<QWidget*>(ComboBox1),
          static_cast<QWidget*>(Edit7), static_cast<QWidget*>(Edit18)})
        onKey(input, &TFrmMain::Edit1KeyPress);
    for (QWidget* input :
         {Edit8, Edit9, Edit19, Edit10, Edit20, Edit11, Edit12, Edit13, Edit14, Edit15,
          static_cast<QLineEdit*>(MaskEdit4), Edit17, static_cast<QLineEdit*>(MaskEdit5)})
        onKey(input, &TFrmMain::Edit8KeyPress);
    onKey(Memo1, &TFrmMain::Memo1KeyPress);
    onKey(EditGJZ, &TFrmMain::EditGJZKeyPress);
    onKey(EditXMMHD, &TFrmMain::EditXMMHDKeyPress);
    onKey(Memo3, &TFrmMain::Memo3KeyPress);

    trigger(N9, &TFrmMain::N9Click);
    click(Button1, &TFrmMain::Button1Click);
    click(Button2, &TFrmMain::Button2Click);
    trigger(N10, &TFrmMain::N10Click);
    trigger(N11, &TFrmMain::N11Click);
    trigger(N13, &TFrmMain::N13Click);
    trigger(N15, &TFrmMain::N15Click);
    trigger(N7, &TFrmMain::N7Click);
    trigger(N8, &TFrmMain::N8Click);
    trigger(N16, &TFrmMain::N16Click);
    trigger(H1, &TFrmMain::H1Click);
    click(Button14, &TFrmMain::Button14Click);
    click(BitBtn1, &TFrmMain::BitBtn1Click);
    connect(N21, &QAction::triggered, m_transfer, guarded([this] { m_transfer->importCards(); }));
    connect(N22, &QAction::triggered, m_transfer, guarded([this] { m_transfer->exportCards(); }));
    connect(N23, &QAction::triggered, m_recognition,
            guarded([this] { m_recognition->readPictureFile(); }));
    connect(N25, &QAction::triggered, m_quickFind, guarded([this] { m_quickFind->focusInput(); }));
    connect(N24, &QAction::triggered, m_recognition,
            guarded([this] { m_recognition->readClipboardPicture(); }));
}

void TFrmMain::onKey(QObject* input, void (TFrmMain::*handler)(QChar&)) {
    m_keyHandlers.insert(input, handler);
    input->installEventFilter(this);
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto handler = m_keyHandlers.value(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        // Tab and Shift+Tab move the focus along the tab order; they type nothing.
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        if (handler && watched == Memo1 && key->modifiers().testFlag(Qt::ControlModifier) &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            // Ctrl+Enter is the way to a line break in the notes.
            Memo1->insertPlainText(QStringLiteral("\n"));
            return true;
        }
        // Only keys that produce a character reach the key handlers.
        if (handler && !key->text().isEmpty() && key->key() != Qt::Key_Delete) {
            QChar ch = key->text().at(0);
            Platform::guarded([this, handler, &ch] { (this->*handler)(ch); })();
            // A handler that used the key up sets it to 0.
            return ch.isNull();
        }
        return false;
    }
    if (watched == Label35) {
        if (event->type() == QEvent::MouseMove)
            Platform::guarded([this] { Label35MouseMove(); })();
        else if (event->type() == QEvent::Leave)
            Platform::guarded([this] { Label35MouseLeave(); })();
        else if (event->type() == QEvent::MouseButtonRelease &&
                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
                 Label35->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            Platform::guarded([this] { Label35Click(); })();
        else if (event->type() == QEvent::MouseButtonPress)
            return true;
        return false;
    }
    // The detail pane's panel sizes itself to what it shows.
    if (watched == ValueListEditor1 &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        PanelCK->setFixedWidth(
            ValueListEditor1->isVisibleTo(PanelCK) ? ValueListEditor1->width() + 2 : 0);
        return false;
    }
    if (watched == PanelCK && event->type() == QEvent::Resize) {
        ValueListEditor1->setGeometry(1, 1, ValueListEditor1->width(), PanelCK->height() - 2);
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TFrmMain::modeMarker() const {
    return m_modeMarker;
}

void TFrmMain::setModeMarker(const QString& marker) {
    m_modeMarker = marker;
    // An empty caption still takes its line, so the grid does not jump as the mode changes.
    GroupBoxDBG->setTitle(marker.isEmpty() ? QStringLiteral(" ") : marker);
}

// ---- Closing -------------------------------------------------------------------------------

void TFrmMain::closeEvent(QCloseEvent* event) {
    Platform::guarded([this] { FormCloseQuery(); })();
    event->accept();
}

void TFrmMain::FormCloseQuery() {
    Platform::terminateApplication();
}

void TFrmMain::N13Click() {
    Platform::terminateApplication();
}

// ---- Browsing and the detail pane ----------------------------------------------------------

void TFrmMain::DBGrid1CellClick() {
    ValueListEditor1->clearRows();
    // Row by row, so that what was read before an error stays in the list.
    for (const char* column : kDetailColumns) {
        const QString name = QString::fromUtf8(column);
        ValueListEditor1->addRow(name, ADOQuery1->FieldAsString(name));
    }
}

void TFrmMain::SpeedButtonFClick() {
    ValueListEditor1->setVisible(true);
    SpeedButtonF->setVisible(false);
    SpeedButtonS->setVisible(true);
    PanelCK->setFixedWidth(240);
    ValueListEditor1->resize(219, ValueListEditor1->height());
    // The panel follows its content.
    PanelCK->setFixedWidth(ValueListEditor1->width() + 2);
}

void TFrmMain::SpeedButtonSClick() {
    ValueListEditor1->setVisible(false);
    SpeedButtonS->setVisible(false);
    SpeedButtonF->setVisible(true);
}

// ---- The card editor -----------------------------------------------------------------------

void TFrmMain::checkFocusMayLeave() const {
    // A postcode box that refuses to give up the focus stops any command that would take it
    // away, before the command changes anything.
    if (auto* box = qobject_cast<TMaskEdit*>(focusWidget()))
        box->validateEdit();
}

void TFrmMain::showEditorPage(QWidget* page) {
    // The window's own focus, also while a prompt in front of it has the keyboard.
    QWidget* focus = focusWidget();
    QWidget* leaving = PageControlZL->currentWidget();
    const bool takeFocus = focus && leaving != page && leaving->isAncestorOf(focus);
    if (takeFocus)
        checkFocusMayLeave();
    PageControlZL->setCurrentWidget(page);
    if (takeFocus) {
        QWidget* first = page == TabSheet1   ? static_cast<QWidget*>(Edit1)
                         : page == TabSheet2 ? static_cast<QWidget*>(Edit8)
                                             : static_cast<QWidget*>(Memo1);
        first->setFocus(Qt::TabFocusReason);
    }
}

QString TFrmMain::inputText(const QString& control) const {
    return m_editor->text(control);
}

void TFrmMain::setInputText(const QString& control, const QString& text) {
    m_editor->setText(control, text);
}

void TFrmMain::clearEditor() {
    m_editor->clear();
    m_history->editorReset();
}

void TFrmMain::loadEditor() {
    m_loadedFromEmptyList = ADOQuery1->IsEmpty();
    m_loadedId = ADOQuery1->CurrentId();
    m_loadedValues = ADOQuery1->CurrentValues();
    m_history->editorReset();
    m_editor->load([this](const QString& column) { return ADOQuery1->FieldAsString(column); });
}

void TFrmMain::storeEditor() {
    m_editor->store([this](const QString& column, const QString& text) {
        ADOQuery1->SetFieldAsString(column, text);
    });
}

void TFrmMain::Button6Click() {
    showEditorPage(TabSheet2);
}
void TFrmMain::Button8Click() {
    showEditorPage(TabSheet1);
}
void TFrmMain::Button9Click() {
    showEditorPage(TabSheet3);
}
void TFrmMain::Button11Click() {
    showEditorPage(TabSheet2);
}

void TFrmMain::Edit1KeyPress(QChar& key) {
    if (key == kEnter)
        showEditorPage(TabSheet2);
}

void TFrmMain::Edit8KeyPress(QChar& key) {
    if (key == kEnter)
        showEditorPage(TabSheet3);
}

void TFrmMain::Button7Click() {
    checkFocusMayLeave();
    PageControlZL->setVisible(false);
    setModeMarker(QString());
}
void TFrmMain::Button10Click() {
    Button7Click();
}
void TFrmMain::Button13Click() {
    Button7Click();
}

// ---- Adding --------------------------------------------------------------------------------

void TFrmMain::SpeedButton1Click() {
    checkFocusMayLeave();
    PanelCZ->setVisible(true);
    PageControlZL->setVisible(true);
    showEditorPage(TabSheet1);
    PageControlSYS->setVisible(false);
    setModeMarker(kAdding);
    ButtonTJQD->setVisible(true);
    ButtonXGQD->setVisible(false);
    clearEditor();
}

void TFrmMain::saveNewCard() {
    if (Edit1->text().isEmpty()) {
        Platform::showMessage(QStringLiteral("“姓名为必添字段”，请再重新输入！"));
        showEditorPage(TabSheet1);
        return;
    }
    if (!m_duplicates->mayAddEditorCard())
        return;
    ADOQuery1->Open();
    // A refused save leaves no half-made card behind to be posted by the next one.
    TPendingRowGuard pending(ADOQuery1);
    ADOQuery1->Insert();
    storeEditor();
    ADOQuery1->Post();
    clearEditor();
    if (m_recognition->cardSaved())
        return;
    FrmTJTS->setOnContinue([this] { showEditorPage(TabSheet1); });
    FrmTJTS->setOnStop([this] {
        setModeMarker(QString());
        PageControlZL->setVisible(false);
    });
    Platform::showModal(FrmTJTS);
}

void TFrmMain::ButtonTJQDClick() {
    saveNewCard();
}

void TFrmMain::Memo1KeyPress(QChar& key) {
    if (key != kEnter)
        return;
    // The Enter that saved (or was refused) is used up: no stray line break in the notes.
    if (modeMarker() == kModifying) {
        key = QChar();
        saveModifiedCard();
    }
    if (key == kEnter && modeMarker() == kAdding) {
        key = QChar();
        saveNewCard();
    }
}

// ---- Modifying -----------------------------------------------------------------------------

void TFrmMain::SpeedButton2Click() {
    checkFocusMayLeave();
    PanelCZ->setVisible(true);
    PageControlZL->setVisible(true);
    PageControlSYS->setVisible(false);
    showEditorPage(TabSheet1);
    ButtonTJQD->setVisible(false);
    ButtonXGQD->setVisible(true);
    setModeMarker(kModifying);
    ADOQuery1->Open();
    loadEditor();
}

void TFrmMain::DBGrid1DblClick() {
    checkFocusMayLeave();
    PageControlZL->setVisible(true);
    PageControlSYS->setVisible(false);
    showEditorPage(TabSheet1);
    ButtonXGQD->setVisible(true);
    ButtonTJQD->setVisible(false);
    setModeMarker(kModifying);
    ADOQuery1->Open();
    loadEditor();
}

void TFrmMain::saveModifiedCard() {
    if (Edit1->text().isEmpty()) {
        Platform::showMessage(QStringLiteral("“姓名”为必填字段，请再重新输入！"));
        showEditorPage(TabSheet1);
        return;
    }
    // The save writes the card that was loaded, wherever the cursor has gone since.
    // A card loaded from an empty list is a new one, as editing an empty list would make it.
    TPendingRowGuard pending(ADOQuery1);
    if (m_loadedFromEmptyList) {
        ADOQuery1->Insert();
    } else {
        if (!ADOQuery1->Locate(m_loadedId)) {
            Platform::showMessage(QStringLiteral("这条记录已不存在，无法保存修改！"));
            return;
        }
        ADOQuery1->EditChecked(m_loadedValues);
    }
    storeEditor();
    ADOQuery1->Post();
    m_loadedFromEmptyList = false;
    m_loadedId = ADOQuery1->CurrentId();
    m_loadedValues = ADOQuery1->CurrentValues();
    clearEditor();
    setModeMarker(kModifying);
    PageControlZL->setVisible(false);
    ButtonXGQD->setVisible(false);
}

void TFrmMain::ButtonXGQDClick() {
    saveModifiedCard();
}

// ---- Deleting ------------------------------------------------------------------------------

void TFrmMain::SpeedButton3Click() {
    checkFocusMayLeave();
    PanelCZ->setVisible(true);
    PageControlSYS->setVisible(false);
    if (ADOQuery1->FieldAsString(QStringLiteral("姓名")).isEmpty()) {
        Platform::showMessage(QStringLiteral("您不能删除这条记录！"));
        return;
    }
    ButtonXGQD->setVisible(false);
    FrmSC->setDataset(ADOQuery1);
    FrmSC->setOnDeleted([this] { PageControlZL->setVisible(false); });
    Platform::showModal(FrmSC);
}

// ---- Searching -----------------------------------------------------------------------------

void TFrmMain::SpeedButton4Click() {
    checkFocusMayLeave();
    PageControlSYS->setVisible(false);
    search();
}

void TFrmMain::EditGJZKeyPress(QChar& key) {
    if (key == kEnter)
        search();
}

void TFrmMain::search() {
    const QString field = ComboBoxGXZD->currentText();
    const QString keyword = EditGJZ->text();
    if (field.isEmpty() || keyword.isEmpty()) {
        Platform::showMessage(QStringLiteral("      请输入查询条件！     "));
        return;
    }
    // Checked before the list is closed: a field that names no column changes nothing.
    const SearchStatement statement = buildSearchStatement(ADOConnection1, field, keyword);
    ADOQuery1->Close();
    ADOQuery1->SQL.Clear();
    ADOQuery1->SQL.Add(statement.text);
    ADOQuery1->Parameters = statement.parameters;
    ADOQuery1->IdSource = nullptr;
    ADOQuery1->IdStream = nullptr;
    ADOQuery1->Open();
    m_quickFind->clear();
    ComboBoxGXZD->setEditText(QString());
    EditGJZ->clear();
    showSearchResult();
}

void TFrmMain::showSearchResult() {
    ButtonTJQD->setVisible(true);
    ButtonXGQD->setVisible(false);
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(false);
    SpeedButton5->setVisible(true);
    setModeMarker(kSearching);
    Label31->setVisible(true);
}

bool TFrmMain::editorHoldsChanges(qint64* modified) const {
    if (modified)
        *modified = 0;
    if (!PageControlZL->isVisibleTo(this))
        return false;
    const QString mode = modeMarker();
    const bool adding = mode == kAdding || (mode == kModifying && m_loadedFromEmptyList);
    if (!adding && mode != kModifying)
        return false;
    const QStringList columns = ADOQuery1->FieldNames();
    bool changed = false;
    m_editor->store([&](const QString& column, const QString& text) {
        const QString loaded =
            adding ? QString() : m_loadedValues.value(int(columns.indexOf(column))).toString();
        // Blanks alone are no change: an empty postcode box gives six of them.
        changed = changed || text.trimmed() != loaded.trimmed();
    });
    if (changed && modified && !adding)
        *modified = m_loadedId;
    return changed;
}

void TFrmMain::showQuickFindResult(bool keepEditor) {
    if (!keepEditor) {
        showSearchResult();
        return;
    }
    SpeedButton5->setVisible(true);
    Label31->setVisible(true);
    PageControlSYS->setVisible(false);
}

void TFrmMain::SpeedButton5Click() {
    checkFocusMayLeave();
    if (!editorHoldsChanges()) {
        PageControlZL->setVisible(false);
        ButtonXGQD->setVisible(false);
    }
    SpeedButton5->setVisible(false);
    Label31->setVisible(false);
    ADOQuery1->Close();
    ADOQuery1->SQL.Clear();
    ADOQuery1->SQL.Add(QStringLiteral("select * from zl"));
    ADOQuery1->Parameters.clear();
    ADOQuery1->IdSource = nullptr;
    ADOQuery1->IdStream = nullptr;
    ADOQuery1->Open();
    m_quickFind->clear();
}

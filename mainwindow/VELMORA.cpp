#include "VELMORA.h"

#include "controls.h"
#include "dbcontrols.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/backup.h"
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

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>

TFrmMain* FrmMain = nullptr;

const QString TFrmMain::kHomePage = QStringLiteral("http://www.qel.example");

namespace {

const QString kAdding = QStringLiteral("添加");
const QString kModifying = QStringLiteral("修改");
const QString kSearching = QStringLiteral("查询");

const QChar kEnter(13);

const QString kDatabaseFile = QStringLiteral("velmora.mdb");
const QString kBackupFile = QStringLiteral("velmora.bak");
const QString kNoticeCaption = QStringLiteral("提示");

// Grid column widths in grid order; -1 hides the column, 0 keeps the default.
const int kGridWidths[26] = {-1,  60, 150, 70, 70,  70,  70,  80,  40, 80,  70, 70, 70,
                             100, 70, 70,  70, 120, 120, 120, 150, 60, 150, 60, 0,  70};

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

    ADOQuery2 = new TADOQuery(QStringLiteral("ADOQuery2"), this);
    ADOQuery2->setConnection(ADOConnection1);
    ADOQuery2->SQL.Add(QStringLiteral("select *"));
    ADOQuery2->SQL.Add(QStringLiteral("from yh"));

    DataSource1 = new TDataSource(this);
    DataSource1->setObjectName(QStringLiteral("DataSource1"));
    DataSource1->setDataSet(ADOQuery1);

    setUpGrid();
    connectHandlers();

    // Stored as connected and active: opening happens while the window is created.
    ADOConnection1->Open();
    ADOQuery1->Open();
    ADOQuery2->Open();
}

TFrmMain::~TFrmMain() {
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

    // Every character of a password shows as "*".
    for (QLineEdit* edit : {EditXMM, EditXMMHD})
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));

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

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N17 = PopupMenu1->addAction(QStringLiteral("添加... &A"));
    N17->setObjectName(QStringLiteral("N17"));
    N18 = PopupMenu1->addAction(QStringLiteral("修改... &E"));
    N18->setObjectName(QStringLiteral("N18"));
    N19 = PopupMenu1->addAction(QStringLiteral("删除... &D"));
    N19->setObjectName(QStringLiteral("N19"));

    // Shortcuts work wherever the focus is in the window.
    for (QAction* action : {N4, N5, N6, H1}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }

    PanelCK->installEventFilter(this);
    ValueListEditor1->installEventFilter(this);
    Label35->installEventFilter(this);
}

void TFrmMain::setUpGrid() {
    QStringList columns;
    for (const char* name : kCardColumns)
        columns << QString::fromUtf8(name);
    DataSource1->setColumns(columns);
    DBGrid1->setDataSource(DataSource1);
    for (int i = 0; i < 26; ++i) {
        if (kGridWidths[i] != 0)
            DBGrid1->setColumnWidthByName(columns.at(i), kGridWidths[i]);
    }
    DBGrid1->setColumnColor(QStringLiteral("姓名"), QColor(0xC0, 0xDC, 0xC0));
    DBGrid1->setColumnColor(QStringLiteral("单位"), QColor(0xD6, 0xE6, 0xC4));
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
}

void TFrmMain::onKey(QObject* input, void (TFrmMain::*handler)(QChar&)) {
    m_keyHandlers.insert(input, handler);
    input->installEventFilter(this);
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto handler = m_keyHandlers.value(watched);
        auto* key = static_cast<QKeyEvent*>(event);
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

// ---- Pressed look --------------------------------------------------------------------------

void TFrmMain::SpeedButton1MouseDown() {
    SpeedButton1->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton1MouseUp() {
    SpeedButton1->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton2MouseDown() {
    SpeedButton2->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton2MouseUp() {
    SpeedButton2->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton3MouseDown() {
    SpeedButton3->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton3MouseUp() {
    SpeedButton3->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton4MouseDown() {
    SpeedButton4->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton4MouseUp() {
    SpeedButton4->setFontColor(Qt::black);
}
void TFrmMain::SpeedButton5MouseDown() {
    SpeedButton5->setFontColor(Qt::red);
}
void TFrmMain::SpeedButton5MouseUp() {
    SpeedButton5->setFontColor(Qt::black);
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

void TFrmMain::showEditorPage(QWidget* page) {
    // The window's own focus, also while a prompt in front of it has the keyboard.
    QWidget* focus = focusWidget();
    QWidget* leaving = PageControlZL->currentWidget();
    const bool takeFocus = focus && leaving != page && leaving->isAncestorOf(focus);
    if (takeFocus) {
        // A postcode box that refuses to lose the focus stops the move.
        if (auto* mask = qobject_cast<TMaskEdit*>(focus))
            mask->validateEdit();
    }
    PageControlZL->setCurrentWidget(page);
    if (takeFocus) {
        QWidget* first = page == TabSheet1   ? static_cast<QWidget*>(Edit1)
                         : page == TabSheet2 ? static_cast<QWidget*>(Edit8)
                                             : static_cast<QWidget*>(Memo1);
        first->setFocus(Qt::TabFocusReason);
    }
}

namespace {

// What an input shows, as it reads its own text.
QString shownText(QObject* input) {
    if (auto* edit = qobject_cast<QLineEdit*>(input))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(input))
        return combo->currentText();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(input))
        return memo->toPlainText();
    return QString();
}

} // namespace

QString TFrmMain::inputText(const QString& control) const {
    QObject* input = findChild<QObject*>(control);
    if (auto* mask = qobject_cast<TMaskEdit*>(input))
        return mask->value();
    // An input still showing what it was loaded with gives back exactly the loaded text,
    // even where the control cannot show it as it is (line breaks in a one-line box).
    const QString shown = shownText(input);
    if (input && input->property("shownText").toString() == shown &&
        input->property("loadedText").isValid())
        return input->property("loadedText").toString();
    return shown;
}

void TFrmMain::setInputText(const QString& control, const QString& text) {
    QObject* input = findChild<QObject*>(control);
    if (auto* mask = qobject_cast<TMaskEdit*>(input)) {
        mask->setValue(text);
        return;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(input))
        edit->setText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(input))
        combo->setEditText(text);
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(input))
        memo->setPlainText(text);
    input->setProperty("loadedText", text);
    input->setProperty("shownText", shownText(input));
}

void TFrmMain::clearEditor() {
    for (const FieldMapEntry& field : kFieldMap)
        setInputText(QString::fromLatin1(field.control), QString());
}

void TFrmMain::loadEditor() {
    m_loadedFromEmptyList = ADOQuery1->IsEmpty();
    m_loadedId = ADOQuery1->CurrentId();
    for (const FieldMapEntry& field : kFieldMap)
        setInputText(QString::fromLatin1(field.control),
                     ADOQuery1->FieldAsString(QString::fromUtf8(field.column)));
}

void TFrmMain::storeEditor() {
    for (const FieldMapEntry& field : kFieldMap)
        ADOQuery1->SetFieldAsString(QString::fromUtf8(field.column),
                                    inputText(QString::fromLatin1(field.control)));
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
    ADOQuery1->Open();
    ADOQuery1->Insert();
    storeEditor();
    ADOQuery1->Post();
    clearEditor();
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
    if (m_loadedFromEmptyList) {
        ADOQuery1->Insert();
    } else {
        if (!ADOQuery1->Locate(m_loadedId)) {
            Platform::showMessage(QStringLiteral("这条记录已不存在，无法保存修改！"));
            return;
        }
        ADOQuery1->Edit();
    }
    storeEditor();
    ADOQuery1->Post();
    m_loadedFromEmptyList = false;
    m_loadedId = ADOQuery1->CurrentId();
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
    PanelCZ->setVisible(true);
    PageControlSYS->setVisible(false);
    if (ADOQuery1->FieldAsString(QStringLiteral("姓名")).isEmpty()) {
        Platform::showMessage(QStringLiteral("您不能删除这条记录！"));
        return;
    }
    ButtonXGQD->setVisible(false);
    Platform::showModal(FrmSC);
}

// ---- Searching -----------------------------------------------------------------------------

void TFrmMain::SpeedButton4Click() {
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
    ADOQuery1->Open();
    ComboBoxGXZD->setEditText(QString());
    EditGJZ->clear();
    ButtonTJQD->setVisible(true);
    ButtonXGQD->setVisible(false);
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(false);
    SpeedButton5->setVisible(true);
    setModeMarker(kSearching);
    Label31->setVisible(true);
}

void TFrmMain::SpeedButton5Click() {
    PageControlZL->setVisible(false);
    SpeedButton5->setVisible(false);
    Label31->setVisible(false);
    ButtonXGQD->setVisible(false);
    ADOQuery1->Close();
    ADOQuery1->SQL.Clear();
    ADOQuery1->SQL.Add(QStringLiteral("select * from zl"));
    ADOQuery1->Parameters.clear();
    ADOQuery1->Open();
}

// ---- Password ------------------------------------------------------------------------------

void TFrmMain::N9Click() {
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(true);
    PageControlSYS->setCurrentWidget(TabSheet5);
    ButtonXGQD->setVisible(false);
}

void TFrmMain::Button1Click() {
    confirmPassword();
}

void TFrmMain::EditXMMHDKeyPress(QChar& key) {
    if (key == kEnter)
        confirmPassword();
}

void TFrmMain::confirmPassword() {
    PanelCZ->setVisible(true);
    if (EditXMM->text() != EditXMMHD->text()) {
        Platform::showMessage(QStringLiteral("      密码修改失败!    "));
    } else {
        ADOQuery2->Open();
        ADOQuery2->Edit();
        ADOQuery2->SetFieldAsString(QStringLiteral("用户密码"), hashPassword(EditXMM->text()));
        ADOQuery2->Post();
        PageControlSYS->setVisible(false);
        PanelCZ->setVisible(true);
        PageControlZL->setVisible(true);
        Platform::showMessage(QStringLiteral("      密码修改成功!    "));
    }
    EditXMM->clear();
    EditXMMHD->clear();
    PageControlZL->setVisible(false);
}

void TFrmMain::Button2Click() {
    PageControlSYS->setVisible(false);
    PanelCZ->setVisible(true);
    PageControlZL->setVisible(false);
}

// ---- Backup and restore --------------------------------------------------------------------

void TFrmMain::reopenCards() {
    if (!ADOConnection1->Connected())
        ADOConnection1->Open();
    ADOQuery1->Open();
}

void TFrmMain::N10Click() {
    using namespace Platform;
    PageControlSYS->setVisible(false);
    ButtonXGQD->setVisible(false);
    if (ADOConnection1->Connected())
        ADOConnection1->Close();
    const QString backup = programFolder() + kBackupFile;
    const QString database = programFolder() + kDatabaseFile;
    QString reason;
    if (backupDatabase(database, backup, &reason))
        messageBox(this, QStringLiteral("数据库备份成功!"), kNoticeCaption, MB_ICONINFORMATION);
    else
        messageBox(this, QStringLiteral("数据库备份失败!") + QLatin1Char('\n') + reason,
                   kNoticeCaption, MB_ICONWARNING);
    reopenCards();
}

void TFrmMain::N11Click() {
    using namespace Platform;
    PageControlSYS->setVisible(false);
    ButtonXGQD->setVisible(false);
    if (messageBox(this, QStringLiteral("确认要还原数据么? "), kNoticeCaption,
                   MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    if (ADOConnection1->Connected())
        ADOConnection1->Close();
    const QString database = programFolder() + kDatabaseFile;
    const QString backup = programFolder() + kBackupFile;
    QString reason;
    if (!fileExists(backup)) {
        messageBox(this, QStringLiteral("没有备份数据,不能还原"), kNoticeCaption,
                   MB_ICONINFORMATION);
    } else if (!isRestorableBackup(backup, ADOConnection1->ConnectionString)) {
        // Checked before anything is replaced: a damaged copy would take the cards with it.
        messageBox(this, QStringLiteral("备份数据已损坏,不能还原"), kNoticeCaption, MB_ICONWARNING);
    } else if (restoreDatabase(backup, database, &reason)) {
        messageBox(this, QStringLiteral("数据库还原成功!"), kNoticeCaption, MB_ICONINFORMATION);
    } else {
        messageBox(this, QStringLiteral("数据库还原失败!") + QLatin1Char('\n') + reason,
                   kNoticeCaption, MB_ICONWARNING);
    }
    reopenCards();
}

// ---- About, help, dial and homepage --------------------------------------------------------

void TFrmMain::showAboutPage() {
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(true);
    PageControlSYS->setCurrentWidget(TabSheet6);
    ButtonXGQD->setVisible(false);
}

void TFrmMain::N7Click() {
    showAboutPage();
}
void TFrmMain::N8Click() {
    showAboutPage();
}

void TFrmMain::H1Click() {
    PageControlZL->setVisible(false);
    PageControlSYS->setVisible(true);
    ButtonXGQD->setVisible(false);
    PageControlSYS->setCurrentWidget(TabSheet4);
}

void TFrmMain::closeSystemPages() {
    PageControlSYS->setVisible(false);
    PanelCZ->setVisible(true);
    PageControlZL->setVisible(false);
}

void TFrmMain::Button14Click() {
    closeSystemPages();
}

void TFrmMain::Memo3KeyPress(QChar&) {
    closeSystemPages();
}

void TFrmMain::BitBtn1Click() {
    PageControlSYS->setVisible(false);
}

void TFrmMain::N15Click() {
    PageControlSYS->setVisible(false);
    Platform::shellExecute(this, QStringLiteral("open"), conferencingProgram(), QString(),
                           QString(), Platform::SW_SHOWNORMAL);
}

void TFrmMain::openHomePage() {
    Platform::shellExecute(this, QString(), kHomePage, QString(), QString(),
                           Platform::SW_SHOWNORMAL);
}

void TFrmMain::N16Click() {
    openHomePage();
}
void TFrmMain::Label35Click() {
    openHomePage();
}

void TFrmMain::Label35MouseMove() {
    QPalette p = Label35->palette();
    p.setColor(QPalette::WindowText, Qt::red);
    Label35->setPalette(p);
    Label35->setCursor(Qt::PointingHandCursor);
}

void TFrmMain::Label35MouseLeave() {
    QPalette p = Label35->palette();
    p.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
    Label35->setPalette(p);
}

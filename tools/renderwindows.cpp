// Renders every window and page of the program to PNG files, headless:
//   QT_QPA_PLATFORM=offscreen renderwindows OUTDIR
// or shows one window (continue, delete, login, main) on the display and prints its window
// id, for looking at it under a window manager, until it is ended:
//   renderwindows --show NAME
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/cardpicture.h"
#include "data/connectionstring.h"
#include "data/schema.h"
#include "dialogs/Tjts.h"
#include "dialogs/duplicatesdialog.h"
#include "dialogs/historydialog.h"
#include "dialogs/qrdialog.h"
#include "dialogs/sc.h"
#include "dialogs/syncaccountdialog.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/cardpictures.h"
#include "mainwindow/cardrecognition.h"
#include "platform/application.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/window.h"
#include "program/quembe.h"
#include "recognize/keptpicture.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

QString g_out;

void save(QWidget* widget, const QString& name) {
    widget->show();
    QCoreApplication::processEvents();
    QPixmap shot = widget->grab();
    // The offscreen platform ignores window shapes: cut the shape out here.
    if (!widget->mask().isEmpty()) {
        QPixmap shaped(shot.size());
        shaped.fill(Qt::transparent);
        QPainter p(&shaped);
        p.setClipRegion(widget->mask());
        p.drawPixmap(0, 0, shot);
        shot = shaped;
    }
    const QString file = QDir(g_out).filePath(name + QStringLiteral(".png"));
    shot.save(file);
    std::printf("%s\n", qPrintable(file));
}

void addCard(const QStringList& values) {
    static const char* columns[] = {"姓名", "单位",   "部门",     "职务",
                                    "手机", "E-mail", "工作地址", "备注"};
    TADOQuery* q = FrmMain->ADOQuery1;
    q->Insert();
    for (int i = 0; i < values.size(); ++i)
        q->SetFieldAsString(QString::fromUtf8(columns[i]), values.at(i));
    q->Post();
}

// Runs a menu item and saves the modal window it shows, while it is shown: some are gone
// once their item returns.
void saveShown(Platform::ModalRecorder& modal, const char* action, const QString& name,
               const std::function<void(QWidget*)>& prepare = {}) {
    modal.onShow = [&](QWidget* window) {
        if (prepare)
            prepare(window);
        save(window, name);
        window->hide();
    };
    FrmMain->findChild<QAction*>(QString::fromLatin1(action))->trigger();
    modal.onShow = nullptr;
}

// The dialogs of the data menu and the popup items, over the cards added.
void saveDialogs(Platform::ModalRecorder& modal) {
    FrmMain->PopupMenu1->popup(FrmMain->mapToGlobal(QPoint(0, 0)));
    save(FrmMain->PopupMenu1, QStringLiteral("menu_popup"));
    FrmMain->PopupMenu1->hide();

    FrmMain->ADOQuery1->First();
    FrmMain->DBGrid1CellClick();
    saveShown(modal, "QrGridAction", QStringLiteral("qr"));
    saveShown(modal, "QrGridAction", QStringLiteral("qr_mecard"), [](QWidget* window) {
        static_cast<QrDialog*>(window)->setFormat(Recognize::QrCode::Format::MeCard);
    });
    addCard({QStringLiteral("赵敏"), QStringLiteral("东海国际贸易有限公司"),
             QStringLiteral("进出口部"), QStringLiteral("总监"), QStringLiteral("13712345678"),
             QStringLiteral("zhaomin@example.com"),
             QStringLiteral("上海市浦东新区世纪大道").repeated(150), QString()});
    FrmMain->ADOQuery1->Last();
    saveShown(modal, "QrGridAction", QStringLiteral("qr_long"));

    // A card written again: the history lists its add, the duplicates pair it.
    addCard({QStringLiteral("张伟"), QStringLiteral("北方机械"), QString(), QString(),
             QStringLiteral("139 0123 4567")});
    FrmMain->ADOQuery1->Last();
    FrmMain->ADOQuery1->Delete();
    addCard({QStringLiteral("張偉"), QStringLiteral("北方机械有限公司"), QStringLiteral("销售部"),
             QStringLiteral("销售经理"), QStringLiteral("+86 139 0123 4567")});
    saveShown(modal, "HistoryAction", QStringLiteral("history"));
    saveShown(modal, "HistoryAction", QStringLiteral("history_deleted"),
              [](QWidget* window) { window->findChild<QTabWidget*>()->setCurrentIndex(1); });
    saveShown(modal, "ActionFindDuplicates", QStringLiteral("duplicates"));
    saveShown(modal, "NSyncSetup", QStringLiteral("sync_account"));
}

// A photo of a card on a desk, as a phone takes it: the card turned a little on grey.
QImage cardPhoto(const QString& name, const QString& company, const QString& phone,
                 bool back = false) {
    QImage card(1063, 638, QImage::Format_RGB32);
    card.fill(back ? QColor(30, 60, 120) : Qt::white);
    {
        QPainter p(&card);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(back ? Qt::white : Qt::black);
        QFont font(QStringLiteral("Noto Sans CJK SC"));
        font.setPixelSize(back ? 90 : 48);
        p.setFont(font);
        p.drawText(QRect(80, 60, 900, 120), back ? Qt::AlignCenter : Qt::AlignLeft, company);
        if (!back) {
            font.setPixelSize(96);
            p.setFont(font);
            p.drawText(QPoint(80, 300), name);
            font.setPixelSize(40);
            p.setFont(font);
            p.drawText(QPoint(80, 480), QStringLiteral("手机：") + phone);
        }
    }
    QImage photo(1400, 1000, QImage::Format_RGB32);
    photo.fill(QColor(70, 66, 60));
    QPainter p(&photo);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(700, 500);
    p.rotate(-4);
    p.drawImage(QPoint(-531, -319), card);
    return photo;
}

// The pictures kept with a card: the detail pane's thumbnail, the large view, and the
// picture beside the editor while a recognised card is checked.
void savePictures(Platform::ModalRecorder& modal) {
    FrmMain->ADOQuery1->First();
    const qint64 id = FrmMain->ADOQuery1->CurrentId();
    sqlite3* db = FrmMain->ADOConnection1->handle();
    CardPicture::store(
        db, id, CardPicture::Side::Front,
        Recognize::keptPicture(cardPhoto(QStringLiteral("张伟"), QStringLiteral("北方机械有限公司"),
                                         QStringLiteral("139 0123 4567"))));
    FrmMain->SpeedButtonFClick();
    FrmMain->DBGrid1CellClick();
    FrmMain->findChild<CardPictures*>()->showInPane();
    save(FrmMain, QStringLiteral("main_detail_picture"));
    saveShown(modal, "PictureAction", QStringLiteral("picture_large"));
    CardPicture::store(
        db, id, CardPicture::Side::Back,
        Recognize::keptPicture(cardPhoto(QString(), QStringLiteral("北方机械"), QString(), true)));
    saveShown(modal, "PictureAction", QStringLiteral("picture_large_back"));
    FrmMain->SpeedButtonSClick();

    // Read from the clipboard: the editor opens with the picture beside it.
    QGuiApplication::clipboard()->setImage(cardPhoto(QStringLiteral("李娜"),
                                                     QStringLiteral("江南文化传媒有限公司"),
                                                     QStringLiteral("138 1234 5678")));
    FrmMain->findChild<CardRecognition*>()->readClipboardPicture();
    save(FrmMain, QStringLiteral("editor_picture"));
    FrmMain->Button7Click();
}

} // namespace

// Shows the window named and prints its id; runs until the process is ended.
int showOne(const QString& name) {
    QWidget* window = name == QLatin1String("continue") ? static_cast<QWidget*>(FrmTJTS)
                      : name == QLatin1String("delete") ? static_cast<QWidget*>(FrmSC)
                      : name == QLatin1String("login")  ? static_cast<QWidget*>(FrmDL)
                      : name == QLatin1String("main")   ? static_cast<QWidget*>(FrmMain)
                                                        : nullptr;
    if (!window) {
        std::fprintf(stderr, "renderwindows: no window named %s\n", qPrintable(name));
        return 2;
    }
    // Shown as the program shows it: the prompts modal.
    QTimer::singleShot(0, window, [window] {
        std::printf("0x%llx\n", static_cast<unsigned long long>(window->winId()));
        std::fflush(stdout);
    });
    if (window == FrmTJTS || window == FrmSC) {
        Platform::showModal(window);
        return 0;
    }
    window->show();
    return QCoreApplication::exec();
}

int main(int argc, char** argv) {
    Platform::TApplication app(argc, argv);
    const bool show = argc == 3 && qstrcmp(argv[1], "--show") == 0;
    if (argc < 2 || (argc > 2 && !show)) {
        std::fprintf(stderr, "usage: renderwindows OUTDIR | renderwindows --show NAME\n");
        return 2;
    }
    QTemporaryDir folder;
    const QString password = DatabaseSettings::stored().password;
    Schema::createDatabase(folder.filePath(QStringLiteral("velmora.mdb")), password, QString());
    Platform::setProgramFolderForTesting(folder.path());
    Platform::MessageBoxRecorder boxes;
    std::optional<Platform::ModalRecorder> modal;
    if (!show)
        modal.emplace();
    if (!Quembe::createForms())
        return 1;
    if (show) {
        const int status = showOne(QString::fromLocal8Bit(argv[2]));
        Quembe::destroyForms();
        return status;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);

    addCard({QStringLiteral("张伟"), QStringLiteral("北方机械有限公司"), QStringLiteral("销售部"),
             QStringLiteral("经理"), QStringLiteral("13901234567"),
             QStringLiteral("zhangwei@example.com"), QStringLiteral("北京市海淀区中关村大街1号"),
             QStringLiteral("老客户")});
    addCard({QStringLiteral("李娜"), QStringLiteral("江南文化传媒"), QStringLiteral("编辑部"),
             QStringLiteral("主编"), QStringLiteral("13812345678"),
             QStringLiteral("lina@example.com"), QStringLiteral("杭州市西湖区文三路88号"),
             QString()});
    addCard({QStringLiteral("王强"), QStringLiteral("华夏软件"), QStringLiteral("研发中心"),
             QStringLiteral("工程师"), QStringLiteral("13698765432"),
             QStringLiteral("wq@example.com"), QStringLiteral("深圳市南山区科技园"),
             QStringLiteral("会议上认识")});
    FrmMain->ADOQuery1->First();

    FrmDL->Edit1->setText(QStringLiteral("secret"));
    save(FrmDL, QStringLiteral("login"));
    FrmDL->Edit1->clear();
    FrmDL->hide();
    FrmMain->show();
    FrmMain->DBGrid1->setFocus();
    save(FrmMain, QStringLiteral("main"));

    FrmMain->SpeedButtonFClick();
    FrmMain->DBGrid1CellClick();
    save(FrmMain, QStringLiteral("main_detail"));
    FrmMain->SpeedButtonSClick();

    FrmMain->SpeedButton1Click();
    save(FrmMain, QStringLiteral("editor_page1"));
    FrmMain->Button6Click();
    save(FrmMain, QStringLiteral("editor_page2"));
    FrmMain->Button9Click();
    save(FrmMain, QStringLiteral("editor_page3"));
    FrmMain->Button7Click();

    FrmMain->N9Click();
    FrmMain->EditXMM->setText(QStringLiteral("new"));
    save(FrmMain, QStringLiteral("password"));
    FrmMain->EditXMM->clear();
    FrmMain->N7Click();
    save(FrmMain, QStringLiteral("about"));
    FrmMain->H1Click();
    save(FrmMain, QStringLiteral("help"));
    FrmMain->BitBtn1Click();

    FrmMain->N2->popup(FrmMain->mapToGlobal(QPoint(0, 0)));
    save(FrmMain->N2, QStringLiteral("menu_system"));
    FrmMain->N2->hide();
    FrmMain->N1->popup(FrmMain->mapToGlobal(QPoint(0, 0)));
    save(FrmMain->N1, QStringLiteral("menu_data"));
    FrmMain->N1->hide();

    save(FrmSC, QStringLiteral("delete"));
    FrmSC->hide();
    save(FrmTJTS, QStringLiteral("continue"));
    FrmTJTS->hide();

    saveDialogs(*modal);
    savePictures(*modal);

    Quembe::destroyForms();
    return 0;
}

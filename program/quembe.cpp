#include "quembe.h"

#include "core/error.h"
#include "data/connectionstring.h"
#include "data/schema.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "platform/application.h"
#include "platform/files.h"
#include "platform/messagebox.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QStyleFactory>
#include <QTimer>
#include <QTranslator>

#include <memory>

// The pictures live in the library; a static library has to register them itself.
static void initResources() {
    Q_INIT_RESOURCE(assets);
}

namespace Quembe {

namespace {

const int kPrepareAfterMs = 150;

void setLooks() {
    initResources();
    installQtChinese();
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font;
    // The Chinese captions need a CJK font; the first family that exists wins.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
}

} // namespace

bool installQtChinese() {
    // The program speaks Chinese whatever the locale, so Qt's own dialogs and buttons do too.
    static QTranslator* translator = nullptr;
    if (translator)
        return true;
    auto loaded = std::make_unique<QTranslator>();
    if (!loaded->load(QStringLiteral("qtbase_zh_CN"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    translator = loaded.release();
    translator->setParent(qApp);
    QCoreApplication::installTranslator(translator);
    return true;
}

QString provideUserDatabase() {
    if (!Platform::programFolderIsUserData())
        return QString();
    const DatabaseSettings settings = DatabaseSettings::stored();
    const QString folder = Platform::programFolder();
    const QString file = folder + settings.fileName;
    if (QFileInfo::exists(file))
        return QString();
    if (!QDir().mkpath(folder))
        throw EError(QStringLiteral("无法建立存放名片数据库的文件夹：\n%1\n"
                                    "请检查您的主文件夹是否可写、磁盘是否已满。\n(mkpath failed)")
                         .arg(QDir::toNativeSeparators(folder)));
    Schema::createDatabase(file, settings.password, QString());
    return file;
}

bool createForms() {
    setLooks();
    try {
        FrmDL = new TFrmDL;
        FrmMain = new TFrmMain;
        FrmSC = new TFrmSC;
        FrmTJTS = new TFrmTJTS;
    } catch (const EError& e) {
        destroyForms();
        Platform::showError(e.message(), QStringLiteral("Application Error"));
        return false;
    } catch (const std::exception& e) {
        destroyForms();
        Platform::showError(QString::fromLocal8Bit(e.what()), QStringLiteral("Application Error"));
        return false;
    }
    return true;
}

void destroyForms() {
    delete FrmTJTS;
    delete FrmSC;
    delete FrmMain;
    delete FrmDL;
}

int run(QApplication& app) {
    QString created;
    try {
        created = provideUserDatabase();
    } catch (const EError& e) {
        setLooks();
        Platform::showError(e.message(), QStringLiteral("Application Error"));
        return 1;
    }
    if (!createForms())
        return 1;
    FrmDL->show();
    if (!created.isEmpty()) {
        // Once, on the first start: where the cards are and how to get in.
        QTimer::singleShot(0, FrmDL, [created] {
            Platform::showMessage(
                QStringLiteral("欢迎使用 Qel名片系统！已为您新建了名片数据库：\n%1\n"
                               "登录密码为空：在登录框里直接按回车即可进入。"
                               "进入后请用“系统 → 修改密码”设置您自己的密码。")
                    .arg(QDir::toNativeSeparators(created)));
        });
    }
    // While the password is typed, the main window gets ready; nobody types it this fast.
    QTimer::singleShot(kPrepareAfterMs, FrmMain, [] { FrmMain->prepareToShow(); });
    const int status = app.exec();
    destroyForms();
    return status;
}

} // namespace Quembe

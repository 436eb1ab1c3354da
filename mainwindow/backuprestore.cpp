// Backup and restore (系统 → 备份数据, 还原数据): a checked copy of the database file beside it.
#include "VELMORA.h"

#include "cardduplicates.h"
#include "quickfindpanel.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/backup.h"
#include "data/datasource.h"
#include "platform/files.h"
#include "platform/messagebox.h"

namespace {

const QString kDatabaseFile = QStringLiteral("velmora.mdb");
const QString kBackupFile = QStringLiteral("velmora.bak");
const QString kNoticeCaption = QStringLiteral("提示");

} // namespace

void TFrmMain::reopenCards() {
    reopenCardList(ADOConnection1, ADOQuery1);
}

void TFrmMain::closeConnection() {
    // The check of the index reads the file: done before it is copied or replaced, and of
    // no use afterwards.
    m_quickFind->finishCheck();
    m_duplicates->connectionClosing();
    if (ADOConnection1->Connected())
        ADOConnection1->Close();
}

void TFrmMain::N10Click() {
    using namespace Platform;
    PageControlSYS->setVisible(false);
    ButtonXGQD->setVisible(false);
    const QString backup = programFolder() + kBackupFile;
    const QString database = programFolder() + kDatabaseFile;
    QString reason;
    // Our own checks must not look like another program holding the file.
    m_quickFind->waitForCheck();
    m_duplicates->waitForCheck();
    // The connection is closed only once the copy goes ahead: a backup refused before that
    // (another program holding the file) leaves the list as it was.
    if (backupDatabase(database, backup, &reason, [this] { closeConnection(); }))
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
    const QString database = programFolder() + kDatabaseFile;
    const QString backup = programFolder() + kBackupFile;
    QString reason;
    // They read the file: not to be taken for another program.
    m_quickFind->waitForCheck();
    m_duplicates->waitForCheck();
    if (!fileExists(backup) && !isSymLink(backup)) {
        messageBox(this, QStringLiteral("没有备份数据,不能还原"), kNoticeCaption,
                   MB_ICONINFORMATION);
    } else if (!isRestorableBackup(backup, ADOConnection1->ConnectionString, &reason)) {
        // Checked before anything is replaced: a damaged copy would take the cards with it.
        messageBox(this, QStringLiteral("备份数据已损坏,不能还原") + QLatin1Char('\n') + reason,
                   kNoticeCaption, MB_ICONWARNING);
    } else if (restoreDatabase(backup, database, &reason, [this] { closeConnection(); })) {
        m_quickFind->databaseReplaced();
        messageBox(this, QStringLiteral("数据库还原成功!"), kNoticeCaption, MB_ICONINFORMATION);
    } else {
        messageBox(this, QStringLiteral("数据库还原失败!") + QLatin1Char('\n') + reason,
                   kNoticeCaption, MB_ICONWARNING);
    }
    reopenCards();
}

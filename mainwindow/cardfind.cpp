// Finding cards as you type: the list narrows at every key, by text, pinyin, initials or
// phone digits, over the whole list like the panel's search.
#include "VELMORA.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/cardindex.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "quickfind/quickfind.h"

#include <QSignalBlocker>
#include <QTimer>

namespace {

// Room between the link label and the input.
const int kGap = 6;

} // namespace

void TFrmMain::setUpQuickFind() {
    // Typed into on purpose, never the first stop: the grid keeps the focus at start.
    QWidget::setTabOrder(DBGrid1, EditKSCZ);
    PanelSBT->installEventFilter(this);
    EditKSCZ->installEventFilter(this);
    placeQuickFind();
    // An older file gets its index once the window is up, not while the list is drawn; a file
    // that has one has it checked on a thread meanwhile.
    QTimer::singleShot(0, this, [this] {
        QTimer::singleShot(0, this, Platform::guarded([this] { prepareQuickFindEarly(); }));
    });
}

void TFrmMain::prepareQuickFindEarly() {
    if (!ADOConnection1->Connected())
        return;
    // Only a head start, which nobody asked for: a file another program holds right now gets
    // no error box here. The first find does the same work and says what is wrong.
    try {
        if (!QuickFind::isBuilt(ADOConnection1->handle()))
            prepareQuickFind(false);
        else if (!m_quickFindRepaired && !m_indexCheck.valid())
            m_indexCheck = CardIndex::checkInBackground(ADOConnection1->databaseFile());
    } catch (const EError&) {
    }
}

void TFrmMain::placeQuickFind() {
    // From the end of the link label to the end of the strip.
    const int left = Label35->x() + Label35->width() + kGap;
    EditKSCZ->setGeometry(left, 1, qMax(40, PanelSBT->width() - left - 1), 17);
}

void TFrmMain::clearQuickFind() {
    const QSignalBlocker quiet(EditKSCZ);
    EditKSCZ->clear();
}

void TFrmMain::prepareQuickFind(bool repair) {
    ADOConnection1->Open();
    sqlite3* db = ADOConnection1->handle();
    const bool build = !QuickFind::isBuilt(db);
    if (!build && (!repair || m_quickFindRepaired))
        return;
    if (!build && m_indexCheck.valid() && m_indexCheck.get()) {
        m_quickFindRepaired = true; // the check found nothing to bring in line
        return;
    }
    // Both write to the file: the list's own reading must be done first.
    ADOConnection1->finishReading();
    if (build) {
        int rc = SQLITE_OK;
        const qint64 cards =
            Sqlite::firstColumn(db, "SELECT count(*) FROM \"zl\"", &rc).value(0).toLongLong();
        Platform::Progress progress(this, QStringLiteral("正在为快速查找整理名片，只需一次……"),
                                    qMax<qint64>(1, cards));
        if (!QuickFind::build(
                db, [&progress](qint64 done, qint64) { return progress.setValue(done); })) {
            Platform::showMessage(
                QStringLiteral("快速查找的整理已取消。快速查找仍然可以用，只是在很多"
                               "名片中查找会慢一些；下次打开本程序时会再整理。"));
            return;
        }
    } else {
        QuickFind::repair(db);
    }
    m_quickFindRepaired = true;
}

void TFrmMain::N25Click() {
    checkFocusMayLeave();
    EditKSCZ->setFocus(Qt::ShortcutFocusReason);
    EditKSCZ->selectAll();
}

void TFrmMain::EditKSCZChange() {
    const QString text = EditKSCZ->text();
    if (text.trimmed().isEmpty()) {
        // Emptied by the user: all cards again, as "返        回" gives them.
        if (ADOQuery1->IdSource)
            SpeedButton5Click();
        return;
    }
    prepareQuickFind(true);
    ADOQuery1->Close();
    ADOQuery1->SQL.Clear();
    ADOQuery1->SQL.Add(QStringLiteral("select * from zl"));
    ADOQuery1->Parameters.clear();
    ADOQuery1->IdSource = [text](sqlite3* db) { return QuickFind::find(db, text); };
    ADOQuery1->Open();
    // The list is a search result, as the panel's search leaves it.
    showSearchResult();
}

void TFrmMain::EditKSCZEscape() {
    if (!EditKSCZ->text().isEmpty() || ADOQuery1->IdSource)
        SpeedButton5Click();
}

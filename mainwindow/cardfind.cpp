// Finding cards as you type: the list narrows at every key, by text, pinyin, initials or
// phone digits, over the whole list like the panel's search.
#include "VELMORA.h"

#include "cardeditor.h"
#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "platform/application.h"
#include "platform/messagebox.h"
#include "platform/progress.h"
#include "quickfind/cardindex.h"
#include "quickfind/quickfind.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {

// Room between the link label and the input.
const int kGap = 6;

QLabel* countLabel(QWidget* strip) {
    return strip->findChild<QLabel*>(QStringLiteral("LabelKSCZ"), Qt::FindDirectChildrenOnly);
}

} // namespace

void TFrmMain::setUpQuickFind() {
    // Typed into on purpose, never the first stop: the grid keeps the focus at start.
    QWidget::setTabOrder(DBGrid1, EditKSCZ);
    PanelSBT->installEventFilter(this);
    EditKSCZ->installEventFilter(this);
    EditKSCZ->setToolTip(
        QStringLiteral("输入后列表随即缩小。可以输入：任何一栏中的一段文字（繁体、简体都可以）；"
                       "姓名或单位的全拼、首字母或全拼加首字母（zhangsan、zs、zhangsf；"
                       "zh、ch、sh 要打全）；电话号码，怎样写都可以（010-62751234、"
                       "138.1234.5678）。几个词用空格隔开，每个都要找到。\n"
                       "↓ 或回车：到列表的第一张；Esc：清空，列出全部名片。"));
    auto* count = new QLabel(PanelSBT);
    count->setObjectName(QStringLiteral("LabelKSCZ"));
    count->hide();
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
    int right = PanelSBT->width() - 1;
    QLabel* count = countLabel(PanelSBT);
    if (count && !count->isHidden()) {
        count->adjustSize();
        right -= count->width() + kGap;
        count->move(right + kGap, (PanelSBT->height() - count->height()) / 2);
    }
    EditKSCZ->setGeometry(left, 1, qMax(40, right - left), 17);
}

void TFrmMain::showQuickFindCount(bool shown) {
    QLabel* count = countLabel(PanelSBT);
    if (!count)
        return;
    if (shown)
        count->setText(QStringLiteral("共 %1 张").arg(ADOQuery1->RecordCount()));
    count->setVisible(shown);
    placeQuickFind();
}

void TFrmMain::clearQuickFind() {
    const QSignalBlocker quiet(EditKSCZ);
    EditKSCZ->clear();
    showQuickFindCount(false);
}

bool TFrmMain::quickFindKey(int key) {
    if (key == Qt::Key_Escape) {
        Platform::guarded([this] { EditKSCZEscape(); })();
        return true;
    }
    // Down or Enter: on to the first card listed, to be read or opened with Enter.
    if ((key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) &&
        ADOQuery1->Active() && !ADOQuery1->IsEmpty()) {
        Platform::guarded([this] {
            ADOQuery1->First();
            DBGrid1->setFocus(Qt::ShortcutFocusReason);
        })();
        return true;
    }
    return false;
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
    // Shown only while the index is built, which tells how many cards there are first.
    std::optional<Platform::Progress> progress;
    const bool ready = QuickFind::ensureReady(db, [this, &progress](qint64 done, qint64 total) {
        if (!progress)
            progress.emplace(this, QStringLiteral("正在为快速查找整理名片，只需一次……"),
                             qMax<qint64>(1, total));
        return progress->setValue(done);
    });
    if (!ready) {
        Platform::showMessage(QStringLiteral("快速查找的整理已取消。快速查找仍然可以用，只是在很多"
                                             "名片中查找会慢一些；下次打开本程序时会再整理。"));
        return;
    }
    m_quickFindRepaired = true;
}

void TFrmMain::N25Click() {
    checkFocusMayLeave();
    EditKSCZ->setFocus(Qt::ShortcutFocusReason);
    EditKSCZ->selectAll();
}

bool TFrmMain::editorHoldsChanges() const {
    if (!PageControlZL->isVisibleTo(this))
        return false;
    const QString mode = modeMarker();
    const bool adding =
        mode == QStringLiteral("添加") || (mode == QStringLiteral("修改") && m_loadedFromEmptyList);
    if (!adding && mode != QStringLiteral("修改"))
        return false;
    const QStringList columns = ADOQuery1->FieldNames();
    bool changed = false;
    m_editor->store([&](const QString& column, const QString& text) {
        const QString loaded =
            adding ? QString() : m_loadedValues.value(int(columns.indexOf(column))).toString();
        // Blanks alone are no change: an empty postcode box gives six of them.
        changed = changed || text.trimmed() != loaded.trimmed();
    });
    return changed;
}

void TFrmMain::EditKSCZChange() {
    const QString text = EditKSCZ->text();
    if (text.trimmed().isEmpty()) {
        // Emptied by the user: all cards again, as "返        回" gives them.
        if (ADOQuery1->IdSource)
            SpeedButton5Click();
        return;
    }
    // Looking somebody up while a card is being added or modified narrows the list behind
    // the editor; the card being modified stays listed, so that its save finds it.
    const bool keepEditor = editorHoldsChanges();
    const qint64 editing =
        keepEditor && modeMarker() == QStringLiteral("修改") && !m_loadedFromEmptyList ? m_loadedId
                                                                                       : 0;
    prepareQuickFind(true);
    ADOQuery1->Close();
    ADOQuery1->SQL.Clear();
    ADOQuery1->SQL.Add(QStringLiteral("select * from zl"));
    ADOQuery1->Parameters.clear();
    ADOQuery1->IdSource = [text, editing](sqlite3* db) {
        QVector<qint64> ids = QuickFind::find(db, text);
        const auto at = std::lower_bound(ids.begin(), ids.end(), editing);
        if (editing != 0 && (at == ids.end() || *at != editing))
            ids.insert(at, editing);
        return QuickFind::nameMatchesFirst(db, text, ids);
    };
    ADOQuery1->Open();
    showQuickFindCount(true);
    if (keepEditor) {
        SpeedButton5->setVisible(true);
        Label31->setVisible(true);
        PageControlSYS->setVisible(false);
        return;
    }
    // The list is a search result, as the panel's search leaves it.
    showSearchResult();
}

void TFrmMain::EditKSCZEscape() {
    if (!EditKSCZ->text().isEmpty() || ADOQuery1->IdSource)
        SpeedButton5Click();
}

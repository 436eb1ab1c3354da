// Texts of every length and character come back exactly as stored: through the inputs,
// the grid, the detail pane and an unchanged save.
#include "testsupport.h"

#include "data/adoquery.h"
#include "data/datasource.h"
#include "data/fieldmap.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/cardeditor.h"
#include "mainwindow/controls.h"
#include "mainwindow/dbcontrols.h"

#include <QClipboard>
#include <QKeyEvent>
#include <QTest>

using namespace TestSupport;

namespace {

/// The stored bytes of every written column, so that nothing can hide in a conversion.
QStringList storedBytes(const Program& program) {
    QStringList columns;
    for (const FieldMapEntry& f : kFieldMap)
        columns << QStringLiteral("hex(\"%1\")").arg(col(f.column));
    return query(program.folder.database(),
                 QStringLiteral("select %1, 添加日期 from zl order by ID").arg(columns.join(',')));
}

/// Types `text` as a keyboard with an input method would, character by character.
void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

QString cell(int column) {
    TADOQuery* q = FrmMain->ADOQuery1;
    return FrmMain->DataSource1
        ->data(FrmMain->DataSource1->index(q->RecNo(), column), Qt::DisplayRole)
        .toString();
}

} // namespace

class TestTexts : public QObject {
    Q_OBJECT

private slots:
    void noInputCutsALongTextShort() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        // Only the password inputs and the postcode boxes have a length of their own.
        for (QLineEdit* edit : m->findChildren<QLineEdit*>()) {
            const QString name =
                edit->objectName().isEmpty() ? edit->parent()->objectName() : edit->objectName();
            if (name == QLatin1String("EditXMM") || name == QLatin1String("EditXMMHD"))
                QCOMPARE(edit->maxLength(), 16);
            else if (qobject_cast<TMaskEdit*>(edit))
                QCOMPARE(edit->maxLength(), 6);
            else
                QVERIFY2(edit->maxLength() > 1000000, qPrintable(name));
        }

        // 40,000 characters pasted into 单位 are stored whole.
        const QString pasted = QString(40000, QChar(u'长'));
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("张三"));
        QApplication::clipboard()->setText(pasted);
        m->Edit2->setFocus();
        QTest::keyClick(m->Edit2, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m->Edit2->text().size(), 40000);
        m->ButtonTJQDClick();
        QCOMPARE(query(program.folder.database(), QStringLiteral("select length(单位) from zl")),
                 QStringList{QStringLiteral("40000")});

        // Loaded again, one more character typed at the end.
        m->SpeedButton2Click();
        QCOMPARE(m->Edit2->text(), pasted);
        m->Edit2->setFocus();
        m->Edit2->end(false);
        type(m->Edit2, QStringLiteral("了"));
        m->ButtonXGQDClick();
        QCOMPARE(query(program.folder.database(), QStringLiteral("select 单位 from zl")),
                 QStringList{pasted + QStringLiteral("了")});
    }

    void unusualCharactersReadBackAsStored() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        // Written by another program: a byte order mark first, characters an editor could
        // take for something else, and line breaks of every kind.
        const QString bom = QString(QChar(0xFEFF));
        QStringList sets;
        for (const FieldMapEntry& f : kFieldMap)
            sets << QStringLiteral("\"%1\" = char(65279) || '%1' || char(160, 8232, 13, 10, "
                                   "8233, 9, 65279)")
                        .arg(col(f.column));
        exec(program.folder.database(), QStringLiteral("insert into zl (姓名) values ('x')"));
        exec(program.folder.database(), QStringLiteral("update zl set ") + sets.join(','));
        const QStringList before = storedBytes(program);
        m->SpeedButton5Click();

        const QString name =
            bom + col("姓名") + QString::fromUtf16(u"\u00a0\u2028\r\n\u2029\t\ufeff");
        const int column = int(m->ADOQuery1->FieldNames().indexOf(col("姓名")));
        QCOMPARE(m->ADOQuery1->CellText(0, column), name);
        QCOMPARE(cell(m->DataSource1->columns().indexOf(col("姓名"))), name);
        m->DBGrid1CellClick();
        QCOMPARE(m->ValueListEditor1->value(col("姓名")), name);

        // Loaded into the editor and saved without a change: not one byte differs.
        m->SpeedButton2Click();
        for (const EditorInput& f : kEditorInputs) {
            const QString control = QString::fromLatin1(f.control);
            if (!control.startsWith(QLatin1String("MaskEdit")))
                QCOMPARE(m->inputText(control), name.mid(0, 1) + col(f.column) + name.mid(3));
        }
        m->ButtonXGQDClick();
        QCOMPARE(storedBytes(program), before);

        // A change to the notes keeps the no-break space typed or pasted in them.
        m->SpeedButton2Click();
        m->Memo1->setFocus();
        m->Memo1->moveCursor(QTextCursor::End);
        type(m->Memo1, QString::fromUtf16(u"\u00a0了"));
        m->ButtonXGQDClick();
        QCOMPARE(query(program.folder.database(), QStringLiteral("select 备注 from zl")).first(),
                 bom + col("备注") + QString::fromUtf16(u"\u00a0\u2028\n\n\t\ufeff\u00a0了"));
    }

    void aHugeValueIsShownShortAndKeptWhole() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        // One line of eight million characters, written by another program.
        const int huge = 8 << 20;
        exec(program.folder.database(),
             QStringLiteral("insert into zl (姓名, 单位, 备注) values ('张三', "
                            "replace(hex(zeroblob(%1)), '0', 'x'), 'short')")
                 .arg(huge / 2));
        m->ADOQuery1->Close();
        m->ADOQuery1->Open();

        const QString shown = cell(m->DataSource1->columns().indexOf(col("单位")));
        QVERIFY(shown.size() <= TDataSource::kLongestShown);
        QVERIFY(shown.endsWith(QChar(0x2026)));
        QVERIFY(shown.startsWith(QStringLiteral("xxxx")));
        m->DBGrid1CellClick();
        QCOMPARE(m->ValueListEditor1->value(col("单位")), shown);

        // The editor shows the beginning, cannot change it, and saves the rest around it.
        m->SpeedButton2Click();
        QVERIFY(m->Edit2->text().size() < huge);
        QVERIFY(m->Edit2->isReadOnly());
        QVERIFY(!m->Edit2->toolTip().isEmpty());
        QCOMPARE(m->inputText(QStringLiteral("Edit2")).size(), huge);
        m->Edit3->setText(QStringLiteral("销售部"));
        m->ButtonXGQDClick();
        QCOMPARE(query(program.folder.database(),
                       QStringLiteral("select length(单位), 单位 = replace(hex(zeroblob(%1)), "
                                      "'0', 'x'), 部门 from zl")
                           .arg(huge / 2)),
                 QStringList{QStringLiteral("%1|1|销售部").arg(huge)});
        // A card of ordinary length makes the input editable again.
        m->SpeedButton1Click();
        QVERIFY(!m->Edit2->isReadOnly());
        QVERIFY(m->Edit2->toolTip().isEmpty());
    }
};

QTEST_MAIN(TestTexts)
#include "tst_texts.moc"

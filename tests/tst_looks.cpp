// How the windows look, read from what they draw: colours, row heights, controls that must
// show whole, and the continue-adding prompt's title bar.
#include "testsupport.h"

#include "dialogs/Tjts.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/dbcontrols.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QWindow>

using namespace TestSupport;

namespace {

const QColor kMoneyGreen(0xC0, 0xDC, 0xC0);
const QColor kGridBackground(0xF4, 0xFC, 0xEF);

/// The main window as it draws itself now.
QImage shot() {
    QApplication::processEvents();
    return FrmMain->grab().toImage();
}

QColor pixel(const QImage& image, const QWidget* widget, const QPoint& at) {
    return image.pixelColor(widget->mapTo(FrmMain, at));
}

/// The distances between the horizontal lines crossing column x of a widget, from y 0 to
/// `height`: a line is a pixel that differs from the column's most common colour.
QList<int> linePitches(const QImage& image, const QWidget* widget, int x, int height) {
    QHash<QRgb, int> counts;
    for (int y = 0; y < height; ++y)
        ++counts[pixel(image, widget, QPoint(x, y)).rgb()];
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    QList<int> lines;
    for (int y = 0; y < height; ++y)
        if (pixel(image, widget, QPoint(x, y)).rgb() != background &&
            (lines.isEmpty() || lines.last() != y - 1))
            lines << y;
    QList<int> pitches;
    for (int i = 1; i < lines.size(); ++i)
        pitches << lines.at(i) - lines.at(i - 1);
    return pitches;
}

void addCards(int count) {
    for (int i = 0; i < count; ++i)
        addCard({col("姓名"), QStringLiteral("人%1").arg(i), col("单位"), QStringLiteral("公司"),
                 col("手机"), QStringLiteral("139")});
}

} // namespace

class TestLooks : public QObject {
    Q_OBJECT

private slots:
    void detailPaneTitleRowAndRowHeights() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCards(4);
        m->SpeedButtonFClick();
        m->DBGrid1CellClick();
        const QImage image = shot();

        // The title row is the fixed column's green, not the style's gradient.
        QHeaderView* title = m->ValueListEditor1->horizontalHeader();
        for (int section : {0, 1}) {
            const int x = title->sectionViewportPosition(section) + title->sectionSize(section) - 6;
            for (int y = 2; y < title->height() - 2; ++y)
                QCOMPARE(pixel(image, title->viewport(), QPoint(x, y)), kMoneyGreen);
        }
        // Rows 18 pixels high in the pane and in the grid.
        QWidget* pane = m->ValueListEditor1->viewport();
        const int keyRight = m->ValueListEditor1->columnWidth(0) - 4;
        const QList<int> paneRows = linePitches(image, pane, keyRight, pane->height());
        QVERIFY(paneRows.size() >= 5);
        for (int pitch : paneRows)
            QCOMPARE(pitch, 18);
        TDBGrid* grid = m->DBGrid1;
        const int company = grid->columnByName(col("单位"));
        const int x = grid->columnViewportPosition(company) + grid->columnWidth(company) - 4;
        const QList<int> gridRows = linePitches(image, grid->viewport(), x, 18 * 4);
        QCOMPARE(gridRows, QList<int>({18, 18, 18}));
    }

    void rowMarkerColumnOfAnEmptyList() {
        Program program;
        program.showMain();
        const QImage image = shot();
        QHeaderView* markers = FrmMain->DBGrid1->verticalHeader();
        for (int y : {2, 20, markers->height() / 2, markers->height() - 3})
            QCOMPARE(pixel(image, markers, QPoint(markers->width() / 2, y)), kGridBackground);
        // The corner above them belongs to the title row.
        QHeaderView* titles = FrmMain->DBGrid1->horizontalHeader();
        QCOMPARE(pixel(image, FrmMain->DBGrid1, QPoint(markers->x() + 4, titles->y() + 5)),
                 kMoneyGreen);
    }

    void editorLabelsShowWhole() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        for (QWidget* page : {m->TabSheet1, m->TabSheet2}) {
            m->PageControlZL->setCurrentWidget(page);
            QApplication::processEvents();
            for (QLabel* label : page->findChildren<QLabel*>()) {
                const QFontMetrics metrics = label->fontMetrics();
                QVERIFY2(label->width() >= metrics.horizontalAdvance(label->text()),
                         qPrintable(label->text()));
                // No input lies over any stroke of the caption.
                const QRect ink =
                    metrics.tightBoundingRect(label->text()).translated(label->x(), 0);
                const QRect line(ink.left(), label->y(), ink.width(), label->height());
                for (QWidget* input :
                     page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                    if (qobject_cast<QLineEdit*>(input) || qobject_cast<QComboBox*>(input))
                        QVERIFY2(!input->geometry().intersects(line), qPrintable(label->text()));
                }
            }
        }
        // The E-mail input keeps its line and its right edge.
        QCOMPARE(m->Edit13->y(), 56);
        QCOMPARE(m->Edit13->height(), 19);
        QCOMPARE(m->Edit13->geometry().right(), 187 + 118 - 1);
        QCOMPARE(m->Edit12->geometry(), QRect(187, 32, 118, 19));
    }

    void buttonsShowWholeOnTheirPages() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        for (QTabWidget* pages : {m->PageControlZL, m->PageControlSYS}) {
            pages->setVisible(true);
            for (int i = 0; i < pages->count(); ++i) {
                pages->setCurrentIndex(i);
                QApplication::processEvents();
                QWidget* page = pages->widget(i);
                for (QPushButton* button : page->findChildren<QPushButton*>())
                    QVERIFY2(page->rect().contains(button->geometry()),
                             qPrintable(button->objectName()));
            }
            pages->setVisible(false);
        }
        QCOMPARE(m->Button14->geometry(), QRect(428, 113, 62, 21));
    }

    void inputsFilledByTheProgramShowTheirStart() {
        Program program;
        program.showMain();
        addCard({col("姓名"), QStringLiteral("吴"), col("工作电话"),
                 QStringLiteral("0755-86213377 0755-86213388 0755-86213399"), col("E-mail"),
                 QStringLiteral("ngxw@very-long-company-name.example.com.cn")});
        FrmMain->SpeedButton2Click(); // 修改
        for (const char* control : {"Edit8", "Edit13"}) {
            auto* edit = FrmMain->findChild<QLineEdit*>(QString::fromLatin1(control));
            QVERIFY(edit);
            QCOMPARE(edit->cursorPosition(), 0);
            // What it draws begins where the text does.
            QVERIFY2(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() <
                         edit->width() / 4,
                     control);
        }
    }

    void blanksOfAMessageStay() {
        // A notice spaced out on purpose keeps its blanks, leading ones included.
        const QString text = QStringLiteral("      密码修改成功!    ");
        const std::unique_ptr<QMessageBox> box =
            Platform::makeMessageBox(nullptr, text, QStringLiteral("名片"), Platform::MB_OK);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label);
        QTextDocument* document = label->findChild<QTextDocument*>();
        QVERIFY(document);
        QCOMPARE(document->begin().text(), text);
        // Blanks inside a line and of a line alone stay as well.
        const std::unique_ptr<QMessageBox> two = Platform::makeMessageBox(
            nullptr, QStringLiteral("甲   乙\n   "), QStringLiteral("名片"), Platform::MB_OK);
        two->show();
        QTextDocument* second =
            two->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->findChild<QTextDocument*>();
        QVERIFY(second);
        QCOMPARE(second->toPlainText(), QStringLiteral("甲   乙\n   "));
    }

    void qtOwnDialogsSpeakChinese() {
        // Whatever the locale: the program's windows are Chinese, so are Qt's.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        Program program;
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                 QDialogButtonBox::Open);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
        QVERIFY2(buttons.button(QDialogButtonBox::Open)->text().contains(QStringLiteral("打开")),
                 qPrintable(buttons.button(QDialogButtonBox::Open)->text()));
        QFileDialog dialog(nullptr, QStringLiteral("导入名片"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        QStringList labels;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            labels << label->text();
        QVERIFY2(labels.join(QLatin1Char('|')).contains(QStringLiteral("文件名")),
                 qPrintable(labels.join(QLatin1Char('|'))));
        QVERIFY2(!labels.join(QLatin1Char('|')).contains(QStringLiteral("File name")),
                 qPrintable(labels.join(QLatin1Char('|'))));
        QLocale::setDefault(QLocale::system());
    }

    void continueAddingPromptTitleBar() {
        Program program;
        FrmTJTS->show();
        QWindow* window = FrmTJTS->windowHandle();
        QVERIFY(window);
        // The caption is empty; the title bar gets a blank so that it shows no program name.
        QCOMPARE(FrmTJTS->windowTitle(), QString());
        QVERIFY(!window->title().isEmpty());
        QCOMPARE(window->title().trimmed(), QString());
        const Qt::WindowFlags flags = window->flags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        // It keeps that blank when shown again.
        FrmTJTS->hide();
        FrmTJTS->show();
        QVERIFY(!FrmTJTS->windowHandle()->title().isEmpty());
        FrmTJTS->hide();
    }
};

QTEST_MAIN(TestLooks)
#include "tst_looks.moc"

// The real modal loop, without the test seam: it ends when the window hides, and the end of
// the program ends it from inside.
#include "platform/window.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

class TestModal : public QObject {
    Q_OBJECT

private slots:
    void returnsWhenTheWindowHides() {
        QWidget window;
        bool modalWhileShown = false;
        QTimer::singleShot(50, &window, [&] {
            modalWhileShown = window.isVisible() && window.isModal();
            window.close();
        });
        Platform::showModal(&window);
        QVERIFY(modalWhileShown);
        QVERIFY(!window.isVisible());
        QVERIFY(!window.isModal());
    }

    void nestedLoopsEndWithTheProgram() {
        // Must run last: once told to end, the application runs no further loops.
        QWidget outer;
        QWidget inner;
        bool innerShown = false;
        QTimer::singleShot(0, &outer, [&] {
            QTimer::singleShot(20, &inner, [&] {
                innerShown = inner.isVisible();
                Platform::terminateApplication();
            });
            Platform::showModal(&inner);
        });
        Platform::showModal(&outer);
        QVERIFY(innerShown);
    }
};

QTEST_MAIN(TestModal)
#include "tst_modal.moc"

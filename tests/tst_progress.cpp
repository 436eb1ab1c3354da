// One progress for every long operation: phases named in the dialog, cancel told back to the
// work, and a dialog that goes before the work does.
#include "testsupport.h"

#include "core/progress.h"
#include "platform/progress.h"

#include <QTest>

using Core::Progress;

class TestProgress : public QObject {
    Q_OBJECT

private slots:
    void dialogNamesEachPhaseOnce() {
        Platform::ProgressRecorder recorder;
        Progress work(Progress::Phase::Importing, 1000);
        Platform::Progress dialog(nullptr, work);
        QVERIFY(work.advance(400));
        work.begin(Progress::Phase::Filing, 1000);
        // While the cards are filed the count stands still; every step still reaches the dialog.
        QVERIFY(work.advance(1000));
        QVERIFY(work.advance(1000));
        QCOMPARE(recorder.labels, (QStringList{Progress::text(Progress::Phase::Importing),
                                               QStringLiteral("正在建立快速查找索引…")}));
        QCOMPARE(recorder.steps, 3);
    }

    void cancelInTheDialogStopsTheWork() {
        Platform::ProgressRecorder recorder;
        recorder.cancelAtStep(2);
        Progress work(Progress::Phase::Exporting, 3);
        Platform::Progress dialog(nullptr, work);
        QVERIFY(work.advance(1));
        QVERIFY(!work.advance(2));
        QVERIFY(work.cancelled());
        QVERIFY(dialog.wasCanceled());
    }

    void workOutlivesItsDialog() {
        Platform::ProgressRecorder recorder;
        Progress work(Progress::Phase::Exporting, 10);
        {
            Platform::Progress dialog(nullptr, work);
            QVERIFY(work.advance(5));
        }
        QVERIFY(work.advance(8)); // nobody listens any more
        QCOMPARE(recorder.steps, 1);
    }

    void countNeverGoesBackWithinAPhase() {
        Progress work(Progress::Phase::Recognizing, 100);
        QList<qint64> seen;
        work.setListener([&](const Progress& p) { seen << p.done(); });
        work.advance(50);
        work.advance(30);
        QCOMPARE(work.done(), 50);
        work.begin(Progress::Phase::Indexing, 7);
        work.advance(3);
        QCOMPARE(seen, (QList<qint64>{50, 50, 3}));
        QCOMPARE(work.total(), 7);
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"

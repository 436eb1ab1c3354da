// The title bars our windows ask a real window manager for: each window is shown by the
// program's own code on a virtual X display (Xvfb) under openbox, and what it set and what
// the window manager allows are read back with xprop.
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <functional>
#include <optional>

namespace {

// Motif hints: flags, functions, decorations (the first three of five).
const unsigned kFunctionsGiven = 0x1, kDecorationsGiven = 0x2;
const unsigned kFunctionAll = 0x1, kFunctionMinimize = 0x8, kFunctionMaximize = 0x10,
               kFunctionClose = 0x20;
const unsigned kDecorAll = 0x1, kDecorMinimize = 0x20, kDecorMaximize = 0x40;

/// A virtual display with openbox on it, for as long as this lives.
class VirtualDisplay {
public:
    ~VirtualDisplay() {
        for (QProcess* p : {&m_wm, &m_server}) {
            p->terminate();
            if (!p->waitForFinished(3000))
                p->kill();
            p->waitForFinished(3000);
        }
    }

    /// Empty when it runs; else why not.
    QString start() {
        for (const char* tool : {"Xvfb", "openbox", "xprop"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed (scripts/install-deps.sh installs "
                                      "xvfb, openbox and x11-utils)")
                    .arg(QString::fromLatin1(tool));
        }
        // The server picks a free display and names it on its output.
        m_server.start(QStringLiteral("Xvfb"),
                       {QStringLiteral("-displayfd"), QStringLiteral("1"),
                        QStringLiteral("-screen"), QStringLiteral("0"),
                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
        if (!m_server.waitForStarted(5000))
            return QStringLiteral("Xvfb did not start");
        while (!m_server.canReadLine() && m_server.waitForReadyRead(10000)) {
        }
        const QByteArray number = m_server.readLine().trimmed();
        if (number.isEmpty())
            return QStringLiteral("Xvfb named no display");
        name = QStringLiteral(":") + QString::fromLatin1(number);
        m_wm.setProcessEnvironment(environment());
        m_wm.start(QStringLiteral("openbox"), {});
        if (!m_wm.waitForStarted(5000))
            return QStringLiteral("openbox did not start");
        // openbox is ready once it names itself on the root window.
        for (int i = 0; i < 100; ++i) {
            if (property(QStringLiteral("-root"), "_NET_SUPPORTING_WM_CHECK").contains("window id"))
                return QString();
            QTest::qWait(100);
        }
        return QStringLiteral("openbox did not take the display");
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), name);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return env;
    }

    /// xprop's line for a property of a window ("-root" or an id).
    QString property(const QString& window, const char* name) const {
        QProcess xprop;
        xprop.setProcessEnvironment(environment());
        QStringList args = window == QLatin1String("-root")
                               ? QStringList{window}
                               : QStringList{QStringLiteral("-id"), window};
        xprop.start(QStringLiteral("xprop"), args << QString::fromLatin1(name));
        xprop.waitForFinished(5000);
        return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    }

    QString name;

private:
    QProcess m_server, m_wm;
};

/// The numbers of a property such as "_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x26, 0x1e".
QList<unsigned> numbers(const QString& line) {
    QList<unsigned> values;
    for (const QString& part : line.section(QLatin1Char('='), 1).split(QLatin1Char(','))) {
        bool ok = false;
        const unsigned v = part.trimmed().toUInt(&ok, 0);
        if (ok)
            values << v;
    }
    return values;
}

} // namespace

class TestWindowHints : public QObject {
    Q_OBJECT

    std::optional<VirtualDisplay> m_display;

    /// Shows a window of the program on the display, as the program does, until `check`
    /// has looked at it; the window's id is passed.
    void withWindow(const QString& name, const std::function<void(const QString&)>& check) {
        QProcess program;
        program.setProcessEnvironment(m_display->environment());
        program.start(QStringLiteral(QUEMBE_RENDERWINDOWS), {QStringLiteral("--show"), name});
        QVERIFY(program.waitForStarted(10000));
        while (!program.canReadLine() && program.waitForReadyRead(30000)) {
        }
        const QString id = QString::fromLatin1(program.readLine().trimmed());
        QVERIFY2(id.startsWith(QStringLiteral("0x")),
                 qPrintable(QString::fromUtf8(program.readAllStandardError())));
        // Managed once the window manager has said what it allows.
        for (int i = 0;
             i < 100 &&
             !m_display->property(id, "_NET_WM_ALLOWED_ACTIONS").contains(QLatin1Char('='));
             ++i)
            QTest::qWait(100);
        check(id);
        program.kill();
        program.waitForFinished(5000);
    }

private slots:
    void initTestCase() {
        m_display.emplace();
        const QString why = m_display->start();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no X display for the check: ") + why));
    }

    void continueAddingPromptHasTheCloseBoxAlone() {
        withWindow(QStringLiteral("continue"), [&](const QString& id) {
            const QString line = m_display->property(id, "_MOTIF_WM_HINTS");
            const QList<unsigned> hints = numbers(line);
            QVERIFY2(hints.size() >= 3, qPrintable(line));
            QVERIFY2(hints[0] & kFunctionsGiven && hints[0] & kDecorationsGiven, qPrintable(line));
            QVERIFY2(!(hints[1] & (kFunctionAll | kFunctionMinimize | kFunctionMaximize)),
                     qPrintable(line));
            QVERIFY2(hints[1] & kFunctionClose, qPrintable(line));
            QVERIFY2(!(hints[2] & (kDecorAll | kDecorMinimize | kDecorMaximize)), qPrintable(line));
            // openbox keeps a minimise box whatever a window asks ("don't let mwm hints kill
            // any buttons"), but drops maximising and resizing for a window of fixed size.
            const QString actions = m_display->property(id, "_NET_WM_ALLOWED_ACTIONS");
            QVERIFY2(actions.contains(QStringLiteral("_NET_WM_ACTION_CLOSE")), qPrintable(actions));
            QVERIFY2(!actions.contains(QStringLiteral("MAXIMIZE")), qPrintable(actions));
            QVERIFY2(!actions.contains(QStringLiteral("_NET_WM_ACTION_RESIZE")),
                     qPrintable(actions));
        });
    }

    void framelessWindowsHaveNoTitleBar_data() {
        QTest::addColumn<QString>("window");
        QTest::newRow("login") << QStringLiteral("login");
        QTest::newRow("delete") << QStringLiteral("delete");
    }

    void framelessWindowsHaveNoTitleBar() {
        QFETCH(QString, window);
        withWindow(window, [&](const QString& id) {
            const QString line = m_display->property(id, "_MOTIF_WM_HINTS");
            const QList<unsigned> hints = numbers(line);
            QVERIFY2(hints.size() >= 3 && hints[0] & kDecorationsGiven, qPrintable(line));
            QCOMPARE(hints[2], 0u);
        });
    }
};

QTEST_MAIN(TestWindowHints)
#include "tst_windowhints.moc"

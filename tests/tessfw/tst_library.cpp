// Copies of the firmware library loaded side by side, as Keystead loads one
// per running panel.

#include "library_panel.h"

#include <QElapsedTimer>
#include <QLibrary>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <mutex>


using State = TFW_IFirmwareCallback;

namespace {

// Critical lines anywhere in the process, e.g. a second firmware object
// finding the first one's pointer.
std::mutex s_logLock;
QStringList s_criticals;
QtMessageHandler s_previous = nullptr;

void recordCriticals(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    if (type == QtCriticalMsg) {
        std::lock_guard<std::mutex> l(s_logLock);
        s_criticals.append(msg);
    }
    if (s_previous)
        s_previous(type, ctx, msg);
}

typedef int (*ProbeKeyState)(int);
} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { s_previous = qInstallMessageHandler(recordCriticals); }

    void twoCopiesRunSideBySide()
    {
        QTemporaryDir a, b;
        Panel p1, p2;
        QVERIFY2(p1.host.load(QStringLiteral(TESSFW_LIBRARY), a.path()), qPrintable(p1.host.errorString()));
        QVERIFY2(p2.host.load(QStringLiteral(TESSFW_LIBRARY), b.path()), qPrintable(p2.host.errorString()));
        QVERIFY(p1.host.firmware() != p2.host.firmware());
        QCOMPARE(p1.host.libraryCopyPath(), a.path() + QStringLiteral("/firm."));

        s_criticals.clear();
        p1.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42101, QString());
        p2.host.firmware()->start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.1"), 42102, QString());
        QVERIFY(p1.waitFor(State::ST_RUNNING));
        QVERIFY(p2.waitFor(State::ST_RUNNING));
        {
            // Each copy has its own process-wide firmware pointer.
            std::lock_guard<std::mutex> l(s_logLock);
            QVERIFY2(s_criticals.isEmpty(), qPrintable(s_criticals.join('\n')));
        }

        // Each copy runs its own FTP server, on ports from its own UDP port
        // (2 x 42101 + 10021 wraps to 28687).
        QTRY_COMPARE(p1.texts, QStringList{QStringLiteral("Ftp using ports:28687 28686")});
        QTRY_COMPARE(p2.texts, QStringList{QStringLiteral("Ftp using ports:28689 28688")});

        // Stopping one leaves the other running: its loop still ticks, so a
        // stop request still runs its stop sequence.
        QVERIFY(p1.host.firmware()->stop());
        QVERIFY(p1.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY(!p2.states.contains(State::ST_STOPPING));
        QTest::qWait(50);
        QVERIFY(!p2.states.contains(State::ST_STOPPING));

        // Unload the first copy while the second runs; the second still
        // takes key events (their type must not live in the unloaded copy).
        p1.host.unload();
        p2.host.firmware()->sendCollectorMsg(collector::CollectorMsg(5, 1));
        p2.host.firmware()->sendCollectorMsg(collector::CollectorMsg(5, 0));
        QTest::qWait(30);

        QVERIFY(p2.host.firmware()->stop());
        QVERIFY(p2.waitFor(State::ST_THREAD_FINISHED));
        const QList<int> expected = {State::ST_THREAD_STARTED, State::ST_RUNNING, State::ST_STOPPING,
                                     State::ST_THREAD_FINISHED};
        QCOMPARE(p1.states, expected);
        // The key reached the second copy: not online, it beeps.
        const QList<int> expected2 = {State::ST_THREAD_STARTED, State::ST_RUNNING, State::ST_BUZZER_ON,
                                      State::ST_STOPPING, State::ST_THREAD_FINISHED};
        QCOMPARE(p2.states, expected2);

        // After the end, key events are dropped with the note.
        p2.host.firmware()->sendCollectorMsg(collector::CollectorMsg(5, 1));
        QTRY_COMPARE(p2.texts.size(), 2);
        QVERIFY(p2.texts.at(1).startsWith(QStringLiteral("_firmware NULL ")));
    }

    void keyStateIsPerCopy()
    {
        QTemporaryDir a, b;
        Panel p1, p2;
        QVERIFY2(p1.host.load(QStringLiteral(TESSFW_PROBE_LIBRARY), a.path()), qPrintable(p1.host.errorString()));
        QVERIFY2(p2.host.load(QStringLiteral(TESSFW_PROBE_LIBRARY), b.path()), qPrintable(p2.host.errorString()));
        QLibrary l1(p1.host.libraryCopyPath()), l2(p2.host.libraryCopyPath());
        auto probe1 = reinterpret_cast<ProbeKeyState>(l1.resolve("tfw_probe_key_state"));
        auto probe2 = reinterpret_cast<ProbeKeyState>(l2.resolve("tfw_probe_key_state"));
        QVERIFY(probe1 && probe2 && probe1 != probe2);

        p1.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42103, QString());
        p2.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42104, QString());
        QVERIFY(p1.waitFor(State::ST_RUNNING));
        QVERIFY(p2.waitFor(State::ST_RUNNING));

        p1.host.firmware()->sendCollectorMsg(collector::CollectorMsg(5, 1));
        QTRY_COMPARE(probe1(4), 1);
        QCOMPARE(probe2(4), 0);

        p2.host.firmware()->sendCollectorMsg(collector::CollectorMsg(7, 1));
        QTRY_COMPARE(probe2(6), 1);
        QCOMPARE(probe1(6), 0);

        // A release shows after the next loop pass, on its own copy only.
        p1.host.firmware()->sendCollectorMsg(collector::CollectorMsg(5, 0));
        QTRY_COMPARE(probe1(4), 0);
        QCOMPARE(probe2(6), 1);

        QVERIFY(p1.host.firmware()->stop());
        QVERIFY(p2.host.firmware()->stop());
        QVERIFY(p1.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY(p2.waitFor(State::ST_THREAD_FINISHED));
        QCOMPARE(probe1(4), -1);
        l1.unload();
        l2.unload();
    }

    void missingOrBrokenLibrary()
    {
        QTemporaryDir dir;
        PanelHost host;
        QVERIFY(!host.load(dir.path() + QStringLiteral("/nothing.so"), dir.path()));
        QVERIFY(host.errorString().contains(QStringLiteral("does not exist")));

        // A file that is no library.
        const QString junk = dir.path() + QStringLiteral("/junk.so");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a library");
        f.close();
        QVERIFY(!host.load(junk, dir.path() + QStringLiteral("/w")));
        QVERIFY(host.errorString().startsWith(QStringLiteral("cannot load")));
        QVERIFY(!host.firmware());
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"

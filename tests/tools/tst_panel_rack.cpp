// A rack of panels in this process, hosted as panelrun hosts them: start
// and stop cycles that leave no thread or descriptor behind, key events and
// stops for one panel, and starts refused under the open-files limit.
//
// TESS_RACK_PANELS and TESS_RACK_CYCLES scale the cycle test up (50 and 50
// under AddressSanitizer show that hundreds of loads and unloads leak
// nothing); make test runs a few small cycles.

#include "kst_open_files.h"
#include "panel_rack.h"
#include "proc_stats.h"

#include <QElapsedTimer>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

PanelRack::Options rackOptions(const QString &dir, int portBase, int count)
{
    PanelRack::Options o;
    o.library = QStringLiteral(TESSFW_LIBRARY);
    o.workDir = dir;
    o.portBase = portBase;
    o.count = count;
    o.textLines = false;
    o.recordLines = false;
    return o;
}

template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Until done() has held for 200 ms on end: a count of descriptors can be
// right for a moment by coincidence (a panel still to open its socket
// while another reads its configuration).
template <typename Done> bool waitUntilSteady(Done done, int timeoutMs)
{
    QElapsedTimer t, held;
    t.start();
    bool holding = false;
    while (t.elapsed() < timeoutMs) {
        if (!done())
            holding = false;
        else if (!holding)
            holding = true, held.start();
        else if (held.elapsed() >= 200)
            return true;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return false;
}

// Threads that ended leave the process a moment after they report it.
// What the process's descriptors are, by kind ("socket" 12, "anon_inode:[eventfd]" 7),
// for a failure message.
QString openFileKinds()
{
    QMap<QString, int> kinds;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        char target[256];
        const ssize_t n = ::readlink((QByteArray("/proc/self/fd/") + e->d_name).constData(), target, sizeof target - 1);
        QString t = QString::fromLocal8Bit(target, n > 0 ? int(n) : 0);
        const int colon = t.indexOf(QLatin1Char(':'));
        if (t.startsWith(QLatin1String("socket:")) || t.startsWith(QLatin1String("pipe:")))
            t = t.left(colon);
        else if (!t.startsWith(QLatin1String("anon_inode")) && !t.startsWith(QLatin1String("/memfd")))
            t = QStringLiteral("file");
        ++kinds[t];
    }
    if (d)
        closedir(d);
    QStringList out;
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it)
        out << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    return out.join(QStringLiteral(", "));
}

bool threadsBackTo(int count)
{
    return waitUntil([count] { return proc_stats::threadCount() <= count; }, 5000);
}

} // namespace

class TestPanelRack : public QObject
{
    Q_OBJECT

private slots:
    void startStopCyclesLeaveNothingBehind()
    {
        const int panels = envInt("TESS_RACK_PANELS", 6);
        const int cycles = envInt("TESS_RACK_CYCLES", 3);
        QTemporaryDir dir;
        const int threads0 = proc_stats::threadCount();
        const int files0 = KST_openFileCount();
        const QString kinds0 = openFileKinds();
        QVERIFY(threads0 > 0 && files0 > 0);
        for (int cycle = 0; cycle < cycles; ++cycle) {
            PanelRack rack(rackOptions(dir.path(), 44101, panels));
            QSignalSpy settled(&rack, &PanelRack::allSettled);
            QSignalSpy finished(&rack, &PanelRack::allFinished);
            rack.startAll();
            QVERIFY(waitUntil([&] { return rack.counts().running == panels; }, 10000 + panels * 200));
            QCOMPARE(settled.count(), 1);
            const PanelRack::Counts c = rack.counts();
            // No router: every panel runs offline.
            QCOMPARE(c.offline, panels);
            QCOMPARE(c.online, 0);
            QCOMPARE(c.error, 0);
            QCOMPARE(c.loaded, panels);
            // A firmware and an FTP thread each (the FTP thread starts
            // just after the panel reports running).
            QVERIFY2(waitUntil([&] { return proc_stats::threadCount() == threads0 + 2 * panels; }, 5000),
                     qPrintable(QString::number(proc_stats::threadCount() - threads0)));
            // Each panel in a directory of its own with its own copy.
            QVERIFY(QFile::exists(rack.panelDir(0) + QStringLiteral("/firm.")));
            QVERIFY(QFile::exists(rack.panelDir(panels - 1) + QStringLiteral("/firm.")));
            QVERIFY(rack.panelDir(0) != rack.panelDir(panels - 1));
            // What they hold is exactly what a start is checked for, and
            // what the host holds for all of them.
            QVERIFY2(waitUntilSteady([&] { return KST_openFileCount() - files0 == panels * KST_PANEL_OPEN_FILES + KST_HOST_SHARED_OPEN_FILES; }, 5000),
                     qPrintable(QStringLiteral("%1 more than before: %2 (before: %3)").arg(KST_openFileCount() - files0).arg(openFileKinds(), kinds0)));

            rack.stopAll();
            QVERIFY(waitUntil([&] { return rack.finished(); }, 10000 + panels * 200));
            QVERIFY(waitUntil([&] { return finished.count() == 1; }, 1000));
            QCOMPARE(rack.counts().loaded, 0);
            QCOMPARE(rack.counts().stuck, 0);
            QVERIFY2(threadsBackTo(threads0), qPrintable(QString::number(proc_stats::threadCount())));
            QCOMPARE(KST_openFileCount(), files0);
        }
    }

    // Keys go to one panel or to all; a stop of one panel leaves the
    // others running; unknown ports reach nothing.
    void keysAndStopsOfOnePanel()
    {
        QTemporaryDir dir;
        PanelRack rack(rackOptions(dir.path(), 44121, 3));
        rack.startAll();
        QVERIFY(waitUntil([&] { return rack.settled(); }, 10000));
        QVERIFY(waitUntil([&] { return rack.counts().running == 3; }, 10000));
        QCOMPARE(rack.indexOfPort(44122), 1);
        QCOMPARE(rack.indexOfPort(44124), -1);
        QCOMPARE(rack.indexOfPort(44120), -1);
        QCOMPARE(rack.sendKey(5, true, -1), 3);
        QCOMPARE(rack.sendKey(5, false, 44123), 1);
        QCOMPARE(rack.sendKey(5, false, 44124), 0);
        QVERIFY(!rack.stopPanel(44124));
        QVERIFY(rack.stopPanel(44122));
        QVERIFY(waitUntil([&] { return rack.counts().running == 2 && rack.counts().loaded == 2; }, 5000));
        QVERIFY(!rack.finished());
        QCOMPARE(rack.sendKey(5, true, 44122), 0);
        QCOMPARE(rack.sendKey(5, true, -1), 2);
        // A second stop of a stopped panel does nothing.
        QVERIFY(rack.stopPanel(44122));
        rack.stopAll();
        QVERIFY(waitUntil([&] { return rack.finished(); }, 10000));
        QCOMPARE(rack.counts().error, 0);
    }

    void refusedPortsAsRuns()
    {
        QCOMPARE(PanelRack::portRanges({}), QByteArray());
        QCOMPARE(PanelRack::portRanges({2001}), QByteArray("2001"));
        QCOMPARE(PanelRack::portRanges({2001, 2002, 2003, 2005, 2007, 2008}), QByteArray("2001-2003, 2005, 2007-2008"));
        std::vector<int> spread;
        for (int i = 0; i < 20; ++i)
            spread.push_back(3000 + 2 * i);
        QCOMPARE(PanelRack::portRanges(spread),
                 QByteArray("3000, 3002, 3004, 3006, 3008, 3010, 3012, 3014, ..."));
    }

    // With room for two panels under the soft limit, the other four starts
    // are refused together in one message; the two run and stop.
    void startsBeyondTheLimitRefusedInOneMessage()
    {
        QTemporaryDir dir;
        PanelRack rack(rackOptions(dir.path(), 44131, 6));
        QList<QByteArray> messages;
        connect(&rack, &PanelRack::rackMessage, this, [&](const QByteArray &m) { messages << m; });
        rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        const int perPanel = KST_PANEL_OPEN_FILES + KST_FTP_SESSION_OPEN_FILES;
        // Room for two panels and three descriptors more: one the process
        // opens meanwhile for itself (a sanitizer's runtime does) must not
        // cost one of the two their start, and a third still does not fit
        // (it would need a whole panel more than the two have opened or
        // been promised).
        low.rlim_cur = rlim_t(KST_openFileCount() + KST_HOST_OPEN_FILES_RESERVE + 2 * perPanel + 3);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        rack.startAll();
        const bool settled = waitUntil([&] { return rack.settled(); }, 10000);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(settled);
        QVERIFY(waitUntil([&] { return rack.counts().running == 2; }, 10000));
        const PanelRack::Counts c = rack.counts();
        QCOMPARE(c.refused, 4);
        QCOMPARE(c.error, 4);
        QCOMPARE(c.failed, 0);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.at(0).startsWith("panelrun: 4 of 6 panels not started (ports 44133-44136): panel start "
                                           "refused: the open-files limit of "),
                 messages.at(0).constData());
        rack.stopAll();
        QVERIFY(waitUntil([&] { return rack.finished(); }, 10000));
        QCOMPARE(messages.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPanelRack)
#include "tst_panel_rack.moc"

// panelrun hosting a rack of panels as a separate process: against the
// router simulator serving a port range all come online, every panel is
// stopped and nothing is left behind; per-panel lines with --verbose; the
// open-files limit raised at start, and starts beyond the hard limit
// refused in one message. The simulator's tally storm reaches the panels.
// A Keystead base directory run headless: its marked panels come online in
// their own directories, the marks are kept as Keystead keeps them and the
// base directory's lock keeps a second host off it.

#include "kst_panelset_file.h"
#include "kst_panelset_lock.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestPanelrunRack : public QObject
{
    Q_OBJECT

    static bool waitFor(QProcess &p, QByteArray &acc, QProcess::ProcessChannel ch, const QRegularExpression &re,
                        int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!re.match(QString::fromLatin1(acc)).hasMatch() && t.elapsed() < timeoutMs) {
            p.waitForReadyRead(50);
            acc += ch == QProcess::StandardError ? p.readAllStandardError() : p.readAllStandardOutput();
        }
        return re.match(QString::fromLatin1(acc)).hasMatch();
    }

    static QProcess *startRouter(QObject *parent, const QStringList &extra)
    {
        auto *r = new QProcess(parent);
        r->setStandardOutputFile(QProcess::nullDevice());
        r->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        r->start(QStringLiteral(ROUTERSIM), extra);
        return r;
    }

    static void quitRouter(QProcess *r)
    {
        r->write("quit\n");
        if (!r->waitForFinished(5000))
            r->kill();
    }

    // The end line: "... threads T (B before), open files F (G before)".
    static void checkNothingLeft(const QByteArray &err, int panels)
    {
        const QRegularExpression end(
            QStringLiteral("panelrun: %1 panels stopped; threads (\\d+) \\((\\d+) before\\), open files (\\d+) "
                           "\\((\\d+) before\\)")
                .arg(panels));
        const QRegularExpressionMatch m = end.match(QString::fromLatin1(err));
        QVERIFY2(m.hasMatch(), err.right(2000).constData());
        QCOMPARE(m.captured(1), m.captured(2));
        QCOMPARE(m.captured(3), m.captured(4));
    }

    static KST_PanelRecord *addPanel(KST_RackRecord *rack, int uid, int type, int port, bool mark)
    {
        auto *p = new KST_PanelRecord;
        p->fields.uid = uid;
        p->fields.name = QStringLiteral("panel%1").arg(uid);
        p->fields.description = QStringLiteral("desk %1").arg(uid);
        p->fields.paneltype = type;
        p->fields.visible = true;
        p->fields.firmwareIp = QStringLiteral("127.0.0.1");
        p->fields.panelPort = port;
        p->fields.shouldAutostart = mark;
        rack->panels << p;
        return p;
    }

    // uid -> mark, as the file holds them now.
    static QMap<int, bool> marks(const QString &path)
    {
        KST_PanelSetRecords set;
        QString problem;
        if (!set.read(path, &problem))
            return {};
        QMap<int, bool> out;
        for (const KST_RackRecord *r : qAsConst(set.racks))
            for (const KST_PanelRecord *p : r->panels)
                out.insert(p->fields.uid, p->fields.shouldAutostart);
        return out;
    }

private slots:
    void baseDirRunsThePanelSet()
    {
        QTemporaryDir base;
        const QString cfg = base.path() + QStringLiteral("/cfg.xml");
        {
            KST_PanelSetRecords set;
            auto *rack = new KST_RackRecord;
            rack->fields.name = QStringLiteral("Studio");
            rack->fields.visible = true;
            rack->fields.uiData = QByteArray("geometry bytes");
            set.racks << rack;
            addPanel(rack, 3, 10, 44411, true);  // SK2000A
            addPanel(rack, 7, 4, 44412, true);   // SK1400A
            addPanel(rack, 8, 0, 44413, true);   // no type: loses its mark
            addPanel(rack, 9, 10, 44414, false); // not marked: not run
            set.puid = 9;
            set.uiData.insert(0, QByteArray("main window"));
            QString problem;
            QVERIFY2(set.write(cfg, &problem), qPrintable(problem));
        }

        // A host holding the base directory keeps panelrun off it.
        {
            KST_PanelSetLock held(base.path());
            QCOMPARE(held.acquire(), KST_PanelSetLock::Acquired);
            QProcess refused;
            refused.start(QStringLiteral(PANELRUN), {QStringLiteral("--basedir"), base.path()});
            QVERIFY(refused.waitForFinished(20000));
            QCOMPARE(refused.exitCode(), 2);
            const QByteArray err = refused.readAllStandardError();
            QVERIFY2(err.contains("is in use by tst_panelrun_rack (process "), err.constData());
            QVERIFY(!QFile::exists(base.path() + QStringLiteral("/data")));
        }

        QProcess *router = startRouter(this, {QStringLiteral("--bind"), QStringLiteral("127.0.23.51:2001"),
                                              QStringLiteral("--panel"), QStringLiteral("127.0.0.1:44411"),
                                              QStringLiteral("--panel"), QStringLiteral("127.0.0.1:44412"),
                                              QStringLiteral("--quiet"), QStringLiteral("--poll-ms"),
                                              QStringLiteral("300")});
        QVERIFY(router->waitForStarted());
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--basedir"), base.path()});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        QVERIFY2(waitFor(p, err, QProcess::StandardError,
                         QRegularExpression(QStringLiteral("summary running 2 online 2 offline 0 error 0")), 20000),
                 err.constData());
        QVERIFY2(err.contains("panel autostart failed panel8[Studio],none,127.0.0.1: No panel type selected."),
                 err.constData());
        // Each panel in its own directory, with its copy of the firmware and
        // its type's default configuration.
        QVERIFY(QFile::exists(base.path() + QStringLiteral("/data/p3/firm.")));
        QVERIFY(QFile::exists(base.path() + QStringLiteral("/data/p3/cfgSK2000A")));
        QVERIFY(QFile::exists(base.path() + QStringLiteral("/data/p7/cfgSK1400A")));
        QVERIFY(!QFile::exists(base.path() + QStringLiteral("/data/p9")));
        QCOMPARE(marks(cfg), (QMap<int, bool>{{3, true}, {7, true}, {8, false}, {9, false}}));
        {
            KST_PanelSetLock other(base.path());
            QCOMPARE(other.acquire(), KST_PanelSetLock::HeldByOther);
            QVERIFY2(other.holder().startsWith(QStringLiteral("panelrun (process ")), qPrintable(other.holder()));
        }

        // One panel stopped on its own loses its mark; the end of the
        // program keeps the marks of the panels it ran.
        p.write("stop 44412\n");
        QVERIFY2(waitFor(p, err, QProcess::StandardError,
                         QRegularExpression(QStringLiteral("summary running 1 online 1")), 10000),
                 err.constData());
        QTRY_COMPARE_WITH_TIMEOUT(marks(cfg).value(7, true), false, 5000);
        p.terminate();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        quitRouter(router);
        QCOMPARE(marks(cfg), (QMap<int, bool>{{3, true}, {7, false}, {8, false}, {9, false}}));

        // Everything else of the panel set is as it was written.
        KST_PanelSetRecords after;
        QString problem;
        QVERIFY(after.read(cfg, &problem));
        QCOMPARE(after.racks.size(), 1);
        QCOMPARE(after.racks[0]->fields.name, QStringLiteral("Studio"));
        QCOMPARE(after.racks[0]->fields.uiData, QByteArray("geometry bytes"));
        QCOMPARE(after.racks[0]->panels.size(), 4);
        QCOMPARE(after.racks[0]->panels[1]->fields.description, QStringLiteral("desk 7"));
        QCOMPARE(after.puid, 9);
        QCOMPARE(after.uiData.value(0), QByteArray("main window"));
        // The lock went with the program.
        KST_PanelSetLock again(base.path());
        QCOMPARE(again.acquire(), KST_PanelSetLock::Acquired);
    }

    void rackComesOnlineAndStopsClean()
    {
        const int n = 8;
        QProcess *router = startRouter(this, {QStringLiteral("--bind"), QStringLiteral("127.0.23.41:2001"),
                                              QStringLiteral("--panel-range"),
                                              QStringLiteral("127.0.23.42:44301-44308"), QStringLiteral("--quiet"),
                                              QStringLiteral("--poll-ms"), QStringLiteral("300")});
        QVERIFY(router->waitForStarted());
        QTemporaryDir work;
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--panels"), QString::number(n), QStringLiteral("--ip"),
                                           QStringLiteral("127.0.23.42"), QStringLiteral("--port-base"),
                                           QStringLiteral("44301"), QStringLiteral("--workdir"), work.path()});
        QVERIFY(p.waitForStarted());
        QByteArray err;
        const QRegularExpression allOnline(
            QStringLiteral("summary running 8 online 8 offline 0 error 0 starting 0 cpu [0-9.]+ mem [0-9.]+ MiB/panel"));
        QVERIFY2(waitFor(p, err, QProcess::StandardError, allOnline, 20000), err.constData());
        // One directory per panel, named by its port.
        QVERIFY(QFile::exists(work.path() + QStringLiteral("/p44301/firm.")));
        QVERIFY(QFile::exists(work.path() + QStringLiteral("/p44308/firm.")));
        // No per-panel lines without --verbose.
        QVERIFY(!err.contains("state 0 ST_ONLINE"));

        p.write("press 5 44399\nstop 44302\nsleep 1500\nstop\n");
        QVERIFY(p.waitForFinished(20000));
        err += p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(err.contains("log warning panelrun: no panel at port 44399"));
        QVERIFY2(err.contains("summary running 7 online 7"), err.constData());
        checkNothingLeft(err, n);
        quitRouter(router);
    }

    // --verbose keeps every panel's event lines, each after its port.
    void verboseLinesCarryThePort()
    {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN),
                {QStringLiteral("--panels"), QStringLiteral("2"), QStringLiteral("--port-base"),
                 QStringLiteral("44311"), QStringLiteral("--verbose"), QStringLiteral("--run-ms"),
                 QStringLiteral("400")});
        QVERIFY(p.waitForFinished(20000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        for (const char *port : {"44311", "44312"})
            for (const char *state : {"state 8 ST_RUNNING", "state 10 ST_THREAD_FINISHED"})
                QVERIFY2(err.contains(QByteArray(port) + ": " + state), err.constData());
        QVERIFY(!err.contains("\nstate 8 ST_RUNNING"));
        checkNothingLeft(err, 2);
    }

    // --trace in a rack follows every panel's trace in its own directory,
    // each line after the panel's port, and takes the markers away again.
    void traceOfEveryPanel()
    {
        QTemporaryDir work;
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN),
                {QStringLiteral("--panels"), QStringLiteral("2"), QStringLiteral("--port-base"),
                 QStringLiteral("44316"), QStringLiteral("--workdir"), work.path(), QStringLiteral("--trace"),
                 QStringLiteral("--run-ms"), QStringLiteral("1500")});
        QVERIFY(p.waitForFinished(20000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 0);
        for (const char *port : {"44316", "44317"}) {
            QVERIFY2(err.contains(QByteArray(port) + ": trace "), err.constData());
            QVERIFY(QFile::exists(work.path() + QStringLiteral("/p%1/trace.txt").arg(QLatin1String(port))));
            QVERIFY(!QFile::exists(work.path() + QStringLiteral("/p%1/TRACE").arg(QLatin1String(port))));
        }
        QVERIFY(!err.contains("\ntrace "));
        checkNothingLeft(err, 2);
    }

    // A soft limit below what the panels need is raised to the hard limit
    // at start; with the hard limit as low, the starts that do not fit are
    // refused in one message and the rest run.
    void openFilesLimit()
    {
        QProcess raised;
        raised.setStandardOutputFile(QProcess::nullDevice());
        raised.setStandardInputFile(QProcess::nullDevice());
        raised.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"),
                      QStringLiteral("ulimit -Sn 64 && exec \"$0\" --panels 24 --port-base 44321 --until-signal"),
                      QStringLiteral(PANELRUN)});
        QByteArray err;
        QVERIFY2(waitFor(raised, err, QProcess::StandardError,
                         QRegularExpression(QStringLiteral("summary running 24 ")), 30000),
                 err.right(2000).constData());
        raised.terminate();
        QVERIFY(raised.waitForFinished(30000));
        err += raised.readAllStandardError();
        QVERIFY2(raised.exitCode() == 0, err.right(2000).constData());
        QVERIFY(!err.contains("not started"));
        QVERIFY(!err.contains("Too many open files"));

        QProcess capped;
        capped.setStandardOutputFile(QProcess::nullDevice());
        capped.setStandardInputFile(QProcess::nullDevice());
        capped.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"),
                      QStringLiteral("ulimit -n 100 && exec \"$0\" --panels 24 --port-base 44351 --until-signal"),
                      QStringLiteral(PANELRUN)});
        err.clear();
        QVERIFY2(waitFor(capped, err, QProcess::StandardError,
                         QRegularExpression(QStringLiteral("not started[^\\n]*\\n(.*\\n)*summary running \\d+ online 0 "
                                                           "offline \\d+ error \\d+ starting 0 ")),
                         30000),
                 err.right(2000).constData());
        capped.terminate();
        QVERIFY(capped.waitForFinished(30000));
        err += capped.readAllStandardError();
        QCOMPARE(capped.exitCode(), 2);
        const QRegularExpression refused(QStringLiteral(
            "panelrun: (\\d+) of 24 panels not started \\(ports ([0-9, -]+)\\): panel start refused: the "
            "open-files limit of 100 \\(ulimit -n; hard limit 100\\)"));
        const QRegularExpressionMatch m = refused.match(QString::fromLatin1(err));
        QVERIFY2(m.hasMatch(), err.right(2000).constData());
        const int notStarted = m.captured(1).toInt();
        QVERIFY(notStarted > 0 && notStarted < 24);
        // The last panels found no room.
        QVERIFY2(m.captured(2).endsWith(QLatin1String("-44374")), qPrintable(m.captured(2)));
        QCOMPARE(err.count("not started"), 1);
        // The ones that fit ran, without a descriptor shortage.
        QVERIFY2(err.contains("summary running " + QByteArray::number(24 - notStarted) + ' '), err.constData());
        QVERIFY(!err.contains("Too many open files"));
        QVERIFY(!err.contains("COULD NOT BIND"));
    }

    // A storm of 40 changes a second reaches every panel as tallies, and
    // "storm off" ends it.
    void tallyStormReachesEveryPanel()
    {
        QProcess router;
        router.start(QStringLiteral(ROUTERSIM),
                     {QStringLiteral("--bind"), QStringLiteral("127.0.23.43:2001"), QStringLiteral("--panel-range"),
                      QStringLiteral("127.0.23.44:44381-44382"), QStringLiteral("--poll-ms"), QStringLiteral("300")});
        QVERIFY(router.waitForStarted());
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--panels"), QStringLiteral("2"), QStringLiteral("--ip"),
                                           QStringLiteral("127.0.23.44"), QStringLiteral("--port-base"),
                                           QStringLiteral("44381"), QStringLiteral("--until-signal")});
        QVERIFY(p.waitForStarted());
        QByteArray err, rout;
        QVERIFY2(waitFor(p, err, QProcess::StandardError, QRegularExpression(QStringLiteral("online 2 ")), 20000),
                 err.constData());
        router.write("storm 40\n");
        QTest::qWait(1500);
        router.write("storm off\n");
        QTest::qWait(500);
        rout += router.readAllStandardOutput();
        // Tallies (".U" messages) went to both panels and were acknowledged.
        const QRegularExpression tally(QStringLiteral("tx 127\\.0\\.23\\.44:(44381|44382) [^\\n]*\\.U"));
        int tallies[2] = {0, 0};
        for (const QString &line : QString::fromLatin1(rout).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = tally.match(line);
            if (m.hasMatch())
                ++tallies[m.captured(1) == QLatin1String("44382")];
        }
        QVERIFY2(tallies[0] > 0 && tallies[1] > 0, rout.right(2000).constData());
        // Storm off: no tally sent any more.
        QTest::qWait(700);
        rout = router.readAllStandardOutput();
        QVERIFY2(!tally.match(QString::fromLatin1(rout)).hasMatch(), rout.constData());
        // A bad rate is refused.
        router.write("storm -3\n");
        QVERIFY(waitFor(router, rout, QProcess::StandardError, QRegularExpression(QStringLiteral("storm -3")), 3000));
        p.terminate();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        quitRouter(&router);
    }

    void badOptions()
    {
        for (const QStringList &args :
             {QStringList{QStringLiteral("--panels"), QStringLiteral("0")},
              QStringList{QStringLiteral("--panels"), QStringLiteral("x")},
              QStringList{QStringLiteral("--panels"), QStringLiteral("10"), QStringLiteral("--port-base"),
                          QStringLiteral("65530")},
              QStringList{QStringLiteral("--port-base"), QStringLiteral("70000")}}) {
            QProcess p;
            p.setStandardInputFile(QProcess::nullDevice());
            p.start(QStringLiteral(PANELRUN), args);
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), 2);
        }
        for (const QString &range : {QStringLiteral("127.0.0.1:5-3"), QStringLiteral("127.0.0.1:0-3"),
                                     QStringLiteral("127.0.0.1:3"), QStringLiteral("nohost:1-2"),
                                     QStringLiteral("127.0.0.1:1-70000")}) {
            QProcess r;
            r.setStandardInputFile(QProcess::nullDevice());
            r.start(QStringLiteral(ROUTERSIM), {QStringLiteral("--bind"), QStringLiteral("127.0.23.45:2001"),
                                                QStringLiteral("--panel-range"), range});
            QVERIFY(r.waitForFinished(10000));
            QCOMPARE(r.exitCode(), 2);
            QVERIFY(r.readAllStandardError().contains("invalid --panel-range"));
        }
        QProcess r;
        r.setStandardInputFile(QProcess::nullDevice());
        r.start(QStringLiteral(ROUTERSIM), {QStringLiteral("--bind"), QStringLiteral("127.0.23.45:2001"),
                                            QStringLiteral("--storm"), QStringLiteral("0")});
        QVERIFY(r.waitForFinished(10000));
        QCOMPARE(r.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestPanelrunRack)
#include "tst_panelrun_rack.moc"

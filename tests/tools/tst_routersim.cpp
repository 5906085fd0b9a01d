// A panel (panelrun) against the router simulator on loopback: it goes
// online on the first ON POLL, stays online while polled, goes offline about
// five seconds after the polls stop, and reports a port it cannot bind.
// Each test uses loopback addresses of its own, so tests may run in parallel.

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>

class TestRouterSim : public QObject
{
    Q_OBJECT

    // Waits until the accumulated output of p contains text.
    static bool waitFor(QProcess &p, QByteArray &acc, QProcess::ProcessChannel ch, const QByteArray &text,
                        int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!acc.contains(text) && t.elapsed() < timeoutMs) {
            p.waitForReadyRead(50);
            p.setReadChannel(ch);
            acc += ch == QProcess::StandardError ? p.readAllStandardError() : p.readAllStandardOutput();
        }
        return acc.contains(text);
    }

    // Waits until the panel's standard error holds text n times.
    static bool waitForCount(QProcess &p, QByteArray &acc, const QByteArray &text, int n, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (acc.count(text) < n && t.elapsed() < timeoutMs) {
            p.waitForReadyRead(50);
            acc += p.readAllStandardError();
        }
        return acc.count(text) >= n;
    }

    static void tell(QProcess &p, const char *line)
    {
        p.write(line);
        p.waitForBytesWritten(2000);
    }

private slots:
    void onlineWhilePolledOfflineAfterPollsStop()
    {
        QProcess router;
        router.start(QStringLiteral(ROUTERSIM), {QStringLiteral("--bind"), QStringLiteral("127.0.0.31:2001"),
                                                 QStringLiteral("--panel"), QStringLiteral("127.0.0.32:42500"),
                                                 QStringLiteral("--poll-ms"), QStringLiteral("300")});
        QVERIFY(router.waitForStarted());
        QProcess panel;
        panel.start(QStringLiteral(PANELRUN), {QStringLiteral("--ip"), QStringLiteral("127.0.0.32"),
                                               QStringLiteral("--port"), QStringLiteral("42500"),
                                               QStringLiteral("--until-signal")});
        QVERIFY(panel.waitForStarted());

        QByteArray perr, rout;
        QVERIFY2(waitFor(panel, perr, QProcess::StandardError, "state 0 ST_ONLINE", 5000), perr.constData());
        // Still online after a few more polls, and no second report.
        QTest::qWait(1500);
        perr += panel.readAllStandardError();
        QCOMPARE(perr.count("state 0 ST_ONLINE"), 1);
        QVERIFY(!perr.contains("state 1 ST_OFFLINE"));
        const QByteArray pout = panel.readAllStandardOutput();
        QVERIFY(pout.contains("starting panel setup\n"));
        QVERIFY(pout.contains("set panel state online 8\n"));

        // The router's log shows the sequenced exchange both ways.
        QVERIFY(waitFor(router, rout, QProcess::StandardOutput, "rx 127.0.0.32:42500 [01 00 00 00 00] y", 2000));
        QVERIFY(rout.contains("tx 127.0.0.32:42500 [01 00 00 00 00] O"));
        QVERIFY(rout.contains("tx 127.0.0.32:42500 [01 01 00 00 00] O"));

        // Polls stop: offline about 5 s later.
        tell(router, "autopoll off\n");
        QElapsedTimer stopped;
        stopped.start();
        QVERIFY2(waitFor(panel, perr, QProcess::StandardError, "state 1 ST_OFFLINE", 9000), perr.constData());
        QVERIFY2(stopped.elapsed() > 4000, qPrintable(QString::number(stopped.elapsed())));
        QVERIFY(panel.readAllStandardOutput().contains("Keepalive poll missed...\n"));

        // A poll brings it back; OFF POLL takes it down at once.
        tell(router, "poll\n");
        QVERIFY(waitForCount(panel, perr, "state 0 ST_ONLINE", 2, 3000));
        tell(router, "offpoll\n");
        QVERIFY(waitForCount(panel, perr, "state 1 ST_OFFLINE", 2, 3000));

        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitCode(), 0);
        tell(router, "quit\n");
        QVERIFY(router.waitForFinished(5000));
    }

    // The simulator's tally changes the panel's crosspoint (the panel's
    // answer to an interrogation shows it) and its lock state is what the
    // panel reports on a lock interrogation.
    void tallyAndLockReachThePanel()
    {
        QProcess router;
        router.start(QStringLiteral(ROUTERSIM), {QStringLiteral("--bind"), QStringLiteral("127.0.0.34:2001"),
                                                 QStringLiteral("--panel"), QStringLiteral("127.0.0.35:42502"),
                                                 QStringLiteral("--poll-ms"), QStringLiteral("300")});
        QVERIFY(router.waitForStarted());
        QProcess panel;
        panel.start(QStringLiteral(PANELRUN), {QStringLiteral("--ip"), QStringLiteral("127.0.0.35"),
                                               QStringLiteral("--port"), QStringLiteral("42502"),
                                               QStringLiteral("--until-signal")});
        QVERIFY(panel.waitForStarted());
        QByteArray perr, rout;
        QVERIFY2(waitFor(panel, perr, QProcess::StandardError, "state 0 ST_ONLINE", 5000), perr.constData());

        tell(router, "q .IV013\\r\n");
        QVERIFY2(waitFor(router, rout, QProcess::StandardOutput, "Q \".AV013,10000\\r\"", 3000), rout.constData());
        tell(router, "route VA 13 6\n");
        QVERIFY(waitFor(router, rout, QProcess::StandardOutput, "Q \".UVA013,006\\r\"", 3000));
        tell(router, "q .IV013\\r\n");
        QVERIFY2(waitFor(router, rout, QProcess::StandardOutput, "Q \".AV013,006\\r\"", 3000), rout.constData());

        tell(router, "lock 13 255\n");
        tell(router, "q .BI013\\r\n");
        QVERIFY2(waitFor(router, rout, QProcess::StandardOutput, "Q \".BA013,255\\r\"", 3000), rout.constData());
        tell(router, "lock 13 0\n");
        tell(router, "q .BI013\\r\n");
        // The panel's answer (an "rx" line, not the simulator's own "tx").
        const QRegularExpression answer(QStringLiteral("rx 127\\.0\\.0\\.35:42502 [^\\n]*Q \".BA013,0\\\\r\""));
        QElapsedTimer t;
        t.start();
        while (!answer.match(QString::fromLatin1(rout)).hasMatch() && t.elapsed() < 3000) {
            router.waitForReadyRead(50);
            rout += router.readAllStandardOutput();
        }
        QVERIFY2(answer.match(QString::fromLatin1(rout)).hasMatch(), rout.constData());

        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        tell(router, "quit\n");
        QVERIFY(router.waitForFinished(5000));
    }

    void portTakenIsABindError()
    {
        QUdpSocket taken;
        QVERIFY(taken.bind(QHostAddress(QStringLiteral("127.0.0.33")), 42501));
        QProcess panel;
        panel.setStandardInputFile(QProcess::nullDevice());
        panel.start(QStringLiteral(PANELRUN), {QStringLiteral("--ip"), QStringLiteral("127.0.0.33"),
                                               QStringLiteral("--port"), QStringLiteral("42501"),
                                               QStringLiteral("--run-ms"), QStringLiteral("200")});
        QVERIFY(panel.waitForFinished(10000));
        const QByteArray err = panel.readAllStandardError();
        QVERIFY2(err.contains("state 4 ST_UDP_BIND_ERROR"), err.constData());
        QVERIFY(err.contains("log critical COULD NOT BIND 127.0.0.33:42501"));
    }
};

QTEST_GUILESS_MAIN(TestRouterSim)
#include "tst_routersim.moc"

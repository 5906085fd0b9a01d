// panelrun run as a separate process: the lines it prints and its exit
// status.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestPanelrun : public QObject
{
    Q_OBJECT

    static QStringList lines(const QByteArray &out)
    {
        return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static QStringList stateLines(const QStringList &all)
    {
        QStringList s;
        for (const QString &l : all)
            if (l.startsWith(QStringLiteral("state ")))
                s.append(l);
        return s;
    }

private slots:
    void runsForAWhileAndStops()
    {
        QTemporaryDir work;
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN),
                {QStringLiteral("--run-ms"), QStringLiteral("300"), QStringLiteral("--workdir"),
                 work.path(), QStringLiteral("--port"), QStringLiteral("42201")});
        QVERIFY(p.waitForFinished(15000));
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() == 0, err.constData());
        const QStringList expected = {
            QStringLiteral("state 7 ST_THREAD_STARTED"), QStringLiteral("state 8 ST_RUNNING"),
            QStringLiteral("state 9 ST_STOPPING"), QStringLiteral("state 10 ST_THREAD_FINISHED")};
        QCOMPARE(stateLines(lines(err)), expected);
        // The library copy sits in the work directory under its panel name.
        QVERIFY(QFile::exists(work.path() + QStringLiteral("/firm.")));
        // The firmware's own diagnostics come on standard output.
        QVERIFY(p.readAllStandardOutput().contains("Loading config file...\n"));
    }

    void commandsFromStandardInput()
    {
        QProcess p;
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--port"), QStringLiteral("42202")});
        QVERIFY(p.waitForStarted());
        p.write("press 5\nsleep 50\nrelease 5\npress 0\nbogus\n\nsleep 20\nstop\npress 6\n");
        QVERIFY(p.waitForFinished(15000));
        const QStringList err = lines(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(stateLines(err).last(), QStringLiteral("state 10 ST_THREAD_FINISHED"));
        QVERIFY(err.filter(QRegularExpression("^log warning ignored key event \\(id,max\\): 0 128")).size() == 1);
        QVERIFY(err.filter(QRegularExpression("^log warning panelrun: unknown command: bogus$")).size() == 1);
        // Nothing runs after stop.
        QVERIFY(err.filter(QStringLiteral("_firmware NULL")).isEmpty());
    }

    void endOfInputStops()
    {
        QProcess p;
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--port"), QStringLiteral("42203")});
        QVERIFY(p.waitForStarted());
        p.write("press 3\nrelease 3\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(stateLines(lines(p.readAllStandardError())).size(), 4);
    }

    // Every panel type starts, prints the protocol banner and the load
    // result; an unknown type says so and runs all the same.
    void everyPanelTypeStarts()
    {
        const QStringList types = {QStringLiteral("SK1100A"), QStringLiteral("SK1400A"), QStringLiteral("SK1500A"),
                                   QStringLiteral("SK1600A"), QStringLiteral("SK1200A"), QStringLiteral("SK1800A"),
                                   QStringLiteral("SK2100A"), QStringLiteral("SK1900A"), QStringLiteral("SK2200A"),
                                   QStringLiteral("SK1700A"), QStringLiteral("SK1300A"), QStringLiteral("SK2000A"),
                                   QStringLiteral("SK-9999")};
        int port = 42210;
        for (const QString &type : types) {
            QProcess p;
            p.setStandardInputFile(QProcess::nullDevice());
            p.start(QStringLiteral(PANELRUN), {QStringLiteral("--type"), type, QStringLiteral("--run-ms"),
                                               QStringLiteral("50"), QStringLiteral("--port"),
                                               QString::number(port++)});
            QVERIFY(p.waitForFinished(15000));
            QCOMPARE(p.exitCode(), 0);
            const QByteArray out = p.readAllStandardOutput();
            QVERIFY2(out.contains("Protocols Enabled:\n - Matrixwire Ethernet Protocol [MASTER]\n"
                                  "Loading config file...\nNo valid config found\n"),
                     out.constData());
            QCOMPARE(out.contains("ERROR: PANEL PRODUCT NAME INVALID!!!"), type == QLatin1String("SK-9999"));
            QCOMPARE(stateLines(lines(p.readAllStandardError())).size(), 4);
        }
    }

    // --routers: the firmware reads the addresses at its start (the file
    // beside its configuration, gone after the run); no address, no start.
    void routersOption()
    {
        QTemporaryDir work;
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN),
                {QStringLiteral("--run-ms"), QStringLiteral("300"), QStringLiteral("--workdir"), work.path(),
                 QStringLiteral("--port"), QStringLiteral("42205"), QStringLiteral("--routers"),
                 QStringLiteral("127.0.0.2, 10.0.0.9")});
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardOutput().contains("allowed routers: 127.0.0.2 10.0.0.9\n"));
        QVERIFY(!QFile::exists(work.path() + QStringLiteral("/allowed_routers")));

        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--run-ms"), QStringLiteral("300"),
                                           QStringLiteral("--routers"), QStringLiteral("10.0.0")});
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("panelrun: invalid --routers 10.0.0"));
    }

    void missingLibraryExitsTwo()
    {
        QTemporaryDir work;
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--library"), work.path() + QStringLiteral("/none.so"),
                                           QStringLiteral("--run-ms"), QStringLiteral("100")});
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("does not exist"));
    }

    void terminationSignalStopsInOrder()
    {
        QProcess p;
        p.start(QStringLiteral(PANELRUN), {QStringLiteral("--until-signal"), QStringLiteral("--port"),
                                           QStringLiteral("42204")});
        QVERIFY(p.waitForStarted());
        p.closeWriteChannel();
        QTest::qWait(300);
        QCOMPARE(p.state(), QProcess::Running); // end of input does not stop it
        p.terminate();
        QVERIFY(p.waitForFinished(15000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(stateLines(lines(p.readAllStandardError())).size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestPanelrun)
#include "tst_panelrun.moc"

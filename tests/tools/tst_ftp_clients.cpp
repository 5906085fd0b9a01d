// Real FTP clients (curl, Python's ftplib, lftp, all in active mode) upload
// a configuration into "config" of a running panel (panelrun): the panel
// stores and loads it, and the router simulator's next ON POLL brings it
// online with it (its QUERY reply carries the new configuration's CRC). An
// upload at the root is refused after the session. Each row uses loopback
// addresses of its own.

#include "crc16.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestFtpClients : public QObject
{
    Q_OBJECT

    // Reads from p's channel into acc until it holds text.
    static bool waitFor(QProcess &p, QByteArray &acc, QProcess::ProcessChannel ch, const QByteArray &text,
                        int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!acc.contains(text) && t.elapsed() < timeoutMs) {
            p.waitForReadyRead(50);
            acc += ch == QProcess::StandardError ? p.readAllStandardError() : p.readAllStandardOutput();
        }
        return acc.contains(text);
    }

    static void tell(QProcess &p, const char *line)
    {
        p.write(line);
        p.waitForBytesWritten(2000);
    }

    // The client's command line for an upload of file to ip:port, into
    // "config" or at the root.
    static QStringList clientCommand(const QString &client, const QString &file, const QString &ip, int port,
                                     bool intoConfig)
    {
        const QString where = intoConfig ? QStringLiteral("config/") : QString();
        if (client == QLatin1String("curl"))
            return {QStringLiteral("curl"), QStringLiteral("-s"), QStringLiteral("-S"), QStringLiteral("-P"),
                    QStringLiteral("-"), QStringLiteral("-T"), file,
                    QStringLiteral("ftp://%1:%2/%3cfg").arg(ip).arg(port).arg(where)};
        if (client == QLatin1String("ftplib"))
            return {QStringLiteral("python3"), QStringLiteral("-c"),
                    QStringLiteral("import ftplib, sys\n"
                                   "f = ftplib.FTP()\n"
                                   "f.connect(sys.argv[1], int(sys.argv[2]), timeout=10)\n"
                                   "f.login()\n"
                                   "f.set_pasv(False)\n"
                                   "if sys.argv[4] == 'config':\n"
                                   "    f.cwd('config')\n"
                                   "with open(sys.argv[3], 'rb') as data:\n"
                                   "    print(f.storbinary('STOR cfg', data))\n"
                                   "print(f.quit())\n"),
                    ip, QString::number(port), file, intoConfig ? QStringLiteral("config") : QStringLiteral("root")};
        return {QStringLiteral("lftp"), QStringLiteral("-u"), QStringLiteral("anonymous,x"), QStringLiteral("-e"),
                QStringLiteral("set ftp:passive-mode off; set ftp:ssl-allow no; set net:max-retries 1; "
                               "set net:timeout 10; %1put %2 -o cfg; bye")
                    .arg(intoConfig ? QStringLiteral("cd config; ") : QString(), file),
                QStringLiteral("ftp://%1:%2").arg(ip).arg(port)};
    }

    static QByteArray runClient(const QStringList &cmd, int *exitCode)
    {
        QProcess c;
        c.setProcessChannelMode(QProcess::MergedChannels);
        c.setStandardInputFile(QProcess::nullDevice());
        c.start(cmd.first(), cmd.mid(1));
        if (!c.waitForFinished(30000)) {
            c.kill();
            c.waitForFinished();
        }
        *exitCode = c.exitStatus() == QProcess::NormalExit ? c.exitCode() : -1;
        return c.readAll();
    }

private slots:
    void uploadIntoConfig_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<int>("hostByte");
        QTest::addColumn<int>("udpPort");
        // Panels at 127.0.0.161-163, their routers 20 above: addresses no
        // other test binds port 2001 on, since tests run in parallel.
        QTest::newRow("curl") << QStringLiteral("curl") << 161 << 2101;
        QTest::newRow("ftplib") << QStringLiteral("ftplib") << 162 << 2102;
        QTest::newRow("lftp") << QStringLiteral("lftp") << 163 << 2103;
    }

    void uploadIntoConfig()
    {
        QFETCH(QString, client);
        QFETCH(int, hostByte);
        QFETCH(int, udpPort);
        const QString program = client == QLatin1String("ftplib") ? QStringLiteral("python3") : client;
        QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(),
                 qPrintable(program + QStringLiteral(" is not installed (make test installs it)")));

        const QString panelIp = QStringLiteral("127.0.0.%1").arg(hostByte);
        const QString routerIp = QStringLiteral("127.0.0.%1").arg(hostByte + 20);
        const int ftpPort = 2 * udpPort + 10021;
        QTemporaryDir work;

        // The configuration to upload: the model's default with other reset
        // keys, without the file header (the panel adds it).
        QFile def(QStringLiteral(RESOURCE_DIR "/cfgSK1100A"));
        QVERIFY(def.open(QIODevice::ReadOnly));
        QByteArray payload = def.readAll().mid(10);
        QVERIFY(payload.contains("reset_value=16"));
        payload.replace("reset_value=16", "reset_value=9");
        const QString upload = work.filePath(QStringLiteral("upload.pcsl"));
        {
            QFile f(upload);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(payload);
        }
        const uint16_t crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(payload.constData()), size_t(payload.size()));

        QProcess router;
        router.start(QStringLiteral(ROUTERSIM),
                     {QStringLiteral("--bind"), routerIp + QStringLiteral(":2001"), QStringLiteral("--panel"),
                      panelIp + QLatin1Char(':') + QString::number(udpPort), QStringLiteral("--poll-ms"),
                      QStringLiteral("0")});
        QVERIFY(router.waitForStarted());
        QProcess panel;
        panel.start(QStringLiteral(PANELRUN),
                    {QStringLiteral("--type"), QStringLiteral("SK1100A"), QStringLiteral("--ip"), panelIp,
                     QStringLiteral("--port"), QString::number(udpPort), QStringLiteral("--workdir"), work.path(),
                     QStringLiteral("--until-signal")});
        QVERIFY(panel.waitForStarted());
        QByteArray perr, pout, rout;
        const QByteArray portsLine = "firmmsg Ftp using ports:" + QByteArray::number(ftpPort) + " "
                                     + QByteArray::number(ftpPort - 1);
        QVERIFY2(waitFor(panel, perr, QProcess::StandardError, portsLine, 5000), perr.constData());
        QVERIFY(waitFor(panel, pout, QProcess::StandardOutput, "No valid config found\n", 2000));
        QVERIFY(waitFor(panel, pout, QProcess::StandardOutput, "serviceFtp: listening on socket (passed)\n", 2000));

        int status = 0;
        QByteArray said = runClient(clientCommand(client, upload, panelIp, ftpPort, true), &status);
        QVERIFY2(status == 0, said.constData());

        // Stored with its header, loaded by the panel.
        QVERIFY2(waitFor(panel, pout, QProcess::StandardOutput, "Config file loaded\n", 5000), pout.constData());
        QVERIFY(pout.contains("Reset buttons are 1 and 9\n"));
        QVERIFY(waitFor(panel, perr, QProcess::StandardError, "state 3 ST_CONFIG_LOADED", 2000));
        const QString config = work.filePath(QStringLiteral("cfgSK1100A"));
        QFile stored(config);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        const QByteArray file = stored.readAll();
        stored.close();
        QCOMPARE(file.size(), payload.size() + 10);
        QCOMPARE(file.mid(10), payload);

        // The next ON POLL brings the panel online; its QUERY reply
        // carries the checksum of what was uploaded.
        tell(router, "poll\n");
        QVERIFY2(waitFor(panel, perr, QProcess::StandardError, "state 0 ST_ONLINE", 5000), perr.constData());
        tell(router, "query\n");
        const QByteArray crcText = QByteArray::number(crc >> 8, 16).rightJustified(2, '0') + " "
                                   + QByteArray::number(crc & 0xff, 16).rightJustified(2, '0');
        QVERIFY2(waitFor(router, rout, QProcess::StandardOutput, "R 98 00 01 " + crcText + " 00", 5000),
                 rout.constData());

        // At the root the client succeeds, the panel refuses the file.
        said = runClient(clientCommand(client, upload, panelIp, ftpPort, false), &status);
        QVERIFY2(status == 0, said.constData());
        QVERIFY2(waitFor(panel, pout, QProcess::StandardOutput, "Invalid panel image file, please try again...\n", 5000),
                 pout.constData());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), file);

        panel.terminate();
        QVERIFY(panel.waitForFinished(5000));
        QCOMPARE(panel.exitCode(), 0);
        perr += panel.readAllStandardError();
        QVERIFY(!perr.contains("ST_FTP_ERROR"));
        QVERIFY(!perr.contains("ST_FTP_BIND_ERROR"));
        tell(router, "quit\n");
        QVERIFY(router.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestFtpClients)
#include "tst_ftp_clients.moc"

// A router controller pushes configurations to a running panel: routersim
// sendcfg against panelrun on loopback. A configuration file (kind 1) is
// stored whole and loaded, an image (kind 2) applied without touching the
// file, and a download cut off halfway leaves the previous file in use.
// Each test uses loopback addresses of its own.

#include "crc16.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

uint16_t xmodem(const QByteArray &b)
{
    return crc16_xmodem(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()));
}

// One panel (SK2000A on its default configuration) and the simulator.
class Rig
{
public:
    Rig(const QString &routerIp, const QString &panelIp, int port, const QStringList &routerArgs = {})
        : m_panelName(panelIp + QLatin1Char(':') + QString::number(port))
    {
        config = dir.filePath(QStringLiteral("cfgSK2000A"));
        initial = readFile(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"));
        writeFile(config, initial);
        router.start(QStringLiteral(ROUTERSIM),
                     QStringList{QStringLiteral("--bind"), routerIp + QStringLiteral(":2001"), QStringLiteral("--panel"),
                                 m_panelName, QStringLiteral("--poll-ms"), QStringLiteral("300")} +
                         routerArgs);
        panel.start(QStringLiteral(PANELRUN),
                    {QStringLiteral("--ip"), panelIp, QStringLiteral("--port"), QString::number(port),
                     QStringLiteral("--config"), config, QStringLiteral("--workdir"), dir.path(),
                     QStringLiteral("--until-signal")});
    }

    ~Rig()
    {
        panel.terminate();
        panel.waitForFinished(5000);
        tell("quit");
        if (!router.waitForFinished(3000))
            router.kill();
    }

    bool started() { return router.waitForStarted() && panel.waitForStarted(); }

    void tell(const QString &line)
    {
        router.write((line + QLatin1Char('\n')).toLocal8Bit());
        router.waitForBytesWritten(2000);
    }

    // Reads both processes until pred holds or the time is up.
    template <typename Pred> bool waitUntil(Pred pred, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            rout += router.readAllStandardOutput();
            pout += panel.readAllStandardOutput();
            perr += panel.readAllStandardError();
            if (pred())
                return true;
            if (t.elapsed() > timeoutMs)
                return false;
            router.waitForReadyRead(20);
            panel.waitForReadyRead(20);
        }
    }
    bool routerSays(const QByteArray &text, int timeoutMs = 5000)
    {
        return waitUntil([&] { return rout.contains(text); }, timeoutMs);
    }
    bool panelSays(const QByteArray &text, int n = 1, int timeoutMs = 5000)
    {
        return waitUntil([&] { return pout.count(text) >= n; }, timeoutMs);
    }
    // The next QUERY reply carries crc.
    bool queryGives(uint16_t crc)
    {
        const qsizetype from = rout.size();
        tell(QStringLiteral("query"));
        const QRegularExpression re(QStringLiteral("rx %1 \\[[0-9a-f ]+\\] R a4 00 01 %2 %3 00")
                                        .arg(QRegularExpression::escape(m_panelName))
                                        .arg(crc >> 8, 2, 16, QLatin1Char('0'))
                                        .arg(crc & 0xFF, 2, 16, QLatin1Char('0')));
        return waitUntil([&] { return re.match(QString::fromLatin1(rout.mid(from))).hasMatch(); }, 3000);
    }
    QByteArray lines(const QByteArray &prefix) const
    {
        QByteArray out;
        for (const QByteArray &l : rout.split('\n'))
            if (l.startsWith(prefix))
                out += l + '\n';
        return out;
    }

    QTemporaryDir dir;
    QString config;
    QByteArray initial;
    QProcess router, panel;
    QByteArray rout, pout, perr;
    QString m_panelName;
};

QByteArray payloadOf(const QByteArray &file)
{
    return file.mid(10);
}

} // namespace

class TestSendcfg : public QObject
{
    Q_OBJECT

private slots:
    // Kind 1: every block answered "y", the file replaced whole, loaded,
    // and QUERY reports its checksum.
    void fileDownload()
    {
        Rig rig(QStringLiteral("127.0.0.50"), QStringLiteral("127.0.0.51"), 42520);
        QVERIFY(rig.started());
        QVERIFY2(rig.panelSays("set panel state online 8\n"), rig.pout.constData());
        QVERIFY(rig.routerSays("] y"));
        QVERIFY(rig.queryGives(xmodem(payloadOf(rig.initial))));

        const QString source = QStringLiteral(RESOURCE_DIR "/cfgSK1100A");
        const QByteArray wanted = readFile(source);
        rig.tell(QStringLiteral("sendcfg ") + source + QStringLiteral(" --kind 1 --block 200"));
        QVERIFY2(rig.routerSays("sendcfg 127.0.0.51:42520: done, 15 blocks\n"), rig.rout.constData());
        const QByteArray answers = rig.lines("sendcfg 127.0.0.51:42520 block");
        QCOMPARE(answers.count(": y\n"), 15);
        QVERIFY(answers.contains("block 15/15 #14: y\n"));
        QVERIFY(!answers.contains(": n\n"));

        QVERIFY2(rig.panelSays("Config file loaded\n", 2), rig.pout.constData());
        QVERIFY(rig.pout.contains("received last block\n"));
        QCOMPARE(readFile(rig.config), wanted);
        QVERIFY(rig.queryGives(xmodem(payloadOf(wanted))));
        // Only the configuration file and the firmware copy are left: the
        // file was replaced, not written in place beside a temporary.
        QCOMPARE(QDir(rig.dir.path()).entryList(QDir::Files).size(), 2);
    }

    // Kind 2: a binary image (given as routersim options, sent when the
    // panel is first heard from) and a text image, applied in memory.
    void imageDownloads()
    {
        QTemporaryDir files;
        // Take mode 2 onto destination 300, two level names.
        const QByteArray binary = QByteArray("\x6b\x00\x04\x00\x02\x01\x2c", 7) +
                                  QByteArray("\x66\x00\x0b\x00\x02\x04VID AUD1", 14);
        const QString binPath = files.filePath(QStringLiteral("take.bin"));
        QVERIFY(writeFile(binPath, binary));

        Rig rig(QStringLiteral("127.0.0.52"), QStringLiteral("127.0.0.53"), 42522,
                {QStringLiteral("--sendcfg"), binPath, QStringLiteral("--kind"), QStringLiteral("2"),
                 QStringLiteral("--block"), QStringLiteral("8")});
        QVERIFY(rig.started());
        QVERIFY2(rig.routerSays("sendcfg 127.0.0.53:42522: done, 5 blocks\n", 8000), rig.rout.constData());
        QVERIFY(rig.rout.contains("sendcfg 127.0.0.53:42522: 5 blocks of kind 2, image of binary configuration of 33 bytes\n"));
        QVERIFY2(rig.panelSays("panel_config 3 panel setup(FALSE)\n"), rig.pout.constData());
        QVERIFY(rig.pout.contains("Config: Specified length 33 Received 33\nConfig: Binary config 21 [107,0]\n"));
        QVERIFY(rig.queryGives(xmodem(binary)));

        // The same PCSL text as an image, twice: loaded once, then only set up.
        const QString text = QStringLiteral(RESOURCE_DIR "/cfgSK1100A");
        rig.tell(QStringLiteral("sendcfg ") + text + QStringLiteral(" --kind 2"));
        QVERIFY(rig.routerSays("sendcfg 127.0.0.53:42522: done, 12 blocks\n"));
        QVERIFY2(rig.panelSays("panel_config 2 panel setup(FALSE)\n"), rig.pout.constData());
        QVERIFY(rig.pout.contains("Config: Un-compressed PCSL received\n"));
        rig.tell(QStringLiteral("sendcfg ") + text + QStringLiteral(" --kind 2"));
        QVERIFY(rig.panelSays("panel_config 1 panel setup(TRUE)\n"));
        QCOMPARE(rig.pout.count("Config: Un-compressed PCSL received\n"), 1);
        QVERIFY(rig.queryGives(xmodem(payloadOf(readFile(text)))));

        // Images leave the configuration file as it was.
        QCOMPARE(readFile(rig.config), rig.initial);
    }

    // The simulator stops sending halfway: the old file stays whole and in
    // use; a later download starts afresh and completes.
    void cutOffDownload()
    {
        Rig rig(QStringLiteral("127.0.0.54"), QStringLiteral("127.0.0.55"), 42524);
        QVERIFY(rig.started());
        QVERIFY(rig.panelSays("set panel state online 8\n"));
        QVERIFY(rig.routerSays("] y"));
        const QString source = QStringLiteral(RESOURCE_DIR "/cfgSK1100A");
        rig.tell(QStringLiteral("sendcfg ") + source + QStringLiteral(" --block 200 --stop-after 7"));
        QVERIFY2(rig.routerSays("sendcfg 127.0.0.55:42524: stopped after 7 of 15 blocks\n"), rig.rout.constData());
        QTest::qWait(1000);
        QVERIFY(rig.waitUntil([] { return true; }, 0));
        QVERIFY(rig.pout.contains("received first block\n"));
        QVERIFY(!rig.pout.contains("received last block\n"));
        QCOMPARE(readFile(rig.config), rig.initial);
        QVERIFY(rig.queryGives(xmodem(payloadOf(rig.initial))));
        QCOMPARE(rig.pout.count("Config file loaded\n"), 1);
        // The panel stayed online throughout.
        QVERIFY(!rig.perr.contains("ST_OFFLINE"));

        rig.tell(QStringLiteral("sendcfg ") + source);
        QVERIFY(rig.routerSays("sendcfg 127.0.0.55:42524: done, 12 blocks\n"));
        QVERIFY(rig.panelSays("Config file loaded\n", 2));
        QCOMPARE(readFile(rig.config), readFile(source));
    }
};

QTEST_GUILESS_MAIN(TestSendcfg)
#include "tst_sendcfg.moc"

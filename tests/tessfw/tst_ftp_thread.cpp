// The FTP thread of a running firmware thread, over real sockets on
// loopback: uploads that reach the configuration file and get loaded,
// locate, failures of a client that leave the panel running, a second
// client, a taken port, a restart, and stopping with a client connected.
// Each test uses a loopback address of its own, so tests may run in
// parallel with others.

#include "../support/full_disk.h"
#include "../support/log_recorder.h"
#include "bd_records.h"
#include "ftp_test_client.h"
#include "link/ftpd.h"
#include "plat.h"
#include "plat_firmware.h"
#include "recording_callback.h"
#include "tfw_firmware_thread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using State = TFW_IFirmwareCallback;

// A panel on its own thread with its configuration file in a fresh
// directory.
struct RunningPanel {
    RecordingCallback cb;
    TFW_FirmwareThread thread;
    QTemporaryDir dir;
    QString config;

    // The configuration file in configDir when given.
    bool start(const QString &ip, int port, const QString &configDir = QString())
    {
        config = (configDir.isEmpty() ? dir.path() : configDir) + QStringLiteral("/cfgSK2000A");
        thread.setCallback(&cb);
        thread.start(QStringLiteral("SK2000A"), ip, port, config);
        return cb.waitFor(State::ST_RUNNING) && cb.waitForText(QStringLiteral("Ftp using ports:"));
    }
    QByteArray configFile() const
    {
        QFile f(config);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    int count(int state) const
    {
        const std::vector<int> s = cb.states();
        return int(std::count(s.begin(), s.end(), state));
    }
};

static QByteArray defaultPayload()
{
    QFile f(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll().mid(10);
}

static QByteArray login(FtpTestClient &c, const QString &ip, quint16 port)
{
    QByteArray banner = c.open(ip, port);
    c.cmd("USER engineer");
    c.cmd("PASS x");
    return banner;
}

class TestFtpThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        tfw_register_meta_types();
        log_recorder::install();
    }

    // The server's socket waits are bounded, over real sockets: a command
    // receive returns with nothing once its wait is over, and a reply to a
    // client that reads nothing gives up after the send time-out instead
    // of holding the FTP thread (a client connection that never reads).
    void socketWaitsAreBounded()
    {
        const FtpdPlatform *plat = plat_ftpd();
        plat->sock_rearm();
        const uint8_t ip[4] = {127, 0, 0, 141};
        const int listener = plat->sock_open();
        QVERIFY(listener >= 0);
        QCOMPARE(plat->sock_reuse(listener), 0);
        QCOMPARE(plat->sock_bind(listener, ip, 42681), 0);
        QCOMPARE(plat->sock_listen(listener, 2), 0);

        const int client = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(42681);
        to.sin_addr.s_addr = htonl(0x7f00008d);
        QCOMPARE(::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        uint8_t peer[4];
        const int ctrl = plat->sock_accept(listener, peer);
        QVERIFY(ctrl >= 0);

        // Runs call on a thread of its own; ms later a call still waiting is
        // freed by shutting the client's end down. The time it took.
        auto bounded = [client](const std::function<void()> &call, int ms) {
            std::atomic<bool> done{false};
            std::thread th([&] {
                call();
                done = true;
            });
            QElapsedTimer t;
            t.start();
            while (!done && t.elapsed() < ms)
                QThread::msleep(10);
            const qint64 took = t.elapsed();
            if (!done)
                ::shutdown(client, SHUT_RDWR);
            th.join();
            return took;
        };
        uint8_t buf[64];
        int err = -1, got = 0;
        const qint64 waitedRecv = bounded([&] { got = plat->sock_recv(ctrl, buf, sizeof buf, 300, &err); }, 10000);
        int sent = -1;
        const qint64 waitedSend = bounded(
            [&] {
                const QByteArray lots(32 * 1024 * 1024, 'r');
                sent = plat->sock_send(ctrl, reinterpret_cast<const uint8_t *>(lots.constData()),
                                       int(lots.size()));
            },
            20000);
        ::close(client);
        plat->sock_close(ctrl);
        plat->sock_close(listener);
        QVERIFY2(waitedRecv < 10000, "a receive on a silent connection did not end");
        QCOMPARE(got, -1);
        QCOMPARE(err, 0);
        QVERIFY(waitedRecv >= 250);
        QVERIFY2(waitedSend < 20000, "a send to a client that reads nothing did not end");
        QCOMPARE(sent, int(ETIMEDOUT));
        QVERIFY(waitedSend >= FTPD_SEND_TIMEOUT_MS - 100);
    }

    void uploadIsStoredAndLoaded()
    {
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.41"), 2001));
        QVERIFY(panel.cb.texts().contains(QStringLiteral("Ftp using ports:14023 14022")));
        QVERIFY(!panel.cb.has(State::ST_CONFIG_LOADED));

        const QByteArray payload = defaultPayload();
        QVERIFY(payload.startsWith("####"));
        FtpTestClient c;
        QVERIFY(login(c, QStringLiteral("127.0.0.41"), 14023).startsWith("220-Pellam FTP Server.\r\n"));
        QCOMPARE(c.cmd("CWD config"), QByteArray("250 Directory change ok.\r\n"));
        QCOMPARE(c.port(), QByteArray("200 PORT command successful.\r\n"));
        QCOMPARE(c.stor(payload), QByteArray("150 Opening data connection.\r\n226 Transfer complete.\r\n"));
        // Stored when the session ends, not before.
        QTest::qWait(100);
        QVERIFY(!QFile::exists(panel.config));
        QCOMPARE(c.cmd("QUIT"), QByteArray("221 Goodbye.\r\n"));
        QVERIFY(c.waitClosed(2000));

        // n bytes make a file of n + 10: the header and its length.
        QTRY_VERIFY(QFile::exists(panel.config));
        const QByteArray file = panel.configFile();
        QCOMPARE(file.size(), payload.size() + 10);
        QCOMPARE(file.left(6), QByteArray("CONFIG"));
        const int n = file.size();
        const char length[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        QCOMPARE(file.mid(6, 4), QByteArray(length, 4));
        QCOMPARE(file.mid(10), payload);
        // The firmware thread loads it at its next tick.
        QVERIFY(panel.cb.waitFor(State::ST_CONFIG_LOADED));

        // An upload at the root is refused after its session: the file stays.
        FtpTestClient root;
        login(root, QStringLiteral("127.0.0.41"), 14023);
        root.port();
        QVERIFY(root.stor("not a panel image").endsWith("226 Transfer complete.\r\n"));
        root.cmd("QUIT");
        QVERIFY(root.waitClosed(2000));
        QTest::qWait(100);
        QCOMPARE(panel.configFile(), file);

        QVERIFY(panel.thread.stop());
        QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));
        QVERIFY(!panel.cb.has(State::ST_FTP_BIND_ERROR));
    }

    // On a full file system an upload, small (within the write buffer) or
    // large, is answered 452 instead of 226 and the panel keeps its
    // configuration file as it was; with room again the upload is stored.
    void fullDiskUploadIsRefused()
    {
        FullDisk disk;
        QString why;
        if (!disk.setUp(&why))
            QSKIP(qPrintable(why));
        const QString config = disk.filePath(QStringLiteral("cfgSK2000A"));
        QFile old(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"));
        QVERIFY(old.copy(config));
        QFile(config).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray before = defaultPayload();
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.47"), 2013, disk.path()));
        const QByteArray file = panel.configFile();
        QCOMPARE(file.mid(10), before);

        QVERIFY(disk.fill());
        log_recorder::clear();
        for (int size : {5322, 65 * 1024}) {
            FtpTestClient c;
            login(c, QStringLiteral("127.0.0.47"), 14047);
            c.cmd("CWD config");
            c.port();
            const QByteArray replies = c.stor(QByteArray(size, '#'));
            if (disk.kind() == FullDisk::Tmpfs)
                QCOMPARE(replies, QByteArray("150 Opening data connection.\r\n452 Requested action not "
                                             "taken. Insufficient storage space in system.\r\n"));
            else
                QVERIFY2(replies.contains("\r\n45"), replies.constData());
            QCOMPARE(c.cmd("QUIT"), QByteArray("221 Goodbye.\r\n"));
            QVERIFY(c.waitClosed(2000));
        }
        QTest::qWait(100);
        QCOMPARE(panel.configFile(), file);
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), QStringList{QStringLiteral("cfgSK2000A")});
        QCOMPARE(log_recorder::count(QtCriticalMsg, QStringLiteral("could not write config file")), 2);

        disk.release();
        const QByteArray payload = before + "\n# uploaded\n";
        FtpTestClient c;
        login(c, QStringLiteral("127.0.0.47"), 14047);
        c.cmd("CWD config");
        c.port();
        QVERIFY(c.stor(payload).endsWith("226 Transfer complete.\r\n"));
        c.cmd("QUIT");
        QVERIFY(c.waitClosed(2000));
        QTRY_COMPARE(panel.configFile().mid(10), payload);
        QVERIFY(panel.thread.stop());
        QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));
    }

    void siteSwitchesLocateAndLamps()
    {
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.42"), 2003));
        // A lamp that is on, lit on the firmware thread.
        QObject *fw = dynamic_cast<QObject *>(plat_firmware());
        QVERIFY(fw);
        QMetaObject::invokeMethod(fw, [] { plat_led_set(3, 1, 0); }, Qt::BlockingQueuedConnection);
        const QByteArray lampOn = buttondriver::makeColor(3, 255, 0, 0);
        const QByteArray lampOff = buttondriver::makeColor(3, 200, 200, 200);
        auto sent = [&panel](const QByteArray &r) {
            const std::vector<QByteArray> all = panel.cb.records();
            return std::find(all.begin(), all.end(), r) != all.end();
        };
        QVERIFY(sent(lampOn));

        FtpTestClient c;
        login(c, QStringLiteral("127.0.0.42"), 14027);
        QCOMPARE(c.cmd("SITE locateON"), QByteArray("200 Panel is now flashing.\r\n"));
        QVERIFY(panel.cb.waitFor(State::ST_LOCATE_ON));
        QVERIFY(!sent(lampOff));
        QCOMPARE(c.cmd("SITE LOCATEOFF"), QByteArray("200 Panel is no longer flashing.\r\n"));
        QVERIFY(panel.cb.waitFor(State::ST_LOCATE_OFF));
        QTRY_VERIFY(sent(lampOff));
        // The reply stream stays in step after both.
        QCOMPARE(c.cmd("NOOP"), QByteArray("200 Command okay.\r\n"));
        QCOMPARE(panel.count(State::ST_LOCATE_ON), 1);
        QCOMPARE(panel.count(State::ST_LOCATE_OFF), 1);
        QVERIFY(panel.thread.stop());
    }

    // What a client does wrong ends its transfer, never the panel.
    void clientFailuresLeaveThePanelRunning()
    {
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.43"), 2005));
        FtpTestClient c;
        login(c, QStringLiteral("127.0.0.43"), 14031);
        QCOMPARE(c.cmd("CWD config"), QByteArray("250 Directory change ok.\r\n"));

        // STOR without PORT.
        QCOMPARE(c.cmd("STOR cfg"), QByteArray("425 Can't open data connection.\r\n"));
        // PORT to a port nobody listens on.
        QTcpServer probe;
        probe.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
        const quint16 closed = probe.serverPort();
        probe.close();
        QCOMPARE(c.cmd("PORT 127,0,0,1," + QByteArray::number(closed >> 8) + "," + QByteArray::number(closed & 0xff)),
                 QByteArray("200 PORT command successful.\r\n"));
        QCOMPARE(c.cmd("STOR cfg"), QByteArray("425 Can't open data connection.\r\n"));
        // A line of 600 characters, then the session goes on.
        QCOMPARE(c.cmd(QByteArray(600, 'z')), QByteArray("500 Command line too long.\r\n"));
        QCOMPARE(c.reply(), QByteArray("502 Command not implemented.\r\n"));

        // The next upload of the same session works.
        c.port();
        QVERIFY(c.stor("uploaded").endsWith("226 Transfer complete.\r\n"));
        c.cmd("QUIT");
        QTRY_COMPARE(panel.configFile(), QByteArray("CONFIG\0\0\0\x12uploaded", 18));
        QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));

        // A client that goes away in the middle of its session.
        {
            FtpTestClient gone;
            login(gone, QStringLiteral("127.0.0.43"), 14031);
            gone.cmd("CWD config");
        }
        FtpTestClient next;
        QVERIFY(login(next, QStringLiteral("127.0.0.43"), 14031).startsWith("220"));
        QCOMPARE(next.cmd("NOOP"), QByteArray("200 Command okay.\r\n"));
        QVERIFY(panel.thread.stop());
        QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));
    }

    void secondClientWaitsForTheFirst()
    {
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.44"), 2007));
        FtpTestClient first;
        QVERIFY(login(first, QStringLiteral("127.0.0.44"), 14035).startsWith("220"));
        // Connected through the backlog, but not served yet.
        FtpTestClient second;
        QCOMPARE(second.open(QStringLiteral("127.0.0.44"), 14035, 300), QByteArray());
        QVERIFY(second.connected());
        QCOMPARE(first.cmd("QUIT"), QByteArray("221 Goodbye.\r\n"));
        QVERIFY(second.reply().startsWith("220-Pellam FTP Server."));
        QCOMPARE(second.cmd("USER b"), QByteArray("331 User name okay, need password.\r\n"));
        QVERIFY(panel.thread.stop());
    }

    void stopWithAnIdleClientConnected()
    {
        RunningPanel panel;
        QVERIFY(panel.start(QStringLiteral("127.0.0.45"), 2009));
        FtpTestClient c;
        login(c, QStringLiteral("127.0.0.45"), 14039);
        QTest::qWait(100); // the FTP thread now waits in its receive
        QElapsedTimer t;
        t.start();
        QVERIFY(panel.thread.stop());
        const qint64 ms = t.elapsed();
        // Without the wake-up the FTP thread would hold the stop for 10 s.
        QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
        QVERIFY(c.waitClosed(1000));
        QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));
        QVERIFY(panel.cb.waitFor(State::ST_THREAD_FINISHED));
    }

    void takenPortStopsThePanelRestartDoesNot()
    {
        {
            // Someone else listens on the control port.
            QTcpServer taken;
            taken.setProxy(QNetworkProxy::NoProxy);
            QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.0.46")), 14043));
            RunningPanel panel;
            panel.config = panel.dir.filePath(QStringLiteral("cfg"));
            panel.thread.setCallback(&panel.cb);
            panel.thread.start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.46"), 2011, panel.config);
            QVERIFY(panel.cb.waitFor(State::ST_FTP_BIND_ERROR));
            QVERIFY(!panel.cb.has(State::ST_FTP_ERROR));
            // The host then stops the panel as usual.
            QVERIFY(panel.thread.stop());
            QVERIFY(panel.cb.waitFor(State::ST_THREAD_FINISHED));
        }
        {
            // A panel started again right after a session that the server
            // ended (its side of the connection lingers) binds again.
            RunningPanel panel;
            QVERIFY(panel.start(QStringLiteral("127.0.0.46"), 2011));
            FtpTestClient c;
            login(c, QStringLiteral("127.0.0.46"), 14043);
            c.port();
            c.stor("data");
            c.cmd("QUIT");
            QVERIFY(c.waitClosed(2000));
            QVERIFY(panel.thread.stop());
        }
        RunningPanel again;
        QVERIFY(again.start(QStringLiteral("127.0.0.46"), 2011));
        QVERIFY(!again.cb.has(State::ST_FTP_BIND_ERROR));
        FtpTestClient c;
        QVERIFY(login(c, QStringLiteral("127.0.0.46"), 14043).startsWith("220"));
        QVERIFY(again.thread.stop());
    }
};

QTEST_GUILESS_MAIN(TestFtpThread)
#include "tst_ftp_thread.moc"

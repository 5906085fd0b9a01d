// A panel's router link with two router peers on loopback, one of them
// hostile: the panel core in this process on its real socket, the router
// simulator's own classes as the router the panel follows, and a plain
// socket on another address as the stranger. One stray datagram must not
// put the stream parser out of step with the router, a stranger must not
// rewrite the stored configuration, and a panel locked to its router (the
// file "allowed_routers" in its directory) ignores the stranger's polls and
// counts them in its trace; without the file a controller that opens a new
// session still takes the panel over, as a standby controller does.

#include "link/comms.h"
#include "link/eth.h"
#include "link/reliable.h"
#include "link/router_cmd.h"
#include "panels_main.h"
#include "recording_host.h"
#include "router_rig.h"
#include "router_sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <cstring>
#include <functional>

namespace {

const char PANEL[] = "127.0.0.131";
const char ROUTER[] = "127.0.0.132";
const char STRANGER[] = "127.0.0.133";
const quint16 PANEL_PORT = 42630;
// The flood: panelrun and routersim, and the flood from this process.
const char FLOOD_PANEL[] = "127.0.0.135";
const char FLOOD_ROUTER[] = "127.0.0.136";
const char FLOODER[] = "127.0.0.137";
const quint16 FLOOD_PORT = 42640;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A datagram: header (sequenced or not, id, ack), then router-link messages.
QByteArray datagram(bool sequenced, quint8 id, const QByteArray &messages)
{
    QByteArray d(5, '\0');
    d[0] = sequenced ? 1 : 0;
    d[1] = char(sequenced ? id : 0);
    return d + messages;
}

QByteArray message(char cmd, const QByteArray &data = QByteArray())
{
    QByteArray m;
    m.append(cmd).append(char(data.size() >> 8)).append(char(data.size())).append(data);
    return m;
}

// A configuration file download of one block (first and last).
QByteArray configBlock(const QByteArray &text)
{
    return message('B', QByteArray("\0\0\1\0\0\xc0", 6) + text);
}

std::vector<QByteArray> s_wire;
int captureSend(const uint8_t *d, int len, const uint8_t *)
{
    s_wire.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}

} // namespace

class TestHostileRouter : public QObject
{
    Q_OBJECT

    RecordingHost m_host;
    QTemporaryDir m_dir;

    QString configPath() const { return m_dir.filePath(QStringLiteral("cfgSK2000A")); }

    // Runs the simulator's events and the panel's loop until done() holds.
    static bool pump(const std::function<bool()> &done, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
            panels_loop();
            QThread::msleep(2);
        }
        return true;
    }
    static void pass(int ms) { pump([] { return false; }, ms); }

    void startPanel()
    {
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const uint8_t ip[4] = {127, 0, 0, 131};
        memcpy(p.ip_address, ip, 4);
        p.udp_port = PANEL_PORT;
        p.version_major = 1;
        const QByteArray path = QFile::encodeName(configPath());
        memcpy(p.config_path, path.constData(), size_t(path.size()));
        panels_close_sockets();
        QCOMPARE(panels_loop_init(p), 0);
    }

    static bool destinationIs(const char *addr)
    {
        const quint32 want = QHostAddress(QString::fromLatin1(addr)).toIPv4Address();
        const uint8_t *d = rl_destination();
        return (quint32(d[0]) << 24 | quint32(d[1]) << 16 | quint32(d[2]) << 8 | d[3]) == want;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::copy(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"), configPath()));
        QFile::setPermissions(configPath(), QFile::ReadOwner | QFile::WriteOwner);
    }

    void cleanup() { panels_close_sockets(); }

    // A stray datagram from the stranger: one message cut short, another
    // that is a configuration block. The router's next tally is read as
    // the router sent it, and the stored configuration stays as it was,
    // also when the stranger's block comes sequenced, with the id the
    // panel expects next from its router.
    void strayDatagramsChangeNothing()
    {
        startPanel();
        RouterSim sim(2, 32, 32);
        QString error;
        QVERIFY2(sim.bind(QHostAddress(QString::fromLatin1(ROUTER)), 2001, &error), qPrintable(error));
        sim.addPanel(QHostAddress(QString::fromLatin1(PANEL)), PANEL_PORT);
        sim.setPollInterval(300);
        QUdpSocket stranger;
        stranger.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(stranger.bind(QHostAddress(QString::fromLatin1(STRANGER)), 2001));
        const QHostAddress panel(QString::fromLatin1(PANEL));
        // Online, and in the router's session past its first message (a
        // new session starts on a message boundary anyway).
        QVERIFY(pump([] { return comms_state() == COMMS_ONLINE && destinationIs(ROUTER)
                                 && rl_last_accepted() != 0 && rl_last_accepted() != 255; },
                     5000));

        // "Q" with its length cut: the end of the stranger's datagram.
        stranger.writeDatagram(QByteArray("\0\0\0\0\0\x51", 6), panel, PANEL_PORT);
        pass(100);
        QVERIFY(sim.command(QStringLiteral("route V 13 6")));
        QVERIFY2(pump([] { return rcmd_source(0, 12) == 5; }, 3000),
                 "the router's tally was read into the stranger's message");

        const QByteArray stored = readFile(configPath());
        QVERIFY(stored.size() > 1000);
        const int reloads = m_host.reloads;
        const QByteArray text("#####\nmenu 1 { key 1 { type 10 } }\n");
        stranger.writeDatagram(datagram(false, 0, configBlock(text)), panel, PANEL_PORT);
        pass(200);
        sim.setPollInterval(0);
        pass(400); // the router's last datagrams are answered
        stranger.writeDatagram(datagram(true, quint8(rl_last_accepted() + 1), configBlock(text)), panel,
                               PANEL_PORT);
        pass(200);
        QCOMPARE(readFile(configPath()), stored);
        QCOMPARE(m_host.reloads, reloads);

        // The router's session goes on: its next datagram repeats the id the
        // stranger took, so it restarts its side of the session (dropping
        // what it had queued), and its tallies arrive again.
        sim.setPollInterval(300);
        pass(2500);
        QVERIFY(sim.command(QStringLiteral("route V 14 7")));
        QVERIFY(pump([] { return rcmd_source(0, 13) == 6; }, 5000));
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
    }

    // A sequenced datagram continues only a message of its own sender: the
    // router's message cut at the end of its datagram is dropped when the
    // next accepted datagram comes from someone else, who is read from a
    // message boundary.
    void anotherSenderStartsOnAMessageBoundary()
    {
        startPanel();
        const rl_send_fn socketSend = rl_set_send(captureSend);
        const uint8_t router[4] = {127, 0, 0, 132}, stranger[4] = {127, 0, 0, 133};
        auto from = [](const uint8_t addr[4], const QByteArray &d) {
            eth_router_receive(ETH_ROUTER_PORT, reinterpret_cast<const uint8_t *>(d.constData()),
                               int(d.size()), addr);
        };
        from(router, datagram(true, 0, message('O')));
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        from(router, datagram(true, 1, QByteArray("Q\0\x0b.UV013,0", 11)));
        s_wire.clear();
        from(stranger, datagram(true, 2, message('P')));
        bool replied = false;
        for (const QByteArray &w : s_wire)
            replied = replied || (w.size() > 5 && w[5] == 'R');
        rl_set_send(socketSend);
        QVERIFY2(replied, "the stranger's QUERY was read as the rest of the router's message");
    }

    // With the list of allowed routers, the stranger's ON POLLs (a new
    // session of its own, then ids 1, 2 ... at 10 Hz) change nothing: the
    // panel stays with its router, whose tallies arrive at once, and the
    // trace counts what was dropped. Without it the stranger takes over.
    void allowedRoutersLockThePanel()
    {
        const QString allowed = m_dir.filePath(QStringLiteral("allowed_routers"));
        const QString trace = m_dir.filePath(QStringLiteral("trace.txt"));
        const QHostAddress panel(QString::fromLatin1(PANEL));
        for (const bool locked : {false, true}) {
            QFile::remove(allowed);
            QFile::remove(trace);
            if (locked) {
                QVERIFY(writeFile(allowed, QByteArray("# the control room\n") + ROUTER + "\n"));
                QVERIFY(writeFile(m_dir.filePath(QStringLiteral("TRACE")), QByteArray()));
            }
            startPanel();
            RouterSim sim(2, 32, 32);
            QString error;
            QVERIFY2(sim.bind(QHostAddress(QString::fromLatin1(ROUTER)), 2001, &error), qPrintable(error));
            sim.addPanel(panel, PANEL_PORT);
            sim.setPollInterval(300);
            QUdpSocket stranger;
            stranger.setProxy(QNetworkProxy::NoProxy);
            QVERIFY(stranger.bind(QHostAddress(QString::fromLatin1(STRANGER)), 2001));
            QVERIFY(pump([] { return comms_state() == COMMS_ONLINE && destinationIs(ROUTER); }, 5000));

            if (!locked) {
                // (A new session while the router's own is at its id 0 would
                // be a repeat of that id.)
                QVERIFY(pump([] { return rl_last_accepted() != 0 && rl_last_accepted() != 255; }, 2000));
                stranger.writeDatagram(datagram(true, 0, message('O')), panel, PANEL_PORT);
                QVERIFY2(pump([] { return destinationIs(STRANGER); }, 1000),
                         "a controller's new session no longer takes over");
                continue;
            }
            for (int id = 0; id < 15; ++id) {
                stranger.writeDatagram(datagram(true, quint8(id), message('O')), panel, PANEL_PORT);
                pass(100);
            }
            QVERIFY2(destinationIs(ROUTER), "the stranger took the panel over");
            QVERIFY(sim.command(QStringLiteral("route V 15 8")));
            QVERIFY(pump([] { return rcmd_source(0, 14) == 7; }, 1000));
            QCOMPARE(comms_state(), int(COMMS_ONLINE));
            pass(1100); // the dropped datagrams are counted once a second
            QVERIFY(pump([&] { return readFile(trace).contains("datagrams dropped"); }, 2000));
            const QByteArray lines = readFile(trace);
            QVERIFY2(lines.contains("sender not an allowed router (last 127.0.0.133:2001)"), lines.constData());
            QVERIFY(!lines.contains("in  127.0.0.133"));
            QFile::remove(m_dir.filePath(QStringLiteral("TRACE")));
            QFile::remove(allowed);
        }
    }

    // A flood of datagrams from anywhere (10000 a second for 8 s, more than
    // the socket can hold at one datagram a loop pass) against a running
    // panel (panelrun, its 10 ms loop on its firmware thread) and its
    // router: what waits is read each pass, so the router's polls keep the
    // panel online.
    void floodOfDatagramsLeavesThePanelOnline()
    {
        RouterRig rig;
        QString why;
        QVERIFY2(rig.start(QStringLiteral("SK2000A"), QString::fromLatin1(FLOOD_ROUTER),
                           QString::fromLatin1(FLOOD_PANEL), FLOOD_PORT,
                           readFile(QStringLiteral(RESOURCE_DIR "/cfgSK2000A")), {}, &why),
                 qPrintable(why));
        const qsizetype before = rig.perr.size();
        QUdpSocket flood;
        flood.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(flood.bind(QHostAddress(QString::fromLatin1(FLOODER)), 0));
        const QHostAddress panel(QString::fromLatin1(FLOOD_PANEL));
        const QByteArray junk(5, '\0'); // an unsequenced header, nothing in it
        QElapsedTimer t;
        t.start();
        qint64 sent = 0;
        while (t.elapsed() < 8000) {
            for (const qint64 due = t.elapsed() * 10; sent < due; ++sent)
                flood.writeDatagram(junk, panel, FLOOD_PORT);
            rig.settle(5);
        }
        rig.settle(500);
        QVERIFY(sent >= 70000);
        QVERIFY2(!rig.perr.mid(before).contains("ST_OFFLINE"), "the flood took the panel offline");
    }
};

QTEST_GUILESS_MAIN(TestHostileRouter)
#include "tst_hostile_router.moc"

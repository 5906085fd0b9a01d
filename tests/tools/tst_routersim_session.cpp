// The router simulator's session with a panel, in one process: the
// simulator's own classes against the panel core on its real loopback
// socket. OFF POLL restarts the session on both sides even when the panel
// refuses the first "N", and after OFF POLL and ON POLL the panel learns the
// routing again by interrogating the simulator's matrix. What a panel asks
// before any router has spoken reaches the simulator once it polls.

#include "link/comms.h"
#include "link/reliable.h"
#include "link/router_cmd.h"
#include "panels_main.h"
#include "pcsl_file.h"
#include "recording_host.h"
#include "router_peer.h"
#include "router_sim.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstring>
#include <functional>

namespace {

// A sequenced datagram from the panel: id, acknowledgement, messages.
QByteArray fromPanel(quint8 id, const QByteArray &messages)
{
    QByteArray d(RouterPeer::Header, '\0');
    d[0] = 1;
    d[1] = char(id);
    return d + messages;
}

} // namespace

class TestRouterSimSession : public QObject
{
    Q_OBJECT

    RecordingHost m_host;

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

private slots:
    // A reset forgets the last id accepted from the panel and any part of a
    // message the session left behind.
    void resetStartsAFreshSession()
    {
        RouterPeer peer(QHostAddress(QStringLiteral("127.0.0.1")), 2005);
        QByteArray ack;
        QVERIFY(peer.receive(fromPanel(0, QByteArray("Q\0\x05.S", 5)), &ack).isEmpty());
        QVERIFY(!ack.isEmpty());
        peer.reset();
        // The panel restarted too: its id 0 again, a whole message.
        const QList<QByteArray> msgs = peer.receive(fromPanel(0, QByteArray("O\0\0", 3)), &ack);
        QCOMPARE(msgs, QList<QByteArray>{QByteArray("O\0\0", 3)});
        QCOMPARE(ack.left(3), QByteArray("\x01\x00\x00", 3)); // acknowledges id 0
    }

    // A panel that loads its configuration at start is online at once and
    // asks for its joystick destinations' routing before any router has
    // spoken. Nothing goes towards no address; the simulator's first poll
    // is answered and the interrogations follow it.
    void interrogationsBeforeTheRouter()
    {
        const uint8_t *peer = rl_destination();
        QVERIFY2(peer[0] == 0, "a panel starts with no router heard");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cfgSK2000A"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(pcslConfigFile("obj Configsettings() { numSources=8 numDestinations=8 numLevels=1 }\n"
                               "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
                               "obj JoyStick() { obj jsMapping(1) { jsDest=3 jsSrc=1 jsLevel=1 }"
                               " obj jsMapping(2) { jsDest=5 jsSrc=2 jsLevel=1 } }\n"));
        f.close();

        RouterSim sim(1, 8, 8);
        QString error;
        QVERIFY2(sim.bind(QHostAddress(QStringLiteral("127.0.0.86")), 2001, &error), qPrintable(error));
        sim.addPanel(QHostAddress(QStringLiteral("127.0.0.85")), 42414);
        sim.setPollInterval(0);
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const uint8_t ip[4] = {127, 0, 0, 85};
        memcpy(p.ip_address, ip, 4);
        p.udp_port = 42414;
        p.version_major = 1;
        const QByteArray cfg = path.toLocal8Bit();
        memcpy(p.config_path, cfg.constData(), size_t(std::min<qsizetype>(cfg.size(), SP_PATH_LEN)));
        QCOMPARE(panels_loop_init(p), 0);
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        pump([] { return false; }, 200);

        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY2(pump([] { return rcmd_source(0, 2) == 0 && rcmd_source(0, 4) == 0; }, 5000),
                 "the interrogations never reached the simulator");
        QVERIFY(comms_state() == COMMS_ONLINE);
        for (const QString &t : m_host.texts)
            QVERIFY2(!t.contains(QStringLiteral("addr is invalid")), qPrintable(t));
        panels_close_sockets();
    }

    void offPollOnPollAndTheMatrixAgain()
    {
        RouterSim sim(2, 32, 32);
        QString error;
        QVERIFY2(sim.bind(QHostAddress(QStringLiteral("127.0.0.82")), 2001, &error), qPrintable(error));
        sim.addPanel(QHostAddress(QStringLiteral("127.0.0.81")), 42410);
        sim.setPollInterval(0);

        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const uint8_t ip[4] = {127, 0, 0, 81};
        memcpy(p.ip_address, ip, 4);
        p.udp_port = 42410;
        p.version_major = 1;
        QCOMPARE(panels_loop_init(p), 0);
        auto online = [] { return comms_state() == COMMS_ONLINE; };
        auto offline = [] { return comms_state() == COMMS_OFFLINE; };

        // The first ON POLL is the panel's id 0 as well as the simulator's:
        // an "N" with id 0 right after it is refused by the panel (it has
        // accepted id 0 already), so the simulator must send it again in a
        // form the panel takes. Well before the keepalive would end it.
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump(online, 3000));
        QVERIFY(sim.command(QStringLiteral("offpoll")));
        QVERIFY2(pump(offline, 2000), "the panel never took the OFF POLL");

        // Back online; a route reaches the panel as a tally.
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump(online, 3000));
        QVERIFY(sim.command(QStringLiteral("route V 13 6")));
        QVERIFY(pump([] { return rcmd_source(0, 12) == 5; }, 3000));

        // OFF POLL and ON POLL: the panel forgets the routing, asks for it
        // and learns it from the simulator's matrix.
        QVERIFY(sim.command(QStringLiteral("offpoll")));
        QVERIFY(pump(offline, 2000));
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump(online, 3000));
        QCOMPARE(int(rcmd_source(0, 12)), int(RCMD_UNKNOWN));
        rcmd_request(RREQ_INTERROGATE, 12, 1, 0);
        QVERIFY2(pump([] { return rcmd_source(0, 12) == 5; }, 3000), "no answer from the matrix");

        // Still one session: polls keep it online, nothing was dropped.
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump([] { return false; }, 300) == false);
        QVERIFY(online());
        panels_close_sockets();
    }
};

QTEST_GUILESS_MAIN(TestRouterSimSession)
#include "tst_routersim_session.moc"

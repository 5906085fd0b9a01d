// A panel (panelrun) in front of an SW-P-08 router: routersim bridging
// (--swp08) to another routersim serving its matrix over SW-P-08
// (--swp08-listen), on loopback, with this test as a second SW-P-08
// client. Takes on 16 general levels and one extended level with numbers
// above 127 and 1023 and 0x10 bytes in every encoding; the panel's tally
// only after the router reported the route; a route and a protect made by
// the other client on the panel; the panel's lock as the bridge's protect;
// the router dropped and back mid-session.

#include "router_rig.h"
#include "swp08_message.h"
#include "swp08_transport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>

namespace {

const char ROUTER_IP[] = "127.0.0.121";
const int ROUTER_PORT = 48910;

// Panel levels V..O on SW-P-08 levels 0..15, P on 20.
const char LEVELS[] = "V=0,A=1,B=2,C=3,D=4,E=5,F=6,G=7,H=8,I=9,J=10,K=11,L=12,M=13,N=14,O=15,P=20";

QByteArray config()
{
    QByteArray levels;
    for (int l = 1; l <= 17; ++l)
        levels += "obj Level(" + QByteArray::number(l) + ") { lN=\"L" + QByteArray::number(l) + "\" } ";
    return "obj Configsettings() { numSources=2048 numDestinations=2048 numLevels=17 }\n"
           "obj KnownLevels() { " + levels + "}\n"
           "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=131071 } }\n"
           "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
           " obj Btn(1) { bT=\"Destination\" bV=145 } obj Btn(2) { bT=\"Source\" bV=17 }\n"
           " obj Btn(3) { bT=\"Destination\" bV=1041 } obj Btn(4) { bT=\"Source\" bV=1041 }\n"
           " obj Btn(5) { bT=\"Locks\" bV=2 } obj Btn(6) { bT=\"System Salvo\" bV=5 } } } }\n";
}

QString q(const QString &text)
{
    return QRegularExpression::escape(text);
}

// An SW-P-08 client of the router: what it received, decoded.
class Client : public QObject, public swp08::Transport::Handler
{
public:
    Client() : m_link(*this)
    {
        m_clock.start();
        QObject::connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            const QByteArray b = m_socket.readAll();
            m_link.receive(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()), m_clock.elapsed());
        });
    }
    bool connectTo(const QString &host, int port)
    {
        m_socket.connectToHost(host, quint16(port));
        return m_socket.waitForConnected(5000);
    }
    void send(swp08::Message m)
    {
        m.extended = swp08::needsExtended(m.matrix, m.level, m.dest, qMax(m.source, m.device));
        m_link.send(swp08::encode(m), m_clock.elapsed());
    }
    bool waitFor(const std::function<bool(const swp08::Message &)> &match, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            for (const swp08::Message &m : received)
                if (match(m))
                    return true;
            QTest::qWait(20);
            m_link.poll(m_clock.elapsed());
        }
        return false;
    }
    void write(const uint8_t *b, size_t n) override
    {
        m_socket.write(reinterpret_cast<const char *>(b), qint64(n));
        m_socket.flush();
    }
    void frame(const std::vector<uint8_t> &data) override
    {
        swp08::Message m;
        const char *why = nullptr;
        if (swp08::decode(data, &m, &why))
            received.push_back(m);
    }
    void gaveUp(const std::vector<uint8_t> &, bool) override {}

    std::vector<swp08::Message> received;

private:
    QTcpSocket m_socket;
    swp08::Transport m_link;
    QElapsedTimer m_clock;
};

} // namespace

class TestSwp08Bridge : public QObject
{
    Q_OBJECT

    QProcess m_router;
    QByteArray m_routerOut;
    RouterRig m_rig; // the bridge ("router" of the rig) and the panel
    Client m_client;

    bool startRouter()
    {
        m_router.start(QStringLiteral(ROUTERSIM),
                       {QStringLiteral("--bind"), QStringLiteral("%1:2001").arg(QLatin1String(ROUTER_IP)),
                        QStringLiteral("--swp08-listen"),
                        QStringLiteral("%1:%2").arg(QLatin1String(ROUTER_IP)).arg(ROUTER_PORT),
                        QStringLiteral("--levels"), QStringLiteral("21"), QStringLiteral("--sources"),
                        QStringLiteral("2048"), QStringLiteral("--dests"), QStringLiteral("2048"),
                        QStringLiteral("--poll-ms"), QStringLiteral("0"), QStringLiteral("--swp08-matrix"), QStringLiteral("1"),
                        QStringLiteral("--quiet")});
        return m_router.waitForStarted() && waitRouterOut("swp08 --- listening on");
    }

    bool waitRouterOut(const QByteArray &text, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!m_routerOut.contains(text) && t.elapsed() < timeoutMs) {
            m_router.waitForReadyRead(50);
            m_routerOut += m_router.readAllStandardOutput();
        }
        return m_routerOut.contains(text);
    }

    // The bridge has the last of its dumps from the router, after offset.
    bool dumped(qsizetype from)
    {
        return waitBridge(q(QStringLiteral("rx %1:%2 ext protect dump m1 l20 d1984+64")
                                .arg(QLatin1String(ROUTER_IP))
                                .arg(ROUTER_PORT)),
                          20000, from);
    }

    // A line of the bridge's output matching the pattern, after offset.
    bool waitBridge(const QString &pattern, int timeoutMs = 10000, qsizetype from = 0)
    {
        const QRegularExpression re(pattern);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (re.match(QString::fromLatin1(m_rig.rout.mid(from))).hasMatch())
                return true;
            // The client's socket is served meanwhile.
            QCoreApplication::processEvents();
            m_rig.settle(50);
        }
        return re.match(QString::fromLatin1(m_rig.rout.mid(from))).hasMatch();
    }
    qsizetype bridgeIndex(const QString &pattern) const
    {
        return QString::fromLatin1(m_rig.rout).indexOf(QRegularExpression(pattern));
    }

    // What the panel has for a destination on a level: its answer to an
    // interrogation from the bridge.
    bool panelShows(const char *level, int dest, int source)
    {
        const QString d = QString::number(dest).rightJustified(3, QLatin1Char('0'));
        m_rig.routerCommand(QStringLiteral("q .I%1%2\\r\n").arg(QLatin1String(level), d).toLatin1());
        return m_rig.waitRouterRx(
            q(QStringLiteral("Q \".A%1%2,%3\\r\"")
                  .arg(QLatin1String(level), d, QString::number(source).rightJustified(3, QLatin1Char('0')))));
    }

    static std::function<bool(const swp08::Message &)> is(uint8_t command, int level, int dest, int second)
    {
        return [=](const swp08::Message &m) {
            return m.command == command && m.matrix == 1 && m.level == level && m.dest == dest
                   && (command == swp08::Connected ? m.source : m.device) == second;
        };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRouter());
        QString why;
        QVERIFY2(m_rig.start(QStringLiteral("SK1100A"), QStringLiteral("127.0.0.122"), QStringLiteral("127.0.0.123"),
                             42580, pcslConfigFile(config()),
                             {QStringLiteral("--swp08"),
                              QStringLiteral("%1:%2").arg(QLatin1String(ROUTER_IP)).arg(ROUTER_PORT),
                              QStringLiteral("--swp08-levels"), QLatin1String(LEVELS), QStringLiteral("--swp08-device"),
                              QStringLiteral("7"), QStringLiteral("--swp08-matrix"), QStringLiteral("1"),
                              QStringLiteral("--salvo"), QStringLiteral("5:2,3,VA;1041,1,P")},
                             &why),
                 qPrintable(why));
        QVERIFY2(dumped(0), m_rig.rout.constData());
        QVERIFY(m_client.connectTo(QLatin1String(ROUTER_IP), ROUTER_PORT));
    }

    // A take on all 17 levels is 16 general connects and an extended one,
    // each with its 0x10 bytes doubled on the wire; the panel's tally
    // follows the router's CONNECTED, which the other client sees too. A
    // take above 1023 is extended on every level.
    void takesThroughTheBridge()
    {
        m_rig.keys("press 1\nsleep 80\nrelease 1\nsleep 200\npress 2\nsleep 80\nrelease 2\n");
        QVERIFY2(m_rig.waitRouterRx(q(QStringLiteral("Q \".SVABCDEFGHIJKLMNOP145,017\\r\""))), m_rig.rout.constData());
        const QString router = QStringLiteral("%1:%2").arg(QLatin1String(ROUTER_IP)).arg(ROUTER_PORT);
        QVERIFY2(waitBridge(q(QStringLiteral("tx %1 connect m1 l0 d144 s16 [10 02 02 10 10 10 10 10 10 10 10 05 b9 10 03]")
                                  .arg(router))),
                 m_rig.rout.constData());
        QVERIFY(waitBridge(q(QStringLiteral("tx %1 connect m1 l15 d144 s16 ").arg(router))));
        QVERIFY(waitBridge(q(QStringLiteral("tx %1 ext connect m1 l20 d144 s16 [10 02 82 01 14 00 90 00 10 10 ").arg(router))));
        // The panel hears of the route once the router has reported it.
        QVERIFY2(waitBridge(q(QStringLiteral("tx 127.0.0.123:42580 ")) + QStringLiteral("[^\\n]*P145,017"), 10000),
                 m_rig.rout.constData());
        const qsizetype connected = bridgeIndex(q(QStringLiteral("rx %1 ext connected m1 l20 d144 s16").arg(router)));
        const qsizetype tally = bridgeIndex(q(QStringLiteral("tx 127.0.0.123:42580 ")) + QStringLiteral("[^\\n]*P145,017"));
        QVERIFY(connected >= 0 && tally > connected);
        QVERIFY(panelShows("V", 145, 17));
        QVERIFY(panelShows("O", 145, 17));
        QVERIFY(panelShows("P", 145, 17));
        QVERIFY(m_client.waitFor(is(swp08::Connected, 20, 144, 16)));

        m_rig.keys("sleep 200\npress 3\nsleep 80\nrelease 3\nsleep 200\npress 4\nsleep 80\nrelease 4\n");
        QVERIFY2(waitBridge(q(QStringLiteral("tx %1 ext connect m1 l0 d1040 s1040 [10 02 82 01 00 04 10 10 04 10 10 ")
                                  .arg(router))),
                 m_rig.rout.constData());
        QVERIFY2(waitBridge(q(QStringLiteral("tx %1 ext connect m1 l15 d1040 s1040 ").arg(router))), m_rig.rout.constData());
        QVERIFY(m_client.waitFor(is(swp08::Connected, 15, 1040, 1040)));
        QVERIFY(panelShows("A", 1041, 1041));
        QVERIFY(panelShows("P", 1041, 1041));
    }

    // Another client's route and protect reach the panel; the panel's lock
    // is the bridge's protect (device 7) on every mapped level.
    void anotherClientAndLocks()
    {
        swp08::Message c;
        c.command = swp08::Connect;
        c.matrix = 1;
        c.level = 1;
        c.dest = 144;
        c.source = 300;
        m_client.send(c);
        QVERIFY2(waitBridge(q(QStringLiteral("Q \".UA145,301\\r\""))), m_rig.rout.constData());
        QVERIFY(panelShows("A", 145, 301));

        swp08::Message p;
        p.command = swp08::ProtectConnect;
        p.matrix = 1;
        p.level = 3;
        p.dest = 4;
        p.device = 9;
        m_client.send(p);
        QVERIFY2(waitBridge(q(QStringLiteral("Q \".BA005,255\\r\""))), m_rig.rout.constData());
        m_rig.routerCommand("q .BI005\\r\n");
        QVERIFY(m_rig.waitRouterRx(q(QStringLiteral("Q \".BA005,255\\r\""))));

        // Destination 145 is selected: the Locks key locks it.
        m_rig.keys("sleep 200\npress 1\nsleep 80\nrelease 1\nsleep 200\npress 5\nsleep 80\nrelease 5\n");
        QVERIFY2(m_rig.waitRouterRx(q(QStringLiteral("Q \".BL145\\r\""))), m_rig.rout.constData());
        QVERIFY(m_client.waitFor(is(swp08::ProtectConnected, 0, 144, 7)));
        QVERIFY(m_client.waitFor(is(swp08::ProtectConnected, 20, 144, 7)));
        QVERIFY2(waitBridge(q(QStringLiteral("Q \".BA145,255\\r\""))), m_rig.rout.constData());
        // (After the first press's release, a tick apart.)
        m_rig.keys("sleep 200\npress 5\nsleep 80\nrelease 5\n");
        QVERIFY(m_client.waitFor(is(swp08::ProtectDisconnected, 20, 144, 7)));
        QVERIFY2(waitBridge(q(QStringLiteral("Q \".BA145,0\\r\""))), m_rig.rout.constData());

        // The bridge's salvo 5 fires as connects, and its routes come back.
        m_rig.keys("sleep 200\npress 6\nsleep 80\nrelease 6\n");
        QVERIFY2(m_rig.waitRouterRx(q(QStringLiteral("Q \".F005\\r\""))), m_rig.rout.constData());
        QVERIFY(m_client.waitFor(is(swp08::Connected, 0, 1, 2)));
        QVERIFY(m_client.waitFor(is(swp08::Connected, 1, 1, 2)));
        QVERIFY(m_client.waitFor(is(swp08::Connected, 20, 1040, 0)));
        QVERIFY(panelShows("VA", 2, 3));
        QVERIFY(!m_rig.perr.contains("ST_BUZZER_ON"));
    }

    // The router goes away: the bridge says so, the panel stays online and
    // its take is refused with the error reply; the router comes back (a
    // fresh one, every destination on its first source) and the bridge's
    // new dump brings the panel the routes that changed.
    void routerDroppedAndBack()
    {
        const qsizetype mark = m_rig.rout.size();
        const qsizetype panelMark = m_rig.perr.size();
        m_router.kill();
        m_router.waitForFinished(5000);
        QVERIFY2(waitBridge(QStringLiteral("swp08 --- link to [^\\n]* lost"), 10000, mark), m_rig.rout.constData());

        m_rig.keys("sleep 200\npress 1\nsleep 80\nrelease 1\nsleep 200\npress 2\nsleep 80\nrelease 2\n");
        QVERIFY2(waitBridge(q(QStringLiteral("Q \".SVABCDEFGHIJKLMNOP145,017\\r\"")), 5000, mark), m_rig.rout.constData());
        QVERIFY2(waitBridge(q(QStringLiteral("tx 127.0.0.123:42580 ")) + QStringLiteral("[^\\n]*") + q(QStringLiteral("Q \".E\\r\"")),
                            5000, mark),
                 m_rig.rout.constData());
        QVERIFY(!m_rig.rout.mid(mark).contains(" connect m1 l0 d144"));

        // A few polls answered while the router is away: still online.
        m_rig.settle(2500);
        QVERIFY(panelShows("V", 145, 17));
        m_routerOut.clear();
        QVERIFY(startRouter());
        QVERIFY2(waitBridge(QStringLiteral("swp08 --- connected to "), 20000, mark), m_rig.rout.constData());
        QVERIFY2(dumped(mark), m_rig.rout.constData());
        QVERIFY(panelShows("V", 145, 1));
        QVERIFY(panelShows("A", 145, 1));
        QVERIFY(panelShows("P", 1041, 1));
        QVERIFY2(!m_rig.perr.mid(panelMark).contains("ST_OFFLINE"), m_rig.perr.mid(panelMark).constData());
    }

    // A router that answers the first frame with NAK gets it again; an
    // idle link carries interrogates; when the router falls silent (no
    // ACK to five re-sends) the bridge leaves it and connects again.
    void silentRouterIsLeft()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.124")), 48911));
        QProcess bridge;
        bridge.start(QStringLiteral(ROUTERSIM),
                     {QStringLiteral("--bind"), QStringLiteral("127.0.0.124:2001"), QStringLiteral("--poll-ms"),
                      QStringLiteral("0"), QStringLiteral("--swp08"), QStringLiteral("127.0.0.124:48911"),
                      QStringLiteral("--swp08-levels"), QStringLiteral("V=0"), QStringLiteral("--swp08-keepalive-ms"),
                      QStringLiteral("300")});
        QByteArray log;
        swp08::FrameReader reader;
        int frames = 0, connections = 0;
        bool silent = false;
        QTcpSocket *link = nullptr;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 && connections < 2) {
            QTest::qWait(20);
            log += bridge.readAllStandardOutput();
            if (QTcpSocket *next = server.nextPendingConnection()) {
                ++connections;
                link = next;
            }
            if (!link || silent)
                continue;
            for (char c : link->readAll()) {
                if (reader.feed(uint8_t(c)) != swp08::FrameReader::Frame)
                    continue;
                ++frames;
                link->write(frames == 1 ? QByteArray("\x10\x15") : QByteArray("\x10\x06"));
                // Quiet after the first keepalive was answered.
                silent = silent || reader.data().front() == swp08::Interrogate;
            }
        }
        bridge.write("quit\n");
        if (!bridge.waitForFinished(3000))
            bridge.kill();
        log += bridge.readAllStandardOutput();
        QCOMPARE(connections, 2);
        QVERIFY2(log.contains("swp08 tx 127.0.0.124:48911 resend 1: tally dump request m0 l0 [10 02 15 00 02 e9 10 03]"),
                 log.constData());
        QVERIFY2(log.contains("swp08 tx 127.0.0.124:48911 resend 5: interrogate m0 l0 d0"), log.constData());
        QVERIFY2(log.contains("swp08 --- link to 127.0.0.124:48911 lost (no ACK to interrogate m0 l0 d0 after 5 re-sends)"),
                 log.constData());
    }

    void cleanupTestCase()
    {
        m_router.write("quit\n");
        if (!m_router.waitForFinished(3000))
            m_router.kill();
    }
};

QTEST_GUILESS_MAIN(TestSwp08Bridge)
#include "tst_swp08_bridge.moc"

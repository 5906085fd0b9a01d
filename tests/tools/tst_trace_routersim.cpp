// The protocol trace of a panel talking to the router simulator, in one
// process: the panel core on its real loopback socket with the Qt platform
// layer, so the lines are read back from the panel directory's trace.txt
// as an integrator would read them. Every message kind the link carries is
// decoded, a lost datagram comes back as a resend, a refused sequence id
// and a malformed datagram are shown as such; the marker file switches
// the trace on and off while the panel runs.

#include "link/comms.h"
#include "link/router_cmd.h"
#include "link/trace.h"
#include "panels_main.h"
#include "recording_host.h"
#include "router_sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUdpSocket>

#include <cstring>
#include <functional>

namespace {

const char ROUTER[] = "127.0.0.92";
const char PANEL[] = "127.0.0.91";
const int PANEL_PORT = 42420;

QByteArray configFile(const QByteArray &text)
{
    const QByteArray payload = QByteArray(43, '#') + "\n" + text;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

bool touch(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

} // namespace

class TestTraceRouterSim : public QObject
{
    Q_OBJECT

    RecordingHost m_host;
    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // The simulator's events and the panel's loop until done() holds.
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
    static void settle(int ms) { pump([] { return false; }, ms); }

    QByteArray traceText() const
    {
        QFile f(path("trace.txt"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool traced(const QString &pattern) const
    {
        return QRegularExpression(pattern, QRegularExpression::MultilineOption)
            .match(QString::fromLatin1(traceText()))
            .hasMatch();
    }
    bool waitTraced(const QString &pattern, int timeoutMs = 3000)
    {
        return pump([&] { return traced(pattern); }, timeoutMs);
    }

    void startPanel()
    {
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const uint8_t ip[4] = {127, 0, 0, 91};
        memcpy(p.ip_address, ip, 4);
        p.udp_port = PANEL_PORT;
        p.version_major = 1;
        const QByteArray cfg = QFile::encodeName(path("cfgSK2000A"));
        memcpy(p.config_path, cfg.constData(), size_t(cfg.size()));
        QCOMPARE(panels_loop_init(p), 0);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void exchangeWithTheSimulator()
    {
        QVERIFY(touch(path("TRACE")));
        RouterSim sim(2, 32, 32);
        QString error;
        QVERIFY2(sim.bind(QHostAddress(QString::fromLatin1(ROUTER)), 2001, &error), qPrintable(error));
        sim.addPanel(QHostAddress(QString::fromLatin1(PANEL)), PANEL_PORT);
        sim.setPollInterval(0);
        startPanel();
        QVERIFY(trace_is_on());
        const QString peer = QStringLiteral("127\\.0\\.0\\.92:2001 ");
        const QString line = QStringLiteral("^ +\\d+\\.\\d{3} ");

        // ON POLL and its "y", QUERY and its "R".
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump([] { return comms_state() == COMMS_ONLINE; }, 3000));
        QVERIFY(sim.command(QStringLiteral("query")));
        QVERIFY(waitTraced(line + "out " + peer + "seq id \\d+ ack \\d+ ext 0 \\| R query reply: product code 36,"));
        QVERIFY(traced(line + "--- trace on$"));
        QVERIFY(traced(line + "in  " + peer + "seq id 0 ack 0 ext 0 \\| O on poll$"));
        QVERIFY(traced(line + "out " + peer + "seq id 0 ack 0 ext 0 \\| y accepted$"));
        QVERIFY(traced(line + "in  " + peer + "seq id 1 ack 0 ext 0 \\| P query$"));

        // A tally from the router, a take from the panel, a command the
        // panel does not know answered with its error reply.
        QVERIFY(sim.command(QStringLiteral("route VA 13 6")));
        QVERIFY(waitTraced("in  " + peer + "seq id \\d+ ack \\d+ ext 0 \\| Q \"\\.UVA013,006\\\\r\" tally levels VA dest 13 src 6$"));
        rcmd_request(RREQ_ROUTE, 2, 4, 1);
        QVERIFY(waitTraced("out " + peer + "seq id \\d+ ack \\d+ ext 0 \\| Q \"\\.SV005,003\\\\r\" take levels V dest 5 src 3$"));
        QVERIFY(sim.command(QStringLiteral("q .X\\r")));
        QVERIFY(waitTraced("\\| Q \"\\.E\\\\r\" error reply REFUSED$"));
        QVERIFY(traced("out " + peer + "seq id 0 ack \\d+ ext 0 \\(acknowledgement only\\)$")
                || traced("out " + peer + "seq id \\d+ ack \\d+ ext 0 \\(acknowledgement only\\)$"));

        // A configuration in "B" blocks, each answered "y"; a block of a
        // kind the panel does not know, answered "n".
        QFile push(path("push.cfg"));
        QVERIFY(push.open(QIODevice::WriteOnly));
        push.write(configFile("obj Configsettings() { numSources=16 numDestinations=16 numLevels=1 }\n"
                              "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"));
        push.close();
        QVERIFY(sim.command(QStringLiteral("sendcfg ") + push.fileName() + QStringLiteral(" --block 64")));
        QVERIFY(waitTraced("\\| B config block 0 first, kind 1 \\(file\\), 64 bytes$"));
        QVERIFY(waitTraced("\\| B config block \\d+ last, kind 1 \\(file\\), \\d+ bytes$"));
        QVERIFY(traced("out " + peer + "seq id \\d+ ack \\d+ ext 0 \\| y accepted$"));
        settle(200);
        QVERIFY(sim.command(QStringLiteral("raw 420007000003000080ff")));
        QVERIFY(waitTraced("\\| B MALFORMED: kind 3, 7 bytes$"));
        QVERIFY(waitTraced("out " + peer + "seq id \\d+ ack \\d+ ext 0 \\| n REFUSED$"));
        // A message kind the link does not have.
        QVERIFY(sim.command(QStringLiteral("raw 5a0000")));
        QVERIFY(waitTraced("\\| unknown command 0x5a 'Z' \\(ignored\\), 0 data bytes$"));

        // The panel's take is lost on the way (the simulator does not read
        // it before its next ON POLL): the panel sends it again.
        settle(300);
        rcmd_request(RREQ_ROUTE, 6, 7, 1);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 80) {
            panels_loop();
            QThread::msleep(2);
        }
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(waitTraced("out " + peer + "seq id (\\d+) ack \\d+ ext 0 RESEND \\| Q \"\\.SV008,007\\\\r\" take"));
        const QRegularExpressionMatch first =
            QRegularExpression(QStringLiteral("out .*seq id (\\d+) ack \\d+ ext 0 \\| Q \"\\.SV008,007"))
                .match(QString::fromLatin1(traceText()));
        const QRegularExpressionMatch again =
            QRegularExpression(QStringLiteral("out .*seq id (\\d+) ack \\d+ ext 0 RESEND \\| Q \"\\.SV008,007"))
                .match(QString::fromLatin1(traceText()));
        QVERIFY(first.hasMatch() && again.hasMatch());
        QCOMPARE(again.captured(1), first.captured(1));

        // OFF POLL: "N", answered "y" unsequenced.
        settle(200);
        QVERIFY(sim.command(QStringLiteral("offpoll")));
        QVERIFY(waitTraced("in  " + peer + "seq id \\d+ ack \\d+ ext 0 \\| N off poll$"));
        QVERIFY(waitTraced("out " + peer + "unseq id 0 ack 0 ext 0 \\| y accepted$"));
        settle(200);

        // From another socket: a datagram too short for a header, and one
        // whose sequence id is not the next one.
        QUdpSocket other;
        other.setProxy(QNetworkProxy::NoProxy);
        QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.93")), 0));
        const QString from = QStringLiteral("127\\.0\\.0\\.93:") + QString::number(other.localPort()) + ' ';
        other.writeDatagram(QByteArray("\x01\x07", 2), QHostAddress(QString::fromLatin1(PANEL)), PANEL_PORT);
        QVERIFY(waitTraced("in  " + from + "MALFORMED: 2 bytes, shorter than the 5-byte header: 01 07$"));
        other.writeDatagram(QByteArray("\x01\x63\x00\x00\x00O\x00\x00", 8), QHostAddress(QString::fromLatin1(PANEL)),
                            PANEL_PORT);
        QVERIFY(waitTraced("in  " + from + "seq id 99 ack 0 ext 0 REFUSED: invalid sequence number \\| O on poll$"));
        // The panel still reads datagrams after these.
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump([] { return comms_state() == COMMS_ONLINE; }, 3000));
        trace_shutdown();

        // Whole lines only, every one of them printable.
        const QList<QByteArray> lines = traceText().split('\n');
        QVERIFY(lines.size() > 20);
        QVERIFY(lines.last().isEmpty());
        for (const QByteArray &l : lines)
            for (char c : l)
                QVERIFY2(c >= 0x20 && c < 0x7f, l.constData());
        panels_close_sockets();
        QFile::remove(path("TRACE"));
    }

    void markerSwitchesTheTrace()
    {
        QFile::remove(path("trace.txt"));
        QFile::remove(path("TRACE"));
        RouterSim sim(2, 32, 32);
        QString error;
        QVERIFY2(sim.bind(QHostAddress(QString::fromLatin1(ROUTER)), 2001, &error), qPrintable(error));
        sim.addPanel(QHostAddress(QString::fromLatin1(PANEL)), PANEL_PORT);
        sim.setPollInterval(0);
        startPanel();
        QVERIFY(!trace_is_on());

        // Off: nothing is written, no file appears.
        QVERIFY(sim.command(QStringLiteral("poll")));
        QVERIFY(pump([] { return comms_state() == COMMS_ONLINE; }, 3000));
        trace_quarter_tick();
        settle(100);
        QVERIFY(!QFile::exists(path("trace.txt")));

        // The marker appears: traced from the next quarter second on.
        QVERIFY(touch(path("TRACE")));
        trace_quarter_tick();
        QVERIFY(trace_is_on());
        QVERIFY(sim.command(QStringLiteral("query")));
        QVERIFY(waitTraced("\\| P query$"));
        QVERIFY(traced("--- trace on$"));

        // It goes: the trace ends with its own line and stops.
        QVERIFY(QFile::remove(path("TRACE")));
        trace_quarter_tick();
        QVERIFY(!trace_is_on());
        QVERIFY(traced("--- trace off$"));
        const QByteArray before = traceText();
        QVERIFY(sim.command(QStringLiteral("route V 2 3")));
        QVERIFY(pump([] { return rcmd_source(0, 1) == 2; }, 3000));
        settle(100);
        QCOMPARE(traceText(), before);

        // And back on, appending to what was there.
        QVERIFY(touch(path("TRACE")));
        trace_quarter_tick();
        QVERIFY(sim.command(QStringLiteral("route V 2 4")));
        QVERIFY(waitTraced("Q \"\\.UV002,004\\\\r\" tally"));
        QVERIFY(traceText().startsWith(before));
        QCOMPARE(traceText().count("--- trace on"), 2);
        QVERIFY(!traced("V002,003"));
        trace_shutdown();
        panels_close_sockets();
        QFile::remove(path("TRACE"));
    }
};

QTEST_GUILESS_MAIN(TestTraceRouterSim)
#include "tst_trace_routersim.moc"

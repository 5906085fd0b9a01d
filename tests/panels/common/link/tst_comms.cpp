// The panel's comms state driven through the router link: polls, query,
// keepalive, the comms display and the reports to the host.

#include "bd_records.h"
#include "link/comms.h"
#include "link/eth.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "plat.h"
#include "recording_host.h"
#include "link/reliable.h"
#include "product.h"

#include <QTest>
#include <chrono>
#include <cstring>
#include <thread>

using namespace buttondriver;

namespace {

uint32_t s_now;
std::vector<QByteArray> s_wire;   // datagrams the panel sent
const uint8_t ROUTER[4] = {127, 0, 0, 1};
int s_peerId;                     // the router's next sequence id
rl_send_fn s_socketSend;          // the transport's own send hook

int captureSend(const uint8_t *d, int len, const uint8_t *)
{
    s_wire.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}

void startPanel(const char *type)
{
    StartParams p;
    memset(&p, 0, sizeof p);
    memcpy(p.product_name, type, std::min(strlen(type), size_t(SP_NAME_LEN)));
    p.version_major = 1;
    panels_close_sockets();
    panels_loop_init(p);
    // The transport's hooks stay; only the wire is replaced.
    const rl_send_fn old = rl_set_send(captureSend);
    if (!s_socketSend)
        s_socketSend = old;
    rl_reset();
    s_wire.clear();
    s_peerId = 0;
}

// One router-link message from the router, sequenced as the router sends.
void fromRouter(char cmd, const QByteArray &data = QByteArray())
{
    QByteArray d;
    d.append('\x01').append(char(s_peerId)).append(char(rl_next_id() ? rl_next_id() - 1 : 0));
    d.append('\0').append('\0');
    d.append(cmd).append(char(data.size() >> 8)).append(char(data.size())).append(data);
    s_peerId = s_peerId == 255 ? 1 : s_peerId + 1;
    eth_router_receive(ETH_ROUTER_PORT, reinterpret_cast<const uint8_t *>(d.constData()), int(d.size()),
                       ROUTER);
}

// The router-link messages in the datagrams the panel sent (header dropped).
QList<QByteArray> messagesSent()
{
    QList<QByteArray> out;
    for (const QByteArray &d : s_wire)
        if (d.size() > RL_HEADER)
            out.append(d.mid(RL_HEADER));
    return out;
}

} // namespace

class TestComms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { msc_set_test_source(&s_now); }
    void cleanupTestCase() { msc_set_test_source(nullptr); }

    // Inside a loop tick the firmware thread's millisecond clock is the
    // tick's time, read once; another thread (the FTP service) reads the
    // clock meanwhile, and after the tick the thread does again.
    void tickClock()
    {
        msc_set_test_source(nullptr);
        const uint32_t before = msc_now();
        const int64_t hour = int64_t(3600) * 1000000000;
        msc_tick_begin(std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count()
                       + hour);
        const uint32_t inTick = msc_now() - before;
        uint32_t other = 0;
        std::thread t([&] { other = msc_now() - before; });
        t.join();
        msc_tick_end();
        const uint32_t after = msc_now() - before;
        msc_set_test_source(&s_now);
        QVERIFY2(inTick >= 3600000 && inTick < 3601000, QByteArray::number(inTick));
        QVERIFY2(other < 1000, QByteArray::number(other));
        QVERIFY2(after < 1000, QByteArray::number(after));
    }

    void pollsAndKeepalive()
    {
        RecordingHost host;
        s_now = 10000;
        startPanel("SK2000A");
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        panels_loop();
        QVERIFY(host.states.empty()); // the first offline state is not reported

        // The first ON POLL runs panel setup and goes online, answered "y".
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        QCOMPARE(messagesSent(), (QList<QByteArray>{QByteArray("y\0\0", 3)}));
        QCOMPARE(s_wire.back().left(3), QByteArray("\x01\x00\x00", 3)); // sequenced, id 0, ack 0
        panels_loop();
        panels_loop();
        QCOMPARE(host.states, (std::vector<int>{0})); // ST_ONLINE once

        // While polled the panel stays online.
        for (int i = 0; i < 10; ++i) {
            s_now += 1000;
            fromRouter('O');
            panels_loop();
        }
        QCOMPARE(comms_state(), int(COMMS_ONLINE));

        // 5 s without ON POLL: offline (reason 6), reported once.
        s_now += 4999;
        panels_loop();
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        s_now += 1;
        panels_loop();
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        panels_loop();
        QCOMPARE(host.states, (std::vector<int>{0, 1}));

        // Back online with the next poll; OFF POLL takes it offline at once
        // and is answered with an unsequenced "y".
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        panels_loop(); // the loop reports what it finds at its end
        s_wire.clear();
        fromRouter('N');
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        QVERIFY(!s_wire.empty());
        QCOMPARE(s_wire.front(), QByteArray("\0\0\0\0\0y\0\0", 8));
        panels_loop();
        QCOMPARE(host.states, (std::vector<int>{0, 1, 0, 1}));
    }

    void secondPollOnlyRefreshes()
    {
        RecordingHost host;
        s_now = 50000;
        startPanel("SK1100A");
        fromRouter('N'); // the router resets its session
        s_peerId = 0;
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        host.take();
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        // No second panel setup: the comms buttons are not blanked again.
        QVERIFY(host.take().empty());
    }

    void queryReply()
    {
        RecordingHost host;
        s_now = 90000;
        startPanel("SK1300A"); // product code 35
        comms_set_config_crc(0xBEEF);
        fromRouter('P');
        const QList<QByteArray> sent = messagesSent();
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent.last(), QByteArray("R\0\x06\xa3\x00\x01\xbe\xef\x00", 9));
        QCOMPARE(comms_query_flag(), 1);
        fromRouter('O');
        QCOMPARE(comms_query_flag(), 0);
        comms_set_config_crc(0);
    }

    void lcdCommsDisplay()
    {
        RecordingHost host;
        s_now = 120000;
        startPanel("SK1100A"); // status 1, version 4, comms info 15, setup 16
        // Initialisation showed "no comms": buttons 1..6, 11..15 and 16.
        const std::vector<QByteArray> shown = host.take();
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(1, "No", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(2, "Panel", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(4, "VER=\nv1.00", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(5, "CON-\nFIG", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(11, "E'NET\nComms", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(12, "IP=\n0", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(16, "Setup", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeColor(1, 255, 10, 10)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeColor(16, 40, 255, 40)) != shown.end());

        // The scheduler keeps the display up: nothing is re-sent while the
        // type stays the same.
        panels_loop();
        panels_loop();
        QVERIFY(host.take().empty());

        // Traffic within the last second turns it to "comms valid".
        fromRouter('P');
        panels_loop();
        const std::vector<QByteArray> valid = host.take();
        QVERIFY(std::find(valid.begin(), valid.end(), makeText(1, "Valid", 0)) != valid.end());
        panels_loop();
        QVERIFY(host.take().empty());
        // A second later without traffic it is "no comms" again (the
        // keepalive step of one pass notices, the next pass draws it).
        s_now += 1000;
        panels_loop();
        panels_loop();
        const std::vector<QByteArray> none = host.take();
        QVERIFY(std::find(none.begin(), none.end(), makeText(1, "No", 0)) != none.end());
    }

    void menuModelCommsDisplay()
    {
        RecordingHost host;
        s_now = 150000;
        startPanel("SK2000A"); // status window 0, version 1, comms info 2
        const std::vector<QByteArray> shown = host.take();
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(1000, "No Comms", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(1001, "v1.00", 0)) != shown.end());
        QVERIFY(std::find(shown.begin(), shown.end(), makeText(1002, "Ethernet", 0)) != shown.end());
        fromRouter('P');
        panels_loop();
        const std::vector<QByteArray> ok = host.take();
        QVERIFY(std::find(ok.begin(), ok.end(), makeText(1000, "Comms OK", 0)) != ok.end());
    }

    // The models without display positions (status and comms info are
    // single bytes, so -1 reads 255) show the comms display on every window.
    void windowsWithoutPositionShowOnAll_data()
    {
        QTest::addColumn<QByteArray>("model");
        QTest::newRow("SK1200A") << QByteArray("SK1200A");
        QTest::newRow("SK1800A") << QByteArray("SK1800A");
        QTest::newRow("SK2100A") << QByteArray("SK2100A");
    }

    void windowsWithoutPositionShowOnAll()
    {
        QFETCH(QByteArray, model);
        RecordingHost host;
        s_now = 170000;
        startPanel(model.constData());
        const std::vector<QByteArray> shown = host.take();
        for (int w = 0; w < 10; ++w) {
            QVERIFY2(std::find(shown.begin(), shown.end(), makeText(1000 + w, "No Comms", 0)) != shown.end(),
                     qPrintable(QString::number(w)));
            QVERIFY(std::find(shown.begin(), shown.end(), makeText(1000 + w, "Ethernet", 0)) != shown.end());
        }
        QVERIFY2(host.texts.isEmpty(), qPrintable(host.texts.join(QLatin1Char('|'))));
        fromRouter('P');
        panels_loop();
        const std::vector<QByteArray> ok = host.take();
        for (int w = 0; w < 10; ++w)
            QVERIFY(std::find(ok.begin(), ok.end(), makeText(1000 + w, "Comms OK", 0)) != ok.end());
        QVERIFY(host.texts.isEmpty());
    }

    // A panel without a product draws nothing at all, not even when panel
    // setup replaces the comms display.
    void unknownProductDrawsNothing()
    {
        RecordingHost host;
        s_now = 180000;
        startPanel("XYZ9");
        QCOMPARE(prod_button_count(), 0);
        fromRouter('O');
        QCOMPARE(comms_state(), int(COMMS_ONLINE));
        for (int i = 0; i < 5; ++i)
            panels_loop();
        fromRouter('N');
        fromRouter('P');
        panels_loop();
        QVERIFY(host.take().empty());
        QVERIFY2(host.texts.isEmpty(), qPrintable(host.texts.join(QLatin1Char('|'))));
    }

    void receivesNothingBeforeBind()
    {
        // With no datagram received yet the destination is unknown: replies
        // cannot be sent and say why.
        RecordingHost host;
        s_now = 200000;
        startPanel("SK2000A");
        rl_set_send(s_socketSend); // back to the socket layer
        const uint8_t none[4] = {0, 0, 0, 0};
        rl_set_destination(none);
        comms_off_poll(); // its "y" is unsequenced: nothing sequenced is queued towards no address
        QVERIFY(host.texts.contains(QStringLiteral("send_udp_data ,addr is invalid 0.0.0.0")));
        QCOMPARE(rl_pending(), 0);
        comms_query();
        QCOMPARE(rl_pending(), 0);
        QCOMPARE(plat_udp_send(reinterpret_cast<const uint8_t *>("x"), 1, nullptr, 2001), 0);
        QVERIFY(host.texts.contains(QStringLiteral("send_udp_data, addr is NULL")));
        panels_close_sockets();
    }
};

QTEST_GUILESS_MAIN(TestComms)
#include "tst_comms.moc"

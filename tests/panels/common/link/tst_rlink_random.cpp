// Random datagrams into the router link's receive path: nothing crashes,
// nothing is read past a datagram (run it under AddressSanitizer), and the
// panel still goes online afterwards.

#include "link/comms.h"
#include "link/eth.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "recording_host.h"
#include "link/reliable.h"

#include <QRandomGenerator>
#include <QTest>
#include <cstring>
#include <memory>

namespace {

uint32_t s_now;
int s_sent;

int countSend(const uint8_t *, int, const uint8_t *)
{
    ++s_sent;
    return 1;
}

const uint8_t ROUTER[4] = {127, 0, 0, 1};

// The datagram is copied into a buffer of exactly its size, so a read past
// its end is caught by the address sanitizer.
void deliver(const QByteArray &d)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size_t(d.size()) + (d.isEmpty() ? 1 : 0)]);
    memcpy(exact.get(), d.constData(), size_t(d.size()));
    eth_router_receive(ETH_ROUTER_PORT, exact.get(), int(d.size()), ROUTER);
}

QByteArray randomBytes(QRandomGenerator &rng, int len)
{
    QByteArray b(len, '\0');
    for (int i = 0; i < len; ++i)
        b[i] = char(rng.bounded(256));
    return b;
}

// A plausible datagram: a valid header with random flags and ids, then
// router-link messages with random lengths, or plain noise.
QByteArray randomDatagram(QRandomGenerator &rng)
{
    if (rng.bounded(4) == 0)
        return randomBytes(rng, int(rng.bounded(601)));
    QByteArray d;
    d.append(char(rng.bounded(2))).append(char(rng.bounded(256))).append(char(rng.bounded(256)));
    d.append(char(rng.bounded(8) == 0 ? rng.bounded(256) : 0)).append('\0');
    const char cmds[] = {'N', 'O', 'P', 'Q', 'B', 'y', 'R', 'x'};
    const int n = int(rng.bounded(3));
    for (int i = 0; i < n; ++i) {
        const int len = int(rng.bounded(8) == 0 ? rng.bounded(700) : rng.bounded(20));
        d.append(cmds[rng.bounded(8)]).append(char(len >> 8)).append(char(len));
        d.append(randomBytes(rng, std::min(len, int(rng.bounded(40)))));
    }
    return d;
}

} // namespace

class TestRlinkRandom : public QObject
{
    Q_OBJECT

private slots:
    void randomDatagramsNeverBreakThePanel()
    {
        RecordingHost host;
        msc_set_test_source(&s_now);
        s_now = 1;
        StartParams p;
        memset(&p, 0, sizeof p);
        strcpy(p.product_name, "SK1100A");
        p.version_major = 1;
        panels_loop_init(p);
        const rl_send_fn socketSend = rl_set_send(countSend);

        QRandomGenerator rng(20261208);
        // Every length from 0 to 600 of random bytes.
        for (int len = 0; len <= 600; ++len)
            deliver(randomBytes(rng, len));
        // A long random stream, with time passing and the loop running.
        for (int i = 0; i < 100000; ++i) {
            deliver(randomDatagram(rng));
            if (i % 50 == 0) {
                s_now += 37;
                panels_loop();
                host.records.clear();
                host.texts.clear();
            }
        }
        QVERIFY(s_sent > 0);

        // The router restarts its session (id 0; sent after an id 1 so that
        // it is a restart whatever id the noise left accepted) and polls:
        // the panel comes online at once.
        deliver(QByteArray("\x01\x01\x00\x00\x00", 5) + QByteArray(1, 'x'));
        deliver(QByteArray("\x01\x00\x00\x00\x00N\x00\x00", 8));
        s_now += 6000;
        panels_loop();
        QCOMPARE(comms_state(), int(COMMS_OFFLINE));
        deliver(QByteArray("\x01\x01\x00\x00\x00O\x00\x00", 8));
        QCOMPARE(comms_state(), int(COMMS_ONLINE));

        rl_set_send(socketSend);
        panels_close_sockets();
        msc_set_test_source(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestRlinkRandom)
#include "tst_rlink_random.moc"

// The router command set: what the panel sends for each request, and what
// each router command does to the panel's copy of the router state and
// answers.

#include "link/eth.h"
#include "config/names.h"
#include "panels_main.h"
#include "recording_host.h"
#include "link/reliable.h"
#include "link/router_cmd.h"

#include <QTest>
#include <cstring>

namespace {

std::vector<QByteArray> s_wire;

int capture(const uint8_t *d, int len, const uint8_t *)
{
    s_wire.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}

// The "Q" texts the panel sent since the last call (each its own message).
QList<QByteArray> sentTexts()
{
    QList<QByteArray> out;
    for (const QByteArray &d : s_wire) {
        if (d.size() < RL_HEADER + 3)
            continue;
        const QByteArray m = d.mid(RL_HEADER);
        if (m[0] == 'Q')
            out.append(m.mid(3));
    }
    s_wire.clear();
    return out;
}

// A router command arriving in a "Q" message; the panel's sequenced replies
// go out one at a time, each once the previous one is acknowledged, so the
// test acknowledges everything to see them all.
QList<QByteArray> command(const QByteArray &text)
{
    rcmd_receive(reinterpret_cast<const uint8_t *>(text.constData()), int(text.size()));
    QList<QByteArray> all;
    for (int guard = 0; guard < 10; ++guard) {
        all += sentTexts();
        if (!rl_pending())
            break;
        const uint8_t ack[5] = {1, 0, rl_next_id() ? uint8_t(rl_next_id() - 1) : uint8_t(255), 0, 0};
        const uint8_t from[4] = {127, 0, 0, 1};
        rl_receive(ack, 5, from);
    }
    return all;
}

QList<QByteArray> request(int type, int a, int b, int c)
{
    rcmd_request(type, a, b, c);
    return command(QByteArray());
}

} // namespace

class TestRouterCmd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        panels_loop_init(p);
        rl_set_send(capture);
        const uint8_t router[4] = {127, 0, 0, 1};
        rl_set_destination(router);
    }
    void init()
    {
        rl_reset();
        s_wire.clear();
    }
    void cleanupTestCase() { panels_close_sockets(); }

    void levelLetters()
    {
        QCOMPARE(rcmd_level_letter(0), 'V');
        QCOMPARE(rcmd_level_letter(1), 'A');
        QCOMPARE(rcmd_level_letter(21), 'U');
        QCOMPARE(rcmd_level_letter(22), 'W');
        QCOMPARE(rcmd_level_letter(25), 'Z');
        char t[27];
        rcmd_levels_text(0x3, t);
        QCOMPARE(QByteArray(t), QByteArray("VA"));
        rcmd_levels_text(0x3ffffff, t);
        QCOMPARE(QByteArray(t), QByteArray("VABCDEFGHIJKLMNOPQRSTUWXYZ"));
        rcmd_levels_text(0xfc000000, t); // bits above level 25 write nothing
        QCOMPARE(QByteArray(t), QByteArray(""));
    }

    void requests_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("c");
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::newRow("take") << 1 << 5 << 12 << 0x3 << QList<QByteArray>{".SVA013,006\r"};
        QTest::newRow("take big") << 1 << 1999 << 2047 << 0x400000 << QList<QByteArray>{".SW2048,2000\r"};
        QTest::newRow("lock") << 2 << 12 << 1 << 0 << QList<QByteArray>{".BL013\r", ".BI013\r"};
        QTest::newRow("unlock") << 2 << 12 << 0 << 0 << QList<QByteArray>{".BU013\r", ".BI013\r"};
        QTest::newRow("protect") << 6 << 0 << 1 << 0 << QList<QByteArray>{".BP001\r", ".BI001\r"};
        QTest::newRow("unprotect") << 6 << 0 << 0 << 0 << QList<QByteArray>{".BU001\r", ".BI001\r"};
        QTest::newRow("salvo") << 3 << 7 << 0 << 0 << QList<QByteArray>{".F007\r"};
        QTest::newRow("interrogate") << 4 << 12 << 0x5 << 0 << QList<QByteArray>{".IVB013\r", ".BI013\r"};
        QTest::newRow("shared-panel select") << 5 << 12 << 1 << 0 << QList<QByteArray>{};
        QTest::newRow("key report") << 7 << 1 << 3 << 0 << QList<QByteArray>{};
    }

    void requests()
    {
        QFETCH(int, type);
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, c);
        QFETCH(QList<QByteArray>, sent);
        QCOMPARE(request(type, a, b, c), sent);
    }

    void commands()
    {
        rcmd_clear_state();
        // Tallies set the crosspoints of the levels named.
        QCOMPARE(command(".UVA013,006\r"), QList<QByteArray>{});
        QCOMPARE(rcmd_source(0, 12), uint16_t(5));
        QCOMPARE(rcmd_source(1, 12), uint16_t(5));
        QCOMPARE(rcmd_source(2, 12), uint16_t(RCMD_UNKNOWN));
        QCOMPARE(command(".AB013,007\r"), QList<QByteArray>{});
        QCOMPARE(rcmd_source(2, 12), uint16_t(6));

        // Interrogations answer the lowest level's source; unknown is 10000.
        QCOMPARE(command(".IV013\r"), QList<QByteArray>{".AV013,006\r"});
        QCOMPARE(command(".IBV013\r"), QList<QByteArray>{".AVB013,006\r"});
        QCOMPARE(command(".IC013\r"), QList<QByteArray>{".AC013,10000\r"});
        QCOMPARE(command(".I013\r"), QList<QByteArray>{".A013,10000\r"});
        QCOMPARE(command(".IV013"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".IV013,\r"), QList<QByteArray>{".E\r"});

        // Lock states.
        QCOMPARE(command(".BA013,1\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), int(RCMD_PROTECTED));
        QCOMPARE(command(".BA013,255\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), RCMD_PROTECTED | RCMD_LOCKED);
        QCOMPARE(command(".BI013\r"), QList<QByteArray>{".BA013,255\r"});
        QCOMPARE(command(".BA013,0\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), 0);
        QCOMPARE(command(".BI013\r"), QList<QByteArray>{".BA013,0\r"});
        QCOMPARE(command(".BL013\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), int(RCMD_LOCKED));
        QCOMPARE(command(".BU013\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), 0);
        // An unlock clears the lock only: protection stays.
        QCOMPARE(command(".BA013,1\r"), QList<QByteArray>{});
        QCOMPARE(command(".BU013\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), int(RCMD_PROTECTED));
        QCOMPARE(command(".BL013\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), RCMD_PROTECTED | RCMD_LOCKED);
        QCOMPARE(command(".BU013\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), int(RCMD_PROTECTED));
        QCOMPARE(command(".BI013\r"), QList<QByteArray>{".BA013,0\r"}); // not locked
        QCOMPARE(command(".BA013,0\r"), QList<QByteArray>{});
        QCOMPARE(int(rcmd_lock(12)), 0);

        // Handshake, ignored and refused texts.
        QCOMPARE(command(".#1"), QList<QByteArray>{".A\r"});
        QCOMPARE(command(".#01\r"), QList<QByteArray>{".A\r"});
        QCOMPARE(command(".#2"), QList<QByteArray>{});
        QCOMPARE(command(".#100000001"), QList<QByteArray>{});
        QCOMPARE(command(".X"), QList<QByteArray>{});     // too short: ignored
        QCOMPARE(command(".X1"), QList<QByteArray>{".E\r"});
        QCOMPARE(command("X12"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".BU"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".BX1"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".B"), QList<QByteArray>{});
        QCOMPARE(command(".F001\r"), QList<QByteArray>{});
        QCOMPARE(command(".SVA001,002\r"), QList<QByteArray>{});
        QCOMPARE(command(".E\r"), QList<QByteArray>{});
        QCOMPARE(command(".RX1\r"), QList<QByteArray>{});
    }

    void nameRequests()
    {
        names_clear();
        names_set(NAME_DEST, 2, "CAM 3");
        names_set(NAME_SOURCE, 0, "VTR-ONE-LONGNAME");
        names_set(NAME_LEVEL, 0, "VIDEO");
        QCOMPARE(command(".RD3\r"), QList<QByteArray>{".RAD   CAM 3\r"});
        QCOMPARE(command(".RS1\r"), QList<QByteArray>{".RASVTR-ONE-\r"});
        QCOMPARE(command(".RLV\r"), QList<QByteArray>{".RAL   VIDEO\r"});
        QCOMPARE(command(".RD4\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".RD0\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".RD\r"), QList<QByteArray>{".E\r"});
        QCOMPARE(command(".RLA\r"), QList<QByteArray>{".E\r"}); // level 1 has no name
        QCOMPARE(command(".RL\r"), QList<QByteArray>{".E\r"});
        names_clear();
    }

    void malformedTextsChangeNothing()
    {
        rcmd_clear_state();
        QCOMPARE(command(".UVA013,006\r"), QList<QByteArray>{});
        const QList<QByteArray> bad = {".UVA013",      ".UVA013,",     ".UVA,006\r",   ".UVA000,006\r",
                                       ".UVA2049,006\r", ".UVA013,000\r", ".UVA013;006\r", ".UVA123456,7\r",
                                       ".UVA013,123456\r", ".UVA013,10001\r", ".BA013\r", ".BA2049,1\r",
                                       ".BL0\r", ".BLx\r"};
        for (const QByteArray &t : bad) {
            QVERIFY2(command(t).isEmpty(), t.constData());
            QCOMPARE(rcmd_source(0, 12), uint16_t(5));
            QCOMPARE(int(rcmd_lock(12)), 0);
        }
        // The last destination is fine; one beyond is not.
        QCOMPARE(command(".UV2048,001\r"), QList<QByteArray>{});
        QCOMPARE(rcmd_source(0, 2047), uint16_t(0));

        // Every prefix of every valid command, a 512-byte text and random
        // texts: nothing is read past the text (sanitizer builds check).
        const QList<QByteArray> valid = {".UVA013,006\r", ".BA013,1\r", ".BI013\r", ".IV013\r",
                                         ".RD3\r", ".RLV\r", ".#1", ".F001\r"};
        for (const QByteArray &v : valid)
            for (int n = 0; n <= v.size(); ++n)
                command(v.left(n));
        command(QByteArray(".U") + QByteArray(510, 'V'));
        command(QByteArray(600, '.'));
        QByteArray r(64, '\0');
        quint32 seed = 12345;
        for (int i = 0; i < 2000; ++i) {
            for (char &c : r) {
                seed = seed * 1103515245u + 12345u;
                c = ".#AUFSBEIRVDL0123456789,\r\0x"[seed % 27];
            }
            command(r.left(int(seed % 64)));
        }
    }

    // Before any router has spoken nothing is queued: interrogations wait,
    // one per destination with their levels merged, and go out behind the
    // answer to the router's first message; other requests are dropped.
    void requestsBeforeAnyRouter()
    {
        RecordingHost host;
        const uint8_t none[4] = {0, 0, 0, 0};
        rl_set_destination(none);
        rcmd_request(RREQ_INTERROGATE, 3, 0x1, 0);
        rcmd_request(RREQ_ROUTE, 1, 3, 0x1);
        rcmd_request(RREQ_LOCK, 3, 1, 0);
        rcmd_request(RREQ_SALVO, 2, 0, 0);
        rcmd_request(RREQ_INTERROGATE, 5, 0x1, 0);
        rcmd_request(RREQ_INTERROGATE, 3, 0x2, 0);
        panels_loop();
        QCOMPARE(rl_pending(), 0);
        QVERIFY(s_wire.empty());

        // The router's first message, an ON POLL with id 0.
        const uint8_t router[4] = {127, 0, 0, 1};
        const QByteArray poll("\x01\0\0\0\0O\0\0", 8);
        eth_router_receive(ETH_ROUTER_PORT, reinterpret_cast<const uint8_t *>(poll.constData()), int(poll.size()),
                           router);
        panels_loop();
        QCOMPARE(int(s_wire.size()), 1);
        QCOMPARE(s_wire[0].mid(RL_HEADER), QByteArray("y\0\0", 3));
        QCOMPARE(command(QByteArray()), (QList<QByteArray>{".IVA004\r", ".BI004\r", ".IV006\r", ".BI006\r"}));
        panels_loop();
        QCOMPARE(rl_pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRouterCmd)
#include "tst_router_cmd.moc"

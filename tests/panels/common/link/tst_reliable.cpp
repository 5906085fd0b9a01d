// The reliable datagram layer against a fake socket and a controlled clock.

#include "ms_clock.h"
#include "link/reliable.h"
#include "timer_list.h"

#include <QTest>
#include <vector>

namespace {

std::vector<QByteArray> s_sent;      // datagrams the layer wrote
std::vector<QByteArray> s_delivered; // payloads it passed up
std::vector<int> s_errors;
int s_query;
uint32_t s_now;

const uint8_t PEER[4] = {10, 1, 2, 3};

int fakeSend(const uint8_t *d, int len, const uint8_t *)
{
    s_sent.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
    return 1;
}
void fakeDeliver(const uint8_t *d, int len, const uint8_t *, int)
{
    s_delivered.push_back(QByteArray(reinterpret_cast<const char *>(d), len));
}
void fakeError(int code) { s_errors.push_back(code); }
int fakeQuery() { return s_query; }

// A datagram from the peer: header then payload.
void receive(int seqFlag, int id, int ack, const QByteArray &payload = QByteArray())
{
    QByteArray d;
    d.append(char(seqFlag)).append(char(id)).append(char(ack)).append('\0').append('\0');
    d.append(payload);
    rl_receive(reinterpret_cast<const uint8_t *>(d.constData()), int(d.size()), PEER);
}

void send(const QByteArray &payload)
{
    rl_send(1, reinterpret_cast<const uint8_t *>(payload.constData()), int(payload.size()), RL_RESEND_MS,
            RL_MAX_RESENDS);
}

void advance(uint32_t ms)
{
    s_now += ms;
    tl_expire();
}

QByteArray hdr(int a, int b, int c) { return QByteArray(1, char(a)) + char(b) + char(c) + QByteArray(2, '\0'); }

} // namespace

class TestReliable : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        msc_set_test_source(&s_now);
        s_now = 1000;
        tl_init();
        rl_init(fakeSend, fakeDeliver, fakeError, fakeQuery);
        rl_set_destination(PEER);
        s_sent.clear();
        s_delivered.clear();
        s_errors.clear();
        s_query = 0;
    }

    void sequenceCheck()
    {
        // After a reset the peer must start at 0 (a restart) or 1.
        receive(1, 2, 0, "x");
        QVERIFY(s_delivered.empty()); // id 2 first: dropped
        receive(1, 1, 0, "a");
        QCOMPARE(s_delivered.size(), size_t(1));
        receive(1, 1, 0, "dup"); // a duplicate is dropped...
        QCOMPARE(s_delivered.size(), size_t(1));
        QCOMPARE(s_sent.back(), hdr(1, 0, 0)); // ...and answered by a pure ack (not yet synchronised: 0)
        receive(1, 3, 0, "skip");
        QCOMPARE(s_delivered.size(), size_t(1));

        // A restart (id 0) synchronises; then 1, 2, ... up to 255, then 1.
        receive(1, 0, 0, "r");
        QVERIFY(rl_synchronised());
        QVERIFY(s_errors.empty()); // not synchronised before: no NETERROR 2
        for (int id = 1; id <= 255; ++id)
            receive(1, id, 0, "m");
        QCOMPARE(rl_last_accepted(), uint8_t(255));
        receive(1, 1, 0, "w");
        QCOMPARE(rl_last_accepted(), uint8_t(1));
        QCOMPARE(s_delivered.size(), size_t(1 + 1 + 255 + 1));
        QCOMPARE(s_sent.back(), hdr(1, 0, 1)); // acknowledged with its id

        // A peer restart while synchronised drops our queue: NETERROR 2.
        send("mine");
        QCOMPARE(rl_pending(), 1);
        receive(1, 0, 0, "again");
        QCOMPARE(s_errors, (std::vector<int>{2}));
        QCOMPARE(rl_pending(), 0);
        QCOMPARE(rl_next_id(), uint8_t(0));
        // A second id 0 right after is no restart but a duplicate.
        const size_t n = s_delivered.size();
        receive(1, 0, 0, "again");
        QCOMPARE(s_delivered.size(), n);
    }

    void acknowledgementWindow()
    {
        struct Row {
            int head, ack;
            bool frees;
        };
        const Row rows[] = {{3, 5, true}, {3, 3, true}, {3, 200, false}, {200, 3, true},
                            {200, 199, false}, {0, 0, true}, {255, 1, true}, {10, 138, false}};
        for (const Row &r : rows) {
            init();
            // Bring the next id to the row's head id.
            for (int i = 0; i < r.head; ++i) {
                send("f");
                receive(1, 0, i, QByteArray()); // pure ack of message i (no payload)
            }
            QCOMPARE(rl_pending(), 0);
            send("h");
            QCOMPARE(rl_pending(), 1);
            receive(1, 0, r.ack);
            QVERIFY2(rl_pending() == (r.frees ? 0 : 1),
                     qPrintable(QStringLiteral("head %1 ack %2").arg(r.head).arg(r.ack)));
        }
    }

    void oneMessageInFlightAndResends()
    {
        send("one");
        send("two");
        QCOMPARE(s_sent.size(), size_t(1)); // only the head is on the wire
        QCOMPARE(s_sent[0], hdr(1, 0, 0) + "one");
        // Nothing happens on a silent link, even after the timeout...
        advance(60);
        QCOMPARE(s_sent.size(), size_t(1));
        // ...until something is received: then the head is resent.
        receive(0, 0, 0, QByteArray());
        QCOMPARE(s_sent.size(), size_t(1)); // unsequenced input does not drive resends
        receive(1, 0, 7); // a sequenced pure ack not covering id 0... (7 covers 0)
        // Ack 7 covers id 0 (0 < 7 < 128): the head is freed, "two" goes out.
        QCOMPARE(rl_pending(), 1);
        QCOMPARE(s_sent.back(), hdr(1, 1, 0) + "two");

        // Unacknowledged: sent at most 11 times, then NETERROR 3 and reset.
        for (int i = 0; i < 12; ++i) {
            advance(RL_RESEND_MS);
            receive(1, 0, 200); // drives the resend, acknowledges nothing
        }
        QCOMPARE(std::count(s_sent.begin(), s_sent.end(), hdr(1, 1, 0) + "two"), 11L);
        QCOMPARE(s_errors, (std::vector<int>{3}));
        QCOMPARE(rl_pending(), 0);
        QCOMPARE(rl_next_id(), uint8_t(0));
    }

    void queryLiftsTheResendLimit()
    {
        s_query = 1;
        send("q");
        for (int i = 0; i < 20; ++i) {
            advance(RL_RESEND_MS);
            receive(1, 0, 200);
        }
        QVERIFY(s_errors.empty());
        QCOMPARE(s_sent.size(), size_t(21));
    }

    void idsWrapAndTableFull()
    {
        // Ids run 0, 1, ..., 255, 1, ...
        for (int i = 0; i < 256; ++i) {
            send("x");
            receive(1, 0, i & 0xff);
        }
        QCOMPARE(rl_next_id(), uint8_t(1));
        QCOMPARE(rl_pending(), 0);

        // A full pending table drops the layer: NETERROR 1.
        init();
        for (int i = 0; i < RL_SLOTS; ++i)
            send("p");
        QCOMPARE(rl_pending(), int(RL_SLOTS));
        QVERIFY(s_errors.empty());
        send("overflow");
        QCOMPARE(s_errors, (std::vector<int>{1}));
        QCOMPARE(rl_pending(), 0);
    }

    void malformedDatagrams()
    {
        // Short datagrams are ignored; an extra header running past the end
        // carries no payload; unsequenced payloads are delivered as they are.
        for (int len = 0; len < RL_HEADER; ++len)
            rl_receive(reinterpret_cast<const uint8_t *>("\x01\x01\x00\x00\x00"), len, PEER);
        const uint8_t longHeader[7] = {1, 1, 0, 200, 0, 'a', 'b'};
        rl_receive(longHeader, 7, PEER);
        QVERIFY(s_delivered.empty());
        QCOMPARE(rl_last_accepted(), uint8_t(255));
        const uint8_t extra[9] = {0, 0, 0, 2, 0, 'h', 'h', 'O', 'K'};
        rl_receive(extra, 9, PEER);
        QCOMPARE(s_delivered, (std::vector<QByteArray>{"OK"}));
        // Oversized or empty sends are refused.
        QCOMPARE(rl_send(1, reinterpret_cast<const uint8_t *>(QByteArray(200, 'x').constData()), 200, 50, 10), 0);
        QCOMPARE(rl_send(1, reinterpret_cast<const uint8_t *>("x"), 0, 50, 10), 0);
        QCOMPARE(rl_send(0, reinterpret_cast<const uint8_t *>("u"), 1, 50, 10), 1);
        QCOMPARE(s_sent.back(), hdr(0, 0, 0) + "u");
    }

    void timerList()
    {
        int a = 0, b = 0, c = 0;
        const int ia = tl_start_flag(100, &a);
        tl_start_flag(50, &b);
        const int ic = tl_start_flag(100, &c); // tie: behind a
        QCOMPARE(tl_count(), 3);
        advance(49);
        QVERIFY(!a && !b && !c);
        advance(1);
        QVERIFY(b && !a);
        QVERIFY(tl_cancel(ia));
        QVERIFY(!tl_cancel(ia));
        advance(49);
        QVERIFY(!c);
        advance(1);
        QVERIFY(c && !a);
        QCOMPARE(tl_count(), 0);
        QVERIFY(!tl_cancel(ic));
        // The pool is bounded.
        int f = 0;
        for (int i = 0; i < TL_POOL; ++i)
            QVERIFY(tl_start_flag(10, &f) >= 0);
        QCOMPARE(tl_start_flag(10, &f), -1);
    }

    void cleanupTestCase() { msc_set_test_source(nullptr); }
};

QTEST_GUILESS_MAIN(TestReliable)
#include "tst_reliable.moc"

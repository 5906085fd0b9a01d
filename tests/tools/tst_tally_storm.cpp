// The router simulator's tally storm: how many changes fall due as time
// passes, what a stall or a stop does, that every change lies inside the
// matrix, and how a burst of tallies is packed into few datagrams.

#include "router_peer.h"
#include "tally_storm.h"

#include <QTest>

class TestTallyStorm : public QObject
{
    Q_OBJECT

private slots:
    // 30 a second, asked every 10 ms for two seconds: exactly 60, with no
    // change lost to rounding; a stall of five seconds makes up at most
    // one second; off makes none; a new rate counts from its own start.
    void pacing()
    {
        TallyStorm s(3, 64, 32);
        QCOMPARE(s.due(1000), 0);
        s.setRate(30, 1000);
        int made = 0;
        for (qint64 t = 1000; t <= 3000; t += 10)
            made += s.due(t);
        QCOMPARE(made, 60);
        QCOMPARE(s.due(8000), 30);
        QCOMPARE(s.due(8000), 0);
        QCOMPARE(s.due(8100), 3);
        // A clock that went back owes nothing.
        QCOMPARE(s.due(7000), 0);
        s.setRate(0, 8200);
        QCOMPARE(s.rate(), 0);
        QCOMPARE(s.due(20000), 0);
        s.setRate(1000, 20000);
        QCOMPARE(s.due(20001), 1);
        QCOMPARE(s.due(20500), 499);
        s.setRate(-4, 21000);
        QCOMPARE(s.rate(), 0);
        QCOMPARE(s.due(30000), 0);
    }

    // Changes stay inside the matrix, reach every level and vary; the
    // sequence is the same on every run.
    void changesInsideTheMatrix()
    {
        TallyStorm a(3, 5, 4), b(3, 5, 4);
        bool levels[3] = {}, dests[5] = {}, sources[6] = {};
        for (int i = 0; i < 500; ++i) {
            const TallyStorm::Change c = a.next();
            const TallyStorm::Change d = b.next();
            QCOMPARE(c.level, d.level);
            QCOMPARE(c.dest, d.dest);
            QCOMPARE(c.source, d.source);
            QVERIFY(c.level >= 0 && c.level < 3);
            QVERIFY(c.dest >= 1 && c.dest <= 4);
            QVERIFY(c.source >= 1 && c.source <= 5);
            levels[c.level] = dests[c.dest] = sources[c.source] = true;
        }
        for (int i = 0; i < 3; ++i)
            QVERIFY(levels[i]);
        for (int i = 1; i <= 4; ++i)
            QVERIFY(dests[i]);
        for (int i = 1; i <= 5; ++i)
            QVERIFY(sources[i]);
        // A matrix of nothing still yields changes inside 1 x 1 x 1.
        TallyStorm z(0, 0, 0);
        const TallyStorm::Change c = z.next();
        QCOMPARE(c.level, 0);
        QCOMPARE(c.dest, 1);
        QCOMPARE(c.source, 1);
    }

    // Tallies queued behind a datagram in flight share the next datagram
    // up to the size limit; the one in flight is never changed.
    void burstsShareDatagrams()
    {
        RouterPeer p(QHostAddress(QStringLiteral("127.0.0.1")), 2001);
        const QByteArray tally(".UVA013,006\r");
        const int m = 3 + tally.size(); // one message on the wire
        p.queueCoalesced('Q', tally, 4 * m);
        const QByteArray first = p.due(0);
        QCOMPARE(first.size(), RouterPeer::Header + m);
        for (int i = 0; i < 9; ++i)
            p.queueCoalesced('Q', tally, 4 * m);
        // The one in flight, then 4 + 4 + 1.
        QCOMPARE(p.pending(), 4);
        QCOMPARE(p.due(RouterPeer::ResendMs), first);
        p.queueCoalesced('Q', QByteArray(4 * m, 'x'), 4 * m);
        QCOMPARE(p.pending(), 5);
    }
};

QTEST_GUILESS_MAIN(TestTallyStorm)
#include "tst_tally_storm.moc"

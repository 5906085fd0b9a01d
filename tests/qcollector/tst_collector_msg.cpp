#include "collector_msg.h"
#include "framing.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

using collector::CollectorMsg;

// Accepts only a limited number of bytes, to see short writes reported.
class ShortDevice : public QIODevice
{
public:
    explicit ShortDevice(qint64 room) : m_room(room) { open(QIODevice::WriteOnly); }
    QByteArray written;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        const qint64 n = qMin(len, m_room);
        written.append(data, n);
        m_room -= n;
        return n;
    }

private:
    qint64 m_room;
};

class TestCollectorMsg : public QObject
{
    Q_OBJECT

private slots:
    void constructorsAndPacking()
    {
        const CollectorMsg def;
        QCOMPARE(def.pack(), QByteArray::fromHex("00000000ffffffff0000000000000000"));

        const CollectorMsg key(5, 1);
        QCOMPARE(key.pack(), QByteArray::fromHex("00000001000000050000000100000000"));

        const CollectorMsg value(CollectorMsg::ValueEvent, 7, -2);
        QCOMPARE(value.pack(), QByteArray::fromHex("0000000200000007" "00000000fffffffe"));
    }

    void unpackRoundTripAndSizeCheck()
    {
        const CollectorMsg sent(CollectorMsg::ValueEvent, 0x12345678, int(0x80000001));
        CollectorMsg got;
        QVERIFY(got.unpack(sent.pack()));
        QCOMPARE(got, sent);

        // Any size but 16 fails and leaves the message as it was.
        CollectorMsg kept(3, 1);
        QVERIFY(!kept.unpack(QByteArray(15, '\x01')));
        QVERIFY(!kept.unpack(QByteArray(17, '\x01')));
        QVERIFY(!kept.unpack(QByteArray()));
        QCOMPARE(kept, CollectorMsg(3, 1));
    }

    void framing()
    {
        // A key press on key 5 travels as 20 bytes: length 16, then the fields.
        const QByteArray framed = collector::frame(CollectorMsg(5, 1).pack());
        QCOMPARE(framed, QByteArray::fromHex("00000010" "00000001" "00000005" "00000001" "00000000"));

        QBuffer buf;
        buf.open(QIODevice::WriteOnly);
        QVERIFY(collector::writeFramed(&buf, CollectorMsg(5, 1).pack()));
        QVERIFY(collector::writeFramed(&buf, QByteArray()));
        QCOMPARE(buf.data(), framed + QByteArray(4, '\0'));

        // A device that takes the header but not the whole payload: not done.
        ShortDevice tight(10);
        QVERIFY(!collector::writeFramed(&tight, CollectorMsg(5, 1).pack()));
        ShortDevice none(2);
        QVERIFY(!collector::writeFramed(&none, QByteArray("x")));
        QVERIFY(!collector::writeFramed(nullptr, QByteArray("x")));
        QBuffer closed;
        QVERIFY(!collector::writeFramed(&closed, QByteArray("x")));
    }

    // The stream cut back into payloads: two in one segment, one over
    // three segments, an empty one, and a length no message can have.
    void readingFrames()
    {
        const QByteArray a = CollectorMsg(5, 1).pack(), b = CollectorMsg(5, 0).pack();
        collector::FrameReader r;
        QByteArray p;
        r.append(collector::frame(a) + collector::frame(b));
        QVERIFY(r.next(&p));
        QCOMPARE(p, a);
        QVERIFY(r.next(&p));
        QCOMPARE(p, b);
        QVERIFY(!r.next(&p));

        const QByteArray framed = collector::frame(a) + collector::frame(QByteArray());
        r.append(framed.left(3));
        QVERIFY(!r.next(&p));
        r.append(framed.mid(3, 10));
        QVERIFY(!r.next(&p));
        r.append(framed.mid(13));
        QVERIFY(r.next(&p));
        QCOMPARE(p, a);
        QVERIFY(r.next(&p));
        QCOMPARE(p, QByteArray());
        QVERIFY(!r.next(&p));
        QCOMPARE(r.pending(), 0);

        // A long stream byte by byte keeps only what is pending.
        for (int i = 0; i < 2000; ++i) {
            const QByteArray f = collector::frame(CollectorMsg(i, 1).pack());
            for (const char c : f)
                r.append(QByteArray(1, c));
            QVERIFY(r.next(&p));
            QCOMPARE(p, CollectorMsg(i, 1).pack());
        }
        QCOMPARE(r.pending(), 0);

        collector::FrameReader small(16);
        small.append(QByteArray::fromHex("00000011") + QByteArray(17, 'x'));
        QVERIFY(!small.next(&p));
        QVERIFY(small.failed());
        small.append(collector::frame(a));
        QVERIFY(!small.next(&p));
        QCOMPARE(small.pending(), 0);
        collector::FrameReader big;
        big.append(QByteArray::fromHex("ffffffff"));
        QVERIFY(!big.next(&p));
        QVERIFY(big.failed());
        QCOMPARE(big.refusedLength(), 0xffffffffu);
        // A new stream after clear.
        big.clear();
        big.append(collector::frame(a));
        QVERIFY(big.next(&p));
        QCOMPARE(p, a);
    }

    void travelsThroughQueuedSignals()
    {
        collector::registerMetaType();
        collector::registerMetaType(); // repeated registration is harmless
        const QMetaType byName = QMetaType::fromName("collector::CollectorMsg");
        QVERIFY(byName.isValid());
        QCOMPARE(byName, QMetaType::fromType<CollectorMsg>());

        QVariant v = QVariant::fromValue(CollectorMsg(9, 0));
        QCOMPARE(v.value<CollectorMsg>(), CollectorMsg(9, 0));
    }
};

QTEST_GUILESS_MAIN(TestCollectorMsg)
#include "tst_collector_msg.moc"

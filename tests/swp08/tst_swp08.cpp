// The SW-P-08 codec against the frames published for the protocol (every
// command it sends or reads, general and extended, stuffed bytes in data,
// count and checksum), the frame reader on a stream cut anywhere and on
// damaged input, and a link end's ACK, NAK and re-sends.

#include "swp08_frame.h"
#include "swp08_message.h"
#include "swp08_transport.h"

#include <QByteArray>
#include <QTest>

using namespace swp08;

namespace {

std::vector<uint8_t> bytes(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return std::vector<uint8_t>(b.begin(), b.end());
}

QString hex(const std::vector<uint8_t> &v)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size())).toHex(' '));
}

// Feeds a stream to a reader; returns the DATA of every intact frame and
// counts the other events.
struct Fed {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<FrameReader::Error> damaged;
    int acks = 0, naks = 0, lost = 0;
};
Fed feed(FrameReader &r, const std::vector<uint8_t> &stream)
{
    Fed f;
    for (uint8_t b : stream) {
        switch (r.feed(b)) {
        case FrameReader::Frame: f.frames.push_back(r.data()); break;
        case FrameReader::Damaged: f.damaged.push_back(r.error()); break;
        case FrameReader::Ack: ++f.acks; break;
        case FrameReader::Nak: ++f.naks; break;
        case FrameReader::Lost: ++f.lost; break;
        case FrameReader::None: break;
        }
    }
    return f;
}

struct Recorder : Transport::Handler {
    std::vector<uint8_t> wire;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::pair<std::vector<uint8_t>, bool>> dropped;
    Transport *transport = nullptr;
    std::vector<uint8_t> reply; // sent from inside frame()
    void write(const uint8_t *b, size_t n) override { wire.insert(wire.end(), b, b + n); }
    void frame(const std::vector<uint8_t> &d) override
    {
        frames.push_back(d);
        if (!reply.empty())
            transport->send(reply, 0);
    }
    void gaveUp(const std::vector<uint8_t> &d, bool noAck) override { dropped.emplace_back(d, noAck); }
    std::vector<uint8_t> take()
    {
        std::vector<uint8_t> w;
        w.swap(wire);
        return w;
    }
};

} // namespace

class TestSwp08 : public QObject
{
    Q_OBJECT

private slots:
    // Every published frame reads as its message and the message encodes
    // to exactly that frame again.
    void publishedFrames()
    {
        struct Row {
            const char *frame;
            const char *text;
            bool reencodes;
        };
        const Row rows[] = {
            {"10 02 02 11 00 02 00 05 E6 10 03", "connect m1 l1 d2 s0", true},
            {"10 02 04 11 00 02 00 05 E4 10 03", "connected m1 l1 d2 s0", true},
            {"10 02 01 00 00 05 04 F6 10 03", "interrogate m0 l0 d5", true},
            {"10 02 03 02 02 05 2C 05 C3 10 03", "tally m0 l2 d5 s300", true},
            {"10 02 03 11 01 01 19 05 CC 10 03", "tally m1 l1 d1 s153", true},
            {"10 02 02 03 72 67 2C 05 F1 10 03", "connect m0 l3 d999 s300", true},
            {"10 02 02 23 72 67 2C 05 D1 10 03", "connect m2 l3 d999 s300", true},
            {"10 02 04 00 00 06 10 10 05 E1 10 03", "connected m0 l0 d6 s16", true},
            {"10 02 15 00 02 E9 10 03", "tally dump request m0 l0", true},
            {"10 02 16 00 04 00 03 01 00 02 08 D8 10 03", "tally dump m0 l0 d0+4: 3 1 0 2", true},
            {"10 02 17 01 02 01 2C 03 E8 00 10 10 09 B5 10 03", "tally dump m0 l1 d300+2: 1000 16", true},
            {"10 02 0A 00 10 10 48 04 9A 10 03", "protect interrogate m0 l0 d200", true},
            {"10 02 0C 00 11 48 02 05 94 10 03", "protect connect m0 l0 d200 dev130", true},
            {"10 02 0D 00 01 11 48 02 06 91 10 03", "protect connected m0 l0 d200 dev130 protected", true},
            {"10 02 0B 00 01 11 48 02 06 93 10 03", "protect tally m0 l0 d200 dev130 protected", true},
            {"10 02 0E 00 11 48 02 05 92 10 03", "protect disconnect m0 l0 d200 dev130", true},
            {"10 02 64 00 01 03 98 10 03", "source names request m0 l0 8 chars", true},
            {"10 02 65 00 02 00 10 10 05 84 10 03", "source name request m0 l0 s16 12 chars", true},
            {"10 02 66 00 00 03 97 10 03", "destination names request m0 4 chars", true},
            {"10 02 67 00 01 01 2C 05 66 10 03", "destination name request m0 d300 8 chars", true},
            {"10 02 6A 00 01 00 00 02 43 41 4D 20 31 20 20 20 43 41 4D 20 32 20 20 20 16 78 10 03",
             "source names m0 l0 s0+2 \"CAM 1\" \"CAM 2\"", true},
            {"10 02 6B 00 00 00 10 10 01 4D 4F 4E 31 0A 5F 10 03", "destination names m0 d16+1 \"MON1\"", true},
            {"10 02 61 01 9E 10 03", "implementation request", true},
            {"10 02 62 08 09 03 04 16 20 22 53 62 63 01 02 15 1F 20 21 43 4A 61 14 9C 10 03",
             "implementation 08 09 03 04 16 20 22 53 62 63 01 02 15 1f 20 21 43 4a 61", true},
            {"10 02 08 01 F7 10 03", "dual controller status request", true},
            {"10 02 09 02 00 03 F2 10 03", "dual controller status 02 00", true},
            {"10 02 63 02 02 99 10 03", "invalid message (command 2)", true},
            {"10 02 81 00 14 07 D0 05 8F 10 03", "ext interrogate m0 l20 d2000", true},
            {"10 02 82 00 14 07 D0 0F FF 07 7E 10 03", "ext connect m0 l20 d2000 s4095", true},
            {"10 02 84 00 14 07 D0 0F FF 00 08 7B 10 03", "ext connected m0 l20 d2000 s4095", false},
            {"10 02 83 00 14 07 D0 0F FF 07 7D 10 03", "ext tally m0 l20 d2000 s4095", true},
            {"10 02 95 00 14 03 54 10 03", "ext tally dump request m0 l20", true},
            {"10 02 97 00 14 02 07 D0 0F FF 00 10 10 0A 54 10 03", "ext tally dump m0 l20 d2000+2: 4095 16", true},
            {"10 02 8C 00 14 07 D0 04 4C 07 32 10 03", "ext protect connect m0 l20 d2000 dev1100", true},
            {"10 02 8B 00 14 01 07 D0 04 4C 08 31 10 03", "ext protect tally m0 l20 d2000 dev1100 protected", true},
            {"10 02 E4 00 14 02 04 02 10 03", "ext source names request m0 l20 12 chars", true},
            {"10 02 E6 00 01 03 16 10 03", "ext destination names request m0 8 chars", true},
            {"10 02 EA 00 14 00 05 DC 02 56 54 31 20 56 54 32 20 0F 19 10 03",
             "ext source names m0 l20 s1500+2 \"VT1\" \"VT2\"", true},
            {"10 02 EB 00 00 05 DC 01 52 45 43 20 0A 2F 10 03", "ext destination names m0 d1500+1 \"REC\"", true},
        };
        for (const Row &row : rows) {
            const std::vector<uint8_t> frame = bytes(row.frame);
            FrameReader reader;
            const Fed f = feed(reader, frame);
            QVERIFY2(f.frames.size() == 1 && f.damaged.empty(), row.frame);
            Message m;
            const char *why = nullptr;
            QVERIFY2(decode(f.frames[0], &m, &why), row.frame);
            QCOMPARE(QString::fromStdString(describe(m)), QString::fromLatin1(row.text));
            if (row.reencodes)
                QCOMPARE(hex(encodeFrame(encode(m))), hex(frame));
        }

        // Numbers whose bytes are 0x10 in both forms: the multiplier and
        // the low parts of d144 s16, the high and low bytes of d4112 s4112.
        Message c;
        c.command = Connect;
        c.dest = 144;
        c.source = 16;
        QVERIFY(!needsExtended(0, 0, c.dest, c.source));
        QCOMPARE(hex(encodeFrame(encode(c))), QStringLiteral("10 02 02 00 10 10 10 10 10 10 05 c9 10 03"));
        c.extended = true;
        c.dest = c.source = 4112;
        QVERIFY(needsExtended(0, 0, c.dest, c.source));
        const std::vector<uint8_t> ext = encodeFrame(encode(c));
        QCOMPARE(hex(ext), QStringLiteral("10 02 82 00 00 10 10 10 10 10 10 10 10 07 37 10 03"));
        // A count and a checksum of 0x10 are doubled too: 16 DATA bytes,
        // the last one chosen for the checksum.
        Message names;
        names.command = SourceNames;
        names.lengthCode = 0;
        names.names = {"AB", "CD"};
        std::vector<uint8_t> data = encode(names); // 6 + 8 = 14 bytes
        data.push_back(0);
        data.push_back(0);
        while (checksum(data.data(), data.size()) != 0x10)
            ++data.back();
        const std::vector<uint8_t> counted = encodeFrame(data);
        QCOMPARE(int(counted.size()), 2 + 16 + 4 + 2);
        QCOMPARE(hex(std::vector<uint8_t>(counted.end() - 6, counted.end())), QStringLiteral("10 10 10 10 10 03"));
        FrameReader reader;
        QCOMPARE(feed(reader, counted).frames.size(), size_t(1));
        // General-form numbers never take more than the form has room for;
        // its dumps and names carry 16-bit numbers.
        Message tooBig = c;
        tooBig.extended = false;
        QVERIFY(encode(tooBig).empty());
        Message dumpAsk;
        dumpAsk.command = ProtectDumpRequest;
        dumpAsk.dest = 4112;
        QCOMPARE(hex(encodeFrame(encode(dumpAsk))), QStringLiteral("10 02 13 00 10 10 10 10 04 c9 10 03"));
        // Lengths that do not fit the command are refused.
        Message m;
        const char *why = nullptr;
        QVERIFY(!decode(bytes("02 00 00 05"), &m, &why));
        QVERIFY(!decode(bytes("17 01 03 01 2C 03 E8"), &m, &why));
        QVERIFY(!decode(bytes("6A 00 01 00 00 02 43 41"), &m, &why));
        QVERIFY(!decode(bytes("02 00 00 80 00"), &m, &why)); // low part above 127
    }

    // The reader finds the frames however the stream is cut, and tells a
    // damaged frame (answered with NAK) from the next good one.
    void readerOnAnyStream()
    {
        // d16 <- s3: the stuffed 0x10 before 0x03 is not the frame's end.
        const std::vector<uint8_t> connect = bytes("10 02 02 00 00 10 10 03 05 E6 10 03");
        const std::vector<uint8_t> tally = bytes("10 02 03 02 02 05 2C 05 C3 10 03");
        std::vector<uint8_t> stream = bytes("10 06 55 10");
        stream.insert(stream.end(), connect.begin(), connect.end());
        stream.insert(stream.end(), tally.begin(), tally.end());
        for (size_t cut = 0; cut <= stream.size(); ++cut) {
            FrameReader r;
            Fed a = feed(r, std::vector<uint8_t>(stream.begin(), stream.begin() + long(cut)));
            const Fed b = feed(r, std::vector<uint8_t>(stream.begin() + long(cut), stream.end()));
            a.frames.insert(a.frames.end(), b.frames.begin(), b.frames.end());
            QCOMPARE(int(a.frames.size()), 2);
            QCOMPARE(hex(a.frames[0]), QStringLiteral("02 00 00 10 03"));
            QCOMPARE(a.acks + b.acks, 1);
            QVERIFY(a.damaged.empty() && b.damaged.empty());
        }

        FrameReader r;
        // An ACK and a NAK inside a frame are taken out of it.
        Fed f = feed(r, bytes("10 02 03 02 10 06 02 05 2C 10 15 05 C3 10 03"));
        QCOMPARE(int(f.frames.size()), 1);
        QCOMPARE(f.acks, 1);
        QCOMPARE(f.naks, 1);
        // A bad checksum, a bad count, a DLE before an unknown byte, no
        // room for count and checksum.
        f = feed(r, bytes("10 02 03 02 02 05 2C 05 C4 10 03"
                          "10 02 03 02 02 05 2C 06 C2 10 03"
                          "10 02 03 02 10 41 10 03"
                          "10 02 10 03"));
        QCOMPARE(int(f.frames.size()), 0);
        const std::vector<FrameReader::Error> expected = {FrameReader::BadChecksum, FrameReader::BadCount,
                                                          FrameReader::IllegalDle, FrameReader::BadCount};
        QVERIFY(f.damaged == expected);
        // A frame longer than any DATA can be is dropped as a whole, even
        // when it carries something that looks like a frame; the next
        // frame reads. A frame cut off by the next start is lost.
        std::vector<uint8_t> longFrame = bytes("10 02");
        for (int i = 0; i < 300; ++i)
            longFrame.push_back(uint8_t(i == 280 ? 0x02 : 0x41));
        longFrame.insert(longFrame.end(), {0x10, 0x10, 0x02, 0x41, 0x10, 0x03});
        f = feed(r, longFrame);
        QCOMPARE(int(f.damaged.size()), 1);
        QCOMPARE(f.damaged[0], FrameReader::TooLong);
        QCOMPARE(int(f.frames.size()), 0);
        std::vector<uint8_t> cut = bytes("10 02 03 02");
        cut.insert(cut.end(), tally.begin(), tally.end());
        f = feed(r, cut);
        QCOMPARE(f.lost, 1);
        QCOMPARE(int(f.frames.size()), 1);
    }

    // A link end answers frames with ACK before anything they cause, NAK
    // for damaged ones, sends one frame at a time, re-sends on NAK and on
    // a missing ACK, and gives up after the fifth re-send.
    void transportAcknowledgesAndResends()
    {
        Recorder h;
        Transport t(h);
        h.transport = &t;
        const std::vector<uint8_t> interrogate = bytes("01 00 00 05");
        const std::vector<uint8_t> dumpRequest = bytes("15 00");
        QVERIFY(t.send(interrogate, 0));
        QVERIFY(t.send(dumpRequest, 0));
        QVERIFY(!t.send({}, 0));
        QCOMPARE(hex(h.take()), hex(encodeFrame(interrogate)));
        // A tally arrives: ACK first, then our reply behind it (the second
        // frame still waits for the first one's ACK).
        h.reply = bytes("03 00 00 05 01");
        t.receive(bytes("10 02 03 02 02 05 2C 05 C3 10 03").data(), 11, 10);
        QCOMPARE(hex(h.take()), QStringLiteral("10 06"));
        QCOMPARE(int(h.frames.size()), 1);
        // A NAK: the same frame again at once.
        t.receive(bytes("10 15").data(), 2, 20);
        QCOMPARE(hex(h.take()), hex(encodeFrame(interrogate)));
        // ACK: the next frame.
        t.receive(bytes("10 06").data(), 2, 30);
        QCOMPARE(hex(h.take()), hex(encodeFrame(dumpRequest)));
        // A damaged frame gets NAK and is not handed on.
        t.receive(bytes("10 02 03 02 02 05 2C 05 C4 10 03").data(), 11, 40);
        QCOMPARE(hex(h.take()), QStringLiteral("10 15"));
        QCOMPARE(int(h.frames.size()), 1);
        // No ACK: a re-send after a second, five times, then it gives up
        // and the frame behind it goes out.
        t.poll(1029);
        QVERIFY(h.take().empty());
        for (int i = 1; i <= 5; ++i) {
            t.poll(30 + 1000 * i);
            QCOMPARE(hex(h.take()), hex(encodeFrame(dumpRequest)));
        }
        QVERIFY(h.dropped.empty());
        t.poll(6030);
        QCOMPARE(int(h.dropped.size()), 1);
        QVERIFY(h.dropped[0].first == dumpRequest && h.dropped[0].second);
        QCOMPARE(hex(h.take()), hex(encodeFrame(h.reply)));
        // NAK every time: dropped after five re-sends, not as a lost link.
        for (int i = 0; i < 5; ++i) {
            t.receive(bytes("10 15").data(), 2, 7000);
            QCOMPARE(hex(h.take()), hex(encodeFrame(h.reply)));
        }
        t.receive(bytes("10 15").data(), 2, 7000);
        QCOMPARE(int(h.dropped.size()), 2);
        QVERIFY(!h.dropped[1].second);
        QCOMPARE(int(t.queued()), 0);
    }
};

QTEST_GUILESS_MAIN(TestSwp08)
#include "tst_swp08.moc"

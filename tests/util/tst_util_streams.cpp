#include "crc16.h"
#include "eahufbuf.h"
#include "estreambuf.h"
#include "../support/stdout_capture.h"

#include <QTest>

class TestUtilStreams : public QObject
{
    Q_OBJECT

private slots:
    void memBufReading()
    {
        char block[] = "hello world";
        EMemBuf mem;
        QVERIFY(!mem.good());
        QCOMPARE(mem.open("r"), -1);          // no block yet
        mem.setbuf(block, 11);
        QVERIFY(mem.good());
        QCOMPARE(mem.open("a"), -1);
        QCOMPARE(mem.open("r"), 0);

        QCOMPARE(mem.sgetc(), int('h'));
        QCOMPARE(mem.sgetc(), int('h'));      // looking does not advance
        QCOMPARE(mem.sbumpc(), int('h'));
        char buf[32] = {};
        QCOMPARE(mem.sgetn(buf, 4), size_t(4));
        QCOMPARE(QByteArray(buf), QByteArray("ello"));
        QCOMPARE(mem.sputbackc('o'), int('o'));
        QCOMPARE(mem.sputbackc('x'), -1);     // not what was read before
        QCOMPARE(mem.sgetn(buf, 32), size_t(7));
        QCOMPARE(QByteArray(buf, 7), QByteArray("o world"));
        QCOMPARE(mem.sbumpc(), -1);
        QCOMPARE(mem.underflow(), -1);
        QCOMPARE(mem.sgetn(buf, 4), size_t(0));
        // A read stream takes nothing.
        QCOMPARE(mem.sputc('x'), -1);

        // The block is attached once: a later attach changes nothing.
        char other[] = "zz";
        mem.setbuf(other, 2);
        QCOMPARE(mem.open("r"), 0);
        QCOMPARE(mem.sbumpc(), int('h'));

        // Bytes above 127 come out as 128..255, never as -1.
        char high[] = "\xff\x80";
        EMemBuf h;
        h.setbuf(high, 2);
        h.open("r");
        QCOMPARE(h.sbumpc(), 255);
        QCOMPARE(h.sbumpc(), 128);
        QCOMPARE(h.sbumpc(), -1);
    }

    void memBufWritingAndReadBack()
    {
        char block[8];
        EMemBuf mem;
        mem.setbuf(block, sizeof block);
        QCOMPARE(mem.open("w"), 0);
        QCOMPARE(mem.sbumpc(), -1);           // nothing written yet
        QCOMPARE(mem.sputc('a'), int('a'));
        QCOMPARE(mem.sputn("bcdefghij", 9), size_t(7));   // full after 8
        QCOMPARE(mem.sputc('z'), -1);
        QCOMPARE(mem.written(), size_t(8));
        QCOMPARE(mem.flush(), 0);
        char buf[9] = {};
        QCOMPARE(mem.sgetn(buf, 9), size_t(8));
        QCOMPARE(QByteArray(buf), QByteArray("abcdefgh"));
    }

    void checksum()
    {
        QCOMPARE(crc16_xmodem(reinterpret_cast<const uint8_t *>("123456789"), 9), uint16_t(0x31C3));
        QCOMPARE(crc16_xmodem(nullptr, 0), uint16_t(0));
        QCOMPARE(crc16_xmodem(reinterpret_cast<const uint8_t *>("A"), 1), uint16_t(0x58E5));
        // Continuing over pieces gives the checksum of the whole.
        const uint8_t *d = reinterpret_cast<const uint8_t *>("123456789");
        QCOMPARE(crc16_xmodem_update(crc16_xmodem(d, 4), d + 4, 5), uint16_t(0x31C3));

        // Against the polynomial applied bit by bit, for every length and
        // alignment a four-byte step can meet, and for pieces of any size.
        uint8_t data[600];
        uint32_t seed = 7;
        for (uint8_t &b : data)
            b = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
        for (size_t off = 0; off < 4; ++off) {
            for (size_t len = 0; off + len <= sizeof data; len += len < 20 ? 1 : 37) {
                uint16_t ref = 0;
                for (size_t i = 0; i < len; ++i) {
                    ref = uint16_t(ref ^ (data[off + i] << 8));
                    for (int b = 0; b < 8; ++b)
                        ref = uint16_t(ref & 0x8000 ? (ref << 1) ^ 0x1021 : ref << 1);
                }
                QCOMPARE(crc16_xmodem(data + off, len), ref);
                const size_t cut = len / 3;
                QCOMPARE(crc16_xmodem_update(crc16_xmodem(data + off, cut), data + off + cut, len - cut), ref);
            }
        }
    }

    void compBufOpenCloseAndState()
    {
        char in[10], out[10];
        EAhufBuf buf(in, sizeof in, out, sizeof out, 0);
        QVERIFY(!buf.good());
        QCOMPARE(buf.in_avail(), 0);

        // Closing a buffer that is not open is refused with a message.
        {
            StdoutCapture cap;
            QCOMPARE(buf.close(), -1);
            const QByteArray text = cap.text();
            QVERIFY2(text.startsWith("ECompBuf::close allready closed("), text.constData());
            QVERIFY(text.endsWith(")\n"));
        }

        QCOMPARE(buf.open(nullptr, "r"), -1);
        char coded[] = {0, 0, 0, 0};
        EMemBuf mem;
        mem.setbuf(coded, sizeof coded);
        mem.open("r");
        QCOMPARE(buf.open(&mem, "r"), 0);
        QVERIFY(buf.good());
        QCOMPARE(buf.in_avail(), 1);          // unknown yet, but not ended
        // Four zero bytes and then nothing: the data ends early.
        QCOMPARE(buf.sbumpc(), -1);
        QVERIFY(!buf.good());
        QCOMPARE(buf.in_avail(), 0);
        QCOMPARE(buf.close(), 0);

        // A second close: message and -1.
        StdoutCapture cap;
        QCOMPARE(buf.close(), -1);
        QVERIFY(cap.text().contains("allready closed"));
        QCOMPARE(buf.sbumpc(), -1);
    }
};

QTEST_GUILESS_MAIN(TestUtilStreams)
#include "tst_util_streams.moc"

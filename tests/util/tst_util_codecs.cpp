#include "adhc.h"
#include "eahufbuf.h"
#include "echain.h"
#include "elz77buf.h"
#include "estreambuf.h"
#include "lz77.h"
#include "../support/stdout_capture.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// Reads a stream to its end.
QByteArray drain(EStreamBuf *s)
{
    QByteArray all;
    char buf[777];
    for (;;) {
        size_t n = s->sgetn(buf, sizeof buf);
        if (n == 0)
            break;
        all.append(buf, int(n));
    }
    return all;
}

// LZ77 decoding of coded through an ELZ77Buf with the given buffers.
struct Lz77Reader
{
    explicit Lz77Reader(const QByteArray &coded, size_t in_size = 65536, size_t out_size = 65536)
        : data(coded), window(65536), in(in_size), out(out_size),
          lz(window.data(), window.size(), in.data(), in.size(), out.data(), out.size(), 0)
    {
        mem.setbuf(data.data(), size_t(data.size()));
        mem.open("r");
        lz.open(&mem, "r");
    }
    QByteArray data;
    std::vector<char> window, in, out;
    EMemBuf mem;
    ELZ77Buf lz;
};

// LZ77 coding only, with the given buffers.
QByteArray lz77Encode(const QByteArray &text, size_t window_size, size_t in_size, size_t out_size)
{
    std::vector<char> window(window_size), in(in_size), out(out_size);
    std::vector<char> sink(size_t(text.size()) * 3 + 64);
    EMemBuf mem;
    mem.setbuf(sink.data(), sink.size());
    mem.open("w");
    ELZ77Buf lz(window.data(), window.size(), in.data(), in.size(), out.data(), out.size(), 0);
    lz.open(&mem, "w");
    if (lz.sputn(text.constData(), size_t(text.size())) != size_t(text.size()) || lz.close() != 0)
        return QByteArray("failed");
    return QByteArray(sink.data(), int(mem.written()));
}

QByteArray ahufEncode(const QByteArray &text, size_t in_size = 10, size_t out_size = 10)
{
    std::vector<char> in(in_size), out(out_size);
    std::vector<char> sink(size_t(text.size()) * 2 + 64);
    EMemBuf mem;
    mem.setbuf(sink.data(), sink.size());
    mem.open("w");
    EAhufBuf ah(in.data(), in.size(), out.data(), out.size(), 0);
    ah.open(&mem, "w");
    if (ah.sputn(text.constData(), size_t(text.size())) != size_t(text.size()) || ah.close() != 0)
        return QByteArray("failed");
    return QByteArray(sink.data(), int(mem.written()));
}

QByteArray ahufDecode(QByteArray coded, bool *failed = nullptr)
{
    char in[10], out[10];
    EMemBuf mem;
    mem.setbuf(coded.data(), size_t(coded.size()));
    mem.open("r");
    EAhufBuf ah(in, sizeof in, out, sizeof out, 0);
    ah.open(&mem, "r");
    QByteArray text = drain(&ah);
    if (failed)
        *failed = ah.failed();
    return text;
}

// Test data of the shapes that stress a coder.
QByteArray makeData(int shape, int size, QRandomGenerator &rng)
{
    QByteArray d(size, '\0');
    switch (shape) {
    case 0: // incompressible
        for (int i = 0; i < size; ++i)
            d[i] = char(rng.bounded(256));
        break;
    case 1: // long runs of one byte
        for (int i = 0; i < size;) {
            int run = 1 + rng.bounded(70000);
            char c = char(rng.bounded(256));
            for (int k = 0; k < run && i < size; ++k)
                d[i++] = c;
        }
        break;
    case 2: { // a short pattern repeated, with the odd change
        QByteArray pat;
        for (int k = 0, n = 1 + rng.bounded(40); k < n; ++k)
            pat.append(char(rng.bounded(256)));
        for (int i = 0; i < size; ++i)
            d[i] = rng.bounded(1000) == 0 ? char(rng.bounded(256)) : pat[i % pat.size()];
        break;
    }
    case 3: { // text-like: words from a small vocabulary
        static const char *const words[] = {"obj ", "Button(", ") { ", "bT = ", "\"Source\"\n",
                                            "bV = ", "12", "}\n", "menuName = ", "\"Main\" "};
        int i = 0;
        while (i < size) {
            const char *w = words[rng.bounded(10)];
            for (; *w && i < size; ++w)
                d[i++] = *w;
        }
        break;
    }
    default: // skewed byte distribution
        for (int i = 0; i < size; ++i) {
            int r = rng.bounded(1000);
            d[i] = char(r < 600 ? 'a' : r < 850 ? 'b' : r < 950 ? 'c' : rng.bounded(256));
        }
        break;
    }
    return d;
}

// Walks an LZ77 stream's records; returns the size of the last one, -1
// when the stream does not end on a record boundary.
int lastRecordSize(const QByteArray &s)
{
    int pos = 0, last = 0;
    while (pos < s.size()) {
        if (pos + 2 > s.size())
            return -1;
        int16_t h = int16_t((uchar(s[pos]) << 8) | uchar(s[pos + 1]));
        int size = h > 0 ? 2 + h : 4;
        if (h == 0 || pos + size > s.size())
            return -1;
        pos += size;
        last = size;
    }
    return last;
}

} // namespace

class TestUtilCodecs : public QObject
{
    Q_OBJECT

private slots:
    void lz77DecodesLiteralsAndOverlappingCopies()
    {
        const QByteArray coded = QByteArray::fromHex("0003616263FFFD0006");
        Lz77Reader r(coded);
        QCOMPARE(drain(&r.lz), QByteArray("abcabcabc"));
        QVERIFY(!r.lz.failed());

        // The same stream one byte at a time into tiny buffers: records
        // split across calls decode the same.
        Lz77Reader small(coded, 4, 1);
        QCOMPARE(drain(&small.lz), QByteArray("abcabcabc"));

        // Straight through the codec, fed byte by byte: input it does not
        // consume stays with the caller until more arrives.
        std::vector<char> buf(65536);
        Lz77State *s = lz77_init(buf.data(), buf.size(), LZ77_MODE_DECODE);
        QVERIFY(s);
        QByteArray out, pending;
        for (int i = 0; i < coded.size(); ++i) {
            pending.append(coded[i]);
            uint8_t o[16];
            size_t in_count = size_t(pending.size()), out_count = sizeof o;
            QVERIFY(lz77_decode(s, reinterpret_cast<const uint8_t *>(pending.constData()),
                                &in_count, o, &out_count) >= 0);
            out.append(reinterpret_cast<char *>(o), int(out_count));
            pending.remove(0, int(in_count));
            // A copy record is only taken whole.
            if (i >= 5 && i <= 7)
                QCOMPARE(pending.size(), i - 4);
        }
        QCOMPARE(out, QByteArray("abcabcabc"));
        QVERIFY(pending.isEmpty());
    }

    void lz77RejectsBadRecordsAndStates()
    {
        // Header 0.
        {
            Lz77Reader r(QByteArray::fromHex("0000616263"));
            QCOMPARE(drain(&r.lz), QByteArray());
            QVERIFY(r.lz.failed());
        }
        // A copy reaching before the output produced so far: what came
        // before it is still delivered, then the stream ends.
        {
            Lz77Reader r(QByteArray::fromHex("000161FFFE0001"));
            QCOMPARE(drain(&r.lz), QByteArray("a"));
            QVERIFY(r.lz.failed());
            QCOMPARE(r.lz.sbumpc(), -1);
        }
        // A copy of length 0, and the most negative header.
        {
            Lz77Reader r(QByteArray::fromHex("000161FFFF0000"));
            QCOMPARE(drain(&r.lz), QByteArray("a"));
            QVERIFY(r.lz.failed());
        }
        {
            Lz77Reader r(QByteArray::fromHex("00016180000001"));
            drain(&r.lz);
            QVERIFY(r.lz.failed());
        }
        // A stream cut inside a record ends without inventing data.
        {
            Lz77Reader r(QByteArray::fromHex("0005616263"));
            QCOMPARE(drain(&r.lz), QByteArray("abc"));
            QVERIFY(!r.lz.failed());
        }
        // The state at the start of the window is checked.
        std::vector<char> buf(1024);
        Lz77State *s = lz77_init(buf.data(), buf.size(), LZ77_MODE_DECODE);
        uint8_t in[4] = {0, 1, 'a', 0}, out[4];
        size_t ic = 3, oc = 4;
        QCOMPARE(lz77_encode(s, in, &ic, out, &oc), -2);
        s->self = nullptr;
        ic = 3, oc = 4;
        QCOMPARE(lz77_decode(s, in, &ic, out, &oc), -1);
        QCOMPARE(oc, size_t(0));
        QVERIFY(lz77_init(buf.data(), 8, LZ77_MODE_DECODE) == nullptr);
    }

    void lz77EncoderRecords()
    {
        // "abcabcabc": three literals, then one overlapping copy.
        QCOMPARE(lz77Encode("abcabcabcabcabc", 65536, 65536, 65536).toHex(),
                 QByteArray("0003616263fffd000c"));
        // Long runs shrink to a few records.
        const QByteArray run(100000, 'x');
        const QByteArray coded = lz77Encode(run, LZ77_ENCODER_BUFFER, 65536, 65536);
        QVERIFY2(coded.size() < 40, QByteArray::number(coded.size()).constData());
        Lz77Reader r(coded);
        QCOMPARE(drain(&r.lz), run);

        // The last record is never shorter than four bytes, which older
        // decoders need to start a record; a one-byte text is the one case
        // that cannot be helped.
        QRandomGenerator rng(7);
        for (int n = 2; n < 300; ++n) {
            for (int shape = 0; shape < 5; ++shape) {
                QByteArray d = makeData(shape, n, rng);
                QByteArray c = lz77Encode(d, LZ77_ENCODER_BUFFER, 65536, 65536);
                QVERIFY2(lastRecordSize(c) >= 4, qPrintable(QStringLiteral("n=%1 shape=%2").arg(n).arg(shape)));
            }
        }
        // Text that ends in a copy with a lone new byte after it.
        QByteArray t = QByteArray("abcdefgh") + QByteArray("abcdefgh") + "Z";
        QVERIFY(lastRecordSize(lz77Encode(t, LZ77_ENCODER_BUFFER, 65536, 65536)) >= 4);
    }

    void ahufStartsWithZerosAndStopsAtEnd()
    {
        const QByteArray coded = ahufEncode("hello, hello");
        QVERIFY(coded.startsWith(QByteArray(4, '\0')));
        QCOMPARE(ahufDecode(coded), QByteArray("hello, hello"));

        // Any non-zero byte among the first four is rejected.
        for (int i = 0; i < 4; ++i) {
            QByteArray bad = coded;
            bad[i] = 1;
            bool failed = false;
            QCOMPARE(ahufDecode(bad, &failed), QByteArray());
            QVERIFY(failed);
        }

        // Data after the end symbol is never decoded.
        bool failed = true;
        QCOMPARE(ahufDecode(coded + QByteArray("\xff\x13\x77garbage"), &failed), QByteArray("hello, hello"));
        QVERIFY(!failed);

        // Later reads keep returning the end.
        char in[10], out[10];
        QByteArray copy = coded + "more";
        EMemBuf mem;
        mem.setbuf(copy.data(), size_t(copy.size()));
        mem.open("r");
        EAhufBuf ah(in, sizeof in, out, sizeof out, 0);
        ah.open(&mem, "r");
        QCOMPARE(drain(&ah), QByteArray("hello, hello"));
        QCOMPARE(ah.sbumpc(), -1);
        QCOMPARE(ah.underflow(), -1);
        QCOMPARE(ah.in_avail(), 0);

        // The empty text is the zeros and the end symbol.
        QCOMPARE(ahufDecode(ahufEncode(QByteArray())), QByteArray());
        // A stream cut short ends without error or invented data.
        QCOMPARE(ahufDecode(coded.left(7)).size() < 12, true);
    }

    // Coded streams worked out by hand from the coder's rules, so that a
    // change to both ends (bit order, code polarity, the tree update) shows:
    // the tree starts as NYT (left, code 0) and the end symbol (right,
    // code 1) under the root; a new byte is NYT's code and its eight bits,
    // then splits NYT; a node that is not the leader of its weight first
    // changes places with the leader.
    void ahufFixedVectors()
    {
        const struct { QByteArray text; QByteArray coded; } vectors[] = {
            // end: 1
            {"", QByteArray::fromHex("00000000" "80")},
            // NYT 0, 'a' 01100001, end 1 (the end's leaf is still the root's
            // right child)
            {"a", QByteArray::fromHex("00000000" "30c0")},
            // 'a' again: 01; its leaf changes places with the end's, so the
            // end is now 01 as well
            {"aa", QByteArray::fromHex("00000000" "30a8")},
            // after "a": NYT 00, 'b' 01100010; the subtree of NYT's parent
            // changes places with the end's leaf, which is then 0
            {"ab", QByteArray::fromHex("00000000" "308c40")},
            // after "aa": NYT 00, 'b' 01100010, end 01
            {"aab", QByteArray::fromHex("00000000" "30a312")},
        };
        for (const auto &v : vectors) {
            QCOMPARE(ahufEncode(v.text).toHex(), v.coded.toHex());
            bool failed = true;
            QCOMPARE(ahufDecode(v.coded, &failed), v.text);
            QVERIFY(!failed);
        }
    }

    void ahufTreeKeepsItsInvariants()
    {
        // Encoder and decoder trees stay valid FGK trees and equal after
        // every symbol, for skewed and uniform input.
        static AdhcState enc, dec;
        adhc_start(&enc, true);
        adhc_start(&dec, false);
        QVERIFY(adhc_check(&enc));
        QRandomGenerator rng(3);
        uint8_t coded[4096];
        for (int round = 0; round < 4000; ++round) {
            uint8_t sym = uint8_t(round < 2000 ? (rng.bounded(100) < 90 ? rng.bounded(4) : rng.bounded(256))
                                               : rng.bounded(256));
            size_t ic = 1, oc = sizeof coded;
            QCOMPARE(adhc_encode(&enc, &sym, &ic, coded, &oc), 0);
            QCOMPARE(ic, size_t(1));
            if (round % 97 == 0)
                QVERIFY2(adhc_check(&enc), qPrintable(QString::number(round)));
        }
        QVERIFY(adhc_check(&enc));
        // Every symbol is now in the tree: all 258 leaves, 515 nodes.
        QCOMPARE(int(enc.next_allocation_node), 515);
        size_t oc = sizeof coded;
        QCOMPARE(adhc_finish(&enc, coded, &oc), 1);

        // A decoder fed the same symbols through a real stream ends with
        // the same tree.
        QRandomGenerator rng2(3);
        QByteArray text;
        for (int round = 0; round < 4000; ++round)
            text.append(char(round < 2000 ? (rng2.bounded(100) < 90 ? rng2.bounded(4) : rng2.bounded(256))
                                          : rng2.bounded(256)));
        const QByteArray stream = ahufEncode(text, 333, 17);
        size_t ic = size_t(stream.size());
        std::vector<uint8_t> out(8000);
        oc = out.size();
        QCOMPARE(adhc_decode(&dec, reinterpret_cast<const uint8_t *>(stream.constData()), &ic, out.data(), &oc), 1);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(out.data()), int(oc)), text);
        QVERIFY(adhc_check(&dec));
        for (int s = 0; s < ADHC_MAX + 2; ++s)
            QCOMPARE(dec.weight[dec.leaf[s]], enc.weight[enc.leaf[s]]);
    }

    void chainRoundTrip()
    {
        auto enc = std::make_unique<EEncodeChain>();
        auto dec = std::make_unique<EDecodeChain>();
        QRandomGenerator rng(2024);
        const int sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 100, 1000, 4095, 32767, 32768,
                             65535, 65536, 65537, 65544, 131071, 200000};
        int cases = 0;
        for (int size : sizes) {
            for (int shape = 0; shape < 5; ++shape) {
                const QByteArray text = makeData(shape, size, rng);
                QByteArray coded(size + size / 4 + 1024, '\0');
                long n = enc->compress(text.constData(), size_t(size), coded.data(), size_t(coded.size()));
                QVERIFY(n > 0);
                coded.truncate(int(n));
                dec->open(coded.constData(), size_t(n));
                const QByteArray back = drain(dec->stream());
                QVERIFY(!dec->failed());
                QCOMPARE(dec->close(), 0);
                if (back != text)
                    QFAIL(qPrintable(QStringLiteral("size %1 shape %2: %3 bytes back")
                                         .arg(size).arg(shape).arg(back.size())));
                if (shape == 1 && size >= 1000)
                    QVERIFY(n < size / 10);             // runs compress
                if (shape == 0 && size >= 65536)
                    QVERIFY2(n < size + size / 50 + 64, qPrintable(QStringLiteral("%1 -> %2").arg(size).arg(n)));
                ++cases;
            }
        }
        QCOMPARE(cases, int(sizeof sizes / sizeof sizes[0]) * 5);
    }

    void roundTripWithOddBufferSizes()
    {
        // Tiny and uneven buffers on both sides exercise every split of
        // records, codes and put-back zones.
        QRandomGenerator rng(11);
        const size_t shapes[][4] = {{1, 9, 7, 3}, {2, 12, 5, 9}, {5, 17, 64, 1}, {4096, 8192, 13, 2}};
        for (const auto &b : shapes) {
            for (int shape = 0; shape < 5; ++shape) {
                const QByteArray text = makeData(shape, 5000 + rng.bounded(5000), rng);
                const QByteArray lz = lz77Encode(text, 20000, b[1], b[0] + 8);
                QVERIFY(lz != "failed");
                const QByteArray coded = ahufEncode(lz, b[2], b[3]);
                QVERIFY(coded != "failed");
                // Decode: Huffman stage with its own odd sizes and a
                // put-back zone, then LZ77 with small buffers.
                QByteArray copy = coded;
                EMemBuf mem;
                mem.setbuf(copy.data(), size_t(copy.size()));
                mem.open("r");
                std::vector<char> ain(b[3]), aout(b[2] + 2);
                EAhufBuf ah(ain.data(), ain.size(), aout.data(), aout.size(), 2);
                ah.open(&mem, "r");
                std::vector<char> win(65536), lin(b[1] + 3), lout(b[0] + 1);
                ELZ77Buf lzb(win.data(), win.size(), lin.data(), lin.size(), lout.data(), lout.size(), 0);
                lzb.open(&ah, "r");
                QCOMPARE(drain(&lzb), text);
            }
        }
    }

    void putBackZoneKeepsLastCharacters()
    {
        const QByteArray coded = ahufEncode("abcdefghijklmnopqrstuvwxyz");
        QByteArray copy = coded;
        EMemBuf mem;
        mem.setbuf(copy.data(), size_t(copy.size()));
        mem.open("r");
        char in[10], out[10];
        EAhufBuf ah(in, sizeof in, out, sizeof out, 3);     // 7 new characters per refill
        ah.open(&mem, "r");
        char buf[7];
        QCOMPARE(ah.sgetn(buf, 7), size_t(7));
        QCOMPARE(ah.sbumpc(), int('h'));                    // refilled
        QCOMPARE(ah.sputbackc('h'), int('h'));
        QCOMPARE(ah.sputbackc('g'), int('g'));              // kept from the last fill
        QCOMPARE(ah.sbumpc(), int('g'));
        QCOMPARE(drain(&ah), QByteArray("hijklmnopqrstuvwxyz"));
    }
};

QTEST_GUILESS_MAIN(TestUtilCodecs)
#include "tst_util_codecs.moc"

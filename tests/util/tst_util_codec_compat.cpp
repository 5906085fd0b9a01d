// Compressed configurations written by earlier builds must keep loading,
// and new ones must read in earlier builds: the coded bytes for a fixed set
// of inputs are pinned here (size and FNV-1a hash of the whole stream, and
// a few short streams in full). The inputs cover random bytes, text, one
// byte repeated, every byte value, skewed distributions that grow deep code
// trees, and sizes around the coders' buffers (10 and 4096 bytes in the
// Huffman stage, 65536 in the LZ77 stage, whose window holds 65508).

#include "adhc.h"
#include "eahufbuf.h"
#include "echain.h"
#include "elz77buf.h"
#include "estreambuf.h"

#include <QTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A generator of our own, so that the inputs never depend on a library's.
struct Lcg
{
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    uint32_t below(uint32_t n) { return (next() >> 8) % n; }
};

uint64_t fnv1a(const QByteArray &b)
{
    uint64_t h = 1469598103934665603ull;
    for (char c : b) {
        h ^= uint8_t(c);
        h *= 1099511628211ull;
    }
    return h;
}

QByteArray makeInput(int shape, int size)
{
    Lcg rng{uint32_t(shape * 7919 + size)};
    QByteArray d(size, '\0');
    switch (shape) {
    case 0: // random bytes
        for (int i = 0; i < size; ++i)
            d[i] = char(rng.next() >> 24);
        break;
    case 1: { // configuration-like text
        static const char *const words[] = {"obj ", "Src(", "Dst(", "Button(", ") {\n", "  name = \"",
                                            "CAM ", "VTR ", "\"\n", "  bV = ", "}\n", "&1F", " l1 = "};
        int i = 0;
        while (i < size) {
            const char *w = words[rng.below(13)];
            if (rng.below(4) == 0) {
                char num[8];
                snprintf(num, sizeof num, "%u", rng.below(2048));
                w = num;
                for (const char *p = w; *p && i < size; ++p)
                    d[i++] = *p;
                continue;
            }
            for (; *w && i < size; ++w)
                d[i++] = *w;
        }
        break;
    }
    case 2: // one byte throughout
        d.fill('x');
        break;
    case 3: // every byte value, ascending, then descending
        for (int i = 0; i < size; ++i)
            d[i] = char((i / 256) % 2 ? 255 - i % 256 : i % 256);
        break;
    default: // geometric distribution: long codes for the rare bytes
        for (int i = 0; i < size; ++i) {
            uint32_t r = rng.next() | 1u;
            d[i] = char('A' + __builtin_ctz(r) + (rng.below(64) == 0 ? rng.below(100) : 0));
        }
        break;
    }
    return d;
}

QByteArray drain(EStreamBuf *s)
{
    QByteArray all;
    char buf[1000];
    size_t n;
    while ((n = s->sgetn(buf, sizeof buf)) > 0)
        all.append(buf, int(n));
    return all;
}

// Huffman stage alone, through the buffer sizes a panel uses.
QByteArray ahufEncode(const QByteArray &text)
{
    char in[10], out[10];
    std::vector<char> sink(size_t(text.size()) * 2 + 64);
    EMemBuf mem;
    mem.setbuf(sink.data(), sink.size());
    mem.open("w");
    EAhufBuf ah(in, sizeof in, out, sizeof out, 0);
    ah.open(&mem, "w");
    if (ah.sputn(text.constData(), size_t(text.size())) != size_t(text.size()) || ah.close() != 0)
        return QByteArray("failed");
    return QByteArray(sink.data(), int(mem.written()));
}

QByteArray ahufDecode(QByteArray coded)
{
    char in[10], out[10];
    EMemBuf mem;
    mem.setbuf(coded.data(), size_t(coded.size()));
    mem.open("r");
    EAhufBuf ah(in, sizeof in, out, sizeof out, 0);
    ah.open(&mem, "r");
    return drain(&ah);
}

struct Pinned
{
    int shape;
    int size;
    long ahuf_size;
    uint64_t ahuf_hash;
    long chain_size;
    uint64_t chain_hash;
};

// Captured from the coders as they have always been.
const Pinned kPinned[] = {
#include "codec_compat_pins.inc"
};

} // namespace

class TestUtilCodecCompat : public QObject
{
    Q_OBJECT

private slots:
    void codedBytesStayTheSame()
    {
        auto enc = std::make_unique<EEncodeChain>();
        auto dec = std::make_unique<EDecodeChain>();
        QString mismatches;
        for (const Pinned &p : kPinned) {
            const QByteArray text = makeInput(p.shape, p.size);
            const QByteArray ah = ahufEncode(text);
            QByteArray chain(p.size + p.size / 4 + 1024, '\0');
            long n = enc->compress(text.constData(), size_t(p.size), chain.data(), size_t(chain.size()));
            QVERIFY(n > 0);
            chain.truncate(int(n));
            if (long(ah.size()) != p.ahuf_size || fnv1a(ah) != p.ahuf_hash || n != p.chain_size ||
                fnv1a(chain) != p.chain_hash)
                mismatches += QString::asprintf("  {%d, %d, %d, 0x%016llxull, %ld, 0x%016llxull},\n", p.shape,
                                                p.size, int(ah.size()), (unsigned long long)fnv1a(ah), n,
                                                (unsigned long long)fnv1a(chain));

            // And both read back to the text.
            QCOMPARE(ahufDecode(ah) == text, true);
            dec->open(chain.constData(), chain.size());
            const QByteArray back = drain(dec->stream());
            QVERIFY(!dec->failed());
            QCOMPARE(dec->close(), 0);
            if (back != text)
                QFAIL(qPrintable(QString::asprintf("shape %d size %d: %d bytes back", p.shape, p.size,
                                                   int(back.size()))));
        }
        if (!mismatches.isEmpty())
            QFAIL(qPrintable("coded bytes changed; now:\n" + mismatches));
    }

    void shortStreamsInFull()
    {
        // Whole streams, so that a change shows in the bytes themselves.
        const struct { int shape; int size; const char *ahuf; const char *chain; } vectors[] = {
#include "codec_compat_streams.inc"
        };
        auto dec = std::make_unique<EDecodeChain>();
        for (const auto &v : vectors) {
            const QByteArray text = makeInput(v.shape, v.size);
            const QByteArray ah = QByteArray::fromHex(v.ahuf);
            const QByteArray chain = QByteArray::fromHex(v.chain);
            QCOMPARE(ahufEncode(text).toHex(), ah.toHex());
            QCOMPARE(ahufDecode(ah) == text, true);
            dec->open(chain.constData(), size_t(chain.size()));
            QCOMPARE(drain(dec->stream()) == text, true);
            QVERIFY(!dec->failed());
            dec->close();
        }
    }

    void lz77CopiesFromTheRing()
    {
        // With a few bytes of output room per call, nearly every copy is
        // taken from the window ring rather than from the output, and past
        // 65508 bytes some of them wrap around its end; long copies of
        // short distances repeat their pattern.
        const QByteArray text = makeInput(1, 140000) + makeInput(2, 3000) + makeInput(3, 70000);
        std::vector<char> window(65536), lin(65536), lout(65536), sink(text.size() * 2);
        EMemBuf mem;
        mem.setbuf(sink.data(), sink.size());
        mem.open("w");
        ELZ77Buf enc(window.data(), window.size(), lin.data(), lin.size(), lout.data(), lout.size(), 0);
        enc.open(&mem, "w");
        QCOMPARE(enc.sputn(text.constData(), size_t(text.size())), size_t(text.size()));
        QCOMPARE(enc.close(), 0);
        const QByteArray coded(sink.data(), int(mem.written()));
        for (size_t out_size : {size_t(1), size_t(7), size_t(300), size_t(65536)}) {
            std::vector<char> dwin(65536), din(65536), dout(out_size);
            EMemBuf src;
            QByteArray copy = coded;
            src.setbuf(copy.data(), size_t(copy.size()));
            src.open("r");
            ELZ77Buf dec(dwin.data(), dwin.size(), din.data(), din.size(), dout.data(), dout.size(), 0);
            dec.open(&src, "r");
            const QByteArray back = drain(&dec);
            QVERIFY(!dec.failed());
            QVERIFY2(back == text, qPrintable(QString::asprintf("output room %zu: %d bytes back", out_size,
                                                                int(back.size()))));
        }
    }

    void decoderSplitsMatchWholeDecode()
    {
        // However the coded stream and the room for output are cut, the
        // decoder produces the same bytes: codes, raw bytes after NYT and
        // the end symbol may all straddle a call.
        const QByteArray text = makeInput(4, 3000) + makeInput(3, 600) + makeInput(1, 2000);
        const QByteArray coded = ahufEncode(text);
        static AdhcState h;
        for (size_t step_in : {size_t(1), size_t(2), size_t(3), size_t(7), size_t(64)}) {
            for (size_t step_out : {size_t(1), size_t(5), size_t(10), size_t(4096)}) {
                adhc_start(&h, false);
                QByteArray back;
                size_t pos = 0;
                int r = 0;
                int guard = 0;
                while (r == 0 && guard++ < 1000000) {
                    size_t ic = std::min(step_in, size_t(coded.size()) - pos);
                    uint8_t out[4096];
                    size_t oc = step_out;
                    r = adhc_decode(&h, reinterpret_cast<const uint8_t *>(coded.constData()) + pos, &ic, out, &oc);
                    pos += ic;
                    back.append(reinterpret_cast<char *>(out), int(oc));
                    if (r == 0 && ic == 0 && oc == 0 && pos == size_t(coded.size()))
                        break;
                }
                QCOMPARE(r, 1);
                QVERIFY2(back == text, qPrintable(QString::asprintf("in %zu out %zu", step_in, step_out)));
                QVERIFY(adhc_check(&h));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestUtilCodecCompat)
#include "tst_util_codec_compat.moc"

// Benchmark: loading the largest configuration file a panel accepts.
//
// Builds a realistic PCSL configuration, compresses it (LZ77, then adaptive
// Huffman) into a payload that fills a 131071-byte configuration file, and
// times what a panel does with it: the checksum, decoding through the
// stream chain and parsing. Prints milliseconds per load and MB/s; the
// target is a whole load under 5 ms.
//
// Then where the time goes, stage by stage (processor time): the checksum,
// the adaptive Huffman stage alone, the LZ77 stage (the chain less the
// Huffman stage) and the parse (the load less the chain). Beside the
// Huffman stage it times a walk of the same bits down a fixed tree, the
// finished code tree of this very stream: a fixed tree needs no update at
// all, so no decoder that walks the adaptive tree a bit at a time can beat
// that walk. (Decoding several bits per step from a table needs codes that
// stay put; here a quarter of the symbols can reorder the tree.) The load's
// floor with such a decoder is that walk plus the other stages.
//
//   bench_pcsl_load [ROUNDS]

#include "adhc.h"
#include "crc16.h"
#include "echain.h"
#include "estreambuf.h"
#include "parser.h"
#include "semantic.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const size_t kFileSize = 131071;
const size_t kPayload = kFileSize - 10;

// Counts what a configuration reader would store.
class CountingSemantics : public Semantics
{
public:
    long properties = 0;
    long objects = 0;
    void onObjectBegin() override { ++objects; }
    void onProperty(const char *, const char *, const char *) override { ++properties; }
};

// Processor time of this thread: unlike the wall clock it does not count
// time the machine gave to other processes.
double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Rng
{
    uint32_t s = 12345;
    uint32_t next(uint32_t n)
    {
        s = s * 1103515245u + 12345u;
        return (s >> 8) % n;
    }
};

// Appends configuration objects; each call adds one source, destination or
// menu key with plausible, varied values.
void addItem(std::string &t, int i, Rng &rng)
{
    static const char *const names[] = {"CAM", "VTR", "SRV", "GFX", "MIC", "LINE", "SAT", "FEED",
                                        "MON", "PGM", "PVW", "AUX", "REC", "TX", "RX", "CLIP"};
    static const char *const types[] = {"Source", "Destination", "Level", "Take", "Menu",
                                        "Lock", "Protect", "Salvo", "Page", "Shift"};
    char buf[512];
    switch (i % 3) {
    case 0:
        snprintf(buf, sizeof buf,
                 "  obj Src(%d) {\n    name = \"%s %d\"\n    altName = \"%c%c%u\"\n"
                 "    obj sLev() { l1 = %u l2 = %u l3 = %u }\n  }\n",
                 i / 3 % 2048 + 1, names[rng.next(16)], rng.next(200) + 1, 'A' + rng.next(26),
                 'A' + rng.next(26), rng.next(1000), rng.next(2048) + 1, rng.next(2048) + 1,
                 rng.next(2048) + 1);
        break;
    case 1:
        snprintf(buf, sizeof buf,
                 "  obj Dst(%d) {\n    name = \"%s %d\"\n    obj dLev() { l1 = %u l2 = %u }\n  }\n",
                 i / 3 % 2048 + 1, names[rng.next(16)], rng.next(200) + 1, rng.next(2048) + 1,
                 rng.next(2048) + 1);
        break;
    default:
        snprintf(buf, sizeof buf,
                 "  obj Button(%u) {\n    bT = \"%s\"\n    bV = %u\n    bV2 = %u\n"
                 "    bL = \"%s%u\"\n    Iv = %u\n    sPI = %u\n    bP = &%X\n  }\n",
                 rng.next(128) + 1, types[rng.next(10)], rng.next(2048) + 1, rng.next(32),
                 names[rng.next(16)], rng.next(100), rng.next(8), rng.next(8), rng.next(4096));
        break;
    }
    t += buf;
}

std::string makeText(int items)
{
    Rng rng;
    std::string t(43, '#');
    t += "\nobj Configsettings() {\n  configName = \"Benchmark\"\n  numSources = 2048\n"
         "  numDestinations = 2048\n  numLevels = 16\n}\nobj KnownItems() {\n";
    for (int i = 0; i < items; ++i)
        addItem(t, i, rng);
    t += "}\n";
    return t;
}

// Walks the bits of in[] down the fixed tree of h until `symbols` codes
// were read (from the start again when the bits run out): a code is the
// walk from the root to a leaf, NYT is followed by eight raw bits. Returns
// a sum of the symbols, so that the walk cannot be optimised away.
unsigned long fixedTreeWalk(const AdhcState &h, const uint8_t *in, size_t n, long symbols)
{
    const int16_t *const link = h.link;
    unsigned long sum = 0;
    size_t pos = ADHC_LEADING_ZEROS;
    uint64_t bb = 0;
    unsigned nb = 0;
    for (long k = 0; k < symbols; ++k) {
        int cur = link[0];
        for (;;) {
            if (nb == 0) {
                while (nb <= 56) {
                    if (pos == n)
                        pos = ADHC_LEADING_ZEROS;
                    bb |= uint64_t(in[pos++]) << (56 - nb);
                    nb += 8;
                }
            }
            const unsigned b = unsigned(bb >> 63);
            bb <<= 1;
            --nb;
            cur = link[cur + int(b ^ 1)];
            if (cur < 0)
                break;
        }
        const int sym = ~cur;
        if (sym == ADHC_NYT) {
            // The raw byte: its bits are skipped a byte's worth at a time.
            if (nb < 8) {
                while (nb <= 56) {
                    if (pos == n)
                        pos = ADHC_LEADING_ZEROS;
                    bb |= uint64_t(in[pos++]) << (56 - nb);
                    nb += 8;
                }
            }
            sum += unsigned(bb >> 56);
            bb <<= 8;
            nb -= 8;
        } else {
            sum += unsigned(sym);
        }
    }
    return sum;
}

// Where the walks' sums go, so that the compiler keeps the walks.
volatile unsigned long s_sink;

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Where a load's time goes, stage by stage, in processor time.
void printStages(const std::vector<char> &payload, size_t textSize, double loadCpuMs, int rounds)
{
    const uint8_t *const in = reinterpret_cast<const uint8_t *>(payload.data());
    std::vector<uint8_t> out(textSize + 65536);
    auto state = std::make_unique<AdhcState>();
    auto dec = std::make_unique<EDecodeChain>();
    std::vector<double> crcMs, hufMs, walkMs, chainMs;
    long symbols = 0;
    unsigned long sink = 0;
    for (int r = 0; r < rounds; ++r) {
        double c0 = cpuMs();
        sink += crc16_xmodem(in, payload.size());
        crcMs.push_back(cpuMs() - c0);

        // The Huffman stage alone, over the whole payload in one call.
        adhc_start(state.get(), false);
        size_t inCount = payload.size(), outCount = out.size();
        c0 = cpuMs();
        adhc_decode(state.get(), in, &inCount, out.data(), &outCount);
        hufMs.push_back(cpuMs() - c0);
        symbols = long(outCount) + 1; // and the end symbol

        c0 = cpuMs();
        sink += fixedTreeWalk(*state, in, payload.size(), symbols);
        walkMs.push_back(cpuMs() - c0);

        dec->open(payload.data(), payload.size());
        static char buf[65536];
        c0 = cpuMs();
        while (dec->stream()->sgetn(buf, sizeof buf) > 0) {
        }
        chainMs.push_back(cpuMs() - c0);
        dec->close();
    }
    const double crc = medianOf(crcMs), huf = medianOf(hufMs), walk = medianOf(walkMs), chain = medianOf(chainMs);
    const double lz = std::max(0.0, chain - huf), parse = std::max(0.0, loadCpuMs - chain - crc);
    printf("stages (processor time, median): checksum %.3f ms, adaptive Huffman %.3f ms (%ld symbols, "
           "%.1f ns each), LZ77 %.3f ms, parse %.3f ms\n",
           crc, huf, symbols, huf * 1e6 / double(symbols), lz, parse);
    printf("  the same bits down the fixed finished tree: %.3f ms (%.1f ns a symbol), the least a "
           "decoder walking the code tree a bit at a time can take\n",
           walk, walk * 1e6 / double(symbols));
    printf("  floor of a load with that decoder: %.3f ms, %.3f ms without any parse (target 5 ms)\n",
           crc + walk + lz + parse, crc + walk + lz);
    s_sink = sink;
}

long compressedSize(EEncodeChain *enc, const std::string &text, std::vector<char> *out)
{
    out->assign(text.size() + text.size() / 4 + 1024, 0);
    return enc->compress(text.data(), text.size(), out->data(), out->size());
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    auto enc = std::make_unique<EEncodeChain>();

    // The most items whose compressed text still fits the file.
    std::vector<char> coded;
    int lo = 1, hi = 1;
    while (compressedSize(enc.get(), makeText(hi), &coded) <= long(kPayload))
        hi *= 2;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (compressedSize(enc.get(), makeText(mid), &coded) <= long(kPayload))
            lo = mid;
        else
            hi = mid;
    }
    const std::string text = makeText(lo);
    const long n = compressedSize(enc.get(), text, &coded);
    // The payload fills the file: the decoder stops at the end symbol,
    // so the padding after it is never read (the checksum covers it).
    std::vector<char> payload(kPayload, 0);
    memcpy(payload.data(), coded.data(), size_t(n));

    auto dec = std::make_unique<EDecodeChain>();
    std::vector<double> total_ms, decode_ms, cpu_ms;
    long objects = 0, properties = 0;
    uint16_t crc = 0;
    for (int r = 0; r < rounds; ++r) {
        const double c0 = cpuMs();
        auto t0 = std::chrono::steady_clock::now();
        crc = crc16_xmodem(reinterpret_cast<const uint8_t *>(payload.data()), payload.size());
        dec->open(payload.data(), payload.size());
        char head[5];
        if (dec->stream()->sgetn(head, 5) != 5 || memcmp(head, "#####", 5) != 0) {
            fprintf(stderr, "bench: payload does not decode to PCSL\n");
            return 1;
        }
        CountingSemantics sem;
        Parser parser;
        parser.attach(dec->stream(), &sem);
        int result = parser.parse();
        dec->close();
        auto t1 = std::chrono::steady_clock::now();
        cpu_ms.push_back(cpuMs() - c0);
        if (result != 0) {
            fprintf(stderr, "bench: parse result %d\n", result);
            return 1;
        }
        objects = sem.objects;
        properties = sem.properties;
        total_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());

        // Decoding alone, for the split.
        t0 = std::chrono::steady_clock::now();
        dec->open(payload.data(), payload.size());
        static char sink[65536];
        size_t got = 0, k;
        while ((k = dec->stream()->sgetn(sink, sizeof sink)) > 0)
            got += k;
        dec->close();
        t1 = std::chrono::steady_clock::now();
        if (got != text.size()) {
            fprintf(stderr, "bench: decoded %zu of %zu bytes\n", got, text.size());
            return 1;
        }
        decode_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(total_ms.begin(), total_ms.end());
    std::sort(decode_ms.begin(), decode_ms.end());
    std::sort(cpu_ms.begin(), cpu_ms.end());
    const double cpu = cpu_ms[cpu_ms.size() / 2];
    const double med = total_ms[total_ms.size() / 2];
    const double dmed = decode_ms[decode_ms.size() / 2];
    printf("configuration file: %zu bytes (coded %ld + padding), text %zu bytes, %ld objects, "
           "%ld properties, CRC %04X\n",
           kFileSize, n, text.size(), objects, properties, crc);
    printf("rounds: %d\n", rounds);
    printf("whole load (checksum + decode + parse): median %.3f ms, best %.3f ms\n", med, total_ms.front());
    printf("  processor time of the load: median %.3f ms, best %.3f ms\n", cpu, cpu_ms.front());
    printf("  decode alone: median %.3f ms; parse share about %.3f ms\n", dmed, med - dmed);
    printf("throughput (median wall): %.1f MB/s of file, %.1f MB/s of text\n", kFileSize / med / 1000.0,
           text.size() / med / 1000.0);
    printf("throughput (best wall):   %.1f MB/s of file, %.1f MB/s of text\n",
           kFileSize / total_ms.front() / 1000.0, text.size() / total_ms.front() / 1000.0);
    const double target = 5.0;
    printf("target: whole load under %.0f ms: %s (median wall), %s (median processor time), %s (best)\n",
           target, med < target ? "met" : "NOT met", cpu < target ? "met" : "NOT met",
           total_ms.front() < target ? "met" : "NOT met");
    printStages(payload, text.size(), cpu, rounds);
    return 0;
}

// Benchmark: loading the largest configuration file a panel accepts.
//
// Builds a plain PCSL configuration of 131071 bytes (2048 sources and
// destinations, 26 levels, a full first menu and paged menus after it) and
// times what a panel does with it: checksum, parse, applyConfiguration and
// panel setup. Also times the same text compressed, and a binary image
// with full key, source and destination tables. Prints processor
// milliseconds per load (median and worst); the target for the plain text
// is under 10 ms.
//
//   bench_config_load [ROUNDS]

#include "config/config_load.h"
#include "echain.h"
#include "product.h"
#include "config/panel_tables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const size_t kFileSize = 131071;

double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void add(std::string &s, const char *fmt, int a, int b = 0, int c = 0)
{
    char line[160];
    snprintf(line, sizeof line, fmt, a, b, c);
    s += line;
}

// The text, payload only, exactly size bytes long.
std::string largestText(size_t size)
{
    std::string t(43, '#');
    t += "\nobj Configsettings() { numDestinations=2048 numSources=2048 numLevels=26 }\n";
    t += "obj KnownLevels() {\n";
    for (int l = 1; l <= 26; ++l)
        add(t, "obj Level(%d) { lvlName=\"LEVEL %d\" }\n", l, l);
    t += "}\nobj KnownSources() {\n";
    for (int i = 1; i <= 2048; ++i)
        add(t, "obj Src(%d){sN=\"S%d\"}\n", i, i);
    t += "}\nobj KnownDestinations() {\n";
    for (int i = 1; i <= 2048; ++i)
        add(t, "obj Dst(%d){dN=\"D%d\"}\n", i, i);
    t += "}\nobj KnownMenus() {\nobj Menu(1) { menuName=\"MAIN\" obj MenuButtons() {\n";
    for (int k = 1; k <= 128; ++k)
        add(t, "obj Btn(%d) { bT=\"Source\" bV=%d bL=\"SRC %d\" bP=1 }\n", k, k, k);
    t += "} }\n";
    // Paged menus until the file is full.
    int m = 2, k = 1;
    std::string close = "} } }\n";
    add(t, "obj Menu(%d) { obj MenuButtons() {\n", m);
    while (t.size() + close.size() + 80 < size) {
        add(t, "obj Btn(%d){bT=\"Source\" bV=%d}\n", k, (m * 128 + k) % 2048 + 1);
        if (++k > 128 && m < 50) {
            k = 1;
            ++m;
            add(t, "} }\nobj Menu(%d) { obj MenuButtons() {\n", m);
        }
    }
    t += close;
    if (t.size() + 2 > size) {
        fprintf(stderr, "text too long: %zu\n", t.size());
        exit(1);
    }
    t += "#" + std::string(size - t.size() - 2, '-') + "\n";
    return t;
}

std::vector<uint8_t> container(const std::string &payload)
{
    std::vector<uint8_t> f(10 + payload.size());
    std::copy(payload.begin(), payload.end(), f.begin() + 10);
    const uint32_t n = uint32_t(f.size());
    const uint8_t head[10] = {'C', 'O', 'N', 'F', 'I', 'G', uint8_t(n >> 24), uint8_t(n >> 16),
                              uint8_t(n >> 8), uint8_t(n)};
    std::copy(head, head + 10, f.begin());
    return f;
}

std::string binaryImage()
{
    std::string img;
    auto rec = [&img](int id, const std::string &d) {
        img += char(id);
        img += char(d.size() >> 8);
        img += char(d.size());
        img += d;
    };
    std::string keys(7996, '\0');
    for (int s = 0; s < 2048; ++s) {
        keys[128 + s] = 10;
        keys[2176 + 2 * s + 1] = char(s);
    }
    rec(100, keys);
    for (int id : {103, 104}) {
        std::string t;
        t += char(2048 >> 8), t += char(2048 & 0xFF), t += char(10), t += char(26);
        for (int i = 0; i < 2048; ++i) {
            char name[16];
            snprintf(name, sizeof name, "NAME %5d", i);
            t.append(name, 10);
            t.append(52, char(i));
        }
        // Both tables share what the file holds besides block 100: about
        // 990 entries each.
        rec(id, t.substr(0, 61500));
    }
    return img;
}

struct Result {
    double median, worst;
};

Result timeLoads(const std::vector<uint8_t> &file, int rounds)
{
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = cpuMs();
        const bool ok = cfgload_file_data(file.data(), file.size());
        ms.push_back(cpuMs() - t0);
        if (!ok) {
            fprintf(stderr, "load failed (%zu bytes)\n", file.size());
            exit(1);
        }
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    prod_select(prod_find("SK2000A"));
    pt_init();

    const std::string text = largestText(kFileSize - 10);
    const std::vector<uint8_t> plain = container(text);
    auto enc = std::make_unique<EEncodeChain>();
    std::vector<char> coded(256 * 1024);
    const long n = enc->compress(text.data(), text.size(), coded.data(), coded.size());
    if (n < 0) {
        fprintf(stderr, "compression failed\n");
        return 1;
    }
    const std::vector<uint8_t> packed = container(std::string(coded.data(), size_t(n)));
    const std::vector<uint8_t> binary = container(binaryImage());

    // The firmware's diagnostics go nowhere while timing.
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (!freopen("/dev/null", "w", stdout))
        return 1;
    const Result rp = timeLoads(plain, rounds);
    const Result rc = timeLoads(packed, rounds);
    const Result rb = timeLoads(binary, rounds);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);

    const PanelTables *pt = panel_tables();
    printf("plain PCSL      %6zu bytes: median %.3f ms, worst %.3f ms (%d rounds)\n", plain.size(), rp.median,
           rp.worst, rounds);
    printf("compressed PCSL %6zu bytes: median %.3f ms, worst %.3f ms\n", packed.size(), rc.median, rc.worst);
    printf("binary image    %6zu bytes: median %.3f ms, worst %.3f ms\n", binary.size(), rb.median, rb.worst);
    printf("tables: %zu bytes of PanelTables\n", sizeof(PanelTables));
    (void)pt;
    printf("%s: plain PCSL load %s the 10 ms target\n", rp.median < 10.0 ? "PASS" : "FAIL",
           rp.median < 10.0 ? "within" : "above");
    return rp.median < 10.0 ? 0 : 1;
}

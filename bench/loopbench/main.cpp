// loopbench: how long one pass of the firmware loop takes.
//
//   loopbench [--passes N] [--type NAME] [--config PATH] [--traffic] [--trace]
//             [--router ADDR] [--panel ADDR] [--port N]
//
// Initialises a panel (no host attached, so nothing is sent to a host),
// runs N loop passes (default 10000) with the quarter-second flag raised
// every 25th pass as the firmware thread would (the protocol trace's marker
// check comes with it), and prints the median and the worst pass in
// microseconds.
//
// --config: the panel loads a copy of that configuration file (in its own
// temporary directory), so it is online and every pass redraws 25 of its
// keys (legends, colours or lamps, all unchanged after the first round).
//
// --traffic: before every pass one sequenced datagram with a tally
// (".UVA013,006\r", ids counting up) arrives from a router socket on
// ADDR:2001 (default 127.0.83.1) at the panel's socket (default
// 127.0.83.2:47811), so every pass receives a datagram and sends the
// acknowledgement back; the router socket drains them. --trace: the panel's
// directory (a temporary one) holds the marker file "TRACE" from the start,
// so every datagram is traced to its trace.txt. Only the loop pass is timed.

#include "link/trace.h"
#include "ms_clock.h"
#include "panels_main.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

bool parseAddr(const char *text, uint8_t out[4])
{
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1)
        return false;
    memcpy(out, &a.s_addr, 4);
    return true;
}

sockaddr_in socketAddr(const uint8_t ip[4], int port)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    memcpy(&a.sin_addr.s_addr, ip, 4);
    a.sin_port = htons(uint16_t(port));
    return a;
}

// The router's side of --traffic: one socket on ADDR:2001, where the panel
// sends its answers.
struct Router {
    int fd = -1;
    sockaddr_in panel{};
    uint8_t id = 0;

    bool open(const uint8_t routerIp[4], const uint8_t panelIp[4], int panelPort)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        const sockaddr_in self = socketAddr(routerIp, 2001);
        if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&self), sizeof self) != 0) {
            perror("loopbench: router socket");
            return false;
        }
        panel = socketAddr(panelIp, panelPort);
        return true;
    }

    // A tally with the next sequence id (0 first, then 1 to 255 round).
    void send()
    {
        static const char text[] = ".UVA013,006\r";
        const int n = int(sizeof text - 1);
        uint8_t d[5 + 3 + sizeof text] = {1, id, 0, 0, 0, 'Q', 0, uint8_t(n)};
        memcpy(d + 8, text, size_t(n));
        sendto(fd, d, size_t(8 + n), 0, reinterpret_cast<const sockaddr *>(&panel), sizeof panel);
        id = id == 255 ? 1 : uint8_t(id + 1);
    }

    void drain()
    {
        uint8_t buf[2048];
        while (recv(fd, buf, sizeof buf, 0) > 0) {
        }
    }
};

// The configuration goes into the panel's temporary directory, so nothing
// the run writes lands beside the user's file.
bool copyFile(const char *from, const std::string &to)
{
    FILE *in = fopen(from, "rb");
    if (!in)
        return false;
    FILE *out = fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char buf[4096];
    for (size_t n; ok && (n = fread(buf, 1, sizeof buf, in)) > 0;)
        ok = fwrite(buf, 1, n, out) == n;
    fclose(in);
    if (out && fclose(out) != 0)
        ok = false;
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    int passes = 10000;
    const char *type = "SK2000A";
    const char *configSource = nullptr;
    bool traffic = false, trace = false;
    const char *routerText = "127.0.83.1";
    const char *panelText = "127.0.83.2";
    int port = 47811;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--type") && i + 1 < argc)
            type = argv[++i];
        else if (!strcmp(argv[i], "--config") && i + 1 < argc)
            configSource = argv[++i];
        else if (!strcmp(argv[i], "--traffic"))
            traffic = true;
        else if (!strcmp(argv[i], "--trace"))
            trace = true;
        else if (!strcmp(argv[i], "--router") && i + 1 < argc)
            routerText = argv[++i];
        else if (!strcmp(argv[i], "--panel") && i + 1 < argc)
            panelText = argv[++i];
        else if (!strcmp(argv[i], "--port") && i + 1 < argc)
            port = atoi(argv[++i]);
        else {
            fprintf(stderr, "usage: loopbench [--passes N] [--type NAME] [--config PATH] [--traffic] [--trace]\n"
                            "                 [--router ADDR] [--panel ADDR] [--port N]\n");
            return 2;
        }
    }
    if (passes <= 0)
        passes = 1;
    uint8_t routerIp[4], panelIp[4];
    if (!parseAddr(routerText, routerIp) || !parseAddr(panelText, panelIp) || port <= 0 || port > 65535) {
        fprintf(stderr, "loopbench: invalid address or port\n");
        return 2;
    }

    // The panel's directory: where the marker and the trace file go.
    char dir[] = "/tmp/loopbench.XXXXXX";
    if (!mkdtemp(dir)) {
        perror("loopbench: mkdtemp");
        return 2;
    }
    const std::string config = std::string(dir) + "/cfg" + type;
    const std::string marker = std::string(dir) + "/TRACE";
    const std::string traceFile = std::string(dir) + "/trace.txt";
    if (trace) {
        FILE *f = fopen(marker.c_str(), "w");
        if (f)
            fclose(f);
    }

    StartParams p;
    memset(&p, 0, sizeof p);
    strncpy(p.product_name, type, SP_NAME_LEN);
    p.version_major = 1;
    if (traffic) {
        memcpy(p.ip_address, panelIp, 4);
        p.udp_port = port;
    }
    if (configSource && !copyFile(configSource, config)) {
        fprintf(stderr, "loopbench: cannot copy %s\n", configSource);
        return 2;
    }
    strncpy(p.config_path, config.c_str(), SP_PATH_LEN - 1);
    panels_loop_init(p);

    Router router;
    if (traffic && !router.open(routerIp, panelIp, port))
        return 2;

    using clock = std::chrono::steady_clock;
    std::vector<double> us(static_cast<size_t>(passes));
    for (int i = 0; i < passes; ++i) {
        if (traffic) {
            router.drain();
            router.send();
        }
        const auto t0 = clock::now();
        if (i % 25 == 0) {
            panels_set_quarter_flag(1);
            trace_quarter_tick();
        }
        // As the firmware thread runs a tick: the clock read once for it.
        msc_tick_begin(std::chrono::duration_cast<std::chrono::nanoseconds>(t0.time_since_epoch()).count());
        panels_loop();
        msc_tick_end();
        const auto t1 = clock::now();
        us[size_t(i)] = std::chrono::duration<double, std::micro>(t1 - t0).count();
    }
    std::vector<double> sorted = us;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double v : us)
        sum += v;
    printf("loop pass of %s %s panel%s%s over %d passes: median %.3f us, mean %.3f us, worst %.3f us\n",
           traffic ? "a busy" : "an idle", type, configSource ? " (online)" : "",
           trace ? " with the trace on" : " with the trace off", passes, sorted[sorted.size() / 2],
           sum / passes, sorted.back());

    trace_shutdown();
    panels_close_sockets();
    if (trace) {
        FILE *f = fopen(traceFile.c_str(), "r");
        long lines = 0;
        if (f) {
            for (int c; (c = fgetc(f)) != EOF;)
                lines += c == '\n';
            fclose(f);
        }
        printf("trace.txt: %ld lines\n", lines);
    }
    unlink(traceFile.c_str());
    unlink((traceFile + ".1").c_str());
    unlink(marker.c_str());
    unlink(config.c_str());
    rmdir(dir);
    return 0;
}

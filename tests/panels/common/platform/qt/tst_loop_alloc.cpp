// The 10 ms loop pass makes no heap allocation, also while datagrams come
// and go: the panel core over the Qt platform layer on a real loopback
// socket, a router played by a plain socket of the test, and every
// operator new and malloc of the process counted while a pass runs.

#include "link/comms.h"
#include "link/trace.h"
#include "panels_main.h"
#include "plat_firmware.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESS_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESS_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef TESS_COUNT_ALLOCATIONS
#define TESS_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> s_counting{false};
std::atomic<long> s_allocations{0};

inline void noteAllocation()
{
    if (s_counting.load(std::memory_order_relaxed))
        s_allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if TESS_COUNT_ALLOCATIONS
// The C library's own allocator, under the names it exports for programs
// that put their own malloc in front of it.
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

extern "C" void *malloc(size_t n)
{
    noteAllocation();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m)
{
    noteAllocation();
    return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n)
{
    noteAllocation();
    return __libc_realloc(p, n);
}
extern "C" void free(void *p)
{
    __libc_free(p);
}

void *operator new(size_t n)
{
    noteAllocation();
    if (void *p = __libc_malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](size_t n)
{
    return operator new(n);
}
void operator delete(void *p) noexcept
{
    __libc_free(p);
}
void operator delete[](void *p) noexcept
{
    __libc_free(p);
}
void operator delete(void *p, size_t) noexcept
{
    __libc_free(p);
}
void operator delete[](void *p, size_t) noexcept
{
    __libc_free(p);
}
#endif

namespace {

// The host's side of the platform layer, keeping nothing: the host's own
// work on a report is not the loop's.
class QuietHost : public PlatFirmware
{
public:
    QuietHost() { plat_set_firmware(this); }
    ~QuietHost() override { plat_set_firmware(nullptr); }
    void stateMsg(StateMsg msg) override { ++states[int(msg) & 31]; }
    void firmMsg(const QString &) override { ++texts; }
    void buttondriverMsg(const std::vector<QByteArray> &) override { ++records; }
    void requestReload() override {}
    int states[32] = {};
    int texts = 0;
    int records = 0;
};

// The router: a plain socket speaking the sequenced protocol with fixed
// buffers.
class Router
{
public:
    Router(const char *ip, const char *panelIp, int panelPort)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(2001);
        inet_pton(AF_INET, ip, &a.sin_addr);
        m_bound = bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        m_panel.sin_family = AF_INET;
        m_panel.sin_port = htons(uint16_t(panelPort));
        inet_pton(AF_INET, panelIp, &m_panel.sin_addr);
    }
    ~Router() { close(m_fd); }
    bool bound() const { return m_bound; }

    // A router-link message in a sequenced datagram, acknowledging what the
    // panel sent last.
    void send(char cmd, const char *data = "")
    {
        uint8_t d[64];
        const size_t n = strlen(data);
        d[0] = 1;
        d[1] = m_nextId;
        d[2] = m_lastFromPanel;
        d[3] = 0;
        d[4] = 0;
        d[5] = uint8_t(cmd);
        d[6] = 0;
        d[7] = uint8_t(n);
        memcpy(d + 8, data, n);
        sendto(m_fd, d, 8 + n, 0, reinterpret_cast<const sockaddr *>(&m_panel), sizeof m_panel);
        m_nextId = m_nextId == 255 ? 1 : uint8_t(m_nextId + 1);
    }
    // Reads what the panel sent; returns the number of datagrams.
    int drain()
    {
        uint8_t d[600];
        int count = 0;
        for (;;) {
            const ssize_t n = recv(m_fd, d, sizeof d, 0);
            if (n < 0)
                return count;
            ++count;
            if (n > 5 && (d[0] & 1))
                m_lastFromPanel = d[1];
        }
    }

private:
    int m_fd = -1;
    bool m_bound = false;
    sockaddr_in m_panel = {};
    uint8_t m_nextId = 0;
    uint8_t m_lastFromPanel = 0;
};

} // namespace

class TestLoopAlloc : public QObject
{
    Q_OBJECT

    // With the protocol trace on (the marker in the panel's directory), every
    // datagram is also copied, decoded and written to trace.txt.
    void traffic(bool trace)
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (trace) {
            QFile marker(dir.filePath(QStringLiteral("TRACE")));
            QVERIFY(marker.open(QIODevice::WriteOnly));
        }
        QuietHost host;
        Router router("127.0.0.173", "127.0.0.174", 42400);
        QVERIFY(router.bound());
        StartParams p;
        memset(&p, 0, sizeof p);
        memcpy(p.product_name, "SK2000A", 7);
        const uint8_t ip[4] = {127, 0, 0, 174};
        memcpy(p.ip_address, ip, 4);
        p.udp_port = 42400;
        p.version_major = 1;
        const QByteArray cfg = QFile::encodeName(dir.filePath(QStringLiteral("cfgSK2000A")));
        memcpy(p.config_path, cfg.constData(), size_t(cfg.size()));
        QCOMPARE(panels_loop_init(p), 0);
        QCOMPARE(host.states[4], 0); // bound
        QCOMPARE(trace_is_on(), int(trace));

        // One round of traffic: polls, a query, interrogations of the
        // crosspoint and lock state, and the acknowledgements of it all.
        auto round = [&router](long *allocations) {
            const char *const texts[] = {".IV013\r", ".BI013\r", ".#1"};
            int step = 0;
            for (int pass = 0; pass < 40; ++pass) {
                switch (pass % 8) {
                case 0: router.send('O'); break;
                case 2: router.send('P'); break;
                case 4: router.send('Q', texts[step++ % 3]); break;
                default: break;
                }
                QThread::usleep(300);
                s_allocations.store(0);
                s_counting.store(true);
                if (pass % 25 == 0)
                    trace_quarter_tick();
                panels_loop();
                s_counting.store(false);
                *allocations += s_allocations.load();
                router.drain();
            }
        };
        long warmup = 0;
        round(&warmup); // first uses: the standard output buffer and the like
        QCOMPARE(comms_state(), int(COMMS_ONLINE));

        const int received = host.states[13], sent = host.states[11];
        long counted = 0;
        for (int i = 0; i < 5; ++i)
            round(&counted);
        // Datagrams went both ways while counting.
        QVERIFY2(host.states[13] - received >= 60, qPrintable(QString::number(host.states[13] - received)));
        QVERIFY2(host.states[11] - sent >= 60, qPrintable(QString::number(host.states[11] - sent)));
        QCOMPARE(host.states[12], 0); // no send failed
        trace_shutdown();
        panels_close_sockets();
        if (trace) {
            QFile f(dir.filePath(QStringLiteral("trace.txt")));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll().count("\n") > 120);
        }
#if TESS_COUNT_ALLOCATIONS
        QCOMPARE(counted, 0L);
#else
        QSKIP("allocations are counted only without a sanitizer's allocator");
#endif
    }

private slots:
    void loopPassesWithTrafficDoNotAllocate() { traffic(false); }
    void loopPassesTracingTrafficDoNotAllocate() { traffic(true); }
};

QTEST_GUILESS_MAIN(TestLoopAlloc)
#include "tst_loop_alloc.moc"

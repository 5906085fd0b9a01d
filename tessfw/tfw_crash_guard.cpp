#include "tfw_crash_guard.h"

#include <pthread.h>

#include <execinfo.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

typedef void (*Handler)(int, siginfo_t *, void *);

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
enum { kSignalCount = int(sizeof kSignals / sizeof kSignals[0]) };

// Marks a handler as a firmware guard in its sa_mask, so that copies of the
// library recognise each other's handlers. Blocking this signal while a
// crash is handled has no other effect.
const int kMarkerSignal = SIGRTMAX;

const unsigned long long kRecordMagic = 0x54657373476172ULL;   // "TessGar"
const unsigned long long kRegistryMagic = 0x5465737352656aULL; // "TessRej"

// Lives at the bottom of the guarded thread's alternate signal stack, where
// a handler from any library copy finds it. Written by its own thread only
// (the handler runs on that thread too).
struct GuardRecord {
    unsigned long long magic;
    Handler owner;                    // the handler of this thread's copy
    sigjmp_buf *volatile target;      // innermost guarded call, or null
    volatile sig_atomic_t signal;     // first fault
    volatile sig_atomic_t lastSignal; // the fault that ended the last call
    int reportErrno;
    stack_t previousStack;
    char dumpPath[1024];
};

const size_t kAltStackSize = 256 * 1024; // roomy enough for sanitizer runtimes

// A handler replaced by the first firmware copy, kept unchanged once made
// (a handler may read it at any moment); replaced ones stay until the
// registry goes.
struct BaseAction {
    struct sigaction sa;
    BaseAction *retired;
};

struct LiveCopy {
    Handler handler;
    int threads;
};

// Shared by the copies that have guarded threads; heap memory, so that it
// outlives whichever copy made it. Changed only under RegistryLock.
struct Registry {
    unsigned long long magic;
    std::atomic<BaseAction *> base[kSignalCount]; // null: the default action
    BaseAction *retired;
    LiveCopy *live;
    int liveCount;
    int liveCapacity;
};

void handler(int sig, siginfo_t *info, void *uc);

// This copy's view: the registry while this copy has guarded threads.
std::atomic<Registry *> s_registry{nullptr};

// The thread sanitizer does not know the C library's stream locks; it is
// told where the lock below is taken and given back.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TFW_TELL_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TFW_TELL_TSAN 1
#endif
#ifdef TFW_TELL_TSAN
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

// Every copy has its own globals, but the C library exists once in the
// process: the lock of its standard output stream is the one lock all
// copies share. It is held only for a few system calls at a time.
struct RegistryLock {
    RegistryLock()
    {
        flockfile(stdout);
#ifdef TFW_TELL_TSAN
        __tsan_acquire(stdout);
#endif
    }
    ~RegistryLock()
    {
#ifdef TFW_TELL_TSAN
        __tsan_release(stdout);
#endif
        funlockfile(stdout);
    }
};

bool isFirmwareHandler(const struct sigaction &sa)
{
    return (sa.sa_flags & SA_SIGINFO) && sa.sa_sigaction
           && sigismember(&sa.sa_mask, kMarkerSignal) == 1;
}

void firmwareAction(struct sigaction *sa, Handler h)
{
    memset(sa, 0, sizeof *sa);
    sa->sa_sigaction = h;
    sa->sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa->sa_mask);
    sigaddset(&sa->sa_mask, kMarkerSignal);
}

GuardRecord *currentRecord()
{
    stack_t ss;
    if (sigaltstack(nullptr, &ss) != 0 || (ss.ss_flags & SS_DISABLE) || !ss.ss_sp)
        return nullptr;
    if (ss.ss_size < sizeof(GuardRecord))
        return nullptr;
    GuardRecord *rec = static_cast<GuardRecord *>(ss.ss_sp);
    return rec->magic == kRecordMagic ? rec : nullptr;
}

// --- async-signal-safe report writing -------------------------------------

void putStr(int fd, const char *s)
{
    size_t n = strlen(s);
    while (n > 0) {
        ssize_t w = write(fd, s, n);
        if (w <= 0)
            return;
        s += w;
        n -= size_t(w);
    }
}

void putNum(int fd, unsigned long long v, int base)
{
    char buf[32];
    int i = int(sizeof buf) - 1;
    buf[i] = '\0';
    do {
        buf[--i] = "0123456789abcdef"[v % unsigned(base)];
        v /= unsigned(base);
    } while (v && i > 0);
    putStr(fd, buf + i);
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

void writeReport(GuardRecord *rec, int sig, siginfo_t *info)
{
    int fd = open(rec->dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        rec->reportErrno = errno ? errno : EIO;
        return;
    }
    rec->reportErrno = 0;
    putStr(fd, "Tessaline firmware crash report\nsignal: ");
    putNum(fd, unsigned(sig), 10);
    putStr(fd, " (");
    putStr(fd, signalName(sig));
    putStr(fd, ")\ncode: ");
    putNum(fd, info ? unsigned(info->si_code) : 0u, 10);
    putStr(fd, "\naddress: 0x");
    putNum(fd, info ? (unsigned long long)(uintptr_t)info->si_addr : 0ull, 16);
    putStr(fd, "\nprocess: ");
    putNum(fd, unsigned(getpid()), 10);
    putStr(fd, "\nthread: ");
    putNum(fd, (unsigned long long)syscall(SYS_gettid), 10);
    putStr(fd, "\nbacktrace:\n");
    void *frames[64];
    int n = backtrace(frames, 64);
    backtrace_symbols_fd(frames, n, fd);
    close(fd);
}

// Hands a fault that no firmware guard takes to whoever handled it before
// the firmware.
void chain(int sig, siginfo_t *info, void *uc)
{
    Registry *reg = s_registry.load(std::memory_order_acquire);
    for (int i = 0; reg && i < kSignalCount; ++i) {
        if (kSignals[i] != sig)
            continue;
        const BaseAction *b = reg->base[i].load(std::memory_order_acquire);
        if (!b)
            break;
        if (b->sa.sa_flags & SA_SIGINFO) {
            if (b->sa.sa_sigaction) {
                b->sa.sa_sigaction(sig, info, uc);
                return;
            }
        } else if (b->sa.sa_handler != SIG_DFL && b->sa.sa_handler != SIG_IGN) {
            b->sa.sa_handler(sig);
            return;
        }
        break;
    }
    // Default action: reinstate it and deliver the signal again once this
    // handler returns (it is blocked until then).
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

void handler(int sig, siginfo_t *info, void *uc)
{
    if (sig == 0) {
        // Not a signal: another copy asking for the registry.
        if (uc)
            *static_cast<Registry **>(uc) = s_registry.load(std::memory_order_acquire);
        return;
    }
    const int savedErrno = errno;
    GuardRecord *rec = currentRecord();
    if (rec && rec->owner != handler) {
        // A thread of another copy: that copy is loaded while its thread
        // runs, and it knows its own thread best.
        rec->owner(sig, info, uc);
        errno = savedErrno;
        return;
    }
    if (!rec || !rec->target) {
        chain(sig, info, uc);
        errno = savedErrno;
        return;
    }
    if (rec->signal == 0) {
        rec->signal = sig;
        if (rec->dumpPath[0])
            writeReport(rec, sig, info);
    }
    if (sig == SIGABRT) {
        // Let abort() finish what it started.
        chain(sig, info, uc);
        errno = savedErrno;
        return;
    }
    rec->lastSignal = sig;
    siglongjmp(*rec->target, 1);
}

// ---- the registry (all under RegistryLock) --------------------------------

void setBase(Registry *reg, int i, const struct sigaction &sa)
{
    BaseAction *b = new (std::nothrow) BaseAction;
    if (!b)
        return;
    b->sa = sa;
    b->retired = reg->retired;
    reg->retired = b;
    reg->base[i].store(b, std::memory_order_release);
}

// The registry of the copies already guarding threads, found through one of
// their handlers (each is alive: a copy gives its handlers away before its
// last guarded thread ends).
Registry *findRegistry()
{
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction cur;
        if (sigaction(kSignals[i], nullptr, &cur) != 0 || !isFirmwareHandler(cur)
            || cur.sa_sigaction == handler)
            continue;
        Registry *reg = nullptr;
        cur.sa_sigaction(0, nullptr, &reg);
        if (reg && reg->magic == kRegistryMagic)
            return reg;
    }
    return nullptr;
}

Registry *newRegistry()
{
    Registry *reg = new (std::nothrow) Registry;
    if (!reg)
        return nullptr;
    reg->magic = kRegistryMagic;
    for (auto &b : reg->base)
        b.store(nullptr, std::memory_order_relaxed);
    reg->retired = nullptr;
    reg->live = nullptr;
    reg->liveCount = 0;
    reg->liveCapacity = 0;
    return reg;
}

void freeRegistry(Registry *reg)
{
    while (reg->retired) {
        BaseAction *b = reg->retired;
        reg->retired = b->retired;
        delete b;
    }
    free(reg->live);
    reg->magic = 0;
    delete reg;
}

LiveCopy *ownEntry(Registry *reg)
{
    for (int i = 0; i < reg->liveCount; ++i)
        if (reg->live[i].handler == handler)
            return &reg->live[i];
    return nullptr;
}

// Every signal that no firmware handler serves gets this copy's; what was
// there becomes the handler faults elsewhere go to.
void installMissing(Registry *reg)
{
    struct sigaction mine;
    firmwareAction(&mine, handler);
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction cur;
        if (sigaction(kSignals[i], nullptr, &cur) != 0 || isFirmwareHandler(cur))
            continue;
        setBase(reg, i, cur);
        sigaction(kSignals[i], &mine, nullptr);
    }
}

bool join()
{
    RegistryLock lock;
    Registry *reg = s_registry.load(std::memory_order_relaxed);
    if (!reg)
        reg = findRegistry();
    if (!reg)
        reg = newRegistry();
    if (!reg)
        return false;
    LiveCopy *own = ownEntry(reg);
    if (!own) {
        if (reg->liveCount == reg->liveCapacity) {
            const int cap = reg->liveCapacity ? reg->liveCapacity * 2 : 8;
            void *grown = realloc(reg->live, size_t(cap) * sizeof(LiveCopy));
            if (!grown) {
                if (reg->liveCount == 0)
                    freeRegistry(reg);
                return false;
            }
            reg->live = static_cast<LiveCopy *>(grown);
            reg->liveCapacity = cap;
        }
        own = &reg->live[reg->liveCount++];
        own->handler = handler;
        own->threads = 0;
    }
    ++own->threads;
    s_registry.store(reg, std::memory_order_release);
    installMissing(reg);
    return true;
}

void leave()
{
    RegistryLock lock;
    Registry *reg = s_registry.load(std::memory_order_relaxed);
    if (!reg)
        return;
    LiveCopy *own = ownEntry(reg);
    if (own && --own->threads > 0)
        return;
    if (own) {
        *own = reg->live[reg->liveCount - 1];
        --reg->liveCount;
    }
    // No signal may stay with this copy: it can be unloaded from now on.
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction cur;
        if (sigaction(kSignals[i], nullptr, &cur) != 0 || !(cur.sa_flags & SA_SIGINFO)
            || cur.sa_sigaction != handler)
            continue;
        struct sigaction next;
        if (reg->liveCount > 0) {
            firmwareAction(&next, reg->live[0].handler);
        } else if (const BaseAction *b = reg->base[i].load(std::memory_order_relaxed)) {
            next = b->sa;
        } else {
            memset(&next, 0, sizeof next);
            next.sa_handler = SIG_DFL;
            sigemptyset(&next.sa_mask);
        }
        sigaction(kSignals[i], &next, nullptr);
    }
    s_registry.store(nullptr, std::memory_order_release);
    if (reg->liveCount == 0)
        freeRegistry(reg);
}

} // namespace

bool tfw_guard_enter(const char *dumpPath)
{
    if (currentRecord())
        return false; // already guarded
    // The record sits at the low end of the alternate stack; the handler's
    // frames grow down from the high end.
    void *block = nullptr;
    if (posix_memalign(&block, 64, kAltStackSize) != 0)
        return false;
    memset(block, 0, sizeof(GuardRecord));
    GuardRecord *rec = new (block) GuardRecord;
    rec->owner = handler;
    rec->target = nullptr;
    rec->signal = 0;
    rec->lastSignal = 0;
    rec->reportErrno = 0;
    rec->dumpPath[0] = '\0';
    if (dumpPath) {
        strncpy(rec->dumpPath, dumpPath, sizeof rec->dumpPath - 1);
        rec->dumpPath[sizeof rec->dumpPath - 1] = '\0';
    }

    // backtrace() loads the unwinder on first use, which is not safe inside
    // a signal handler; do it now.
    void *warm[2];
    backtrace(warm, 2);

    stack_t ss;
    ss.ss_sp = block;
    ss.ss_size = kAltStackSize;
    ss.ss_flags = 0;
    if (sigaltstack(&ss, &rec->previousStack) != 0) {
        free(block);
        return false;
    }
    rec->magic = kRecordMagic;
    if (!join()) {
        rec->magic = 0;
        sigaltstack(&rec->previousStack, nullptr);
        free(block);
        return false;
    }
    return true;
}

TFW_CrashResult tfw_guard_leave()
{
    TFW_CrashResult result = {0, 0};
    GuardRecord *rec = currentRecord();
    if (!rec || rec->owner != handler)
        return result;
    result.signal = rec->signal;
    result.reportErrno = rec->reportErrno;
    leave();
    rec->magic = 0;
    const stack_t previous = rec->previousStack;
    sigaltstack(&previous, nullptr);
    free(rec);
    return result;
}

int tfw_guarded_call(void (*fn)(void *), void *arg)
{
    GuardRecord *rec = currentRecord();
    if (!rec) {
        fn(arg);
        return 0;
    }
    sigjmp_buf env;
    sigjmp_buf *const outer = rec->target;
    if (sigsetjmp(env, 1) == 0) {
        rec->target = &env;
        fn(arg);
        rec->target = outer;
        return 0;
    }
    rec->target = outer;
    return rec->lastSignal ? int(rec->lastSignal) : -1;
}

bool tfw_guard_handle(TFW_GuardHandle *h)
{
    GuardRecord *rec = currentRecord();
    h->record = rec;
    sigemptyset(&h->mask);
    if (!rec)
        return false;
    pthread_sigmask(SIG_BLOCK, nullptr, &h->mask);
    return true;
}

int tfw_guarded_call_with(const TFW_GuardHandle *h, void (*fn)(void *), void *arg)
{
    GuardRecord *rec = static_cast<GuardRecord *>(h->record);
    if (!rec || rec->magic != kRecordMagic)
        return tfw_guarded_call(fn, arg);
    sigjmp_buf env;
    sigjmp_buf *const outer = rec->target;
    if (sigsetjmp(env, 0) == 0) {
        rec->target = &env;
        fn(arg);
        rec->target = outer;
        return 0;
    }
    rec->target = outer;
    // The handler left by a jump, with the fault's signal still blocked.
    pthread_sigmask(SIG_SETMASK, &h->mask, nullptr);
    return rec->lastSignal ? int(rec->lastSignal) : -1;
}

void tfw_crash_guard_refresh()
{
    RegistryLock lock;
    if (Registry *reg = s_registry.load(std::memory_order_relaxed))
        installMissing(reg);
}

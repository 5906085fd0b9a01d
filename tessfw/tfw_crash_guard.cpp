#include "tfw_crash_guard.h"

#include <execinfo.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
const int kSignalCount = int(sizeof kSignals / sizeof kSignals[0]);

// Marks a handler as a firmware guard in its sa_mask, so that copies of the
// library recognise each other's handlers. Blocking this signal while a
// crash is handled has no other effect.
const int kMarkerSignal = SIGRTMAX;

const unsigned long long kRecordMagic = 0x54657373476172ULL; // "TessGar"

// Lives at the bottom of the guarded thread's alternate signal stack, where
// a handler from any library copy finds it.
struct GuardRecord {
    unsigned long long magic;
    sigjmp_buf env;
    int signal;
    int reportErrno;
    char dumpPath[1024];
};

const size_t kAltStackSize = 256 * 1024; // roomy enough for sanitizer runtimes

// The handlers this copy replaced, for faults on threads that are not
// guarded. Only non-firmware handlers are kept here.
struct sigaction s_base[65];
volatile sig_atomic_t s_haveBase[65];

void handler(int sig, siginfo_t *info, void *uc);

bool isFirmwareHandler(const struct sigaction &sa)
{
    return (sa.sa_flags & SA_SIGINFO) && sigismember(&sa.sa_mask, kMarkerSignal) == 1;
}

bool isOwnHandler(const struct sigaction &sa)
{
    return (sa.sa_flags & SA_SIGINFO) && sa.sa_sigaction == handler;
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

// Hands a fault on an unguarded thread to whoever handled it before us.
void chain(int sig, siginfo_t *info, void *uc)
{
    if (sig > 0 && sig < 65 && s_haveBase[sig]) {
        const struct sigaction &b = s_base[sig];
        if (b.sa_flags & SA_SIGINFO) {
            if (b.sa_sigaction) {
                b.sa_sigaction(sig, info, uc);
                return;
            }
        } else if (b.sa_handler != SIG_DFL && b.sa_handler != SIG_IGN) {
            b.sa_handler(sig);
            return;
        }
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
    const int savedErrno = errno;
    GuardRecord *rec = currentRecord();
    if (!rec) {
        chain(sig, info, uc);
        errno = savedErrno;
        return;
    }
    if (rec->signal == 0 && rec->dumpPath[0])
        writeReport(rec, sig, info);
    if (sig == SIGABRT) {
        // Let abort() finish what it started.
        chain(sig, info, uc);
        errno = savedErrno;
        return;
    }
    rec->signal = sig;
    siglongjmp(rec->env, 1);
}

void installHandlers()
{
    struct sigaction cur;
    if (sigaction(SIGSEGV, nullptr, &cur) == 0 && isFirmwareHandler(cur))
        return; // a firmware copy serves all guarded threads already

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, kMarkerSignal);
    for (int i = 0; i < kSignalCount; ++i) {
        const int sig = kSignals[i];
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) != 0 || isFirmwareHandler(old))
            continue;
        s_base[sig] = old;
        s_haveBase[sig] = 1;
        sigaction(sig, &sa, nullptr);
    }
}

// Takes this copy's handler out wherever it is still installed, so that no
// signal can enter this copy once it is unloaded.
void removeHandlers()
{
    for (int i = 0; i < kSignalCount; ++i) {
        const int sig = kSignals[i];
        struct sigaction cur;
        if (sigaction(sig, nullptr, &cur) != 0 || !isOwnHandler(cur))
            continue;
        if (s_haveBase[sig]) {
            sigaction(sig, &s_base[sig], nullptr);
        } else {
            struct sigaction dfl;
            memset(&dfl, 0, sizeof dfl);
            dfl.sa_handler = SIG_DFL;
            sigaction(sig, &dfl, nullptr);
        }
    }
}

} // namespace

TFW_CrashResult tfw_run_guarded(const char *dumpPath, void (*fn)(void *), void *arg)
{
    TFW_CrashResult result = {0, 0};

    // The record sits at the low end of the alternate stack; the handler's
    // frames grow down from the high end.
    void *block = nullptr;
    if (posix_memalign(&block, 64, kAltStackSize) != 0) {
        fn(arg);
        return result;
    }
    memset(block, 0, sizeof(GuardRecord));
    GuardRecord *rec = new (block) GuardRecord;
    rec->magic = kRecordMagic;
    rec->signal = 0;
    rec->reportErrno = 0;
    rec->dumpPath[0] = '\0';
    if (dumpPath) {
        strncpy(rec->dumpPath, dumpPath, sizeof rec->dumpPath - 1);
        rec->dumpPath[sizeof rec->dumpPath - 1] = '\0';
    }

    stack_t ss, oldSs;
    ss.ss_sp = block;
    ss.ss_size = kAltStackSize;
    ss.ss_flags = 0;
    const bool haveAltStack = sigaltstack(&ss, &oldSs) == 0;

    // backtrace() loads the unwinder on first use, which is not safe inside
    // a signal handler; do it now.
    void *warm[2];
    backtrace(warm, 2);

    if (haveAltStack) {
        installHandlers();
        if (sigsetjmp(rec->env, 1) == 0)
            fn(arg);
        result.signal = rec->signal;
        result.reportErrno = rec->reportErrno;
        removeHandlers();
        rec->magic = 0;
        sigaltstack(&oldSs, nullptr);
    } else {
        fn(arg);
    }
    free(block);
    return result;
}

void tfw_crash_guard_refresh()
{
    installHandlers();
}

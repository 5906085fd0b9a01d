#include "kst_crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Everything the handler needs is set up before any fault: the path, and
// the alternate stack (a static block, so installation allocates nothing
// that a leak checker would see as lost).
char s_dumpPath[4096];
alignas(16) char s_altStack[64 * 1024];
volatile sig_atomic_t s_inHandler = 0;

void putStr(int fd, const char *s)
{
    size_t n = strlen(s);
    while (n > 0) {
        const ssize_t w = write(fd, s, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        s += w;
        n -= size_t(w);
    }
}

void putNum(int fd, unsigned long long v, unsigned base)
{
    char buf[32];
    int i = int(sizeof buf) - 1;
    buf[i] = '\0';
    do {
        buf[--i] = "0123456789abcdef"[v % base];
        v /= base;
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

// Copies /proc/self/maps into fd with plain reads and writes.
void copyMaps(int fd)
{
    const int in = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        putStr(fd, "(not readable)\n");
        return;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = write(fd, buf + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                close(in);
                return;
            }
            done += w;
        }
    }
    close(in);
}

void writeReport(int sig, const siginfo_t *info)
{
    const int fd = open(s_dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = errno;
        putStr(STDOUT_FILENO, "CreateFile failed. Error: ");
        putNum(STDOUT_FILENO, unsigned(err), 10);
        putStr(STDOUT_FILENO, " \n");
        return;
    }
    putStr(fd, "Keystead crash report\nsignal: ");
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
    putStr(fd, "\nversion: 1.1.1.7\nbacktrace:\n");
    void *frames[64];
    const int n = backtrace(frames, 64);
    backtrace_symbols_fd(frames, n, fd);
    putStr(fd, "maps:\n");
    copyMaps(fd);
    const bool ok = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    if (ok) {
        putStr(STDERR_FILENO, "Minidump created.\n");
    } else {
        putStr(STDERR_FILENO, "MiniDumpWriteDump failed. Error: ");
        putNum(STDERR_FILENO, unsigned(errno), 10);
        putStr(STDERR_FILENO, "\n");
    }
}

void handler(int sig, siginfo_t *info, void *)
{
    // A fault inside the report itself (or a second thread faulting at the
    // same time) must not write over the first report: it just ends.
    if (!s_inHandler) {
        s_inHandler = 1;
        writeReport(sig, info);
    }
    // Deliver the signal again with the default action: a fault repeats
    // when this handler returns, an abort or a raised signal is pending
    // until then.
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

} // namespace

bool KST_installCrashHandler(const char *dumpPath)
{
    const size_t n = dumpPath ? strlen(dumpPath) : 0;
    if (n == 0 || n >= sizeof s_dumpPath)
        return false;
    memcpy(s_dumpPath, dumpPath, n + 1);

    // The GUI thread's alternate stack: a stack overflow leaves no room to
    // run the handler on the thread's own stack.
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = s_altStack;
    ss.ss_size = sizeof s_altStack;
    bool ok = sigaltstack(&ss, nullptr) == 0;

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals)
        ok = sigaction(sig, &sa, nullptr) == 0 && ok;
    // backtrace() loads its unwinder on first use, which allocates; do
    // that now rather than inside the handler.
    void *frame[1];
    backtrace(frame, 1);
    return ok;
}

const char *KST_crashDumpPath()
{
    return s_dumpPath;
}

#ifndef TFW_CRASH_GUARD_H
#define TFW_CRASH_GUARD_H

// Crash guard of a firmware thread. A processor fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL) on a guarded thread writes a text crash report to the
// thread's dump path and returns control to the guard, so the thread can end
// in order and the host learns that it finished. SIGABRT on a guarded thread
// writes the report and then lets the abort proceed: abort() may hold locks
// that would never be released if the thread went on. Faults on any other
// thread are passed to the handler that was installed before ours.
//
// Signal handlers are process-wide while every panel loads its own copy of
// this library. So the guard state of a thread travels with the thread (on
// its alternate signal stack), every copy's handler can serve every guarded
// thread, a copy installs its handler only where no firmware handler is in
// place, and it takes its handler out again before its thread ends.

struct TFW_CrashResult {
    int signal;       // 0 when the guarded function returned normally
    int reportErrno;  // errno of a failed report file creation, else 0
};

// Runs fn(arg) on the calling thread under the guard. The report goes to
// dumpPath (copied; may be null: no report is written).
TFW_CrashResult tfw_run_guarded(const char *dumpPath, void (*fn)(void *), void *arg);

// Puts this library's handler back in place when another one replaced it
// (for example after the copy that held it ended its thread). Cheap; the
// firmware thread calls it a few times a second.
void tfw_crash_guard_refresh();

#endif

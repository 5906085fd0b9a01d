#ifndef TFW_CRASH_GUARD_H
#define TFW_CRASH_GUARD_H

// Crash guard of a firmware thread. A processor fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL) inside a guarded call on a guarded thread writes a text
// crash report to the thread's dump path and abandons that call: the call
// returns the signal number, so the thread can release what it holds and
// end in order. SIGABRT on a guarded thread writes the report and then lets
// the abort proceed: abort() may hold locks that would never be released if
// the thread went on. Faults on any other thread, and outside guarded calls,
// go to the handler that was installed before the firmware's.
//
// Signal handlers are process-wide while every panel loads its own copy of
// this library, and copies come and go in any order. So:
// - the guard state of a thread travels with the thread (on its alternate
//   signal stack), and any copy's handler hands a fault on a guarded thread
//   to the handler of that thread's own copy;
// - the copies with guarded threads share one registry (which handler was
//   there before theirs, which copies are alive); a copy whose last guarded
//   thread ends hands each signal over to another live copy, or gives it
//   back to the handler it replaced when none is left;
// - each signal is checked on its own, and put back when something else
//   took it.

#include <signal.h>

struct TFW_CrashResult {
    int signal;       // the first fault while guarded; 0 when none
    int reportErrno;  // errno of a failed report file creation, else 0
};

// Guards the calling thread until tfw_guard_leave. The report goes to
// dumpPath (copied; null or empty: no report is written). Returns false when
// the thread could not be guarded (guarded calls then simply run).
bool tfw_guard_enter(const char *dumpPath);

// Ends the calling thread's guard and returns what it caught.
TFW_CrashResult tfw_guard_leave();

// Runs fn(arg). On a guarded thread a fault inside fn abandons it (its
// frames are not unwound) and the fault's signal number is returned; 0 when
// fn returned. Calls nest: a fault ends the innermost one.
int tfw_guarded_call(void (*fn)(void *), void *arg);

// A guarded thread's guard held by its owner for the calls it makes every
// tick: tfw_guarded_call_with() runs fn as tfw_guarded_call() does, without
// the two system calls each of those makes (finding the thread's guard, and
// saving the signal mask, which a fault instead restores to the one the
// handle holds).
struct TFW_GuardHandle {
    void *record;
    sigset_t mask;
};

// Fills h for the calling thread; false (h then runs calls unguarded
// through tfw_guarded_call) when the thread is not guarded. Valid until the
// thread's tfw_guard_leave, on that thread only.
bool tfw_guard_handle(TFW_GuardHandle *h);
int tfw_guarded_call_with(const TFW_GuardHandle *h, void (*fn)(void *), void *arg);

// Puts a firmware handler back on every signal that something else took
// over. Cheap; the firmware thread calls it a few times a second.
void tfw_crash_guard_refresh();

#endif

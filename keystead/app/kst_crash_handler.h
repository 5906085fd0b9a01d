#ifndef KST_CRASH_HANDLER_H
#define KST_CRASH_HANDLER_H

// The host's crash handler. A fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL
// or SIGABRT) that no firmware guard takes writes a text crash report to
// the dump file:
//
//   Keystead crash report
//   signal: 11 (SIGSEGV)
//   code: 1
//   address: 0x0
//   process: 1234
//   thread: 1234
//   version: 1.1.1.7
//   backtrace:
//   <one line per frame>
//   maps:
//   <the process's memory map, /proc/self/maps>
//
// then "Minidump created." on standard error, and the signal is delivered
// again with its default action, so the process ends as it would have (a
// core file where the system keeps them). When the file cannot be created
// the handler prints "CreateFile failed. Error: <errno> " to standard output
// and carries on in the same way.
//
// The handler runs on an alternate signal stack, so a stack overflow on the
// GUI thread is reported too, and it uses async-signal-safe calls only.
// Firmware copies install their own guards on top; a fault they do not take
// (on any thread but a guarded firmware call) is handed back to this one.

// Installs the handler for the five signals, writing to dumpPath (copied;
// at most 4095 bytes). False when a handler could not be installed.
bool KST_installCrashHandler(const char *dumpPath);

// The dump file the handler writes, empty before installation.
const char *KST_crashDumpPath();

#endif

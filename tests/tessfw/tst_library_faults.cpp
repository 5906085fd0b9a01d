// Faults on the firmware threads of loaded library copies: the copy lets go
// of everything it held, and the crash guard keeps every other running copy
// guarded. Apart from the other library tests: a fault abandons the frames
// that were running, and whatever they had allocated with them.

#include "library_panel.h"

#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

#include <cstring>
#include <signal.h>
#include <unistd.h>

namespace {

typedef void (*Handler)(int, siginfo_t *, void *);
typedef int (*ProbeFault)(int);

const int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Stands for whatever handled faults before the firmware (the host's own
// crash report, a sanitizer): a fault that reaches it was not caught by the
// firmware's guard.
void hostHandler(int sig, siginfo_t *, void *)
{
    static const char text[] = "fault reached the host's handler: the firmware thread was unguarded\n";
    if (write(2, text, sizeof text - 1) < 0) {
    }
    _exit(100 + sig);
}

Handler current(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return (sa.sa_flags & SA_SIGINFO) ? sa.sa_sigaction : nullptr;
}

// Installs hostHandler on the five signals for the life of the object and
// puts back what was there afterwards.
struct HostHandlers
{
    struct sigaction saved[5];
    HostHandlers()
    {
        for (int i = 0; i < 5; ++i)
            install(kGuardedSignals[i], &saved[i]);
    }
    ~HostHandlers()
    {
        for (int i = 0; i < 5; ++i)
            sigaction(kGuardedSignals[i], &saved[i], nullptr);
    }
    static void install(int sig, struct sigaction *old = nullptr)
    {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_sigaction = hostHandler;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, old);
    }
    // Some handler other than the host's: a firmware guard.
    static bool guarded(int sig) { return current(sig) && current(sig) != hostHandler; }
    static QString unguarded()
    {
        QStringList names;
        for (int sig : kGuardedSignals)
            if (!guarded(sig))
                names << QString::number(sig);
        return names.join(QLatin1Char(','));
    }
};

// A copy of the shipped default configuration, so that the panel goes
// online as soon as it has loaded it.
QString defaultConfig(const QString &dir)
{
    const QString path = dir + QStringLiteral("/cfgSK2000A");
    QFile::remove(path);
    QFile::copy(QStringLiteral(RESOURCE_DIR "/cfgSK2000A"), path);
    return path;
}

} // namespace

class TestLibraryFaults : public QObject
{
    Q_OBJECT

private slots:
    // A fault on a panel's firmware thread, in the loop pass or outside the
    // firmware's slots: the thread ends, the copy is unloaded, and the same
    // panel (same address, same port) loads, starts and goes online again.
    void panelStartsAgainAfterAFault()
    {
        HostHandlers host;
        QTemporaryDir dir;
        const QString config = defaultConfig(dir.path());
        for (const int inLoop : {1, 0}) {
            Panel p;
            QVERIFY2(p.host.load(QStringLiteral(TESSFW_PROBE_LIBRARY), dir.path()), qPrintable(p.host.errorString()));
            p.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42105, config);
            QVERIFY(p.waitFor(State::ST_ONLINE));
            QLibrary lib(p.host.libraryCopyPath());
            auto fault = reinterpret_cast<ProbeFault>(lib.resolve("tfw_probe_fault"));
            QVERIFY(fault);
            QCOMPARE(fault(inLoop), 0);
            QVERIFY(p.waitFor(State::ST_THREAD_FINISHED));
            QVERIFY(!p.states.contains(State::ST_STOPPING));
            lib.unload();
            p.host.unload();

            Panel again;
            QVERIFY(again.host.load(QStringLiteral(TESSFW_PROBE_LIBRARY), dir.path()));
            again.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42105, config);
            QVERIFY(again.waitFor(State::ST_ONLINE));
            QVERIFY2(!again.states.contains(State::ST_UDP_BIND_ERROR), inLoop ? "in loop" : "outside slots");
            QVERIFY(again.host.firmware()->stop());
            QVERIFY(again.waitFor(State::ST_THREAD_FINISHED));
        }
        QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/panel-127.0.0.1-42105.dmp"));
    }

    // Copies come and go in any order: every running firmware thread stays
    // guarded for all five signals, and none is left with a handler in a
    // copy that is gone.
    void everyRunningThreadStaysGuarded()
    {
        HostHandlers host;
        QTemporaryDir a, b;
        Panel p1, p2;
        QVERIFY(p1.host.load(QStringLiteral(TESSFW_LIBRARY), a.path()));
        QVERIFY(p2.host.load(QStringLiteral(TESSFW_PROBE_LIBRARY), b.path()));
        p1.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42106, QString());
        QVERIFY(p1.waitFor(State::ST_RUNNING));
        QVERIFY2(HostHandlers::unguarded().isEmpty(), qPrintable(HostHandlers::unguarded()));

        // Something else takes one signal while the first copy runs; the
        // next copy to start guards it again, although another is guarded.
        HostHandlers::install(SIGBUS);
        p2.host.firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 42107, QString());
        QVERIFY(p2.waitFor(State::ST_RUNNING));
        QVERIFY2(HostHandlers::guarded(SIGBUS), "SIGBUS left to the host");

        // The first copy ends and goes; the second is guarded all along.
        QVERIFY(p1.host.firmware()->stop());
        QVERIFY(p1.waitFor(State::ST_THREAD_FINISHED));
        QVERIFY2(HostHandlers::unguarded().isEmpty(), qPrintable(HostHandlers::unguarded()));
        p1.host.unload();
        QVERIFY2(HostHandlers::unguarded().isEmpty(), qPrintable(HostHandlers::unguarded()));

        // A fault on its thread right away is caught (not the host's).
        QLibrary lib(p2.host.libraryCopyPath());
        auto fault = reinterpret_cast<ProbeFault>(lib.resolve("tfw_probe_fault"));
        QVERIFY(fault);
        QCOMPARE(fault(1), 0);
        QVERIFY(p2.waitFor(State::ST_THREAD_FINISHED));
        lib.unload();
        p2.host.unload();

        // With no firmware left, the host has its handlers back.
        for (int sig : kGuardedSignals)
            QVERIFY2(current(sig) == hostHandler, qPrintable(QString::number(sig)));
        QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/panel-127.0.0.1-42107.dmp"));
    }
};

QTEST_GUILESS_MAIN(TestLibraryFaults)
#include "tst_library_faults.moc"

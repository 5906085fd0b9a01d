// idlebench: what idle panels cost, thread by thread.
//
//   idlebench [--panels N] [--seconds S] [--library PATH]
//
// Loads N copies of the firmware library into this process (as Keystead
// does, one per panel), starts N panels on 127.0.0.1 (UDP ports 3001 and
// up, no router), and measures each thread's CPU time and wake-ups over S
// seconds of idling, grouped by thread: the firmware threads (10 ms loop),
// the FTP threads (25 ms service timer) and the rest of the process. The
// same is measured a second time with an idle FTP client connected to
// every panel. The report goes to standard error (the panels' own
// diagnostics on standard output are dropped). Without the FTP thread a panel would cost exactly the
// firmware thread's share; the FTP rows are what the FTP server adds.

#include "panel_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QEventLoop>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

struct ThreadSample {
    QByteArray name;
    double cpuMs = 0;
    long long switches = 0;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every thread of this process: its name, CPU time run (schedstat, in ns)
// and context switches (each wake-up of a sleeping thread is one).
std::map<QByteArray, ThreadSample> sampleThreads()
{
    std::map<QByteArray, ThreadSample> out;
    const QStringList tids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        const QString base = QStringLiteral("/proc/self/task/") + tid;
        ThreadSample s;
        s.name = readFile(base + QStringLiteral("/comm")).trimmed();
        const QList<QByteArray> sched = readFile(base + QStringLiteral("/schedstat")).split(' ');
        if (!sched.isEmpty())
            s.cpuMs = sched[0].toDouble() / 1e6;
        for (const QByteArray &line : readFile(base + QStringLiteral("/status")).split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                s.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        out[tid.toLatin1()] = s;
    }
    return out;
}

// Runs the event loop (sleeping while nothing happens) for ms.
void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

const char *groupOf(const QByteArray &name)
{
    if (name.startsWith("FtpThread"))
        return "FTP threads";
    if (name.startsWith("TFW_Firmware"))
        return "firmware threads";
    return "other threads";
}

void measure(const char *title, int panels, int seconds)
{
    const std::map<QByteArray, ThreadSample> before = sampleThreads();
    QElapsedTimer t;
    t.start();
    idle(seconds * 1000);
    const double wall = t.elapsed() / 1000.0;
    const std::map<QByteArray, ThreadSample> after = sampleThreads();

    struct Group { int threads = 0; double cpuMs = 0; long long switches = 0; };
    std::map<std::string, Group> groups;
    for (const auto &[tid, s] : after) {
        const auto it = before.find(tid);
        Group &g = groups[groupOf(s.name)];
        ++g.threads;
        g.cpuMs += s.cpuMs - (it == before.end() ? 0 : it->second.cpuMs);
        g.switches += s.switches - (it == before.end() ? 0 : it->second.switches);
    }
    fprintf(stderr, "%s (%d panels, %.1f s):\n", title, panels, wall);
    fprintf(stderr, "  %-17s %7s %12s %16s %18s\n", "", "threads", "CPU ms", "CPU %/panel", "wake-ups/s/thread");
    double total = 0;
    for (const auto &[name, g] : groups) {
        total += g.cpuMs;
        fprintf(stderr, "  %-17s %7d %12.1f %16.4f %18.1f\n", name.c_str(), g.threads, g.cpuMs,
               100.0 * g.cpuMs / (wall * 1000.0) / panels, g.threads ? g.switches / wall / g.threads : 0.0);
    }
    fprintf(stderr, "  %-17s %7s %12.1f %16.4f\n", "whole process", "", total, 100.0 * total / (wall * 1000.0) / panels);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int panels = 20;
    int seconds = 10;
    QString library = QStringLiteral(TESSFW_BUILT_LIBRARY);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--panels") && i + 1 < args.size())
            panels = args[++i].toInt();
        else if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--library") && i + 1 < args.size())
            library = args[++i];
        else {
            fprintf(stderr, "usage: idlebench [--panels N] [--seconds S] [--library PATH]\n");
            return 2;
        }
    }
    if (panels < 1 || panels > 1000 || seconds < 1) {
        fprintf(stderr, "idlebench: 1 to 1000 panels, at least 1 second\n");
        return 2;
    }
    // The panels' diagnostics are not what is measured.
    if (!freopen("/dev/null", "w", stdout))
        return 2;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    QTemporaryDir work;
    std::vector<std::unique_ptr<PanelHost>> hosts;
    int running = 0;
    for (int i = 0; i < panels; ++i) {
        auto host = std::make_unique<PanelHost>();
        if (!host->load(library, work.filePath(QStringLiteral("p%1").arg(i)))) {
            fprintf(stderr, "idlebench: %s\n", qPrintable(host->errorString()));
            return 2;
        }
        QObject::connect(host.get(), &PanelHost::stateReported, &app,
                         [&running](TFW_IFirmwareCallback::StateMsg m) {
                             if (m == TFW_IFirmwareCallback::ST_RUNNING)
                                 ++running;
                         },
                         Qt::QueuedConnection);
        host->firmware()->start(QStringLiteral("SK2000A"), QStringLiteral("127.0.0.1"), 3001 + i,
                                work.filePath(QStringLiteral("p%1/cfgSK2000A").arg(i)));
        hosts.push_back(std::move(host));
    }
    QElapsedTimer t;
    t.start();
    while (running < panels && t.elapsed() < 30000)
        idle(20);
    if (running < panels) {
        fprintf(stderr, "idlebench: only %d of %d panels started\n", running, panels);
        return 1;
    }
    // Let start-up settle (FTP servers bound and waiting).
    idle(1000);

    measure("idle panels, FTP servers waiting for clients", panels, seconds);

    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < panels; ++i) {
        auto c = std::make_unique<QTcpSocket>();
        c->setProxy(QNetworkProxy::NoProxy);
        c->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), quint16(2 * (3001 + i) + 10021));
        c->waitForConnected(2000);
        c->waitForReadyRead(2000);
        c->readAll();
        clients.push_back(std::move(c));
    }
    measure("idle panels, one idle FTP client connected to each", panels, seconds);

    clients.clear();
    for (auto &h : hosts)
        h->firmware()->stop();
    QCoreApplication::processEvents();
    return 0;
}

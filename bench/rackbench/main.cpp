// rackbench: what a rack of panels costs compared with the least a host with
// a thread per panel can cost.
//
//   rackbench [--panels N,N,...] [--storm-panels N,...] [--storm-rate R]
//             [--seconds S] [--settle S] [--type NAME] [--config PATH]
//             [--router-ip ADDR] [--panel-ip ADDR] [--port-base P]
//             [--routersim PATH] [--library PATH]
//
// For each N of --panels (default 50,200,500) it hosts N panels idle online
// in this process, exactly as panelrun and Keystead host them (a library
// copy, directory, firmware and FTP thread each, through the host's firmware
// loader), against a routersim process that serves them with
// --panel-range and polls every second; for each N of --storm-panels
// (default 200) the same under a tally storm of --storm-rate (default 20)
// random crosspoint changes a second to every panel. After all panels are
// online and --settle seconds (default 3) have passed, it measures over
// --seconds (default 20): the processor use of this process in cores and
// its resident memory per panel. In the same run, a child process
// (rackbench --floor N) runs N bare threads, each with a 10 ms precise Qt
// timer and a 25 ms Qt timer and nothing else, and measures the same: the
// floor any host with a thread per panel pays with Qt's timers; a second
// child (--floor-split N) puts the two timers on two threads per panel, as a
// panel's firmware and FTP threads held them, the floor of a host with two
// threads per panel; a third (--floor-deadline N) runs N bare threads that
// only sleep to their next 10 ms deadline (clock_nanosleep), the least any
// thread that wakes every 10 ms can cost.
// The panels run with TESSALINE_TICK_STATS=1 and report their tick lateness
// when they stop.
//
// One table row per run: N, idle/storm, cores, floor cores, their ratio,
// the two-thread floor and the ratio to it, the deadline floor and the ratio
// to it, tick lateness p99 (the median over the panels of each panel's p99,
// and the worst panel's), the worst tick, the same p99 pair for the 10 ms
// timers of the one-thread floor, of the two-thread floor and of the
// deadline floor (how late any 10 ms wake-up runs among that many threads),
// memory per panel, and the load average when the measurement ended. The
// floors run in the same conditions as the panels, one after the other;
// run with QT_NO_GLIB=1 in the environment, every Qt thread (the Qt
// floors', the hosts') uses Qt's own UNIX event dispatcher instead of GLib's. Timings are only meaningful on an
// otherwise quiet machine: compare the load average.
//
// Exit status 0, 1 when panels did not all come online or a child failed,
// 2 for bad options.

#include "panel_rack.h"
#include "proc_stats.h"
#include "tfw_tick_stats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <memory>
#include <thread>
#include <vector>

namespace {

// ---- the floor: bare threads with the timers a panel's threads have ----------

class BareTimers : public QObject
{
public:
    enum Which { Both, LoopOnly, ServiceOnly };

    // The timers are children, so that they move to the thread with it.
    explicit BareTimers(Which which = Both) : m_loop(this), m_service(this), m_which(which)
    {
        m_loop.setTimerType(Qt::PreciseTimer);
        tfw_tick_stats_reset(&m_stats, 10 * 1000000);
        // The same lateness measure as a firmware thread's, so that the
        // floor shows how late any 10 ms timer runs among this many threads.
        connect(&m_loop, &QTimer::timeout, this, [this] { tfw_tick_stats_record(&m_stats, m_clock.nsecsElapsed()); });
        connect(&m_service, &QTimer::timeout, this, [this] { ++m_services; });
    }
    void start()
    {
        if (m_which != ServiceOnly) {
            m_clock.start();
            tfw_tick_stats_arm(&m_stats, 0);
            m_loop.start(10);
        }
        if (m_which != LoopOnly)
            m_service.start(25);
    }
    void stop()
    {
        m_loop.stop();
        m_service.stop();
    }
    // The loop timer's lateness (no ticks for a service-only thread).
    const TFW_TickStats &stats() const { return m_stats; }

private:
    QTimer m_loop;
    QTimer m_service;
    Which m_which;
    long m_services = 0;
    QElapsedTimer m_clock;
    TFW_TickStats m_stats;
};

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A thread that only sleeps to its next 10 ms deadline, keeping the phase,
// and times each wake-up as a firmware thread times its ticks.
void deadlineSleeper(const std::atomic<bool> *stop, TFW_TickStats *stats)
{
    const int64_t period = 10 * 1000000;
    int64_t due = monotonicNs();
    tfw_tick_stats_arm(stats, due);
    while (!stop->load(std::memory_order_relaxed)) {
        due += period;
        timespec ts{time_t(due / 1000000000), long(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        const int64_t now = monotonicNs();
        tfw_tick_stats_record(stats, now);
        if (due + period <= now)
            due += (now - due) / period * period;
    }
}

void printFloor(int n, double cores, double perThread, std::vector<double> p99s, double worst)
{
    std::sort(p99s.begin(), p99s.end());
    printf("floor %d cores %.4f mem %.0f p99 %.2f %.2f worst %.2f\n", n, cores, perThread,
           p99s.empty() ? 0.0 : p99s[p99s.size() / 2], p99s.empty() ? 0.0 : p99s.back(), worst);
}

int runDeadlineFloor(int n, int settleS, int seconds)
{
    std::atomic<bool> stop{false};
    std::vector<TFW_TickStats> stats(static_cast<size_t>(n));
    std::vector<std::thread> threads;
    const qint64 rss0 = proc_stats::residentBytes();
    for (int i = 0; i < n; ++i) {
        tfw_tick_stats_reset(&stats[size_t(i)], 10 * 1000000);
        threads.emplace_back(deadlineSleeper, &stop, &stats[size_t(i)]);
    }
    pause(settleS * 1000);
    proc_stats::CpuMeter meter;
    pause(seconds * 1000);
    const double cores = meter.sample();
    const double perThread = double(proc_stats::residentBytes() - rss0) / n;
    stop.store(true);
    for (std::thread &t : threads)
        t.join();
    std::vector<double> p99s;
    double worst = 0;
    for (const TFW_TickStats &st : stats) {
        p99s.push_back(double(tfw_tick_stats_percentile(&st, 0.99)) / 1e6);
        worst = std::max(worst, double(st.worstNs) / 1e6);
    }
    printFloor(n, cores, perThread, p99s, worst);
    return 0;
}

// split: the timers on two threads per panel, as a panel's firmware and
// FTP threads hold them, instead of both on one.
int runFloor(int n, bool split, int settleS, int seconds)
{
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<std::unique_ptr<BareTimers>> timers;
    const qint64 rss0 = proc_stats::residentBytes();
    const int count = split ? 2 * n : n;
    for (int i = 0; i < count; ++i) {
        auto t = std::make_unique<QThread>();
        auto b = std::make_unique<BareTimers>(!split ? BareTimers::Both
                                              : i % 2 ? BareTimers::ServiceOnly : BareTimers::LoopOnly);
        b->moveToThread(t.get());
        t->start();
        QMetaObject::invokeMethod(b.get(), [p = b.get()] { p->start(); });
        threads.push_back(std::move(t));
        timers.push_back(std::move(b));
    }
    pause(settleS * 1000);
    proc_stats::CpuMeter meter;
    pause(seconds * 1000);
    const double cores = meter.sample();
    const double perThread = double(proc_stats::residentBytes() - rss0) / n;
    for (int i = 0; i < count; ++i)
        QMetaObject::invokeMethod(timers[size_t(i)].get(), [p = timers[size_t(i)].get()] { p->stop(); },
                                  Qt::BlockingQueuedConnection);
    for (auto &t : threads) {
        t->quit();
        t->wait();
    }
    // Each loop thread's p99 as the panels report theirs: the median and the
    // worst over the threads, and the worst tick.
    std::vector<double> p99s;
    double worst = 0;
    for (const auto &b : timers) {
        const TFW_TickStats &st = b->stats();
        if (st.ticks == 0)
            continue;
        p99s.push_back(double(tfw_tick_stats_percentile(&st, 0.99)) / 1e6);
        worst = std::max(worst, double(st.worstNs) / 1e6);
    }
    for (size_t i = 0; i < timers.size(); ++i) {
        timers[i].reset();
        threads[i].reset();
    }
    printFloor(n, cores, perThread, p99s, worst);
    return 0;
}

// ---- the panels --------------------------------------------------------------

struct Settings
{
    QList<int> idle{50, 200, 500};
    QList<int> storm{200};
    int stormRate = 20;
    int seconds = 20;
    int settle = 3;
    QString type = QStringLiteral("SK2000A");
    QString config;
    QString routerIp = QStringLiteral("127.0.0.80");
    QString panelIp = QStringLiteral("127.0.0.81");
    // UDP ports below the ephemeral range (their FTP ports, 2 P + 10021,
    // too), so that no client socket of another program holds one.
    int portBase = 8001;
    QString routersim = QStringLiteral(ROUTERSIM_PATH);
    QString library = QStringLiteral(TESSFW_BUILT_LIBRARY);
};

struct Row
{
    int n = 0;
    bool storm = false;
    int online = 0;
    double cores = 0;
    double floor = 0;
    double floor2 = 0; // two threads per panel
    double floorD = 0; // threads sleeping to a deadline
    double floorP99Median = 0, floorP99Worst = 0;   // the one-thread floor's 10 ms timers
    double floor2P99Median = 0, floor2P99Worst = 0; // the two-thread floor's
    double floorDP99Median = 0, floorDP99Worst = 0; // the deadline floor's wake-ups
    double p99Median = 0, p99Worst = 0, worst = 0;
    double mibPerPanel = 0;
    QString load;
};

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    const QList<QByteArray> w = f.readAll().split(' ');
    return w.size() >= 3 ? QString::fromLatin1(w[0] + ' ' + w[1] + ' ' + w[2]) : QStringLiteral("?");
}

template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// kind: "--floor", "--floor-split" or "--floor-deadline".
bool measureFloor(int n, const char *kind, const Settings &s, double *cores, double *p99Median = nullptr,
                  double *p99Worst = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {QString::fromLatin1(kind), QString::number(n), QStringLiteral("--seconds"),
             QString::number(s.seconds), QStringLiteral("--settle"), QString::number(s.settle)});
    if (!p.waitForFinished((s.seconds + s.settle) * 1000 + 60000) || p.exitCode() != 0) {
        fprintf(stderr, "rackbench: the floor run failed\n");
        return false;
    }
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("floor \\d+ cores ([0-9.]+) mem [0-9.]+ p99 ([0-9.]+) ([0-9.]+)"))
            .match(QString::fromLatin1(p.readAll()));
    if (!m.hasMatch())
        return false;
    *cores = m.captured(1).toDouble();
    if (p99Median)
        *p99Median = m.captured(2).toDouble();
    if (p99Worst)
        *p99Worst = m.captured(3).toDouble();
    return true;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool runPanels(int n, bool storm, const Settings &s, Row *row)
{
    row->n = n;
    row->storm = storm;
    QStringList args{QStringLiteral("--bind"), s.routerIp + QStringLiteral(":2001"), QStringLiteral("--panel-range"),
                     QStringLiteral("%1:%2-%3").arg(s.panelIp).arg(s.portBase).arg(s.portBase + n - 1),
                     QStringLiteral("--quiet")};
    if (storm)
        args << QStringLiteral("--storm") << QString::number(s.stormRate);
    QProcess router;
    router.setStandardOutputFile(QProcess::nullDevice());
    router.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    router.start(s.routersim, args);
    if (!router.waitForStarted()) {
        fprintf(stderr, "rackbench: cannot start %s\n", qPrintable(s.routersim));
        return false;
    }

    QTemporaryDir dir;
    PanelRack::Options o;
    o.type = s.type;
    o.ip = s.panelIp;
    o.portBase = s.portBase;
    o.count = n;
    o.library = s.library;
    o.workDir = dir.path();
    o.config = s.config;
    o.textLines = true; // the tick lateness reports
    o.recordLines = false;
    const qint64 rss0 = proc_stats::residentBytes();
    PanelRack rack(o);
    std::vector<double> p99s;
    double worst = 0;
    const QRegularExpression stats(
        QStringLiteral("tick lateness: \\d+ ticks, median [0-9.]+ ms, p99 ([0-9.]+) ms, worst ([0-9.]+) ms"));
    QObject::connect(&rack, &PanelRack::eventLine, &rack, [&](int, const QByteArray &line) {
        const QRegularExpressionMatch m = stats.match(QString::fromLatin1(line));
        if (m.hasMatch()) {
            p99s.push_back(m.captured(1).toDouble());
            worst = std::max(worst, m.captured(2).toDouble());
        }
    });
    QObject::connect(&rack, &PanelRack::rackMessage, &rack,
                     [](const QByteArray &line) { fprintf(stderr, "%s\n", line.constData()); });
    rack.startAll();
    const bool online = waitUntil([&] { return rack.counts().online == n; }, 60000 + n * 100);
    row->online = rack.counts().online;
    bool ok = online;
    if (ok) {
        pause(s.settle * 1000);
        proc_stats::CpuMeter meter;
        pause(s.seconds * 1000);
        row->cores = meter.sample();
        row->mibPerPanel = double(proc_stats::residentBytes() - rss0) / n / 1048576.0;
        row->load = loadAverage();
        row->online = rack.counts().online;
    } else {
        fprintf(stderr, "rackbench: %d of %d panels online\n", row->online, n);
    }
    rack.stopAll();
    waitUntil([&] { return rack.finished(); }, 60000);
    QCoreApplication::processEvents();
    row->p99Median = median(p99s);
    row->p99Worst = p99s.empty() ? 0 : *std::max_element(p99s.begin(), p99s.end());
    row->worst = worst;
    router.write("quit\n");
    if (!router.waitForFinished(5000))
        router.kill();
    router.waitForFinished(2000);
    return ok && measureFloor(n, "--floor", s, &row->floor, &row->floorP99Median, &row->floorP99Worst)
           && measureFloor(n, "--floor-split", s, &row->floor2, &row->floor2P99Median, &row->floor2P99Worst)
           && measureFloor(n, "--floor-deadline", s, &row->floorD, &row->floorDP99Median, &row->floorDP99Worst);
}

QList<int> parseList(const QString &text, bool *ok)
{
    QList<int> out;
    *ok = true;
    if (text.isEmpty() || text == QLatin1String("none"))
        return out;
    for (const QString &w : text.split(QLatin1Char(','))) {
        const int v = w.toInt(ok);
        if (!*ok || v < 1)
            return {};
        out << v;
    }
    return out;
}

FILE *s_table = stdout;

void printRow(const Row &r)
{
    fprintf(s_table,
            "| %5d | %-5s | %4d | %7.3f | %7.3f | %5.2f | %8.3f | %5.2f | %8.3f | %5.2f | %5.2f / %5.2f | %7.2f | %5.2f / %5.2f | %5.2f / %5.2f | %5.2f / %5.2f | %6.2f | %-14s |\n",
            r.n, r.storm ? "storm" : "idle", r.online, r.cores, r.floor, r.floor > 0 ? r.cores / r.floor : 0.0,
            r.floor2, r.floor2 > 0 ? r.cores / r.floor2 : 0.0, r.floorD, r.floorD > 0 ? r.cores / r.floorD : 0.0,
            r.p99Median, r.p99Worst, r.worst, r.floorP99Median, r.floorP99Worst, r.floor2P99Median,
            r.floor2P99Worst, r.floorDP99Median, r.floorDP99Worst, r.mibPerPanel, qPrintable(r.load));
}

} // namespace

// Warnings and worse to standard error; the panels' debug lines would
// drown the table.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg)
        abort();
}

int main(int argc, char **argv)
{
    qInstallMessageHandler(messageHandler);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // Set before any panel starts: each firmware thread reads it once.
    qputenv("TESSALINE_TICK_STATS", "1");
    QCoreApplication app(argc, argv);
    Settings s;
    int floorN = 0;
    QString floorKind;
    const QStringList a = app.arguments();
    bool ok = true;
    for (int i = 1; i < a.size() && ok; ++i) {
        const bool more = i + 1 < a.size();
        const QString &o = a[i];
        if ((o == QLatin1String("--floor") || o == QLatin1String("--floor-split")
             || o == QLatin1String("--floor-deadline")) && more) {
            floorKind = o;
            floorN = a[++i].toInt(&ok);
        }
        else if (o == QLatin1String("--panels") && more)
            s.idle = parseList(a[++i], &ok);
        else if (o == QLatin1String("--storm-panels") && more)
            s.storm = parseList(a[++i], &ok);
        else if (o == QLatin1String("--storm-rate") && more)
            s.stormRate = a[++i].toInt(&ok);
        else if (o == QLatin1String("--seconds") && more)
            s.seconds = a[++i].toInt(&ok);
        else if (o == QLatin1String("--settle") && more)
            s.settle = a[++i].toInt(&ok);
        else if (o == QLatin1String("--type") && more)
            s.type = a[++i];
        else if (o == QLatin1String("--config") && more)
            s.config = a[++i];
        else if (o == QLatin1String("--router-ip") && more)
            s.routerIp = a[++i];
        else if (o == QLatin1String("--panel-ip") && more)
            s.panelIp = a[++i];
        else if (o == QLatin1String("--port-base") && more)
            s.portBase = a[++i].toInt(&ok);
        else if (o == QLatin1String("--routersim") && more)
            s.routersim = a[++i];
        else if (o == QLatin1String("--library") && more)
            s.library = a[++i];
        else
            ok = false;
    }
    if (!ok || s.seconds < 1 || s.settle < 0 || s.stormRate < 1) {
        fprintf(stderr, "usage: rackbench [--panels N,N,...] [--storm-panels N,...|none] [--storm-rate R]\n"
                        "                 [--seconds S] [--settle S] [--type NAME] [--config PATH]\n"
                        "                 [--router-ip ADDR] [--panel-ip ADDR] [--port-base P]\n"
                        "                 [--routersim PATH] [--library PATH]\n");
        return 2;
    }
    if (floorN > 0 && floorKind == QLatin1String("--floor-deadline"))
        return runDeadlineFloor(floorN, s.settle, s.seconds);
    if (floorN > 0)
        return runFloor(floorN, floorKind == QLatin1String("--floor-split"), s.settle, s.seconds);

    // The firmwares print their diagnostics on standard output: the table
    // goes to a copy of it, and standard output itself to /dev/null.
    const int tableFd = dup(STDOUT_FILENO);
    s_table = tableFd >= 0 ? fdopen(tableFd, "w") : nullptr;
    const int devNull = open("/dev/null", O_WRONLY);
    if (!s_table || devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0) {
        fprintf(stderr, "rackbench: cannot set up the output\n");
        return 1;
    }
    close(devNull);
    setvbuf(s_table, nullptr, _IOLBF, 0);

    fprintf(s_table, "rackbench: %s panels, %d s measured after %d s settling, storm %d changes/s\n",
            qPrintable(s.type), s.seconds, s.settle, s.stormRate);
    fprintf(s_table, "|     N | mode  | onl. |   cores |   floor | ratio | floor 2N | ratio | deadline | ratio | tick p99 ms   | worst ms | floor p99 ms  | fl. 2N p99 ms | dl. p99 ms    | MiB/pn | load average   |\n");
    fprintf(s_table, "|------:|-------|-----:|--------:|--------:|------:|---------:|------:|---------:|------:|---------------|---------:|---------------|---------------|---------------|-------:|----------------|\n");
    bool allOk = true;
    for (int n : s.idle) {
        Row r;
        allOk = runPanels(n, false, s, &r) && allOk;
        printRow(r);
    }
    for (int n : s.storm) {
        Row r;
        allOk = runPanels(n, true, s, &r) && allOk;
        printRow(r);
    }
    return allOk ? 0 : 1;
}

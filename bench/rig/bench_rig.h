#ifndef BENCH_RIG_H
#define BENCH_RIG_H

// One panel and the router simulator in this process, on loopback, for the
// benchmarks: the panel hosted the way Keystead hosts it (a copy of the
// built firmware library, loaded, started with a configuration written
// here), the simulator bound to the router's port. The simulator and the
// firmware log every datagram and step on standard output; while the rig
// runs only the bench's results go there (verbose: everything).

#include "panel_host.h"
#include "router_sim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <vector>

// The options every bench takes, with the bench's defaults filled in
// before parsing: --type NAME, --router ADDR, --panel ADDR, --port N,
// --verbose.
struct BenchOptions {
    QString type;
    QString routerIp;
    QString panelIp;
    int port = 0;
    bool verbose = false;
};
// Takes args[i] (and the value after it) when it is one of those options,
// moving i past what it took; false for anything else.
bool benchOption(const QStringList &args, int &i, BenchOptions *o);

class BenchRig
{
public:
    // tool names the bench in its error lines.
    BenchRig(const char *tool, bool verbose);
    ~BenchRig();
    BenchRig(const BenchRig &) = delete;
    BenchRig &operator=(const BenchRig &) = delete;

    // Writes the panel's configuration file (the PCSL text in its "CONFIG"
    // container) and from then on keeps standard output for the results.
    bool writeConfig(const QString &type, const QByteArray &text);
    // Binds the simulator to routerIp:2001 and gives it the panel; pollMs 0
    // does not poll.
    bool startRouter(RouterSim *sim, const QString &routerIp, const QString &panelIp, int port, int pollMs);
    // Loads the library copy and starts the panel on its configuration.
    bool startPanel(const QString &type, const QString &panelIp, int port);
    // Whether the panel has reported itself online.
    bool online() const { return m_online; }
    TFW_IFirmware *firmware() const { return host.firmware(); }
    // Stops the panel, lets its last reports in, unloads the copy and gives
    // standard output back.
    void finish();

    PanelHost host;

private:
    void restoreStdout();

    const char *m_tool;
    bool m_verbose;
    QTemporaryDir m_dir;
    QString m_config;
    bool m_online = false;
    int m_savedOut = -1;
    int m_devNull = -1;
};

// Runs the event loop until done() or the timeout.
template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

// Runs the event loop for ms milliseconds, on a precise timer.
void benchPause(int ms);

// The value at fraction p (0..1) of sorted values.
double percentile(const std::vector<double> &sorted, double p);

#endif

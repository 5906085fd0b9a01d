// takebench: how long a take takes from the key to the wire.
//
//   takebench [--takes N] [--type NAME] [--router ADDR] [--panel ADDR] [--port N]
//             [--poll-ms N] [--verbose]
//
// Hosts one panel the way Keystead does (a copy of the firmware library,
// loaded, started with a configuration written here) and the router
// simulator in the same process, on loopback. After the panel is online
// with a source preset, it presses the Take key N times (default 1000):
// each time from the key event handed to the firmware until the router
// receives the datagram that carries the ".S" take, released and followed
// by a pause of random length so that presses fall anywhere in the
// firmware's 10 ms loop tick. The simulator polls every --poll-ms (default
// 1000, as routersim). Prints the median, p99 and worst time; --verbose also
// lets the simulator's and the firmware's logs through.
//
// A release and the next press that reach the firmware within one loop
// tick (the firmware thread held up by a busy machine) look like a key held
// throughout, so no take follows; such a press is released, counted as
// missed and not timed. Exit status 0, 1 when the panel never came online
// or more than one press in a hundred was missed.

#include "panel_host.h"
#include "router_sim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The panel's keys: key 5 presets source 6, key 7 takes it to destination
// 1 on level V.
const char CONFIG_TEXT[] =
    "obj Configsettings() { numSources=16 numDestinations=16 numLevels=1 }\n"
    "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
    "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
    "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n"
    " obj Btn(5) { bT=\"Source Preset\" bV=6 } obj Btn(7) { bT=\"Take\" } } } }\n";

QByteArray configFile()
{
    const QByteArray payload = QByteArray(43, '#') + "\n" + CONFIG_TEXT;
    const quint32 n = quint32(payload.size() + 10);
    QByteArray f("CONFIG");
    f.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    return f + payload;
}

// Runs the event loop until done() or the timeout.
template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(const std::vector<double> &sorted, double p)
{
    const size_t i = size_t(p * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int takes = 1000;
    QString type = QStringLiteral("SK1100A");
    QString routerIp = QStringLiteral("127.0.0.60");
    QString panelIp = QStringLiteral("127.0.0.61");
    int port = 42600;
    bool verbose = false;
    int pollMs = 1000;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == QLatin1String("--takes") && more)
            takes = args[++i].toInt();
        else if (args[i] == QLatin1String("--type") && more)
            type = args[++i];
        else if (args[i] == QLatin1String("--router") && more)
            routerIp = args[++i];
        else if (args[i] == QLatin1String("--panel") && more)
            panelIp = args[++i];
        else if (args[i] == QLatin1String("--port") && more)
            port = args[++i].toInt();
        else if (args[i] == QLatin1String("--poll-ms") && more)
            pollMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--verbose"))
            verbose = true;
        else {
            fprintf(stderr, "usage: takebench [--takes N] [--type NAME] [--router ADDR] [--panel ADDR] [--port N] [--poll-ms N] [--verbose]\n");
            return 2;
        }
    }
    if (takes < 1)
        takes = 1;

    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/cfg") + type;
    QFile f(config);
    if (!dir.isValid() || !f.open(QIODevice::WriteOnly) || f.write(configFile()) < 0) {
        fprintf(stderr, "takebench: cannot write the configuration\n");
        return 2;
    }
    f.close();

    // The simulator and the firmware log every datagram and step on
    // standard output; only the results go there (--verbose: everything).
    fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (!verbose)
        dup2(devNull, STDOUT_FILENO);

    RouterSim sim(4, 64, 64);
    QString error;
    if (!sim.bind(QHostAddress(routerIp), 2001, &error)) {
        fprintf(stderr, "takebench: cannot bind %s:2001: %s\n", qPrintable(routerIp), qPrintable(error));
        return 2;
    }
    sim.addPanel(QHostAddress(panelIp), quint16(port));
    sim.setPollInterval(pollMs > 0 ? pollMs : 0);

    QElapsedTimer clock;
    clock.start();
    qint64 takeSeenAt = -1;
    int linkReplies = 0;
    QObject::connect(&sim, &RouterSim::datagramReceived, [&](const QByteArray &d) {
        if (d.contains(".SV"))
            takeSeenAt = clock.nsecsElapsed();
        else
            ++linkReplies;
    });

    PanelHost host;
    if (!host.load(QStringLiteral(TESSFW_BUILT_LIBRARY), dir.path())) {
        fprintf(stderr, "takebench: %s\n", qPrintable(host.errorString()));
        return 2;
    }
    bool online = false;
    QObject::connect(&host, &PanelHost::stateReported, [&](TFW_IFirmwareCallback::StateMsg m) {
        if (m == TFW_IFirmwareCallback::ST_ONLINE)
            online = true;
    });
    host.firmware()->start(type, panelIp, port, config);

    int status = 0;
    std::vector<double> ms;
    int missed = 0;
    if (!waitUntil([&] { return online && linkReplies > 0; }, 5000)) {
        fprintf(stderr, "takebench: the panel did not come online\n");
        status = 1;
    } else {
        TFW_IFirmware *fw = host.firmware();
        fw->sendCollectorMsg(collector::CollectorMsg(5, 1));
        pause(50);
        fw->sendCollectorMsg(collector::CollectorMsg(5, 0));
        pause(50);
        ms.reserve(size_t(takes));
        while (int(ms.size()) < takes && missed <= takes / 100) {
            takeSeenAt = -1;
            const qint64 t0 = clock.nsecsElapsed();
            fw->sendCollectorMsg(collector::CollectorMsg(7, 1));
            if (waitUntil([&] { return takeSeenAt >= 0; }, 300))
                ms.push_back(double(takeSeenAt - t0) / 1e6);
            else
                ++missed;
            fw->sendCollectorMsg(collector::CollectorMsg(7, 0));
            // 25 to 35 ms with a sub-millisecond part: the next press lands
            // anywhere in the loop tick.
            pause(25 + int(QRandomGenerator::global()->bounded(10)));
            const qint64 spinUntil = clock.nsecsElapsed() + QRandomGenerator::global()->bounded(1000000);
            while (clock.nsecsElapsed() < spinUntil) {
            }
        }
        fw->stop();
        if (missed > takes / 100) {
            fprintf(stderr, "takebench: %d presses gave no take\n", missed);
            status = 1;
        }
    }
    waitUntil([] { return false; }, 100);
    host.unload();

    fflush(stdout);
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    close(devNull);
    if (!ms.empty()) {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const long over = std::count_if(sorted.begin(), sorted.end(), [](double v) { return v >= 10.0; });
        printf("key event to take datagram at the router, %s, %d takes: median %.3f ms, p99 %.3f ms, "
               "best %.3f ms, worst %.3f ms, %.1f %% at 10 ms or more (target p99 < 10 ms); "
               "polls every %d ms, %d presses missed\n",
               qPrintable(type), int(sorted.size()), percentile(sorted, 0.5), percentile(sorted, 0.99),
               sorted.front(), sorted.back(), 100.0 * double(over) / double(sorted.size()), pollMs, missed);
    }
    return status;
}

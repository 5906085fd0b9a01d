// legendbench: how soon a tally shows on the panel's keys.
//
//   legendbench [--tallies N] [--type NAME] [--keys N] [--router ADDR]
//               [--panel ADDR] [--port N] [--verbose]
//
// Hosts one panel the way Keystead does (a copy of the firmware library,
// loaded, started with a configuration written here) and the router
// simulator in the same process, on loopback. The panel's first N keys
// (default 80, the SK2100A's) are Source keys of sources 1..N on
// destination 1. The simulator sends N tallies (default 1000), each moving
// destination 1 to another source chosen at random, so that the key that
// goes dark and the one that lights are anywhere on the panel; each is
// timed until the host has received the button-driver records of both
// keys, measured from the panel's acknowledgement of the tally datagram
// (the firmware took it in) and from the simulator's send. A pause of
// random length follows, so that tallies arrive anywhere in the firmware's
// 10 ms loop tick; any other record in it is counted as extra. Prints the
// median, p99 and worst time in ms and loop ticks (target: within
// ceil(N / 25) ticks of the panel taking the tally in); --verbose lets the
// simulator's and the firmware's logs through. Exit status 0, 1 when the
// panel never came online or more than one tally in a hundred showed
// nothing within 500 ms.

#include "bd_decode.h"
#include "bench_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

enum { TickMs = 10, KeysPerTick = 25 };

QByteArray configText(int keys)
{
    QByteArray text = "obj Configsettings() { numSources=" + QByteArray::number(keys)
                      + " numDestinations=1 numLevels=1 }\n"
                        "obj KnownLevels() { obj Level(1) { lN=\"Video\" } }\n"
                        "obj KnownSubpanels() { obj Subpanel(1) { defDest=1 defLvl=1 } }\n"
                        "obj KnownMenus() { obj Menu(1) { obj MenuButtons() {\n";
    for (int k = 1; k <= keys; ++k)
        text += " obj Btn(" + QByteArray::number(k) + ") { bT=\"Source\" bV=" + QByteArray::number(k) + " }\n";
    text += "} } }\n";
    return text;
}

void report(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    printf("  %s: median %.2f ms (%.2f ticks), p99 %.2f ms (%.2f ticks), worst %.2f ms (%.2f ticks)\n", what,
           percentile(v, 0.5), percentile(v, 0.5) / TickMs, percentile(v, 0.99), percentile(v, 0.99) / TickMs,
           v.back(), v.back() / TickMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int tallies = 1000;
    int keys = 80;
    BenchOptions o{QStringLiteral("SK2100A"), QStringLiteral("127.0.0.66"), QStringLiteral("127.0.0.67"), 42606};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool more = i + 1 < args.size();
        if (args[i] == QLatin1String("--tallies") && more)
            tallies = args[++i].toInt();
        else if (args[i] == QLatin1String("--keys") && more)
            keys = args[++i].toInt();
        else if (!benchOption(args, i, &o)) {
            fprintf(stderr, "usage: legendbench [--tallies N] [--type NAME] [--keys N] [--router ADDR] [--panel ADDR] "
                            "[--port N] [--verbose]\n");
            return 2;
        }
    }
    const QString type = o.type, routerIp = o.routerIp, panelIp = o.panelIp;
    const int port = o.port;
    const bool verbose = o.verbose;
    tallies = std::max(tallies, 1);
    keys = std::clamp(keys, 2, 128);

    BenchRig rig("legendbench", verbose);
    if (!rig.writeConfig(type, configText(keys)))
        return 2;
    RouterSim sim(1, keys, 1);
    if (!rig.startRouter(&sim, routerIp, panelIp, port, 1000))
        return 2;

    QElapsedTimer clock;
    clock.start();
    qint64 sentAt = -1;
    qint64 takenInAt = -1;       // the panel's first datagram after the tally: its acknowledgement
    int linkReplies = 0;
    QObject::connect(&sim, &RouterSim::datagramReceived, [&](const QByteArray &) {
        ++linkReplies;
        if (sentAt >= 0 && takenInAt < 0)
            takenInAt = clock.nsecsElapsed();
    });

    // The last record for each button since the tally went out, and the
    // number of records.
    std::map<int, qint64> recordAt;
    int records = 0;
    QObject::connect(&rig.host, &PanelHost::recordsReported, [&](const std::vector<QByteArray> &batch) {
        const qint64 now = clock.nsecsElapsed();
        for (const QByteArray &r : batch) {
            buttondriver::Record rec;
            if (buttondriver::parseRecord(r, &rec) != buttondriver::ParseResult::Ok)
                continue;
            ++records;
            recordAt[rec.id] = now;
        }
    });
    if (!rig.startPanel(type, panelIp, port))
        return 2;

    int status = 0;
    std::vector<double> fromTakenIn, fromSent;
    int missed = 0;
    long extra = 0;
    int current = 1;
    auto tally = [&](int source) {
        recordAt.clear();
        records = 0;
        takenInAt = -1;
        char text[32];
        snprintf(text, sizeof text, ".UV001,%03d\r", source);
        sentAt = clock.nsecsElapsed();
        sim.sendTextToAll(text);
    };
    if (!waitUntil([&] { return rig.online() && linkReplies > 0; }, 5000)) {
        fprintf(stderr, "legendbench: the panel did not come online\n");
        status = 1;
    } else {
        // Destination 1 on source 1: key 1 lights.
        tally(1);
        waitUntil([&] { return recordAt.count(1) > 0; }, 1000);
        benchPause(200);
        while (int(fromSent.size()) < tallies && missed <= tallies / 100) {
            int next = 1 + int(QRandomGenerator::global()->bounded(keys - 1));
            if (next >= current)
                ++next;
            const int before = current;
            tally(next);
            current = next;
            const bool shown = waitUntil([&] { return recordAt.count(before) && recordAt.count(next) && takenInAt >= 0; },
                                         500);
            if (shown) {
                const qint64 last = std::max(recordAt[before], recordAt[next]);
                fromSent.push_back(double(last - sentAt) / 1e6);
                fromTakenIn.push_back(double(last - takenInAt) / 1e6);
            } else {
                ++missed;
            }
            // 20 to 30 ms and a sub-millisecond part: the next tally lands
            // anywhere in the loop tick. Records in the pause are extra.
            benchPause(20 + int(QRandomGenerator::global()->bounded(10)));
            const qint64 spinUntil = clock.nsecsElapsed() + QRandomGenerator::global()->bounded(1000000);
            while (clock.nsecsElapsed() < spinUntil) {
            }
            QCoreApplication::processEvents();
            if (shown)
                extra += std::max(0, records - 2);
        }
        if (missed > tallies / 100) {
            fprintf(stderr, "legendbench: %d tallies showed nothing\n", missed);
            status = 1;
        }
    }
    rig.finish();
    if (!fromSent.empty()) {
        const int target = (keys + KeysPerTick - 1) / KeysPerTick;
        printf("tally to the last button-driver record it causes, %s, %d source keys, %d tallies "
               "(target: within %d ticks of the panel taking it in):\n",
               qPrintable(type), keys, int(fromSent.size()), target);
        report("from the panel taking the tally in", fromTakenIn);
        report("from the router sending it", fromSent);
        printf("  %ld extra records, %d tallies missed\n", extra, missed);
    }
    return status;
}

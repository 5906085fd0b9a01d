// routersim: a router controller simulator for Tessaline panels.
//
//   routersim [--bind ADDR:PORT] [--panel ADDR:PORT]...
//             [--panel-range ADDR:FIRST-LAST]... [--poll-ms N] [--storm RATE]
//             [--quiet] [--sendcfg FILE [--kind 1|2] [--block N] [--stop-after N]]
//
// Binds ADDR:PORT (default 127.0.0.1:2001; panels answer the router at port
// 2001), talks to each --panel with the panels' sequenced datagram protocol
// and sends ON POLL every N ms (default 1000; 0: only on command). Every
// datagram sent or received is one line on standard output:
//   tx 127.0.0.2:42400 [01 00 00 00 00] O
//   rx 127.0.0.2:42400 [01 00 00 00 00] y
// It keeps a crosspoint matrix (--levels, --sources, --dests) with lock and
// protect states: takes from a panel change it and every panel gets the
// tally (".U"), lock requests are answered with lock states (".BA"),
// interrogations (".I") with the current source, and salvos given with
// --salvo N:DEST,SRC,LEVELS[;DEST,SRC,LEVELS...] fire on ".F".
// Standard input commands: poll, offpoll, query, autopoll on MS, autopoll
// off, raw HEX (a payload of router-link messages as hex), route LEVELS DEST
// SRC (e.g. route VA 13 6), lock DEST 255|1|0, q TEXT (a router command,
// \r for a carriage return), sendcfg FILE [--kind 1|2] [--block N]
// [--stop-after N], storm RATE, storm off, quit.
//
// --panel-range serves every port from FIRST to LAST of one address (a rack
// of panels). A tally storm (--storm RATE, or "storm RATE" on standard input)
// makes RATE random crosspoint changes a second and sends each to every
// panel as a tally; "storm off" ends it. --quiet drops the line per datagram.
//
// sendcfg pushes a configuration to every panel in "B" blocks of N bytes
// (default 256, at most 506): kind 1 a configuration file (the payload of a
// "CONFIG" file, or the file as it is), kind 2 a configuration image (the
// file as it is when it already is one, else an image made around its
// payload). One block is sent at a time, the next once the panel answered;
// every answer is a line "sendcfg PEER block I/N #NUMBER: y" (or n), the end
// a line "sendcfg PEER: done, N blocks", "...: refused at block I/N",
// "...: stopped after I of N blocks" (--stop-after: a download cut off) or
// "...: no answer to block I/N, stopped". Given as options, the download
// goes to each panel as soon as it is first heard from.
//
// --swp08-listen ADDR:PORT serves the simulated matrix to SW-P-08 clients
// over TCP (matrix --swp08-matrix). --swp08 HOST:PORT makes routersim a
// bridge instead: the panels' router is an SW-P-08 router reached over
// TCP (--swp08-device, --swp08-matrix, --swp08-levels, --swp08-src-offset,
// --swp08-dest-offset, --swp08-keepalive-ms; see tools/swp08bridge).

#include "router_sim.h"
#include "swp08_bridge.h"
#include "swp08_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

namespace {

bool parseEndpoint(const QString &text, QHostAddress *addr, quint16 *port, bool anyPort = false)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    if (!ok || p < (anyPort ? 0 : 1) || p > 65535 || !addr->setAddress(text.left(colon)))
        return false;
    *port = quint16(p);
    return true;
}

// "ADDR:FIRST-LAST", FIRST <= LAST, both ports 1..65535.
bool parsePanelRange(const QString &text, QHostAddress *addr, quint16 *first, quint16 *last)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    const QStringList ports = text.mid(colon + 1).split(QLatin1Char('-'));
    if (ports.size() != 2 || !addr->setAddress(text.left(colon)))
        return false;
    bool ok1 = false, ok2 = false;
    const int a = ports[0].toInt(&ok1), b = ports[1].toInt(&ok2);
    if (!ok1 || !ok2 || a < 1 || b > 65535 || a > b)
        return false;
    *first = quint16(a);
    *last = quint16(b);
    return true;
}

// "HOST:PORT" with a host name or address.
bool parseHostPort(const QString &text, QString *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const int p = text.mid(colon + 1).toInt(&ok);
    if (!ok || p <= 0 || p > 65535)
        return false;
    *host = text.left(colon);
    if (host->startsWith(QLatin1Char('[')) && host->endsWith(QLatin1Char(']')))
        *host = host->mid(1, host->size() - 2);
    *port = quint16(p);
    return true;
}

// A whole number from min to max, or a message and false.
bool intOption(const QCommandLineParser &parser, const QCommandLineOption &o, int min, int max, int *out)
{
    bool ok = false;
    const int v = parser.value(o).toInt(&ok);
    if (!ok || v < min || v > max) {
        fprintf(stderr, "routersim: --%s must be %d..%d, not %s\n", qPrintable(o.names().first()), min, max,
                qPrintable(parser.value(o)));
        return false;
    }
    *out = v;
    return true;
}

std::mutex s_inputLock;
RouterSim *s_target;

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Router controller simulator for Tessaline panels."));
    parser.addHelpOption();
    const QCommandLineOption bindOpt(QStringLiteral("bind"), QStringLiteral("Address and port to bind."),
                                     QStringLiteral("ADDR:PORT"), QStringLiteral("127.0.0.1:2001"));
    const QCommandLineOption panelOpt(QStringLiteral("panel"), QStringLiteral("A panel to talk to (repeatable)."),
                                      QStringLiteral("ADDR:PORT"));
    const QCommandLineOption pollOpt(QStringLiteral("poll-ms"), QStringLiteral("ON POLL interval, 0 = off."),
                                     QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption levelsOpt(QStringLiteral("levels"), QStringLiteral("Router levels (1..26)."),
                                       QStringLiteral("N"), QStringLiteral("4"));
    const QCommandLineOption sourcesOpt(QStringLiteral("sources"), QStringLiteral("Router sources."),
                                        QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption destsOpt(QStringLiteral("dests"), QStringLiteral("Router destinations."),
                                      QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption salvoOpt(QStringLiteral("salvo"),
                                      QStringLiteral("Salvo N:DEST,SRC,LEVELS;... (repeatable)."),
                                      QStringLiteral("N:DEST,SRC,LEVELS"));
    const QCommandLineOption sendcfgOpt(QStringLiteral("sendcfg"),
                                        QStringLiteral("Configuration to send to each panel once heard from."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption kindOpt(QStringLiteral("kind"), QStringLiteral("--sendcfg kind: 1 file, 2 image."),
                                     QStringLiteral("1|2"), QStringLiteral("1"));
    const QCommandLineOption blockOpt(QStringLiteral("block"), QStringLiteral("--sendcfg bytes per block."),
                                      QStringLiteral("N"), QString::number(ConfigDownload::DefaultBlock));
    const QCommandLineOption stopAfterOpt(QStringLiteral("stop-after"),
                                          QStringLiteral("--sendcfg: stop after N blocks."), QStringLiteral("N"));
    const QCommandLineOption rangeOpt(QStringLiteral("panel-range"),
                                      QStringLiteral("Panels at ports FIRST to LAST of one address (repeatable)."),
                                      QStringLiteral("ADDR:FIRST-LAST"));
    const QCommandLineOption stormOpt(QStringLiteral("storm"),
                                      QStringLiteral("Random crosspoint changes a second, sent to every panel."),
                                      QStringLiteral("RATE"));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("No line per datagram."));
    const QCommandLineOption swpOpt(QStringLiteral("swp08"),
                                    QStringLiteral("Bridge the panels to an SW-P-08 router at HOST:PORT."),
                                    QStringLiteral("HOST:PORT"));
    const QCommandLineOption swpListenOpt(QStringLiteral("swp08-listen"),
                                          QStringLiteral("Serve the simulated matrix to SW-P-08 clients."),
                                          QStringLiteral("ADDR:PORT"));
    const QCommandLineOption swpMatrixOpt(QStringLiteral("swp08-matrix"),
                                          QStringLiteral("SW-P-08 matrix number (0..255)."), QStringLiteral("N"),
                                          QStringLiteral("0"));
    const QCommandLineOption swpDeviceOpt(QStringLiteral("swp08-device"),
                                          QStringLiteral("Device number of the bridge's protects (0..65535)."),
                                          QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption swpLevelsOpt(QStringLiteral("swp08-levels"),
                                          QStringLiteral("Panel level letters to SW-P-08 levels."),
                                          QStringLiteral("V=0,A=1,..."));
    const QCommandLineOption swpSrcOpt(QStringLiteral("swp08-src-offset"),
                                       QStringLiteral("SW-P-08 number of the panels' source 1."), QStringLiteral("N"),
                                       QStringLiteral("0"));
    const QCommandLineOption swpDestOpt(QStringLiteral("swp08-dest-offset"),
                                        QStringLiteral("SW-P-08 number of the panels' destination 1."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption swpKeepaliveOpt(QStringLiteral("swp08-keepalive-ms"),
                                             QStringLiteral("Interrogate an idle router after N ms (0: never)."),
                                             QStringLiteral("N"), QStringLiteral("5000"));
    parser.addOptions({rangeOpt, stormOpt, quietOpt});
    parser.addOptions({swpOpt, swpListenOpt, swpMatrixOpt, swpDeviceOpt, swpLevelsOpt, swpSrcOpt, swpDestOpt,
                       swpKeepaliveOpt});
    parser.addOptions({bindOpt, panelOpt, pollOpt, levelsOpt, sourcesOpt, destsOpt, salvoOpt, sendcfgOpt, kindOpt,
                       blockOpt, stopAfterOpt});
    parser.process(app);

    const int levels = parser.value(levelsOpt).toInt();
    const int sources = parser.value(sourcesOpt).toInt();
    const int dests = parser.value(destsOpt).toInt();
    if (levels < 1 || levels > 26 || sources < 1 || sources > 65535 || dests < 1 || dests > 65535) {
        fprintf(stderr, "routersim: --levels 1..26, --sources 1..65535, --dests 1..65535\n");
        return 2;
    }
    const bool bridging = parser.isSet(swpOpt);
    for (const QCommandLineOption *o : {&levelsOpt, &sourcesOpt, &destsOpt, &stormOpt, &swpListenOpt})
        if (bridging && parser.isSet(*o)) {
            fprintf(stderr, "routersim: --%s is for the simulated matrix, not with --swp08\n",
                    qPrintable(o->names().first()));
            return 2;
        }
    for (const QCommandLineOption *o : {&swpDeviceOpt, &swpLevelsOpt, &swpSrcOpt, &swpDestOpt, &swpKeepaliveOpt})
        if (!bridging && parser.isSet(*o)) {
            fprintf(stderr, "routersim: --%s needs --swp08\n", qPrintable(o->names().first()));
            return 2;
        }
    int swpMatrix = 0;
    if (!intOption(parser, swpMatrixOpt, 0, 255, &swpMatrix))
        return 2;
    std::unique_ptr<Swp08Bridge> bridge;
    if (bridging) {
        BridgeOptions bo;
        if (!parseHostPort(parser.value(swpOpt), &bo.host, &bo.port)) {
            fprintf(stderr, "routersim: invalid --swp08 %s (HOST:PORT)\n", qPrintable(parser.value(swpOpt)));
            return 2;
        }
        QString why;
        if (parser.isSet(swpLevelsOpt) && !bo.parseLevels(parser.value(swpLevelsOpt), &why)) {
            fprintf(stderr, "routersim: invalid --swp08-levels: %s\n", qPrintable(why));
            return 2;
        }
        bo.matrix = swpMatrix;
        if (!intOption(parser, swpDeviceOpt, 0, 65535, &bo.device)
            || !intOption(parser, swpSrcOpt, 0, 65535, &bo.sourceOffset)
            || !intOption(parser, swpDestOpt, 0, 65535, &bo.destOffset)
            || !intOption(parser, swpKeepaliveOpt, 0, 3600000, &bo.keepaliveMs))
            return 2;
        bridge = std::make_unique<Swp08Bridge>(bo);
    }
    RouterSim sim(levels, sources, dests);
    for (const QString &salvo : parser.values(salvoOpt)) {
        const int colon = salvo.indexOf(QLatin1Char(':'));
        bool ok = colon > 0;
        const int n = ok ? salvo.left(colon).toInt(&ok) : 0;
        const QStringList entries = salvo.mid(colon + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        ok = ok && !entries.isEmpty();
        for (const QString &e : entries) {
            const QStringList f = e.split(QLatin1Char(','));
            const qint64 lv = f.size() == 3 ? RouterState::parseLevels(f[2].toLatin1()) : -1;
            if (!ok || lv <= 0) {
                ok = false;
                break;
            }
            sim.state().addSalvo(n, RouterState::Salvo{f[0].toInt(), f[1].toInt(), quint32(lv)});
            if (bridge)
                bridge->core().addSalvo(n, f[0].toInt(), f[1].toInt(), quint32(lv));
        }
        if (!ok) {
            fprintf(stderr, "routersim: invalid --salvo %s\n", qPrintable(salvo));
            return 2;
        }
    }
    QHostAddress addr;
    quint16 port = 0;
    if (!parseEndpoint(parser.value(bindOpt), &addr, &port)) {
        fprintf(stderr, "routersim: invalid --bind %s\n", qPrintable(parser.value(bindOpt)));
        return 2;
    }
    QString error;
    if (!sim.bind(addr, port, &error)) {
        fprintf(stderr, "routersim: cannot bind %s: %s\n", qPrintable(parser.value(bindOpt)), qPrintable(error));
        return 2;
    }
    for (const QString &p : parser.values(panelOpt)) {
        QHostAddress pa;
        quint16 pp = 0;
        if (!parseEndpoint(p, &pa, &pp)) {
            fprintf(stderr, "routersim: invalid --panel %s\n", qPrintable(p));
            return 2;
        }
        sim.addPanel(pa, pp);
    }
    for (const QString &r : parser.values(rangeOpt)) {
        QHostAddress ra;
        quint16 first = 0, last = 0;
        if (!parsePanelRange(r, &ra, &first, &last)) {
            fprintf(stderr, "routersim: invalid --panel-range %s (ADDR:FIRST-LAST)\n", qPrintable(r));
            return 2;
        }
        sim.addPanelRange(ra, first, last);
    }
    sim.setQuiet(parser.isSet(quietOpt));
    bool ok = false;
    if (parser.isSet(stormOpt)) {
        const int rate = parser.value(stormOpt).toInt(&ok);
        if (!ok || rate <= 0) {
            fprintf(stderr, "routersim: invalid --storm %s\n", qPrintable(parser.value(stormOpt)));
            return 2;
        }
        sim.setStorm(rate);
    }
    const int pollMs = parser.value(pollOpt).toInt(&ok);
    if (!ok || pollMs < 0) {
        fprintf(stderr, "routersim: invalid --poll-ms %s\n", qPrintable(parser.value(pollOpt)));
        return 2;
    }
    sim.setPollInterval(pollMs);
    if (parser.isSet(sendcfgOpt)) {
        int stopAfter = -1;
        if (parser.isSet(stopAfterOpt)) {
            stopAfter = parser.value(stopAfterOpt).toInt(&ok);
            if (!ok || stopAfter < 0) {
                fprintf(stderr, "routersim: invalid --stop-after %s\n", qPrintable(parser.value(stopAfterOpt)));
                return 2;
            }
        }
        ConfigDownload d;
        QString why;
        const int kind = parser.value(kindOpt).toInt();
        const int block = parser.value(blockOpt).toInt();
        if (!ConfigDownload::load(parser.value(sendcfgOpt), kind, block, &d, &why)) {
            fprintf(stderr, "routersim: --sendcfg: %s\n", qPrintable(why));
            return 2;
        }
        sim.sendConfigOnContact(d, stopAfter);
    }
    QObject::connect(&sim, &RouterSim::quitRequested, &app, &QCoreApplication::quit);

    std::unique_ptr<Swp08Server> server;
    if (parser.isSet(swpListenOpt)) {
        QHostAddress la;
        quint16 lp = 0;
        // Port 0: any free port, told on standard output.
        if (!parseEndpoint(parser.value(swpListenOpt), &la, &lp, true)) {
            fprintf(stderr, "routersim: invalid --swp08-listen %s\n", qPrintable(parser.value(swpListenOpt)));
            return 2;
        }
        server = std::make_unique<Swp08Server>(sim.state(), swpMatrix);
        server->setQuiet(parser.isSet(quietOpt));
        QString why;
        if (!server->listen(la, lp, &why)) {
            fprintf(stderr, "routersim: cannot listen on %s: %s\n", qPrintable(parser.value(swpListenOpt)),
                    qPrintable(why));
            return 2;
        }
        QObject::connect(server.get(), &Swp08Server::panelText, &sim,
                         [&sim](const QByteArray &text) { sim.sendTextsToAll({text}); });
        printf("swp08 --- listening on %s:%u (matrix %d, %d levels, %d sources, %d destinations)\n",
               qPrintable(la.toString()), unsigned(server->port()), swpMatrix, levels, sources, dests);
        fflush(stdout);
    }
    if (bridge) {
        Swp08Bridge *b = bridge.get();
        b->setQuiet(parser.isSet(quietOpt));
        RouterSim::Bridge hooks;
        hooks.panelCommand = [b](const QByteArray &text) { return b->panelCommand(text); };
        hooks.command = [b](const QStringList &w, QString *why) { return b->command(w, why); };
        sim.setBridge(hooks);
        QObject::connect(b, &Swp08Bridge::panelTexts, &sim, &RouterSim::sendTextsToAll);
        b->start();
    }

    {
        std::lock_guard<std::mutex> l(s_inputLock);
        s_target = &sim;
    }
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
            std::lock_guard<std::mutex> l(s_inputLock);
            if (!s_target)
                return;
            const QString text = QString::fromStdString(line);
            QMetaObject::invokeMethod(s_target, [text] {
                if (!s_target->command(text))
                    fprintf(stderr, "routersim: unknown command: %s\n", qPrintable(text));
            });
        }
    }).detach();

    const int rc = app.exec();
    {
        std::lock_guard<std::mutex> l(s_inputLock);
        s_target = nullptr;
    }
    return rc;
}

// panelrun: runs emulated panels without a window.
//
//   panelrun [--type NAME] [--ip ADDR] [--port N] [--config PATH]
//            [--workdir DIR] [--library PATH] [--run-ms N] [--until-signal]
//            [--inject] [--trace] [--routers ADDR,...]
//            [--panels N [--port-base P] [--verbose]]
//            [--http ADDR:PORT [--http-token FILE|new] [--http-presses all|none|PORTS]]
//   panelrun --basedir DIR [--library PATH] [--run-ms N] [--until-signal]
//            [--inject] [--trace] [--verbose] [--http ADDR:PORT [--http-token FILE|new]]
//
// Hosts N panels (default 1) in this process as Keystead hosts them, on
// ports P, P+1, ... of the address (P: --port-base, else --port). Standard
// input takes one command a line: "press K [PANEL]", "release K [PANEL]"
// (PANEL: a panel's port; without it every panel), "sleep MS", "stop
// [PANEL]" (without PANEL every panel, which ends the program), carried out
// in order once every panel has come up (key events sent earlier would
// find no firmware). With one panel, standard error gets one line per event
// (state, firmmsg, bd, log, injector); with more, a summary line every
// second instead (panels running, online, offline, in error, starting; the
// process's processor use in cores and its resident memory per panel), the
// per-panel lines only with --verbose, each prefixed with the panel's port.
// Standard output carries the firmwares' own diagnostics. With --inject,
// outside programs send framed key messages over TCP on each panel's
// address, port + 20000, as they do to a panel in Keystead. With --trace,
// each panel's protocol trace (the marker file "TRACE" in the directory of
// its configuration file switches it on) goes to standard error as well,
// each line of its "trace.txt" as "trace <line>" (after the panel's port
// when there are several). With --routers, each panel accepts datagrams on
// its router link only from the addresses listed (the file
// "allowed_routers" beside its configuration file, removed at the end).
// With --http, the remote API (JSON over HTTP, events over WebSocket) reads
// back what every key of every panel shows, from a face kept without
// drawing, and presses keys; each panel's uid is its port. It listens on
// loopback unless told otherwise; any other address needs a token. With
// --http the program ends on "stop", a signal or the end of input, not
// when its panels have stopped.
// With --basedir, the panels are those of a Keystead base directory that
// are marked to start (BaseDirSet), each with its own type, address, port
// and directory data/p<uid>; their marks are kept as Keystead keeps them.
// Exit status: 0 once every firmware thread finished, 1 when one would not
// stop, 2 when a panel could not be started (the library cannot be copied,
// loaded or resolved, the injector cannot listen, or the open-files limit
// leaves no room).

#include "basedir_set.h"
#include "event_printer.h"
#include "kst_iplistgetter.h"
#include "kst_open_files.h"
#include "kst_router_list.h"
#include "kst_tracefollower.h"
#include "panel_rack.h"
#include "panel_remote.h"
#include "rm_router.h"
#include "rm_server.h"
#include "rm_web.h"
#include "proc_stats.h"
#include "rm_events.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

int s_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char c = 1;
    (void)!::write(s_signalPipe[1], &c, 1);
}

class PanelRunner : public QObject
{
public:
    PanelRunner(PanelRack *rack, bool stopAtEof, bool verbose, bool keepRunning)
        : m_rack(rack), m_stopAtEof(stopAtEof), m_single(rack->size() == 1), m_verbose(verbose),
          m_keepRunning(keepRunning)
    {
        if (m_single || m_verbose)
            connect(rack, &PanelRack::eventLine, this, &PanelRunner::onEventLine);
        connect(rack, &PanelRack::rackMessage, this,
                [](const QByteArray &line) { event_printer::writeLine(line); });
        connect(rack, &PanelRack::allSettled, this, &PanelRunner::runCommands);
        connect(rack, &PanelRack::allFinished, this, &PanelRunner::onFinished, Qt::QueuedConnection);
        if (!m_single) {
            connect(&m_summaryTimer, &QTimer::timeout, this, &PanelRunner::printSummary);
            m_summaryTimer.start(1000);
        }
    }

    // What the process holds before any panel: the end line compares.
    void noteBaseline()
    {
        m_baseRss = proc_stats::residentBytes();
        m_baseThreads = proc_stats::threadCount();
        m_baseFiles = KST_openFileCount();
        m_cpu = proc_stats::CpuMeter();
    }

    void addLine(const QString &line)
    {
        m_commands.push_back(line);
        runCommands();
    }

    void endOfInput()
    {
        m_inputEnded = true;
        runCommands();
    }

    void stopAll()
    {
        m_stopping = true;
        m_rack->stopAll();
    }

private:
    void onEventLine(int port, const QByteArray &line)
    {
        if (m_single)
            event_printer::writeLine(line);
        else if (m_verbose)
            event_printer::writeLine(event_printer::labelled(QByteArray::number(port), line));
    }

    void printSummary()
    {
        const PanelRack::Counts c = m_rack->counts();
        if (m_summaryOnChange) {
            const std::vector<int> now{c.running, c.online, c.offline, c.error, c.starting};
            if (now == m_lastCounts && m_sinceSummary.isValid() && m_sinceSummary.elapsed() < 60000)
                return;
            m_lastCounts = now;
            m_sinceSummary.start();
        }
        const double perPanel = c.loaded > 0 ? double(proc_stats::residentBytes() - m_baseRss) / c.loaded : 0.0;
        event_printer::writeLine(PanelRack::summaryLine(c, m_cpu.sample(), perPanel));
    }

    void onFinished()
    {
        // Panels stopped through the remote API may be started again.
        if (m_keepRunning && !m_stopping)
            return;
        const PanelRack::Counts c = m_rack->counts();
        if (c.stuck > 0) {
            // Its thread still runs the library's code: neither unload it
            // nor run the process's exit handlers under it.
            fflush(stdout);
            std::_Exit(1);
        }
        if (!m_single) {
            printSummary();
            // Threads that ended may take a moment to leave the process.
            int threads = proc_stats::threadCount();
            for (int i = 0; i < 200 && threads > m_baseThreads; ++i) {
                QThread::msleep(10);
                threads = proc_stats::threadCount();
            }
            event_printer::writeLine("panelrun: " + QByteArray::number(m_rack->size())
                                     + " panels stopped; threads " + QByteArray::number(threads) + " ("
                                     + QByteArray::number(m_baseThreads) + " before), open files "
                                     + QByteArray::number(KST_openFileCount()) + " ("
                                     + QByteArray::number(m_baseFiles) + " before)");
        }
        QCoreApplication::exit(c.failed + c.refused > 0 ? 2 : 0);
    }

    void runCommands()
    {
        if (!m_rack->settled())
            return;
        while (!m_sleeping && !m_commands.empty() && !m_stopping) {
            const QString line = m_commands.front().trimmed();
            m_commands.pop_front();
            runCommand(line);
        }
        if (!m_sleeping && m_commands.empty() && m_inputEnded && m_stopAtEof && !m_stopping)
            stopAll();
    }

    void runCommand(const QString &line)
    {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        const QString &cmd = words[0];
        bool ok = true;
        int args[2] = {0, -1};
        for (int i = 1; i < words.size() && i <= 2 && ok; ++i)
            args[i - 1] = words[i].toInt(&ok);
        const bool key = cmd == QLatin1String("press") || cmd == QLatin1String("release");
        if (cmd == QLatin1String("stop") && words.size() == 1) {
            stopAll();
        } else if (cmd == QLatin1String("stop") && words.size() == 2 && ok) {
            const int index = m_rack->indexOfPort(args[0]);
            if (!m_rack->stopPanel(args[0]))
                qWarning("panelrun: no panel at port %d", args[0]);
            else if (m_panelStopped)
                m_panelStopped(index);
        } else if (key && ok && (words.size() == 2 || words.size() == 3)) {
            const int panel = words.size() == 3 ? args[1] : -1;
            if (panel >= 0 && m_rack->indexOfPort(panel) < 0)
                qWarning("panelrun: no panel at port %d", panel);
            else
                m_rack->sendKey(args[0], cmd == QLatin1String("press"), panel);
        } else if (cmd == QLatin1String("sleep") && words.size() == 2 && ok && args[0] >= 0) {
            m_sleeping = true;
            QTimer::singleShot(args[0], this, [this] {
                m_sleeping = false;
                runCommands();
            });
        } else {
            qWarning("panelrun: unknown command: %s", qPrintable(line));
        }
    }

public:
    // Called with the rack index of a panel stopped on its own by a command.
    std::function<void(int)> m_panelStopped;
    // Summary lines only when the counts change (and once a minute).
    bool m_summaryOnChange = false;
    std::vector<int> m_lastCounts;
    QElapsedTimer m_sinceSummary;

private:
    PanelRack *m_rack;
    bool m_stopAtEof;
    bool m_single;
    bool m_verbose;
    bool m_keepRunning;
    std::deque<QString> m_commands;
    bool m_sleeping = false;
    bool m_inputEnded = false;
    bool m_stopping = false;
    QTimer m_summaryTimer;
    proc_stats::CpuMeter m_cpu;
    qint64 m_baseRss = 0;
    int m_baseThreads = 0;
    int m_baseFiles = 0;
};

// Standard input, read on the main thread as it becomes readable: each whole
// line goes to the runner, the end of input too.
class InputReader : public QObject
{
public:
    InputReader(PanelRunner *runner, QObject *parent) : QObject(parent), m_runner(runner)
    {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &InputReader::readSome);
    }

private:
    void readSome()
    {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            m_notifier->setEnabled(false);
            if (!m_pending.isEmpty())
                m_runner->addLine(QString::fromLocal8Bit(m_pending));
            m_pending.clear();
            m_runner->endOfInput();
            return;
        }
        m_pending.append(buf, n);
        qsizetype eol;
        while ((eol = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(eol);
            m_pending.remove(0, eol + 1);
            m_runner->addLine(QString::fromLocal8Bit(line));
        }
    }

    PanelRunner *m_runner;
    QSocketNotifier *m_notifier;
    QByteArray m_pending;
};

} // namespace

// The library built with the project; for an installed panelrun
// (bin/panelrun) the installed one, lib/tessaline/firm.
static QString defaultLibrary()
{
    const QString built = QStringLiteral(TESSFW_BUILT_LIBRARY);
    if (QFileInfo::exists(built))
        return built;
    const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath()
                                              + QStringLiteral("/../lib/tessaline/firm."));
    return QFileInfo::exists(installed) ? installed : built;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    event_printer::installMessageHandler();
    // Hundreds of panels hold more descriptors than the usual soft limit.
    KST_raiseOpenFilesLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("panelrun"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs emulated panels without a window."));
    parser.addHelpOption();
    const QCommandLineOption typeOpt(QStringLiteral("type"), QStringLiteral("Panel type name."),
                                     QStringLiteral("NAME"), QStringLiteral("SK2000A"));
    const QCommandLineOption ipOpt(QStringLiteral("ip"), QStringLiteral("Panel IPv4 address."),
                                   QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Panel UDP port."),
                                     QStringLiteral("N"), QStringLiteral("2001"));
    const QCommandLineOption configOpt(
        QStringLiteral("config"),
        QStringLiteral("Configuration file (default <workdir>/cfg<type>); with several panels "
                       "copied into each panel's directory."),
        QStringLiteral("PATH"));
    const QCommandLineOption workdirOpt(QStringLiteral("workdir"),
                                        QStringLiteral("Work directory (default: a new temporary one)."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption libraryOpt(QStringLiteral("library"),
                                        QStringLiteral("Firmware library to load."),
                                        QStringLiteral("PATH"), defaultLibrary());
    const QCommandLineOption runMsOpt(QStringLiteral("run-ms"),
                                      QStringLiteral("Stop after N ms (end of input then does not stop)."),
                                      QStringLiteral("N"));
    const QCommandLineOption untilSignalOpt(
        QStringLiteral("until-signal"),
        QStringLiteral("Ignore the end of standard input; run until SIGINT or SIGTERM."));
    const QCommandLineOption injectOpt(
        QStringLiteral("inject"),
        QStringLiteral("Accept framed key messages over TCP on the panel address, port N + 20000."));
    const QCommandLineOption panelsOpt(QStringLiteral("panels"), QStringLiteral("Number of panels."),
                                       QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption portBaseOpt(QStringLiteral("port-base"),
                                         QStringLiteral("UDP port of the first panel (default --port)."),
                                         QStringLiteral("P"));
    const QCommandLineOption verboseOpt(
        QStringLiteral("verbose"),
        QStringLiteral("With several panels: every panel's event lines, prefixed with its port."));
    const QCommandLineOption traceOpt(
        QStringLiteral("trace"),
        QStringLiteral("Switch the panels' protocol trace on and print its lines to standard error."));
    const QCommandLineOption routersOpt(
        QStringLiteral("routers"),
        QStringLiteral("Router controller addresses the panels accept, separated by commas; "
                       "datagrams from any other address are dropped (default: any)."),
        QStringLiteral("ADDR,..."));
    const QCommandLineOption httpOpt(
        QStringLiteral("http"),
        QStringLiteral("Serve the remote API on ADDR:PORT (loopback unless told otherwise)."),
        QStringLiteral("ADDR:PORT"));
    const QCommandLineOption httpTokenOpt(
        QStringLiteral("http-token"),
        QStringLiteral("Token every request must carry: the first line of FILE, or \"new\" for a "
                       "random one written to <workdir>/http-token. Required beyond loopback."),
        QStringLiteral("FILE"));
    const QCommandLineOption baseDirOpt(
        QStringLiteral("basedir"),
        QStringLiteral("Run the panels of a Keystead base directory (its cfg.xml) that are marked "
                       "to start, without windows."),
        QStringLiteral("DIR"));
    const QCommandLineOption httpPressesOpt(
        QStringLiteral("http-presses"),
        QStringLiteral("Which panels take presses from browsers and the remote API: all (the "
                       "default), none, or their ports (2001,2003-2005)."),
        QStringLiteral("all|none|PORTS"), QStringLiteral("all"));
    parser.addOptions({typeOpt, ipOpt, portOpt, configOpt, workdirOpt, libraryOpt, runMsOpt,
                       untilSignalOpt, injectOpt, traceOpt, routersOpt, panelsOpt, portBaseOpt,
                       verboseOpt, httpOpt, httpTokenOpt, httpPressesOpt, baseDirOpt});
    parser.process(app);

    std::unique_ptr<BaseDirSet> baseSet;
    std::vector<PanelRack::ListedPanel> listed;
    if (parser.isSet(baseDirOpt)) {
        // The panel set says what runs where.
        // Each panel's type, address, port, directory and router list come
        // from the panel set.
        for (const QCommandLineOption *o : {&typeOpt, &ipOpt, &portOpt, &configOpt, &workdirOpt,
                                            &panelsOpt, &portBaseOpt, &routersOpt, &httpPressesOpt}) {
            if (parser.isSet(*o)) {
                fprintf(stderr, "panelrun: --%s cannot be used with --basedir\n",
                        qPrintable(o->names().constFirst()));
                return 2;
            }
        }
        baseSet = std::make_unique<BaseDirSet>(parser.value(baseDirOpt));
        QString error;
        if (!baseSet->open(&error)) {
            fprintf(stderr, "panelrun: %s\n", qPrintable(error));
            return 2;
        }
        KST_IPListGetter addresses;
        listed = baseSet->autostartPanels(addresses.list());
        if (listed.empty()) {
            fprintf(stderr, "panelrun: no panel of the panel set in %s is marked to start\n",
                    qPrintable(baseSet->baseDir()));
            return 0;
        }
    }

    bool ok = false;
    int port = parser.value(portOpt).toInt(&ok);
    if (!ok || port < 0 || port > 65535) {
        fprintf(stderr, "panelrun: invalid port %s\n", qPrintable(parser.value(portOpt)));
        return 2;
    }
    if (parser.isSet(portBaseOpt)) {
        port = parser.value(portBaseOpt).toInt(&ok);
        if (!ok || port < 0 || port > 65535) {
            fprintf(stderr, "panelrun: invalid --port-base %s\n", qPrintable(parser.value(portBaseOpt)));
            return 2;
        }
    }
    const int panels = baseSet ? int(listed.size()) : parser.value(panelsOpt).toInt(&ok);
    if (!baseSet && (!ok || panels < 1 || port + panels - 1 > 65535)) {
        fprintf(stderr, "panelrun: invalid --panels %s (1 or more, the last port at most 65535)\n",
                qPrintable(parser.value(panelsOpt)));
        return 2;
    }
    int runMs = -1;
    if (parser.isSet(runMsOpt)) {
        runMs = parser.value(runMsOpt).toInt(&ok);
        if (!ok || runMs < 0) {
            fprintf(stderr, "panelrun: invalid --run-ms %s\n", qPrintable(parser.value(runMsOpt)));
            return 2;
        }
    }
    QStringList routers;
    if (parser.isSet(routersOpt)) {
        QString why;
        if (!KST_RouterList::parse(parser.value(routersOpt), &routers, &why) || routers.isEmpty()) {
            fprintf(stderr, "panelrun: invalid --routers %s: %s\n", qPrintable(parser.value(routersOpt)),
                    qPrintable(why.isEmpty() ? QStringLiteral("no address") : why));
            return 2;
        }
    }
    const QString library = parser.value(libraryOpt);
    if (!QFileInfo(library).isFile()) {
        fprintf(stderr, "panelrun: firmware library %s does not exist\n", qPrintable(library));
        return 2;
    }

    remote::Endpoint httpAt;
    if (parser.isSet(httpOpt)) {
        QString why;
        if (!remote::parseEndpoint(parser.value(httpOpt), &httpAt, &why)) {
            fprintf(stderr, "panelrun: --http %s\n", qPrintable(why));
            return 2;
        }
        if (!httpAt.address.isLoopback() && !parser.isSet(httpTokenOpt)) {
            fprintf(stderr,
                    "panelrun: --http %s can be reached from other machines: give --http-token FILE "
                    "(its first line is the token) or --http-token new (a random token)\n",
                    qPrintable(parser.value(httpOpt)));
            return 2;
        }
    } else if (parser.isSet(httpTokenOpt) || parser.isSet(httpPressesOpt)) {
        fprintf(stderr, "panelrun: --http-token and --http-presses need --http\n");
        return 2;
    }
    PortSet pressPorts;
    if (!pressPorts.parse(parser.value(httpPressesOpt))) {
        fprintf(stderr, "panelrun: --http-presses %s: give all, none or ports (2001,2003-2005)\n",
                qPrintable(parser.value(httpPressesOpt)));
        return 2;
    }

    QTemporaryDir tempDir;
    QString workDir = parser.value(workdirOpt);
    if (workDir.isEmpty()) {
        if (!tempDir.isValid()) {
            fprintf(stderr, "panelrun: cannot create a temporary directory\n");
            return 2;
        }
        workDir = tempDir.path();
    }

    PanelRack::Options options;
    options.type = parser.value(typeOpt);
    options.ip = parser.value(ipOpt);
    options.portBase = port;
    options.count = panels;
    options.library = library;
    options.workDir = workDir;
    options.config = parser.value(configOpt);
    options.inject = parser.isSet(injectOpt);
    options.headlessFaces = parser.isSet(httpOpt);
    options.routers = routers;
    options.panels = listed;
    const bool verbose = parser.isSet(verboseOpt);
    // A rack of many panels reports in summaries: per-panel texts and
    // records only when they are printed.
    options.textLines = options.recordLines = panels == 1 || verbose;
    if (panels > 1 && !verbose)
        event_printer::setDebugLines(false);
    PanelRack rack(options);

    // A panel set runs until it is told to stop: as a service its standard
    // input is empty.
    const bool stopAtEof = runMs < 0 && !parser.isSet(untilSignalOpt) && !baseSet;
    PanelRunner runner(&rack, stopAtEof, verbose, parser.isSet(httpOpt));
    // A service's journal gets a summary when the panels' states change,
    // and once a minute.
    runner.m_summaryOnChange = baseSet != nullptr;
    if (baseSet) {
        baseSet->attach(&rack);
        BaseDirSet *set = baseSet.get();
        runner.m_panelStopped = [set](int index) { set->panelStoppedByCommand(index); };
    }

    PanelRemoteHost remoteHost(&rack);
    remote::Server server(&remoteHost);
    if (parser.isSet(httpOpt)) {
        QByteArray token;
        QString why;
        const QString tokenArg = parser.value(httpTokenOpt);
        if (tokenArg == QLatin1String("new")) {
            QString path;
            // A panel set's token is kept in its base directory.
            const QString tokenDir = baseSet ? baseSet->baseDir() : workDir;
            QDir().mkpath(tokenDir);
            if (!remote::makeTokenFile(tokenDir, &token, &path, &why)) {
                fprintf(stderr, "panelrun: %s\n", qPrintable(why));
                return 2;
            }
            fprintf(stderr, "http-token %s (kept in %s)\n", token.constData(), qPrintable(path));
        } else if (!tokenArg.isEmpty() && !remote::readTokenFile(tokenArg, &token, &why)) {
            fprintf(stderr, "panelrun: %s\n", qPrintable(why));
            return 2;
        }
        if (!server.start(httpAt, token, &why)) {
            fprintf(stderr, "panelrun: %s\n", qPrintable(why));
            return 2;
        }
        // A panel set's panels keep their own switch (cfg.xml, as Keystead
        // shows it); a rack's are chosen with --http-presses.
        const bool fromSet = baseSet != nullptr;
        server.router()->setPressCheck([pressPorts, fromSet, &rack](int uid, QString *why) {
            if (fromSet ? rack.remotePressesAt(rack.indexOfUid(uid)) : pressPorts.contains(uid))
                return true;
            *why = fromSet ? QStringLiteral("panel %1 refuses presses from browsers and the remote "
                                            "API (its Presses switch in the panel set)").arg(uid)
                           : QStringLiteral("panel %1 refuses presses from browsers and the remote "
                                            "API (panelrun --http-presses)").arg(uid);
            return false;
        });
        remote::WebPages::install(server.router(), &remoteHost);
        event_printer::writeLine("http " + server.url().toUtf8());
    }

    if (::pipe(s_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
            char c;
            (void)!::read(s_signalPipe[0], &c, 1);
            runner.stopAll();
        });
        std::signal(SIGINT, onTerminationSignal);
        std::signal(SIGTERM, onTerminationSignal);
    }

    new InputReader(&runner, &app);

    // Each firmware writes its trace next to its configuration file.
    std::vector<std::unique_ptr<KST_TraceFollower>> traces;
    QStringList traceDirs; // whose trace marker this run holds
    if (parser.isSet(traceOpt)) {
        for (int i = 0; i < panels; ++i) {
            QString dir;
            if (panels == 1 && !baseSet) {
                const QString config = options.config.isEmpty()
                                           ? QDir(workDir).filePath(QStringLiteral("cfg") + options.type)
                                           : options.config;
                dir = QFileInfo(config).absolutePath();
            } else {
                dir = rack.panelDir(i);
                QDir().mkpath(dir);
            }
            QString error;
            if (!KST_TraceMarker::acquire(dir, &error)) {
                fprintf(stderr, "panelrun: %s\n", qPrintable(error));
                for (const QString &taken : traceDirs)
                    KST_TraceMarker::release(taken);
                return 2;
            }
            traceDirs.append(dir);
            const QByteArray label = panels == 1 ? QByteArray() : QByteArray::number(rack.port(i));
            traces.push_back(std::make_unique<KST_TraceFollower>(dir, [label](const QByteArray &line) {
                const QByteArray text = "trace " + line;
                event_printer::writeLine(label.isEmpty() ? text : event_printer::labelled(label, text));
            }));
            // What an earlier run left in the file is not this run's trace.
            traces.back()->startAtEnd();
        }
        auto *poller = new QTimer(&app);
        QObject::connect(poller, &QTimer::timeout, &app, [&traces] {
            for (auto &t : traces)
                t->poll();
        });
        poller->start(20);
        // The stop sequences flushed the last lines; the files are closed
        // before the end line counts what the process still holds.
        QObject::connect(&rack, &PanelRack::allFinished, &app, [&traces, &traceDirs, poller] {
            poller->stop();
            for (auto &t : traces)
                t->poll();
            traces.clear();
            for (const QString &dir : traceDirs)
                KST_TraceMarker::release(dir);
            traceDirs.clear();
        });
    }

    runner.noteBaseline();
    rack.startAll();
    if (runMs >= 0)
        QTimer::singleShot(runMs, &runner, [&runner] { runner.stopAll(); });

    const int status = app.exec();
    // With TESSALINE_REMOTE_STATS=1: how soon the event stream sent what
    // the panels' records changed.
    if (server.events() && !server.events()->latencyText().isEmpty())
        event_printer::writeLine(server.events()->latencyText().toUtf8());
    // A run stopped before its panels finished still gives its markers back.
    for (const QString &dir : traceDirs)
        KST_TraceMarker::release(dir);
    return status;
}

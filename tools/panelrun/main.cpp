// panelrun: runs one emulated panel without a window.
//
//   panelrun [--type NAME] [--ip ADDR] [--port N] [--config PATH]
//            [--workdir DIR] [--library PATH] [--run-ms N] [--until-signal]
//            [--inject] [--trace]
//
// Standard input takes one command a line: "press K", "release K",
// "sleep MS", "stop", carried out in order once the firmware reports
// ST_RUNNING (key events sent earlier would find no firmware). Standard
// error gets one line per event (state, firmmsg, bd, log, injector);
// standard output carries the firmware's own diagnostics. With --inject,
// outside programs send framed key messages over TCP on the panel's address,
// port N + 20000, as they do to a panel in Keystead. With --trace, the
// panel's protocol trace (the marker file "TRACE" in the directory of its
// configuration file switches it on) goes to standard error as well, each
// line of its "trace.txt" as "trace <line>".
// Exit status: 0 once the firmware thread finished, 1 when it would not stop,
// 2 when the library cannot be copied, loaded or resolved, or the injector
// cannot listen.

#include "event_printer.h"
#include "injected_keys.h"
#include "injector.h"
#include "panel_host.h"
#include "trace_follower.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <memory>
#include <unistd.h>

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
    PanelRunner(PanelHost *host, bool stopAtEof) : m_host(host), m_stopAtEof(stopAtEof)
    {
        connect(host, &PanelHost::stateReported, this, &PanelRunner::onState, Qt::QueuedConnection);
        connect(host, &PanelHost::textReported, this,
                [](const QString &t) { event_printer::writeLine(event_printer::firmMsgLine(t)); },
                Qt::QueuedConnection);
        connect(host, &PanelHost::recordsReported, this,
                [](const std::vector<QByteArray> &records) {
                    for (const QByteArray &r : records)
                        event_printer::writeLine(event_printer::recordLine(r));
                },
                Qt::QueuedConnection);
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

    // Stops the firmware; retried while the thread does not end (it ignores
    // a stop that arrives before its firmware object exists).
    void stopFirmware()
    {
        if (m_finished || !m_host->firmware())
            return;
        m_stopping = true;
        if (m_host->firmware()->stop())
            return; // ST_THREAD_FINISHED follows and ends the program
        if (++m_stopAttempts >= 5) {
            qWarning("panelrun: firmware thread did not stop");
            QCoreApplication::exit(1);
            return;
        }
        QTimer::singleShot(100, this, [this] { stopFirmware(); });
    }

private:
    void onState(TFW_IFirmwareCallback::StateMsg msg)
    {
        event_printer::writeLine(event_printer::stateLine(int(msg)));
        if (msg == TFW_IFirmwareCallback::ST_RUNNING) {
            m_running = true;
            runCommands();
        }
        // As the host does: a panel whose sockets cannot be had is stopped.
        if (msg == TFW_IFirmwareCallback::ST_UDP_BIND_ERROR || msg == TFW_IFirmwareCallback::ST_FTP_BIND_ERROR
            || msg == TFW_IFirmwareCallback::ST_FTP_ERROR)
            stopFirmware();
        if (msg == TFW_IFirmwareCallback::ST_THREAD_FINISHED) {
            m_finished = true;
            QCoreApplication::exit(0);
        }
    }

    void runCommands()
    {
        if (!m_running)
            return;
        while (!m_sleeping && !m_commands.empty() && !m_stopping) {
            const QString line = m_commands.front().trimmed();
            m_commands.pop_front();
            runCommand(line);
        }
        if (!m_sleeping && m_commands.empty() && m_inputEnded && m_stopAtEof && !m_stopping)
            stopFirmware();
    }

    void runCommand(const QString &line)
    {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        bool ok = words.size() == 2;
        const int arg = ok ? words[1].toInt(&ok) : 0;
        const QString &cmd = words[0];
        if (cmd == QLatin1String("stop") && words.size() == 1) {
            stopFirmware();
        } else if (cmd == QLatin1String("press") && ok) {
            m_host->firmware()->sendCollectorMsg(collector::CollectorMsg(arg, 1));
        } else if (cmd == QLatin1String("release") && ok) {
            m_host->firmware()->sendCollectorMsg(collector::CollectorMsg(arg, 0));
        } else if (cmd == QLatin1String("sleep") && ok && arg >= 0) {
            m_sleeping = true;
            QTimer::singleShot(arg, this, [this] {
                m_sleeping = false;
                runCommands();
            });
        } else {
            qWarning("panelrun: unknown command: %s", qPrintable(line));
        }
    }

    PanelHost *m_host;
    bool m_stopAtEof;
    std::deque<QString> m_commands;
    bool m_running = false;
    bool m_sleeping = false;
    bool m_inputEnded = false;
    bool m_stopping = false;
    bool m_finished = false;
    int m_stopAttempts = 0;
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("panelrun"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs one emulated panel without a window."));
    parser.addHelpOption();
    const QCommandLineOption typeOpt(QStringLiteral("type"), QStringLiteral("Panel type name."),
                                     QStringLiteral("NAME"), QStringLiteral("SK2000A"));
    const QCommandLineOption ipOpt(QStringLiteral("ip"), QStringLiteral("Panel IPv4 address."),
                                   QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Panel UDP port."),
                                     QStringLiteral("N"), QStringLiteral("2001"));
    const QCommandLineOption configOpt(QStringLiteral("config"),
                                       QStringLiteral("Configuration file (default <workdir>/cfg<type>)."),
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
    const QCommandLineOption traceOpt(
        QStringLiteral("trace"),
        QStringLiteral("Switch the panel's protocol trace on and print its lines to standard error."));
    parser.addOptions({typeOpt, ipOpt, portOpt, configOpt, workdirOpt, libraryOpt, runMsOpt,
                       untilSignalOpt, injectOpt, traceOpt});
    parser.process(app);

    bool ok = false;
    const int port = parser.value(portOpt).toInt(&ok);
    if (!ok || port < 0 || port > 65535) {
        fprintf(stderr, "panelrun: invalid port %s\n", qPrintable(parser.value(portOpt)));
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

    QTemporaryDir tempDir;
    QString workDir = parser.value(workdirOpt);
    if (workDir.isEmpty()) {
        if (!tempDir.isValid()) {
            fprintf(stderr, "panelrun: cannot create a temporary directory\n");
            return 2;
        }
        workDir = tempDir.path();
    }
    const QString type = parser.value(typeOpt);
    QString config = parser.value(configOpt);
    if (config.isEmpty())
        config = workDir + QStringLiteral("/cfg") + type;

    PanelHost host;
    if (!host.load(parser.value(libraryOpt), workDir)) {
        fprintf(stderr, "panelrun: %s\n", qPrintable(host.errorString()));
        return 2;
    }

    // Declared after the host, so gone before it: the injector's target
    // passes every message to the host's loader.
    std::unique_ptr<InjectedKeys> injectedKeys;
    std::unique_ptr<collector::Injector> injector;
    if (parser.isSet(injectOpt)) {
        injectedKeys = std::make_unique<InjectedKeys>(host.loader());
        const int injectPort = (port + 20000) % 65536;
        injector = std::make_unique<collector::Injector>(parser.value(ipOpt), injectPort,
                                                         injectedKeys.get());
        if (!injector->run()) {
            fprintf(stderr, "panelrun: failed to run injector on %s:%d\n",
                    qPrintable(parser.value(ipOpt)), injectPort);
            return 2;
        }
        event_printer::writeLine("injector " + parser.value(ipOpt).toUtf8() + ':'
                                 + QByteArray::number(injector->serverPort()));
    }

    const bool stopAtEof = runMs < 0 && !parser.isSet(untilSignalOpt);
    PanelRunner runner(&host, stopAtEof);

    if (::pipe(s_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &runner, [&runner] {
            char c;
            (void)!::read(s_signalPipe[0], &c, 1);
            runner.stopFirmware();
        });
        std::signal(SIGINT, onTerminationSignal);
        std::signal(SIGTERM, onTerminationSignal);
    }

    new InputReader(&runner, &app);

    // The firmware writes its trace next to its configuration file.
    std::unique_ptr<TraceFollower> trace;
    if (parser.isSet(traceOpt)) {
        trace = std::make_unique<TraceFollower>(QFileInfo(config).absolutePath(), [](const QByteArray &line) {
            event_printer::writeLine("trace " + line);
        });
        QString error;
        if (!trace->start(&error)) {
            fprintf(stderr, "panelrun: %s\n", qPrintable(error));
            return 2;
        }
        auto *poller = new QTimer(&app);
        QObject::connect(poller, &QTimer::timeout, &app, [&trace] { trace->poll(); });
        poller->start(20);
    }

    host.firmware()->start(type, parser.value(ipOpt), port, config);
    if (runMs >= 0)
        QTimer::singleShot(runMs, &runner, [&runner] { runner.stopFirmware(); });

    const int status = app.exec();
    // The stop sequence flushed the last lines.
    if (trace)
        trace->finish();

    if (status != 0) {
        // The firmware thread may still run: unloading its library now would
        // pull the code from under it.
        fflush(stdout);
        std::_Exit(status);
    }
    injector.reset();
    host.unload();
    return status;
}

// Benchmark: what logging costs the thread that logs, as the GUI thread
// logs the reports of hundreds of panels. Each line goes through the
// process's message handler: a syslog datagram, standard error and the log
// file (kept open, rotated at 10 MiB), and with the log window shown, the
// window too.
//
//   bench_log [LINES]
//
// Prints the processor time per line without and with the log window, the
// lines a second one core could log, and the share of the GUI thread that
// 500 panels each logging 10 lines a second would take. Standard error goes
// to /dev/null while it measures (a terminal costs what the terminal costs).

#include "lib_debugwindow.h"
#include "lib_message_handler.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Lines as a rack's reports read, cycling over 500 panels.
void logLines(int count, bool drainWindow)
{
    for (int i = 0; i < count; ++i) {
        const int panel = i % 500 + 1;
        qDebug("panel%d[rack 3],SK2000A,127.0.0.1:%d: state 13 ST_UDP_RECEIVED (tally .UV%03d,%03d)", panel,
               2000 + panel, i % 64 + 1, i % 128 + 1);
        // The window appends its lines on the GUI thread's event loop, as
        // it does while panels run.
        if (drainWindow && i % 50 == 49)
            QCoreApplication::processEvents();
    }
    if (drainWindow)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char **argv)
{
    const int lines = argc > 1 ? std::max(1000, atoi(argv[1])) : 200000;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        fprintf(stderr, "bench_log: no work directory\n");
        return 1;
    }
    LIB_MessageHandler::install();
    const int savedErr = dup(STDERR_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    if (savedErr < 0 || devNull < 0)
        return 1;
    dup2(devNull, STDERR_FILENO);

    double c0 = cpuMs();
    logLines(lines, false);
    const double plainUs = (cpuMs() - c0) * 1000.0 / lines;

    LIB_DebugWindow *w = LIB_DebugWindow::instance(QStringLiteral("Tessaline log"));
    QCoreApplication::processEvents();
    const int windowLines = std::min(lines, 20000);
    c0 = cpuMs();
    logLines(windowLines, true);
    w->flush(); // the last batch is part of the cost
    const double windowUs = (cpuMs() - c0) * 1000.0 / windowLines;
    w->hide();
    QCoreApplication::processEvents();

    dup2(savedErr, STDERR_FILENO);
    const QFileInfo log(dir.filePath(QStringLiteral("log.txt"))), rotated(dir.filePath(QStringLiteral("log.txt.1")));
    printf("lines: %d without the window, %d with it\n", lines, windowLines);
    printf("log file: log.txt %lld bytes, log.txt.1 %s\n", log.size(),
           rotated.exists() ? qPrintable(QString::number(rotated.size()) + QStringLiteral(" bytes (rotated)"))
                            : "none");
    printf("without the log window: %.2f us a line (%.0f lines/s on one core)\n", plainUs, 1e6 / plainUs);
    printf("with the log window shown: %.2f us a line (%.0f lines/s on one core)\n", windowUs, 1e6 / windowUs);
    printf("500 panels logging 10 lines/s each: %.1f %% of the GUI thread without the window, %.1f %% with it\n",
           5000 * plainUs / 1e4, 5000 * windowUs / 1e4);
    return 0;
}

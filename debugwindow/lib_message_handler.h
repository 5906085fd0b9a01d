#ifndef LIB_MESSAGE_HANDLER_H
#define LIB_MESSAGE_HANDLER_H

#include <QColor>
#include <QString>
#include <QtGlobal>

class LIB_DebugWindow;

// The process-wide Qt message handler of the host. Every debug, warning,
// critical and fatal line goes
//   1. as a syslog datagram "<severity>date pui:text" to 127.0.0.1:514, and
//      to the log window while one is shown (numbered "0001:" in dark green,
//      the text in the level's colour); neither while the program shuts
//      down;
//   2. to standard error as "<level number>,<text>";
//   3. to the log file "log.txt" in the current directory.
//
// It may be called on any thread at once: one lock keeps each line whole
// and the window's numbers in order, and the window is only reached through
// its signal, so it is only touched on its own thread. A line logged while
// the handler runs on the same thread (say by Qt, from inside the window)
// goes to standard error only.
class LIB_MessageHandler
{
public:
    struct Level
    {
        const char *name;
        int severity; // syslog severity
        QColor colour;
    };

    // Installs the handler (once; later calls do nothing).
    static void install();
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);

    // While set, no datagrams and no window lines (the program shuts down).
    static void setShuttingDown(bool on);
    static bool shuttingDown();

    // Where the datagrams go: port 514 of the local machine unless changed.
    static void setSyslogPort(quint16 port);
    // The log file and its size limit (10 MiB), for the next line on.
    static void setLogFile(const QString &path, qint64 limit);

    // Name, severity and colour of a level ("debug" 7 black, "warning" 4
    // blue, "critical" 2 red, "fatal" 0 cyan, "info" 6 black).
    static Level level(QtMsgType type);

private:
    friend class LIB_DebugWindow;
    // The window registers itself, and tells whether it is shown and
    // enabled; on its own thread.
    static void setWindow(LIB_DebugWindow *window);
    static void setWindowShown(bool shown);
};

#endif

#include "event_printer.h"

#include "bd_decode.h"
#include "tfw_interface.h"

#include <unistd.h>

namespace event_printer {

void writeLine(const QByteArray &line)
{
    QByteArray out = line;
    out.append('\n');
    const char *p = out.constData();
    qsizetype left = out.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(left));
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

QByteArray escapeLineBreaks(const QString &text)
{
    QByteArray out = text.toUtf8();
    out.replace('\n', "\\n");
    out.replace('\r', "\\r");
    return out;
}

QByteArray stateLine(int value)
{
    const char *name = tfw_state_name(value);
    return "state " + QByteArray::number(value) + ' ' + (name ? name : "UNKNOWN");
}

QByteArray firmMsgLine(const QString &text)
{
    return "firmmsg " + escapeLineBreaks(text);
}

QByteArray recordLine(const QByteArray &record)
{
    // One decoded line per record; anything unknown or malformed as raw hex.
    return "bd " + buttondriver::describeRecord(record);
}

QByteArray logLine(QtMsgType type, const QString &text)
{
    const char *level = "debug";
    switch (type) {
    case QtWarningMsg: level = "warning"; break;
    case QtCriticalMsg: level = "critical"; break;
    case QtFatalMsg: level = "fatal"; break;
    case QtDebugMsg:
    case QtInfoMsg: level = "debug"; break;
    }
    return QByteArray("log ") + level + ' ' + escapeLineBreaks(text);
}

static void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    writeLine(logLine(type, text));
    if (type == QtFatalMsg)
        abort();
}

void installMessageHandler()
{
    qInstallMessageHandler(messageHandler);
}

} // namespace event_printer

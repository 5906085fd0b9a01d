#include "event_printer.h"

#include "bd_decode.h"
#include "tfw_interface.h"

#include <QThread>

#include <atomic>
#include <map>
#include <mutex>
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

static std::mutex s_labelLock;
static std::map<const void *, QByteArray> s_labels;
static std::atomic<bool> s_debugLines{true};

void setThreadLabel(const void *thread, const QByteArray &label)
{
    std::lock_guard<std::mutex> lock(s_labelLock);
    s_labels[thread] = label;
}

void clearThreadLabel(const QByteArray &label)
{
    std::lock_guard<std::mutex> lock(s_labelLock);
    for (auto it = s_labels.begin(); it != s_labels.end();) {
        if (it->second == label)
            it = s_labels.erase(it);
        else
            ++it;
    }
}

void setDebugLines(bool on)
{
    s_debugLines.store(on, std::memory_order_relaxed);
}

QByteArray labelled(const QByteArray &label, const QByteArray &line)
{
    return label + ": " + line;
}

static void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !s_debugLines.load(std::memory_order_relaxed))
        return;
    QByteArray label;
    {
        std::lock_guard<std::mutex> lock(s_labelLock);
        if (!s_labels.empty()) {
            auto it = s_labels.find(QThread::currentThread());
            if (it != s_labels.end())
                label = it->second;
        }
    }
    writeLine(label.isEmpty() ? logLine(type, text) : labelled(label, logLine(type, text)));
    if (type == QtFatalMsg)
        abort();
}

void installMessageHandler()
{
    qInstallMessageHandler(messageHandler);
}

} // namespace event_printer

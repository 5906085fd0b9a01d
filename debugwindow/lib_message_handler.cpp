#include "lib_message_handler.h"

#include "lib_debugwindow.h"
#include "lib_log_file.h"

#include <QCoreApplication>
#include <QDateTime>

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A syslog datagram stays well inside what one UDP datagram can carry.
const int kMaxDatagram = 60000;

struct HandlerState
{
    std::mutex lock;
    LIB_LogFile file;
    int syslogFd = -1;
    quint16 syslogPort = 514;
    LIB_DebugWindow *window = nullptr;
    int lineCounter = 1;
};

HandlerState &state()
{
    static HandlerState *s = new HandlerState; // lives to the very end: logging may go on in exit handlers
    return *s;
}

std::atomic<bool> s_installed{false};
std::atomic<bool> s_shuttingDown{false};
std::atomic<bool> s_windowShown{false};
thread_local bool t_inHandler = false;

// Writes the whole buffer to a descriptor, however the system splits it.
void writeAll(int fd, const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= n;
    }
}

void sendSyslog(HandlerState &s, int severity, const QString &text)
{
    if (s.syslogFd < 0) {
        s.syslogFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s.syslogFd < 0)
            return;
    }
    QByteArray datagram = QStringLiteral("<%1>%2 %3:%4")
                              .arg(QString::number(severity), QDateTime::currentDateTime().toString(),
                                   QStringLiteral("pui"), text)
                              .toUtf8();
    if (datagram.size() > kMaxDatagram)
        datagram.truncate(kMaxDatagram);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.syslogPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Nobody listening, or a full socket buffer, costs the line its datagram
    // and nothing else.
    (void)::sendto(s.syslogFd, datagram.constData(), size_t(datagram.size()), 0,
                   reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

} // namespace

LIB_MessageHandler::Level LIB_MessageHandler::level(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return {"debug", 7, QColor(Qt::black)};
    case QtWarningMsg:
        return {"warning", 4, QColor(Qt::blue)};
    case QtCriticalMsg:
        return {"critical", 2, QColor(Qt::red)};
    case QtFatalMsg:
        return {"fatal", 0, QColor(Qt::cyan)};
    case QtInfoMsg:
        return {"info", 6, QColor(Qt::black)};
    }
    return {"debug", 7, QColor(Qt::black)};
}

void LIB_MessageHandler::install()
{
    if (s_installed.exchange(true))
        return;
    state(); // built before any thread can race to it
    qInstallMessageHandler(handle);
}

void LIB_MessageHandler::setShuttingDown(bool on)
{
    s_shuttingDown.store(on);
}

bool LIB_MessageHandler::shuttingDown()
{
    return s_shuttingDown.load();
}

void LIB_MessageHandler::setSyslogPort(quint16 port)
{
    HandlerState &s = state();
    std::lock_guard<std::mutex> l(s.lock);
    s.syslogPort = port;
}

void LIB_MessageHandler::setLogFile(const QString &path, qint64 limit)
{
    HandlerState &s = state();
    std::lock_guard<std::mutex> l(s.lock);
    s.file.setPath(path);
    s.file.setLimit(limit);
}

void LIB_MessageHandler::setWindow(LIB_DebugWindow *window)
{
    HandlerState &s = state();
    std::lock_guard<std::mutex> l(s.lock);
    s.window = window;
    if (!window)
        s_windowShown.store(false);
}

void LIB_MessageHandler::setWindowShown(bool shown)
{
    s_windowShown.store(shown);
}

void LIB_MessageHandler::handle(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    const Level lv = level(type);
    const QByteArray errLine = QByteArray::number(int(type)) + ',' + text.toLocal8Bit() + '\n';
    if (t_inHandler) {
        writeAll(STDERR_FILENO, errLine);
        return;
    }
    t_inHandler = true;
    HandlerState &s = state();
    {
        std::lock_guard<std::mutex> l(s.lock);
        if (!s_shuttingDown.load()) {
            sendSyslog(s, lv.severity, text);
            if (s.window && s_windowShown.load() && !QCoreApplication::closingDown()) {
                // Both parts are sent under the lock, so the number and its
                // text reach the window next to each other, in line order.
                emit s.window->log_signal(QColor(Qt::darkGreen),
                                          QStringLiteral("%1:").arg(s.lineCounter, 4, 10,
                                                                    QLatin1Char('0')));
                emit s.window->log_signal(lv.colour, text + QLatin1Char('\n'));
                ++s.lineCounter;
            }
        }
        writeAll(STDERR_FILENO, errLine);
        s.file.write(text.toLocal8Bit() + '\n');
    }
    t_inHandler = false;
}

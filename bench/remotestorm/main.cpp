// remotestorm: what the remote API's event stream costs a host of many panels
// under a tally storm, and whether every client keeps up.
//
//   remotestorm [--panels N] [--clients C] [--storm-rate R] [--seconds S]
//               [--settle S] [--router-ip ADDR] [--panel-ip ADDR]
//               [--port-base P] [--http ADDR:PORT]
//
// Runs a routersim process serving N panels (default 200) with a tally storm
// of R random crosspoint changes a second (default 20) sent to every panel,
// and one panelrun process hosting the N panels (SK1400A with the
// demonstration's configuration: every tally that reaches a panel's chosen
// destination changes the legend of its routed-source key and two source
// keys' lamps) with the remote API on. Once every panel is online and
// --settle seconds (default 3) have passed, it measures over --seconds
// (default 20) the processor use of the panelrun process and of its main
// (GUI) thread, without event clients; then it connects C clients (default
// 20) to GET /api/v1/events, each subscribed to every panel, and measures the
// same again, with the messages and bytes each client received. A client
// the host closes (or that loses its connection) counts as dropped.
//
// panelrun runs with TESSALINE_REMOTE_STATS=1 and reports at its end how
// long its events took from the records being applied to the event being
// written to the sockets of all its clients; that line is printed too.
//
// Exit status 0 when every panel came online and no client was dropped, 1
// otherwise, 2 for bad options.

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <memory>
#include <signal.h>
#include <unistd.h>
#include <vector>

namespace {

struct Settings
{
    int panels = 200;
    int clients = 20;
    int stormRate = 20;
    int seconds = 20;
    int settle = 3;
    QString routerIp = QStringLiteral("127.0.0.84");
    QString panelIp = QStringLiteral("127.0.0.85");
    int portBase = 9001;
    QString http = QStringLiteral("127.0.0.84:0");
};

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Done> bool waitUntil(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// Processor seconds of a process, or of one of its threads, from /proc.
double cpuSecondsOf(const QString &statPath)
{
    QFile f(statPath);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    // Fields after the command name, which is in parentheses.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> w = line.mid(close + 2).split(' ');
    if (w.size() < 13)
        return 0;
    // utime and stime are fields 14 and 15 of the line, 12 and 13 here.
    return double(w[11].toLongLong() + w[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

struct CpuSample
{
    double process = 0;
    double mainThread = 0;
    qint64 wallNs = 0;
};

CpuSample sampleCpu(qint64 pid, const QElapsedTimer &clock)
{
    CpuSample s;
    s.process = cpuSecondsOf(QStringLiteral("/proc/%1/stat").arg(pid));
    s.mainThread = cpuSecondsOf(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    s.wallNs = clock.nsecsElapsed();
    return s;
}

// One GET on a connection of its own; the body, or empty.
QByteArray httpGet(const QString &host, quint16 port, const QByteArray &path)
{
    QTcpSocket s;
    s.connectToHost(host, port);
    if (!s.waitForConnected(5000))
        return QByteArray();
    // Named by its address: without a token the server refuses host names.
    s.write("GET " + path + " HTTP/1.1\r\nHost: " + host.toLatin1() + ':' + QByteArray::number(port)
            + "\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(5000))
        reply += s.readAll();
    reply += s.readAll();
    const qsizetype body = reply.indexOf("\r\n\r\n");
    return reply.startsWith("HTTP/1.1 200") && body >= 0 ? reply.mid(body + 4) : QByteArray();
}

int onlineCount(const QString &host, quint16 port)
{
    const QJsonObject o = QJsonDocument::fromJson(httpGet(host, port, "/api/v1/panels")).object();
    int n = 0;
    for (const QJsonValue &p : o.value(QStringLiteral("panels")).toArray())
        n += p.toObject().value(QStringLiteral("online")).toBool() ? 1 : 0;
    return n;
}

// A client of the event stream that reads every frame as it comes and
// counts the text messages, without parsing them.
class StreamClient : public QObject
{
public:
    StreamClient(const QString &host, quint16 port)
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this, host, port] {
            QByteArray key(16, '\0');
            for (char &c : key)
                c = char(QRandomGenerator::global()->bounded(256));
            m_key = key.toBase64();
            m_socket.write("GET /api/v1/events HTTP/1.1\r\nHost: " + host.toLatin1() + ':'
                           + QByteArray::number(port)
                           + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: "
                           + m_key + "\r\n\r\n");
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, &StreamClient::readSome);
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
            if (!m_closed) {
                m_closed = true;
                m_reason = QStringLiteral("connection lost");
            }
        });
        m_socket.setReadBufferSize(0);
        m_socket.connectToHost(host, port);
    }

    bool open() const { return m_open && !m_closed; }
    bool closed() const { return m_closed; }
    QString reason() const { return m_reason; }
    qint64 messages() const { return m_messages; }
    qint64 bytes() const { return m_bytes; }
    void close()
    {
        m_closed = true;
        m_socket.abort();
    }

private:
    void readSome()
    {
        m_buffer += m_socket.readAll();
        if (!m_open) {
            const qsizetype end = m_buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const QByteArray head = m_buffer.left(end);
            const QByteArray accept =
                QCryptographicHash::hash(m_key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1)
                    .toBase64();
            if (!head.startsWith("HTTP/1.1 101") || !head.contains(accept)) {
                m_closed = true;
                m_reason = QString::fromLatin1(head.left(head.indexOf('\r')));
                m_socket.abort();
                return;
            }
            m_open = true;
            m_buffer.remove(0, end + 4);
        }
        qsizetype at = 0;
        for (;;) {
            if (m_buffer.size() - at < 2)
                break;
            const uchar b0 = uchar(m_buffer[at]), b1 = uchar(m_buffer[at + 1]);
            qint64 len = b1 & 0x7f;
            qsizetype head = 2;
            if (len == 126) {
                if (m_buffer.size() - at < 4)
                    break;
                len = (uchar(m_buffer[at + 2]) << 8) | uchar(m_buffer[at + 3]);
                head = 4;
            } else if (len == 127) {
                if (m_buffer.size() - at < 10)
                    break;
                len = 0;
                for (int i = 0; i < 8; ++i)
                    len = (len << 8) | uchar(m_buffer[at + 2 + i]);
                head = 10;
            }
            if (m_buffer.size() - at - head < len)
                break;
            const int opcode = b0 & 0x0f;
            if (opcode == 8) {
                m_closed = true;
                m_reason = QStringLiteral("closed by the host: ")
                           + QString::fromUtf8(m_buffer.mid(at + head + 2, qMax<qint64>(0, len - 2)));
                m_socket.abort();
                return;
            }
            if ((opcode == 1 || opcode == 0) && (b0 & 0x80))
                ++m_messages;
            m_bytes += head + len;
            at += head + qsizetype(len);
        }
        m_buffer.remove(0, at);
    }

    QTcpSocket m_socket;
    QByteArray m_key;
    QByteArray m_buffer;
    bool m_open = false;
    bool m_closed = false;
    QString m_reason;
    qint64 m_messages = 0;
    qint64 m_bytes = 0;
};

QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return "?";
    const QList<QByteArray> w = f.readAll().split(' ');
    return w.size() >= 3 ? w[0] + ' ' + w[1] + ' ' + w[2] : QByteArray("?");
}

bool parseHostPort(const QString &text, QString *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int p = colon > 0 ? text.mid(colon + 1).toInt(&ok) : -1;
    if (!ok || p < 0 || p > 65535)
        return false;
    *host = text.left(colon);
    *port = quint16(p);
    return true;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg)
        abort();
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(messageHandler);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    Settings s;
    const QStringList a = app.arguments();
    bool ok = true;
    for (int i = 1; i < a.size() && ok; ++i) {
        const bool more = i + 1 < a.size();
        const QString &o = a[i];
        if (o == QLatin1String("--panels") && more)
            s.panels = a[++i].toInt(&ok);
        else if (o == QLatin1String("--clients") && more)
            s.clients = a[++i].toInt(&ok);
        else if (o == QLatin1String("--storm-rate") && more)
            s.stormRate = a[++i].toInt(&ok);
        else if (o == QLatin1String("--seconds") && more)
            s.seconds = a[++i].toInt(&ok);
        else if (o == QLatin1String("--settle") && more)
            s.settle = a[++i].toInt(&ok);
        else if (o == QLatin1String("--router-ip") && more)
            s.routerIp = a[++i];
        else if (o == QLatin1String("--panel-ip") && more)
            s.panelIp = a[++i];
        else if (o == QLatin1String("--port-base") && more)
            s.portBase = a[++i].toInt(&ok);
        else if (o == QLatin1String("--http") && more)
            s.http = a[++i];
        else
            ok = false;
    }
    QString httpHost;
    quint16 httpPort = 0;
    if (!ok || s.panels < 1 || s.clients < 0 || s.clients > 64 || s.stormRate < 1 || s.seconds < 1
        || s.settle < 0 || s.portBase < 1 || s.portBase + s.panels - 1 > 27000
        || !parseHostPort(s.http, &httpHost, &httpPort)) {
        fprintf(stderr, "usage: remotestorm [--panels N] [--clients C (0 to 64)] [--storm-rate R]\n"
                        "                   [--seconds S] [--settle S] [--router-ip ADDR] [--panel-ip ADDR]\n"
                        "                   [--port-base P] [--http ADDR:PORT]\n");
        return 2;
    }

    QTemporaryDir dir;
    const QString cfg = dir.filePath(QStringLiteral("cfgSK1400A"));
    if (QProcess::execute(QStringLiteral(PCSLPACK_PATH),
                          {QStringLiteral("pack"), QStringLiteral(DEMO_DIR "/cfgSK1400A.pcsl"), cfg})
        != 0) {
        fprintf(stderr, "remotestorm: cannot pack the demonstration configuration\n");
        return 1;
    }

    // The demonstration's router: 2 levels, 24 sources, 8 destinations, so
    // that every change is one the panels show.
    QProcess router;
    router.setStandardOutputFile(QProcess::nullDevice());
    router.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    router.start(QStringLiteral(ROUTERSIM_PATH),
                 {QStringLiteral("--bind"), s.routerIp + QStringLiteral(":2001"), QStringLiteral("--panel-range"),
                  QStringLiteral("%1:%2-%3").arg(s.panelIp).arg(s.portBase).arg(s.portBase + s.panels - 1),
                  QStringLiteral("--levels"), QStringLiteral("2"), QStringLiteral("--sources"),
                  QStringLiteral("24"), QStringLiteral("--dests"), QStringLiteral("8"), QStringLiteral("--quiet"),
                  QStringLiteral("--storm"), QString::number(s.stormRate)});
    if (!router.waitForStarted()) {
        fprintf(stderr, "remotestorm: cannot start routersim\n");
        return 1;
    }

    QProcess host;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSALINE_REMOTE_STATS"), QStringLiteral("1"));
    host.setProcessEnvironment(env);
    host.setStandardOutputFile(QProcess::nullDevice());
    host.setReadChannel(QProcess::StandardError);
    host.start(QStringLiteral(PANELRUN_PATH),
               {QStringLiteral("--panels"), QString::number(s.panels), QStringLiteral("--type"),
                QStringLiteral("SK1400A"), QStringLiteral("--config"), cfg, QStringLiteral("--ip"), s.panelIp,
                QStringLiteral("--port-base"), QString::number(s.portBase), QStringLiteral("--workdir"),
                dir.filePath(QStringLiteral("panels")), QStringLiteral("--http"), s.http,
                QStringLiteral("--until-signal")});
    QByteArray hostErr;
    QString url;
    const QRegularExpression urlLine(QStringLiteral("^http http://([^/]+)/"), QRegularExpression::MultilineOption);
    auto readHost = [&] {
        hostErr += host.readAllStandardError();
        if (url.isEmpty()) {
            const QRegularExpressionMatch m = urlLine.match(QString::fromLatin1(hostErr));
            if (m.hasMatch())
                url = m.captured(1);
        }
    };
    QObject::connect(&host, &QProcess::readyReadStandardError, &app, readHost);
    int status = 0;
    auto finish = [&] {
        if (host.state() != QProcess::NotRunning) {
            ::kill(pid_t(host.processId()), SIGTERM);
            if (!host.waitForFinished(60000))
                host.kill();
        }
        readHost();
        router.write("quit\n");
        if (!router.waitForFinished(5000))
            router.kill();
        router.waitForFinished(2000);
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("remote events: [^\n]*"))
                                              .match(QString::fromLatin1(hostErr));
        if (m.hasMatch())
            printf("host: %s\n", qPrintable(m.captured(0)));
        return status;
    };

    if (!waitUntil([&] { return !url.isEmpty() || host.state() == QProcess::NotRunning; }, 30000)) {
        fprintf(stderr, "remotestorm: panelrun printed no http line\n");
        status = 1;
        return finish();
    }
    if (!parseHostPort(url, &httpHost, &httpPort)) {
        fprintf(stderr, "remotestorm: panelrun's http line is %s\n", qPrintable(url));
        status = 1;
        return finish();
    }
    const qint64 pid = host.processId();
    QElapsedTimer clock;
    clock.start();
    int online = 0;
    while (clock.elapsed() < 60000 + s.panels * 100 && host.state() == QProcess::Running) {
        online = onlineCount(httpHost, httpPort);
        if (online == s.panels)
            break;
        pause(500);
    }
    printf("remotestorm: %d SK1400A panels, storm %d changes/s, %d clients, %d s measured after %d s\n",
           s.panels, s.stormRate, s.clients, s.seconds, s.settle);
    if (online != s.panels) {
        fprintf(stderr, "remotestorm: %d of %d panels online\n", online, s.panels);
        status = 1;
        return finish();
    }
    printf("all online after %.1f s\n", clock.elapsed() / 1000.0);

    auto measure = [&](const char *what, std::vector<std::unique_ptr<StreamClient>> &clients) {
        pause(s.settle * 1000);
        qint64 m0 = 0, b0 = 0;
        for (auto &c : clients) {
            m0 += c->messages();
            b0 += c->bytes();
        }
        const CpuSample a0 = sampleCpu(pid, clock);
        pause(s.seconds * 1000);
        const CpuSample a1 = sampleCpu(pid, clock);
        const double wall = double(a1.wallNs - a0.wallNs) / 1e9;
        qint64 m1 = 0, b1 = 0, least = -1;
        for (auto &c : clients) {
            m1 += c->messages();
            b1 += c->bytes();
            least = least < 0 ? c->messages() : qMin(least, c->messages());
        }
        printf("%-16s host %.3f cores, its main thread %.3f cores", what, (a1.process - a0.process) / wall,
               (a1.mainThread - a0.mainThread) / wall);
        if (!clients.empty())
            printf("; %.0f messages/s and %.2f MiB/s per client (%.0f in all)", double(m1 - m0) / wall / clients.size(),
                   double(b1 - b0) / wall / clients.size() / 1048576.0, double(m1 - m0) / wall);
        printf("; load average %s\n", loadAverage().constData());
    };

    std::vector<std::unique_ptr<StreamClient>> none;
    measure("without clients", none);

    std::vector<std::unique_ptr<StreamClient>> clients;
    for (int i = 0; i < s.clients; ++i)
        clients.push_back(std::make_unique<StreamClient>(httpHost, httpPort));
    const bool allOpen = waitUntil(
        [&] {
            for (auto &c : clients)
                if (!c->open() && !c->closed())
                    return false;
            return true;
        },
        10000);
    measure(QByteArray::number(s.clients).append(" clients").constData(), clients);
    int dropped = 0;
    for (auto &c : clients) {
        if (!c->open()) {
            ++dropped;
            printf("client dropped: %s\n", qPrintable(c->reason()));
        }
    }
    printf("clients dropped: %d of %d%s\n", dropped, s.clients, allOpen ? "" : " (some never connected)");
    for (auto &c : clients)
        c->close();
    if (dropped > 0)
        status = 1;
    return finish();
}

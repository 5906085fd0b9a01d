#include "rm_server.h"

#include "rm_events.h"
#include "rm_host.h"
#include "rm_http.h"
#include "rm_listener.h"
#include "rm_router.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>

namespace remote {

bool parseEndpoint(const QString &text, Endpoint *out, QString *why)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *why = QStringLiteral("%1 is not ADDR:PORT").arg(text);
        return false;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (!ok || port < 0 || port > 65535) {
        *why = QStringLiteral("%1: the port must be 0 to 65535").arg(text);
        return false;
    }
    QHostAddress addr;
    if (host == QLatin1String("localhost"))
        addr = QHostAddress(QHostAddress::LocalHost);
    else if (host == QLatin1String("*"))
        addr = QHostAddress(QHostAddress::Any);
    else if (!addr.setAddress(host)) {
        *why = QStringLiteral("%1: %2 is not an IP address").arg(text, host);
        return false;
    }
    out->address = addr;
    out->port = quint16(port);
    return true;
}

namespace {

bool usableToken(const QByteArray &t)
{
    if (t.isEmpty() || t.size() > 512)
        return false;
    for (char c : t)
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f || c == ';' || c == ',')
            return false;
    return true;
}

} // namespace

bool readTokenFile(const QString &path, QByteArray *token, QString *why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the token file %1: %2").arg(path, f.errorString());
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (!usableToken(line)) {
        *why = QStringLiteral("the token file %1 holds no token on its first line (printable "
                              "characters, no spaces, ';' or ',')").arg(path);
        return false;
    }
    *token = line;
    return true;
}

bool makeTokenFile(const QString &dir, QByteArray *token, QString *path, QString *why)
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray t = QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
    *path = QDir(dir).filePath(QStringLiteral("http-token"));
    QSaveFile f(*path);
    if (!f.open(QIODevice::WriteOnly)
        || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || f.write(t + '\n') != t.size() + 1 || !f.commit()) {
        *why = QStringLiteral("cannot write the token file %1: %2").arg(*path, f.errorString());
        return false;
    }
    *token = t;
    return true;
}

Server::Server(Host *host, QObject *parent) : QObject(parent), m_host(host) {}

Server::~Server()
{
    stop();
}

bool Server::start(const Endpoint &at, const QByteArray &token, QString *why)
{
    stop();
    if (!at.address.isLoopback() && token.isEmpty()) {
        *why = QStringLiteral("%1 can be reached from other machines: a token is required "
                              "(--http-token FILE, or --http-token new for a random one)")
                   .arg(at.address.toString());
        return false;
    }
    m_router = std::make_unique<Router>(m_host);
    // The router counts a beep before the hub reports it.
    connect(m_host, &Host::beeped, m_router.get(), &Router::noteBeep);
    m_hub = std::make_unique<EventHub>(m_host, m_router.get());
    m_http = std::make_unique<HttpLayer>(m_router.get());
    m_listener = new Listener(token, m_host, m_hub.get(), m_http.get());
    if (!m_listener->listen(at.address, at.port)) {
        *why = QStringLiteral("cannot listen on %1 port %2: %3")
                   .arg(at.address.toString())
                   .arg(at.port)
                   .arg(m_listener->errorString());
        stop();
        return false;
    }
    m_http->bind(m_listener);
    m_token = token;
    m_at = at;
    return true;
}

void Server::stop()
{
    m_hub.reset();
    m_http.reset(); // and the listener with it
    m_listener = nullptr;
    m_router.reset();
    m_token.clear();
}

bool Server::isListening() const
{
    return m_listener && m_listener->isListening();
}

quint16 Server::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

QString Server::url() const
{
    if (!m_listener)
        return QString();
    QHostAddress a = m_at.address;
    QString host;
    if (a == QHostAddress::Any || a == QHostAddress::AnyIPv4)
        host = QStringLiteral("127.0.0.1");
    else if (a == QHostAddress::AnyIPv6)
        host = QStringLiteral("[::1]");
    else if (a.protocol() == QAbstractSocket::IPv6Protocol)
        host = QLatin1Char('[') + a.toString() + QLatin1Char(']');
    else
        host = a.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(port());
}

} // namespace remote

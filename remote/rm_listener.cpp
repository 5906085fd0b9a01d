#include "rm_listener.h"

#include "rm_events.h"
#include "rm_host.h"
#include "rm_router.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

namespace remote {

namespace {

QByteArray reasonText(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

// Writes a refusal and closes once it is sent.
void refuse(QTcpSocket *socket, int status, const QString &why)
{
    QJsonObject o;
    o.insert(QStringLiteral("error"), why);
    const QByteArray body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonText(status) + "\r\n";
    out += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\nConnection: close\r\nCache-Control: no-store\r\n";
    if (status == 401)
        out += "WWW-Authenticate: Bearer\r\n";
    out += "\r\n" + body;
    socket->write(out);
    socket->disconnectFromHost();
    // One that does not read what it is sent is cut off.
    QTimer::singleShot(5000, socket, [socket] { socket->abort(); });
}

} // namespace

// One connection until its request head (and body) is in: checked, then
// passed on or refused.
class Gate : public QObject
{
public:
    Gate(Listener *listener, QTcpSocket *socket) : QObject(socket), m_listener(listener), m_socket(socket)
    {
        ++m_listener->m_waiting;
        // Nothing beyond one request is read from the network meanwhile.
        socket->setReadBufferSize(MaxHeadBytes + MaxBodyBytes);
        connect(socket, &QTcpSocket::readyRead, this, &Gate::readSome);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { finish(); m_socket->abort(); });
        m_timer.start(Listener::HeadTimeoutMs);
    }
    ~Gate() override { finish(); }

private:
    void finish()
    {
        if (m_done)
            return;
        m_done = true;
        if (m_listener)
            --m_listener->m_waiting;
        m_timer.stop();
        disconnect(m_socket, nullptr, this, nullptr);
    }

    void readSome()
    {
        if (m_done)
            return;
        const QByteArray data = m_socket->peek(MaxHeadBytes + MaxBodyBytes);
        HttpHead head;
        switch (parseHttpHead(data, &head)) {
        case HeadResult::Incomplete:
            return;
        case HeadResult::TooLarge:
            finish();
            refuse(m_socket, 431, QStringLiteral("the request head is over %1 bytes").arg(int(MaxHeadBytes)));
            return;
        case HeadResult::Malformed:
            finish();
            refuse(m_socket, 400, QStringLiteral("malformed HTTP request"));
            return;
        case HeadResult::Complete:
            break;
        }
        QString why;
        if (const int status = m_listener->check(head, &why)) {
            finish();
            refuse(m_socket, status, why);
            return;
        }
        if (head.upgrade == "websocket") {
            finish();
            m_socket->setReadBufferSize(0);
            m_listener->passToHub(m_socket);
            return;
        }
        if (data.size() < head.headBytes + head.contentLength)
            return; // the body is still coming
        finish();
        m_listener->passToHttp(m_socket);
    }

    QPointer<Listener> m_listener; // gone first when the listener goes
    QTcpSocket *m_socket;
    QTimer m_timer;
    bool m_done = false;
};

Listener::Listener(const QByteArray &token, Host *host, EventHub *hub, QObject *parent)
    : QTcpServer(parent), m_token(token), m_host(host), m_hub(hub)
{
}

int Listener::check(const HttpHead &head, QString *why) const
{
    if (!m_token.isEmpty()) {
        QByteArray given = bearerToken(head.authorization);
        if (given.isEmpty())
            given = cookieValue(head.cookie, cookieName());
        // A page opened from the link the host shows carries the token
        // once in its address; the page's reply keeps it in the cookie.
        if (given.isEmpty() && head.method == "GET" && head.upgrade.isEmpty())
            given = queryValue(head.query, queryTokenName());
        if (!sameToken(given, m_token)) {
            *why = given.isEmpty() ? QStringLiteral("a token is required") : QStringLiteral("wrong token");
            return 401;
        }
    } else if (!hostIsAddress(head.host)) {
        // Without a token only this machine is served; a page of another
        // site whose name was made to point here must not reach it.
        *why = QStringLiteral("open this server by its address (e.g. http://127.0.0.1:PORT/), "
                              "not by a host name");
        return 403;
    }
    // What browsers send across sites: pages of other sites may not press
    // keys or read the event stream through the user's browser.
    if (!head.origin.isEmpty() && head.origin != "http://" + head.host) {
        *why = QStringLiteral("requests from pages of other sites are refused");
        return 403;
    }
    if (!head.transferEncoding.isEmpty() && head.transferEncoding != "identity") {
        *why = QStringLiteral("send the body with a Content-Length");
        return 411;
    }
    if (head.contentLength > MaxBodyBytes) {
        *why = QStringLiteral("the body is over %1 bytes").arg(int(MaxBodyBytes));
        return 413;
    }
    if (head.upgrade == "websocket") {
        if (head.path != "/api/v1/events") {
            *why = QStringLiteral("events are at /api/v1/events");
            return 404;
        }
        const QUrlQuery q(QString::fromUtf8(head.query));
        if (q.hasQueryItem(QStringLiteral("panel"))) {
            int uid = 0;
            PanelSummary p;
            if (!parseNumber(q.queryItemValue(QStringLiteral("panel")).toLatin1(), &uid)
                || !m_host->panel(uid, &p)) {
                *why = QStringLiteral("no panel %1").arg(q.queryItemValue(QStringLiteral("panel")).left(64));
                return 404;
            }
        }
        if (m_hub->full()) {
            *why = QStringLiteral("at most %1 event clients at once").arg(int(EventHub::MaxClients));
            return 503;
        }
    }
    return 0;
}

void Listener::incomingConnection(qintptr handle)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (m_waiting >= MaxWaiting) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    new Gate(this, socket);
}

void Listener::passToHttp(QTcpSocket *socket)
{
    addPendingConnection(socket);
    emit newConnection();
    // The request is already waiting in the socket.
    QTimer::singleShot(0, socket, [socket] { emit socket->readyRead(); });
}

void Listener::passToHub(QTcpSocket *socket)
{
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_hub->take(socket);
}

} // namespace remote

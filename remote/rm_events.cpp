#include "rm_events.h"

#include "rm_host.h"
#include "rm_json.h"
#include "rm_latency.h"
#include "rm_router.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

namespace remote {

namespace {

QString text(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

EventHub::EventHub(Host *host, Router *router, QObject *parent)
    : QObject(parent), m_host(host), m_router(router),
      m_server(QStringLiteral("Tessaline"), QWebSocketServer::NonSecureMode)
{
    m_server.setMaxPendingConnections(MaxClients);
    if (Latency::wanted())
        m_latency = std::make_unique<Latency>();
    connect(&m_server, &QWebSocketServer::newConnection, this, &EventHub::onNewConnection);
    connect(host, &Host::itemsChanged, this, &EventHub::onItems);
    connect(host, &Host::panelChanged, this, &EventHub::onPanel);
    connect(host, &Host::beeped, this, &EventHub::onBeep);
    connect(host, &Host::panelsChanged, this, &EventHub::onPanels);
}

EventHub::~EventHub()
{
    for (Client &c : m_clients) {
        // The server stops: no client can let its keys go any more.
        for (qint64 k : std::as_const(c.held))
            m_router->letGo(int(k >> 32), int(quint32(k)));
        c.ws->disconnect(this);
        c.ws->abort();
        delete c.ws;
    }
}

void EventHub::take(QTcpSocket *socket)
{
    // Counted until it is a client, or gone: a handshake that never
    // completes gives its place back.
    m_handshakes.append(socket);
    m_server.handleConnection(socket);
    // The upgrade request is already waiting in the socket.
    QTimer::singleShot(0, socket, [socket] { emit socket->readyRead(); });
}

void EventHub::onNewConnection()
{
    while (QWebSocket *ws = m_server.nextPendingConnection()) {
        handshakeDone(ws);
        ws->setParent(this);
        ws->setMaxAllowedIncomingMessageSize(MaxMessageBytes);
        ws->setMaxAllowedIncomingFrameSize(MaxMessageBytes);
        Client c;
        c.ws = ws;
        int uid = -1;
        const QUrlQuery query(ws->requestUrl());
        const QString panel = query.queryItemValue(QStringLiteral("panel"));
        if (!panel.isEmpty() && parseNumber(panel.toLatin1(), &uid))
            c.panel = uid;
        const QString view = query.queryItemValue(QStringLiteral("view"));
        c.viewOnly = !view.isEmpty() && view != QLatin1String("0");
        m_clients.append(c);
        connect(ws, &QWebSocket::disconnected, this, [this, ws] { remove(ws); });
        connect(ws, &QWebSocket::textMessageReceived, this,
                [this, ws](const QString &message) { onMessage(ws, message); });
        connect(ws, &QWebSocket::binaryMessageReceived, this, [this, ws](const QByteArray &) {
            QJsonObject o;
            o.insert(QStringLiteral("type"), QStringLiteral("reply"));
            o.insert(QStringLiteral("status"), 400);
            o.insert(QStringLiteral("error"), QStringLiteral("messages are JSON text"));
            for (Client &c : m_clients)
                if (c.ws == ws)
                    sendTo(c, text(o));
        });
    }
    emit clientCountChanged(clientCount());
}

void EventHub::onMessage(QWebSocket *ws, const QString &message)
{
    for (Client &c : m_clients) {
        if (c.ws != ws)
            continue;
        Router::Command done;
        const QJsonObject reply = m_router->command(message.toUtf8(), c.viewOnly, &done);
        if (done.uid >= 0) {
            const qint64 k = (qint64(done.uid) << 32) | quint32(done.key);
            // A press without a hold stays down until this client lets it go.
            if (done.action == QLatin1String("press") && done.holdMs < 0)
                c.held.insert(k);
            else
                c.held.remove(k);
        }
        sendTo(c, text(reply));
        return;
    }
}

void EventHub::remove(QWebSocket *ws)
{
    // A write that fails while the clients are being sent to reports the
    // loss at once: the client goes once they have been gone through.
    if (m_sending > 0) {
        QMetaObject::invokeMethod(this, [this, ws] { remove(ws); }, Qt::QueuedConnection);
        return;
    }
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i].ws == ws) {
            const QSet<qint64> held = m_clients[i].held;
            m_clients.removeAt(i);
            for (qint64 k : held)
                m_router->letGo(int(k >> 32), int(quint32(k)));
            ws->deleteLater();
            emit clientCountChanged(clientCount());
            return;
        }
    }
}

bool EventHub::wanted(int uid) const
{
    for (const Client &c : m_clients)
        if (!c.closing && (c.panel < 0 || c.panel == uid))
            return true;
    return false;
}

void EventHub::sendTo(Client &c, const QString &message)
{
    if (c.closing || c.ws->state() != QAbstractSocket::ConnectedState)
        return;
    const Sending sending(this);
    c.ws->sendTextMessage(message);
    if (c.ws->bytesToWrite() <= MaxQueueBytes)
        return;
    // It does not read what it is sent: close it. The close goes behind
    // what it was sent already, so it is cut off only once it has taken
    // nothing for CloseGraceMs (or after CloseLimitMs in all).
    c.closing = true;
    ++m_dropped;
    qWarning("remote: event client %s closed: it reads too slowly (over %d bytes waiting)",
             qPrintable(c.ws->peerAddress().toString()), int(MaxQueueBytes));
    QWebSocket *ws = c.ws;
    ws->close(QWebSocketProtocol::CloseCodePolicyViolated,
              QStringLiteral("too slow: the send queue is full"));
    auto *grace = new QTimer(ws);
    grace->setSingleShot(true);
    connect(grace, &QTimer::timeout, ws, &QWebSocket::abort);
    connect(ws, &QWebSocket::bytesWritten, grace, [grace] { grace->start(CloseGraceMs); });
    grace->start(CloseGraceMs);
    QTimer::singleShot(CloseLimitMs, ws, &QWebSocket::abort);
}

void EventHub::send(int uid, const QString &message)
{
    for (Client &c : m_clients)
        if (c.panel < 0 || c.panel == uid)
            sendTo(c, message);
}

void EventHub::onItems(int uid, const QList<qint32> &ids)
{
    if (!wanted(uid))
        return;
    for (qint32 id : ids)
        queue(uid, id, QString());
}

void EventHub::onPanel(int uid)
{
    if (!wanted(uid))
        return;
    PanelSummary p;
    if (!m_host->panel(uid, &p))
        return;
    QJsonObject o;
    o.insert(QStringLiteral("type"), QStringLiteral("panel"));
    o.insert(QStringLiteral("panel"), panelJson(p));
    queue(uid, -1, text(o));
}

void EventHub::onPanels()
{
    QJsonObject o;
    o.insert(QStringLiteral("type"), QStringLiteral("panels"));
    const QString message = text(o);
    for (Client &c : m_clients)
        sendTo(c, message);
}

void EventHub::sendBuzzer(int uid, bool on)
{
    if (!wanted(uid))
        return;
    QJsonObject o = m_router->buzzerJson(uid);
    o.insert(QStringLiteral("type"), QStringLiteral("buzzer"));
    o.insert(QStringLiteral("uid"), uid);
    o.insert(QStringLiteral("on"), on);
    queue(uid, -1, text(o));
}

void EventHub::onBeep(int uid)
{
    const qint64 serial = ++m_beepSerial[uid];
    sendBuzzer(uid, true);
    QTimer::singleShot(m_host->beepMs(), this, [this, uid, serial] {
        if (m_beepSerial.value(uid) == serial)
            sendBuzzer(uid, false);
    });
}

namespace {

qint64 nowNs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}

} // namespace

void EventHub::queue(int uid, qint32 id, const QString &message)
{
    if (id >= 0 && !m_pendingItems.insert((qint64(uid) << 32) | quint32(id)).second)
        return; // sent as it shows then
    m_pending.push_back(Pending{uid, id, message, m_latency ? nowNs() : 0});
    if (!m_sendPosted) {
        // Behind the events already queued: the batches of other panels
        // waiting there go out with these.
        m_sendPosted = true;
        QMetaObject::invokeMethod(this, &EventHub::sendPending, Qt::QueuedConnection);
    }
}

void EventHub::sendPending()
{
    m_sendPosted = false;
    std::vector<Pending> pending;
    pending.swap(m_pending);
    m_pendingItems.clear();
    FaceView face;
    int faceOf = -1;
    bool any = false;
    std::vector<qint64> itemsSince; // with the figures kept
    for (const Pending &p : pending) {
        if (p.id < 0) {
            send(p.uid, p.message);
            any = true;
            continue;
        }
        if (p.uid != faceOf) {
            face = FaceView();
            faceOf = m_host->face(p.uid, &face) ? p.uid : -2;
        }
        const PAN_Item::Setup *item = faceOf == p.uid ? findItem(face, p.id) : nullptr;
        if (!item)
            continue; // a virtual button: its partner is reported
        QJsonObject o;
        o.insert(QStringLiteral("type"), QStringLiteral("item"));
        o.insert(QStringLiteral("uid"), p.uid);
        o.insert(QStringLiteral("item"), itemJson(face, *item));
        send(p.uid, text(o));
        any = true;
        if (m_latency)
            itemsSince.push_back(p.sinceNs);
    }
    if (!any)
        return;
    // Each client's messages leave in one write now, not on the next pass.
    const Sending sending(this);
    for (Client &c : m_clients)
        if (!c.closing && c.ws->state() == QAbstractSocket::ConnectedState)
            c.ws->flush();
    if (!m_latency)
        return;
    const qint64 now = nowNs();
    for (qint64 since : itemsSince)
        m_latency->record(now - since);
}

QString EventHub::latencyText() const
{
    return m_latency ? m_latency->text() : QString();
}

int EventHub::clientCount() const
{
    int handshakes = 0;
    for (const QPointer<QTcpSocket> &s : m_handshakes)
        handshakes += s ? 1 : 0;
    return int(m_clients.size()) + handshakes;
}

void EventHub::handshakeDone(QWebSocket *ws)
{
    // The connection it came on: a connection is its two ends.
    for (qsizetype i = 0; i < m_handshakes.size(); ++i) {
        QTcpSocket *s = m_handshakes[i];
        if (!s || (s->peerPort() == ws->peerPort() && s->peerAddress() == ws->peerAddress())) {
            m_handshakes.removeAt(i--);
            if (s)
                return;
        }
    }
}

} // namespace remote

#include "injector.h"

#include "client_injector.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtDebug>

namespace collector {

static const char kTargetSlot[] = "dispatch_msg_buffer(QByteArray&)";

Injector::Injector(const QString &address, int port, QObject *target, QObject *parent)
    : QObject(parent),
      m_server(new QTcpServer(this)),
      m_address(address),
      m_port(port),
      m_target(target),
      m_partialFrameTimeoutMs(ClientInjector::DefaultPartialFrameTimeoutMs)
{
    // Clients are local programs; no proxy lookup.
    m_server->setProxy(QNetworkProxy::NoProxy);
    connect(m_server, &QTcpServer::newConnection, this, &Injector::newClient);
}

Injector::~Injector()
{
    const QList<ClientInjector *> clients = m_clients;
    m_clients.clear();
    for (ClientInjector *c : clients) {
        c->disconnect(this);
        delete c;
    }
}

bool Injector::run()
{
    if (!m_target || m_target->metaObject()->indexOfSlot(kTargetSlot) < 0) {
        qCritical("Injector: target %s has no slot %s (%s,%d)",
                  m_target ? m_target->metaObject()->className() : "(none)", kTargetSlot,
                  __FILE__, __LINE__);
        return false;
    }
    QHostAddress address;
    if (m_address.isEmpty() || m_address == QLatin1String("*"))
        address = QHostAddress::AnyIPv4;
    else if (!address.setAddress(m_address)) {
        qWarning("Injector: %s is not an address (%s,%d)", qPrintable(m_address), __FILE__,
                 __LINE__);
        return false;
    }
    if (m_port < 0 || m_port > 65535) {
        qWarning("Injector: port %d out of range (%s,%d)", m_port, __FILE__, __LINE__);
        return false;
    }
    if (!m_server->listen(address, quint16(m_port))) {
        qWarning("Injector: cannot listen on %s:%d: %s (%s,%d)", qPrintable(m_address), m_port,
                 qPrintable(m_server->errorString()), __FILE__, __LINE__);
        return false;
    }
    return true;
}

quint16 Injector::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

bool Injector::isListening() const
{
    return m_server->isListening();
}

void Injector::newClient()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            ClientInjector *idlest = nullptr;
            for (ClientInjector *c : m_clients)
                if (!idlest || c->idleMs() > idlest->idleMs())
                    idlest = c;
            if (idlest && idlest->idleMs() >= m_giveWayIdleMs)
                idlest->giveWay(); // finished(): removed from the list at once
        }
        if (m_clients.size() >= MaxClients) {
            qWarning("Injector: %d clients already, connection from %s:%d closed (%s,%d)",
                     int(MaxClients), qPrintable(socket->peerAddress().toString()),
                     int(socket->peerPort()), __FILE__, __LINE__);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        qDebug("Injector: new client");
        auto *client = new ClientInjector(socket, this);
        client->setPartialFrameTimeout(m_partialFrameTimeoutMs);
        if (m_target)
            connect(client, SIGNAL(dispatch_msg_buffer(QByteArray&)), m_target,
                    SLOT(dispatch_msg_buffer(QByteArray&)));
        connect(client, &ClientInjector::finished, this, &Injector::clientFinished);
        m_clients.append(client);

        // What arrived before the client was set up, and a peer that has
        // already gone again, would otherwise wait for signals that never
        // come.
        QPointer<ClientInjector> guard(client);
        if (socket->bytesAvailable() > 0)
            client->clientData();
        if (guard && socket->state() != QAbstractSocket::ConnectedState)
            client->clientDisconnected();
    }
}

void Injector::clientFinished(ClientInjector *client)
{
    if (!m_clients.removeOne(client))
        return;
    qDebug("Injector: client %s gone", qPrintable(client->peerName()));
    client->deleteLater();
}

} // namespace collector

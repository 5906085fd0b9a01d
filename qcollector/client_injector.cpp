#include "client_injector.h"

#include "framing.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtDebug>
#include <vector>

namespace collector {

ClientInjector::ClientInjector(QTcpSocket *socket, QObject *parent)
    : QObject(parent), m_socket(socket)
{
    m_lastActivity.start();
    m_partialFrameTimer.setSingleShot(true);
    m_partialFrameTimer.setInterval(DefaultPartialFrameTimeoutMs);
    connect(&m_partialFrameTimer, &QTimer::timeout, this, &ClientInjector::partialFrameTimedOut);
    if (!m_socket) {
        qWarning("collector: ClientInjector::ClientInjector, null socket");
        return;
    }
    m_socket->setParent(this);
    m_peerName = m_socket->peerAddress().toString() + QLatin1Char(':')
                 + QString::number(m_socket->peerPort());
    // Whole frames are taken out at every read, so the socket never needs to
    // hold more than about one largest frame.
    m_socket->setReadBufferSize(FrameHeaderSize + MaxFrameLength);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientInjector::clientDisconnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientInjector::clientData);
}

ClientInjector::~ClientInjector()
{
    if (m_socket) {
        // Closing the socket here must not call back into this half-gone
        // object.
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void ClientInjector::setPartialFrameTimeout(int ms)
{
    m_partialFrameTimer.setInterval(ms);
}

void ClientInjector::clientDisconnected()
{
    m_partialFrameTimer.stop();
    m_frames.clear();
    m_closed = true;
    if (m_finished)
        return;
    m_finished = true;
    emit finished(this);
}

void ClientInjector::clientData()
{
    if (!m_socket) {
        qWarning("collector::ClientInjector::clientData NULL socket");
        return;
    }
    if (m_closed) {
        m_socket->readAll();
        return;
    }
    const QByteArray bytes = m_socket->readAll();
    if (!bytes.isEmpty())
        m_lastActivity.restart();
    m_frames.append(bytes);

    // Every complete frame now received, oldest first; a length above
    // MaxFrameLength ends the stream.
    std::vector<QByteArray> payloads;
    QByteArray payload;
    while (m_frames.next(&payload))
        payloads.push_back(payload);
    const bool tooLong = m_frames.failed();
    const quint32 badLength = m_frames.refusedLength();

    // The clock runs for the frame that is incomplete now; it starts anew
    // whenever a frame was completed, so only a frame that itself takes too
    // long closes the connection.
    if (m_frames.pending() == 0 || tooLong)
        m_partialFrameTimer.stop();
    else if (!payloads.empty() || !m_partialFrameTimer.isActive())
        m_partialFrameTimer.start();

    // The receiver may end this client (or its owner) from its slot.
    QPointer<ClientInjector> self(this);
    for (QByteArray &p : payloads) {
        emit dispatch_msg_buffer(p);
        if (!self)
            return;
    }
    if (tooLong) {
        qWarning("collector: ClientInjector %s frame length %u over %d, connection closed (%s,%d)",
                 qPrintable(m_peerName), badLength, int(MaxFrameLength), __FILE__, __LINE__);
        closeConnection();
    }
}

void ClientInjector::partialFrameTimedOut()
{
    qWarning("collector: ClientInjector %s incomplete frame for %d ms (%d bytes), connection "
             "closed (%s,%d)",
             qPrintable(m_peerName), m_partialFrameTimer.interval(), int(m_frames.pending()),
             __FILE__, __LINE__);
    closeConnection();
}

void ClientInjector::giveWay()
{
    qWarning("collector: ClientInjector %s idle for %lld ms, connection closed to make room for "
             "a new client (%s,%d)",
             qPrintable(m_peerName), m_lastActivity.elapsed(), __FILE__, __LINE__);
    closeConnection();
}

void ClientInjector::closeConnection()
{
    m_closed = true;
    m_frames.clear();
    m_partialFrameTimer.stop();
    if (m_socket)
        m_socket->abort();
    clientDisconnected(); // when the abort did not already report it
}

} // namespace collector

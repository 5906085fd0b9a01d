#ifndef COLLECTOR_CLIENT_INJECTOR_H
#define COLLECTOR_CLIENT_INJECTOR_H

#include "framing.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace collector {

// One connection of an injector: cuts the byte stream into framed messages
// (4-byte big-endian length, then the payload) and emits each payload, in
// arrival order, through dispatch_msg_buffer.
//
// A connection that misbehaves is closed, with a log line:
// - a frame length above MaxFrameLength, which would otherwise make the
//   host buffer whatever the length claims;
// - a frame that stays incomplete for the partial-frame timeout (30 s by
//   default), counted from the moment its first bytes arrived.
// The client then reports finished(); so it does when the peer closes.
class ClientInjector : public QObject
{
    Q_OBJECT

public:
    enum { MaxFrameLength = 64 * 1024 };
    enum { DefaultPartialFrameTimeoutMs = 30000 };

    // Takes the connected socket over (it becomes this object's child).
    explicit ClientInjector(QTcpSocket *socket, QObject *parent = nullptr);
    ~ClientInjector() override;

    void setPartialFrameTimeout(int ms);
    int partialFrameTimeout() const { return m_partialFrameTimer.interval(); }
    // Bytes received that do not yet make a whole frame.
    qsizetype pendingBytes() const { return m_frames.pending(); }
    // The peer as "address:port", for log lines.
    QString peerName() const { return m_peerName; }
    // Milliseconds since the connection was made or last brought bytes.
    qint64 idleMs() const { return m_lastActivity.elapsed(); }
    // Closes the connection to make room for a new client (a log line
    // says so); finished() follows.
    void giveWay();

signals:
    // One payload; the receiver may read or take it over.
    void dispatch_msg_buffer(QByteArray &buffer);
    // The connection is over; the owner removes this client.
    void finished(collector::ClientInjector *client);

public slots:
    void clientDisconnected();
    void clientData();

private slots:
    void partialFrameTimedOut();

private:
    void closeConnection();

    QTcpSocket *m_socket;
    QString m_peerName;
    FrameReader m_frames{MaxFrameLength};
    QTimer m_partialFrameTimer;
    QElapsedTimer m_lastActivity;
    bool m_closed = false;
    bool m_finished = false;
};

} // namespace collector

#endif

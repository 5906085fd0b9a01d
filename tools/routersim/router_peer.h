#ifndef ROUTER_PEER_H
#define ROUTER_PEER_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <deque>

// The router's side of the sequenced datagram protocol with one panel:
// sequence ids from 0, acknowledgements, one message in flight, resends.
// It builds datagrams and takes received ones apart; the simulator does the
// socket work.
class RouterPeer
{
public:
    enum { Header = 5, ResendMs = 100, MaxResends = 10 };

    RouterPeer(const QHostAddress &addr, quint16 port) : m_addr(addr), m_port(port) {}

    QHostAddress address() const { return m_addr; }
    quint16 port() const { return m_port; }
    QString name() const { return m_addr.toString() + QLatin1Char(':') + QString::number(m_port); }

    // Queues a router-link message (command, 16-bit length, data).
    void queue(char cmd, const QByteArray &data = QByteArray());
    // Queues a payload as it is.
    void queueRaw(const QByteArray &payload);
    // Queues a message, appended to the last queued payload when that has
    // not been sent yet and both fit in maxPayload bytes: a burst of
    // messages then travels in few datagrams instead of one each.
    void queueCoalesced(char cmd, const QByteArray &data, int maxPayload);
    // Messages queued and not yet acknowledged.
    int pending() const { return int(m_queue.size()); }
    // An unsequenced datagram carrying one message.
    QByteArray unsequenced(char cmd, const QByteArray &data = QByteArray()) const;

    // The datagram to send now, if any: the head when it is new or its
    // resend time has come (nowMs), else empty. After MaxResends resends
    // without an acknowledgement the session restarts.
    QByteArray due(qint64 nowMs);

    // Handles a received datagram. Returns the router-link messages it
    // carried (whole messages only) and, in ack, a pure acknowledgement to
    // send back when one is owed (else empty).
    QList<QByteArray> receive(const QByteArray &datagram, QByteArray *ack);

    // The session restarts: nothing queued, next message id 0, no id from
    // the panel accepted yet, no part of a message kept.
    void reset();

    // Nothing queued: everything sent has been acknowledged (and the
    // panel's answers, which carry the acknowledgement, have arrived).
    bool idle() const { return m_queue.empty(); }

    // OFF POLL: the session restarts and "N" is its first message. The
    // panel answers an "N" it took with "y" (and restarts its side); until
    // then "N" is sent again, alternately with id 0 and id 1: a panel that
    // has just accepted our id 0 refuses another id 0 but takes id 1. Other
    // messages queued meanwhile wait behind it, and go out numbered from 0
    // (the panel acknowledges nothing after its restart until it sees id 0).
    void offPoll();
    bool offPollPending() const { return !m_queue.empty() && m_queue.front().offPoll; }

private:
    struct Pending {
        QByteArray payload;
        quint8 id;
        int sends = 0;
        qint64 sentAt = 0;
        bool offPoll = false; // completed by the panel's "y", not by an ack
    };

    QHostAddress m_addr;
    quint16 m_port;
    std::deque<Pending> m_queue;
    quint8 m_nextId = 0;
    quint8 m_lastAccepted = 255;
    bool m_synchronised = false;
    QByteArray m_stream; // partial router-link message across datagrams
};

// A router-link message as one readable text: "O", "y", "R a3 00 01 ..",
// "Q \".SVA013,006\\r\"", "B 120 bytes".
QString describeMessage(const QByteArray &msg);

#endif

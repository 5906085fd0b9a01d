#include "router_peer.h"

static QByteArray message(char cmd, const QByteArray &data)
{
    QByteArray m;
    m.append(cmd).append(char(data.size() >> 8)).append(char(data.size())).append(data);
    return m;
}

void RouterPeer::queue(char cmd, const QByteArray &data)
{
    queueRaw(message(cmd, data));
}

void RouterPeer::queueRaw(const QByteArray &payload)
{
    Pending p;
    p.payload = payload;
    p.id = m_nextId;
    m_nextId = m_nextId == 255 ? 1 : quint8(m_nextId + 1);
    m_queue.push_back(p);
}

void RouterPeer::queueCoalesced(char cmd, const QByteArray &data, int maxPayload)
{
    const QByteArray m = message(cmd, data);
    if (!m_queue.empty() && m_queue.back().sends == 0
        && m_queue.back().payload.size() + m.size() <= maxPayload) {
        m_queue.back().payload.append(m);
        return;
    }
    queueRaw(m);
}

QByteArray RouterPeer::unsequenced(char cmd, const QByteArray &data) const
{
    return QByteArray(Header, '\0') + message(cmd, data);
}

void RouterPeer::reset()
{
    m_queue.clear();
    m_nextId = 0;
    m_lastAccepted = 255;
    m_synchronised = false;
    m_stream.clear();
}

void RouterPeer::offPoll()
{
    reset();
    queue('N');
    m_queue.front().offPoll = true;
}

QByteArray RouterPeer::due(qint64 nowMs)
{
    if (m_queue.empty())
        return QByteArray();
    Pending &p = m_queue.front();
    if (p.sends > 0 && nowMs - p.sentAt < ResendMs)
        return QByteArray();
    if (p.sends > MaxResends) {
        // The panel does not acknowledge (it may have started after us, or
        // restarted): drop what is queued and start our side of the
        // session again, whose first message (id 0) the panel takes as a
        // restart. What the panel sends is still taken as before.
        m_queue.clear();
        m_nextId = 0;
        return QByteArray();
    }
    if (p.offPoll)
        p.id = quint8(p.sends % 2); // 0, 1, 0, ...: see offPoll()
    ++p.sends;
    p.sentAt = nowMs;
    QByteArray d(Header, '\0');
    d[0] = 1;
    d[1] = char(p.id);
    d[2] = char(m_synchronised ? m_lastAccepted : 0);
    return d + p.payload;
}

static bool covers(quint8 a, quint8 i)
{
    return a == i || (i < a && a - i < 128) || (i > a && i - a > 128);
}

QList<QByteArray> RouterPeer::receive(const QByteArray &d, QByteArray *ack)
{
    QList<QByteArray> out;
    ack->clear();
    if (d.size() < Header)
        return out;
    const int offset = Header + quint8(d[3]);
    const QByteArray payload = d.size() > offset ? d.mid(offset) : QByteArray();
    bool accepted = !(d[0] & 1);
    if (d[0] & 1) {
        // An acknowledgement says nothing about an "N" (a refused one is
        // acknowledged as well); only the panel's "y" completes it.
        if (!m_queue.empty() && m_queue.front().sends && !m_queue.front().offPoll
            && covers(quint8(d[2]), m_queue.front().id))
            m_queue.pop_front();
        if (!payload.isEmpty()) {
            const quint8 s = quint8(d[1]);
            if (s == 0 && m_lastAccepted != 0) {
                m_synchronised = true;
                m_lastAccepted = 0;
                accepted = true;
            } else if (s != 0 && s != m_lastAccepted
                       && (s == quint8(m_lastAccepted + 1) || (s == 1 && m_lastAccepted == 255))) {
                m_lastAccepted = s;
                accepted = true;
            }
            *ack = QByteArray(Header, '\0');
            (*ack)[0] = 1;
            (*ack)[2] = char(m_synchronised ? m_lastAccepted : 0);
        }
    }
    if (!accepted || payload.isEmpty())
        return out;

    m_stream.append(payload);
    while (m_stream.size() >= 3) {
        const int len = (quint8(m_stream[1]) << 8) | quint8(m_stream[2]);
        if (m_stream.size() < 3 + len)
            break;
        out.append(m_stream.left(3 + len));
        m_stream.remove(0, 3 + len);
    }
    // The panel answers an "N" it took with an unsequenced "y" and starts
    // its side of the session again.
    if (!(d[0] & 1) && offPollPending() && m_queue.front().sends
        && out.contains(QByteArray("y\0\0", 3))) {
        m_queue.pop_front();
        m_lastAccepted = 255;
        m_synchronised = false;
        m_stream.clear();
        // The panel acknowledges nothing until it sees id 0 again, so the
        // messages that waited behind "N" start the numbering anew.
        m_nextId = 0;
        for (Pending &q : m_queue) {
            q.id = m_nextId;
            m_nextId = m_nextId == 255 ? 1 : quint8(m_nextId + 1);
        }
    }
    return out;
}

QString describeMessage(const QByteArray &msg)
{
    if (msg.size() < 3)
        return QStringLiteral("? ") + QString::fromLatin1(msg.toHex(' '));
    const char cmd = msg[0];
    const QByteArray data = msg.mid(3);
    QString text(QChar::fromLatin1(cmd));
    if (data.isEmpty())
        return text;
    if (cmd == 'Q') {
        QString t = QString::fromLatin1(data);
        t.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
        return text + QStringLiteral(" \"") + t + QLatin1Char('"');
    }
    if (cmd == 'B')
        return text + QStringLiteral(" %1 bytes").arg(data.size());
    return text + QLatin1Char(' ') + QString::fromLatin1(data.toHex(' '));
}

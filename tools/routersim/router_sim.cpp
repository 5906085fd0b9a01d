#include "router_sim.h"

#include <QNetworkProxy>

#include <cstdio>

RouterSim::RouterSim(int levels, int sources, int dests, QObject *parent)
    : QObject(parent), m_state(levels, sources, dests)
{
    m_clock.start();
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_socket, &QUdpSocket::readyRead, this, &RouterSim::readDatagrams);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { sendToAll('O'); });
    connect(&m_serviceTimer, &QTimer::timeout, this, &RouterSim::service);
    m_serviceTimer.start(10);
}

bool RouterSim::bind(const QHostAddress &addr, quint16 port, QString *error)
{
    if (m_socket.bind(addr, port, QAbstractSocket::DontShareAddress))
        return true;
    *error = m_socket.errorString();
    return false;
}

void RouterSim::addPanel(const QHostAddress &addr, quint16 port)
{
    peerFor(addr, port);
}

void RouterSim::setPollInterval(int ms)
{
    if (ms > 0)
        m_pollTimer.start(ms);
    else
        m_pollTimer.stop();
}

RouterPeer *RouterSim::peerFor(const QHostAddress &addr, quint16 port)
{
    for (auto &p : m_peers)
        if (p->address().isEqual(addr, QHostAddress::TolerantConversion) && p->port() == port)
            return p.get();
    m_peers.push_back(std::make_unique<RouterPeer>(addr, port));
    return m_peers.back().get();
}

void RouterSim::log(const char *dir, const RouterPeer &peer, const QByteArray &d)
{
    QString line = QString::fromLatin1(dir) + QLatin1Char(' ') + peer.name() + QStringLiteral(" [")
                   + QString::fromLatin1(d.left(RouterPeer::Header).toHex(' ')) + QLatin1Char(']');
    // Messages as the datagram carries them (a message split across
    // datagrams shows as its pieces).
    QByteArray rest = d.size() > RouterPeer::Header ? d.mid(RouterPeer::Header) : QByteArray();
    if (rest.isEmpty())
        line += QStringLiteral(" ack");
    while (!rest.isEmpty()) {
        const int len = rest.size() >= 3 ? ((quint8(rest[1]) << 8) | quint8(rest[2])) : 0;
        const int take = std::min<int>(int(rest.size()), 3 + len);
        line += QLatin1Char(' ') + describeMessage(rest.left(take));
        rest.remove(0, take);
    }
    printf("%s\n", qPrintable(line));
    fflush(stdout);
}

void RouterSim::transmit(RouterPeer &peer, const QByteArray &d)
{
    m_socket.writeDatagram(d, peer.address(), peer.port());
    log("tx", peer, d);
}

void RouterSim::service()
{
    const qint64 now = m_clock.elapsed();
    for (auto &p : m_peers) {
        const QByteArray d = p->due(now);
        if (!d.isEmpty())
            transmit(*p, d);
    }
}

void RouterSim::readDatagrams()
{
    while (m_socket.hasPendingDatagrams()) {
        QHostAddress from;
        quint16 port = 0;
        QByteArray d(int(m_socket.pendingDatagramSize()), '\0');
        const qint64 n = m_socket.readDatagram(d.data(), d.size(), &from, &port);
        if (n < 0)
            continue;
        d.truncate(int(n));
        RouterPeer *peer = peerFor(from, port);
        log("rx", *peer, d);
        QByteArray ack;
        const QList<QByteArray> msgs = peer->receive(d, &ack);
        for (const QByteArray &m : msgs)
            handleMessage(*peer, m);
        // Acknowledge at once unless a message of ours carries the ack.
        const QByteArray next = peer->due(m_clock.elapsed());
        if (!next.isEmpty())
            transmit(*peer, next);
        else if (!ack.isEmpty())
            transmit(*peer, ack);
    }
}

void RouterSim::handleMessage(RouterPeer &peer, const QByteArray &msg)
{
    if (msg.size() < 3 || msg[0] != 'Q')
        return;
    for (const RouterState::Out &o : m_state.handle(msg.mid(3))) {
        if (o.toAll) {
            for (auto &p : m_peers)
                p->queue('Q', o.text);
        } else {
            peer.queue('Q', o.text);
        }
    }
}

void RouterSim::sendTextToAll(const QByteArray &text)
{
    for (auto &p : m_peers)
        p->queue('Q', text);
    service();
}

void RouterSim::sendToAll(char cmd)
{
    for (auto &p : m_peers)
        p->queue(cmd);
    service();
}

void RouterSim::sendRawToAll(const QByteArray &payload)
{
    for (auto &p : m_peers)
        p->queueRaw(payload);
    service();
}

void RouterSim::offPoll()
{
    // OFF POLL resets both sides: the panel resets its layer on receipt, so
    // the router starts again from id 0 too.
    for (auto &p : m_peers) {
        p->reset();
        p->queue('N');
    }
    service();
    for (auto &p : m_peers) {
        p->reset();
    }
}

bool RouterSim::command(const QString &line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return true;
    const QString &c = w[0];
    if (c == QLatin1String("poll") && w.size() == 1)
        sendToAll('O');
    else if (c == QLatin1String("offpoll") && w.size() == 1)
        offPoll();
    else if (c == QLatin1String("query") && w.size() == 1)
        sendToAll('P');
    else if (c == QLatin1String("autopoll") && w.size() == 2 && w[1] == QLatin1String("off"))
        setPollInterval(0);
    else if (c == QLatin1String("autopoll") && w.size() == 3 && w[1] == QLatin1String("on"))
        setPollInterval(w[2].toInt());
    else if (c == QLatin1String("raw") && w.size() == 2) {
        const QByteArray bytes = QByteArray::fromHex(w[1].toLatin1());
        if (bytes.isEmpty())
            return false;
        sendRawToAll(bytes);
    } else if (c == QLatin1String("route") && w.size() == 4) {
        const qint64 lv = RouterState::parseLevels(w[1].toLatin1());
        const QByteArray tally = lv > 0 ? m_state.route(quint32(lv), w[2].toInt(), w[3].toInt()) : QByteArray();
        if (tally.isEmpty())
            return false;
        sendTextToAll(tally);
    } else if (c == QLatin1String("lock") && w.size() == 3) {
        bool ok = false;
        const int v = w[2].toInt(&ok);
        const QByteArray state = ok ? m_state.setLock(w[1].toInt(), v) : QByteArray();
        if (state.isEmpty())
            return false;
        sendTextToAll(state);
    } else if (c == QLatin1String("q") && w.size() >= 2) {
        // The rest of the line as it is, with \r written as a backslash-r.
        QByteArray text = line.mid(line.indexOf(QLatin1Char('q')) + 1).trimmed().toLatin1();
        text.replace("\\r", "\r");
        sendTextToAll(text);
    } else if (c == QLatin1String("quit") && w.size() == 1)
        emit quitRequested();
    else
        return false;
    return true;
}

#include "router_sim.h"

#include <QNetworkProxy>

#include <cstdio>

RouterSim::RouterSim(int levels, int sources, int dests, QObject *parent)
    : QObject(parent), m_state(levels, sources, dests), m_storm(levels, sources, dests)
{
    m_clock.start();
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_socket, &QUdpSocket::readyRead, this, &RouterSim::readDatagrams);
    connect(&m_serviceTimer, &QTimer::timeout, this, &RouterSim::service);
    m_serviceTimer.start(10);
}

bool RouterSim::bind(const QHostAddress &addr, quint16 port, QString *error)
{
    if (m_socket.bind(addr, port, QAbstractSocket::DontShareAddress)) {
        // Room for the answers of a rack of panels that come in together
        // (the system's maximum caps it).
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
        return true;
    }
    *error = m_socket.errorString();
    return false;
}

void RouterSim::addPanel(const QHostAddress &addr, quint16 port)
{
    peerFor(addr, port);
}

void RouterSim::setPollInterval(int ms)
{
    m_pollIntervalMs = ms > 0 ? ms : 0;
    // The first round one interval from now.
    m_roundStart = m_clock.elapsed() + m_pollIntervalMs;
    m_roundPeers = m_peers.size();
    m_roundNext = 0;
}

void RouterSim::pollRound(qint64 now)
{
    if (m_pollIntervalMs <= 0 || now < m_roundStart)
        return;
    while (true) {
        // A round polls the peers known when it begins.
        if (m_roundNext == 0)
            m_roundPeers = m_peers.size();
        if (m_roundNext >= m_roundPeers) {
            // The next round; a simulator that fell a round or more behind
            // starts afresh instead of polling twice at once.
            m_roundStart += m_pollIntervalMs;
            if (m_roundStart + m_pollIntervalMs <= now)
                m_roundStart = now;
            m_roundPeers = m_peers.size();
            m_roundNext = 0;
            if (now < m_roundStart || m_roundPeers == 0)
                break;
        }
        const qint64 due = m_roundStart
                           + qint64(m_roundNext) * m_pollIntervalMs / qint64(m_roundPeers);
        if (due > now)
            break;
        if (m_roundNext < m_peers.size())
            pollPeer(*m_peers[m_roundNext]);
        ++m_roundNext;
    }
}

void RouterSim::pollPeer(RouterPeer &peer)
{
    // A panel receiving a configuration suspends its keepalive; while it
    // does, every "y" it sends answers a block.
    if (!m_transfers.count(&peer))
        peer.queue('O');
}

void RouterSim::addPanelRange(const QHostAddress &addr, quint16 first, quint16 last)
{
    for (int port = first; port <= last; ++port)
        peerFor(addr, quint16(port));
}

quint64 RouterSim::peerKey(const QHostAddress &addr, quint16 port)
{
    bool ok = false;
    const quint32 v4 = addr.toIPv4Address(&ok);
    return ok ? (quint64(v4) << 16) | port : 0;
}

RouterPeer *RouterSim::peerFor(const QHostAddress &addr, quint16 port)
{
    // Hundreds of panels send a datagram each per poll: look IPv4 peers up
    // by key rather than one by one.
    const quint64 key = peerKey(addr, port);
    if (key) {
        if (RouterPeer *p = m_peerIndex.value(key))
            return p;
    } else {
        for (auto &p : m_peers)
            if (p->address().isEqual(addr, QHostAddress::TolerantConversion) && p->port() == port)
                return p.get();
    }
    m_peers.push_back(std::make_unique<RouterPeer>(addr, port));
    if (key)
        m_peerIndex.insert(key, m_peers.back().get());
    return m_peers.back().get();
}

void RouterSim::log(const char *dir, const RouterPeer &peer, const QByteArray &d)
{
    if (m_quiet)
        return;
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
    pollRound(now);
    pumpTransfers(now);
    stormPass(now);
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
        emit datagramReceived(d);
        RouterPeer *peer = peerFor(from, port);
        log("rx", *peer, d);
        QByteArray ack;
        const QList<QByteArray> msgs = peer->receive(d, &ack);
        for (const QByteArray &m : msgs)
            handleMessage(*peer, m);
        if (m_onContact && m_contacted.insert(peer).second)
            startTransfer(*peer, m_onContact->download, m_onContact->stopAfter);
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
    if (msg.size() >= 3 && (msg[0] == 'y' || msg[0] == 'n')) {
        transferReply(peer, msg[0]);
        return;
    }
    if (msg.size() < 3 || msg[0] != 'Q')
        return;
    if (bridged()) {
        for (const QByteArray &reply : m_bridge.panelCommand(msg.mid(3)))
            peer.queue('Q', reply);
        return;
    }
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

void RouterSim::sendTextsToAll(const QList<QByteArray> &texts)
{
    enum { MaxPayload = 480 }; // well inside a panel's 512-byte message buffer
    for (auto &p : m_peers)
        for (const QByteArray &t : texts)
            p->queueCoalesced('Q', t, MaxPayload);
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

void RouterSim::pollAll()
{
    for (auto &p : m_peers)
        pollPeer(*p);
    service();
}

void RouterSim::offPoll()
{
    cancelTransfers("cancelled by OFF POLL");
    // OFF POLL resets both sides: the panel resets its layer on receipt, so
    // the router starts a new session too, with "N" its first message.
    for (auto &p : m_peers)
        p->offPoll();
    service();
}

bool RouterSim::command(const QString &line)
{
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return true;
    const QString &c = w[0];
    if (c == QLatin1String("poll") && w.size() == 1)
        pollAll();
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
    } else if (bridged() && (c == QLatin1String("route") || c == QLatin1String("lock"))) {
        QString why;
        if (!m_bridge.command(w, &why))
            fprintf(stderr, "routersim: %s: %s\n", qPrintable(line), qPrintable(why));
    } else if (bridged() && c == QLatin1String("storm")) {
        fprintf(stderr, "routersim: no tally storm while bridging to another router\n");
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
    } else if (c == QLatin1String("sendcfg") && w.size() >= 2) {
        sendConfigCommand(w);
    } else if (c == QLatin1String("storm") && w.size() == 2) {
        bool ok = false;
        const int rate = w[1] == QLatin1String("off") ? 0 : w[1].toInt(&ok);
        if (w[1] != QLatin1String("off") && (!ok || rate <= 0))
            return false;
        setStorm(rate);
    } else if (c == QLatin1String("quit") && w.size() == 1)
        emit quitRequested();
    else
        return false;
    return true;
}

// ---- tally storm ----------------------------------------------------------------

void RouterSim::setStorm(int perSecond)
{
    m_storm.setRate(perSecond, m_clock.elapsed());
}

void RouterSim::stormPass(qint64 now)
{
    enum { MaxPayload = 480 }; // well inside a panel's 512-byte message buffer
    const int n = m_storm.due(now);
    for (int i = 0; i < n; ++i) {
        const TallyStorm::Change c = m_storm.next();
        const QByteArray tally = m_state.route(1u << c.level, c.dest, c.source);
        if (tally.isEmpty())
            continue;
        for (auto &p : m_peers)
            if (!m_transfers.count(p.get()))
                p->queueCoalesced('Q', tally, MaxPayload);
    }
}

// ---- configuration downloads ------------------------------------------------------

void RouterSim::sendConfig(const ConfigDownload &d, int stopAfter)
{
    for (auto &p : m_peers)
        startTransfer(*p, d, stopAfter);
}

void RouterSim::sendConfigOnContact(const ConfigDownload &d, int stopAfter)
{
    Transfer t;
    t.download = d;
    t.stopAfter = stopAfter;
    m_onContact = t;
}

void RouterSim::startTransfer(RouterPeer &peer, const ConfigDownload &d, int stopAfter)
{
    if (m_transfers.count(&peer))
        printf("sendcfg %s: the download in progress is replaced\n", qPrintable(peer.name()));
    Transfer &t = m_transfers[&peer];
    t = Transfer();
    t.download = d;
    t.stopAfter = stopAfter;
    printf("sendcfg %s: %lld blocks of kind %d, %s of %lld bytes\n", qPrintable(peer.name()),
           (long long)d.blocks.size(), d.kind, qPrintable(d.description), (long long)d.content.size());
    fflush(stdout);
    service();
}

void RouterSim::transferReply(RouterPeer &peer, char reply)
{
    auto it = m_transfers.find(&peer);
    if (it == m_transfers.end() || it->second.sentAt < 0)
        return;
    Transfer &t = it->second;
    const int n = int(t.download.blocks.size());
    const int i = t.next;
    printf("sendcfg %s block %d/%d #%d: %c\n", qPrintable(peer.name()), i + 1, n,
           ConfigDownload::control(i, n) & 0x3F, reply);
    ++t.next;
    bool end = true;
    if (reply == 'n')
        printf("sendcfg %s: refused at block %d/%d\n", qPrintable(peer.name()), i + 1, n);
    else if (t.next == n)
        printf("sendcfg %s: done, %d blocks\n", qPrintable(peer.name()), n);
    else if (t.stopAfter >= 0 && t.next >= t.stopAfter)
        printf("sendcfg %s: stopped after %d of %d blocks\n", qPrintable(peer.name()), t.next, n);
    else
        end = false;
    fflush(stdout);
    if (end) {
        m_transfers.erase(it);
        return;
    }
    peer.queue('B', t.download.blocks[t.next]);
    t.sentAt = m_clock.elapsed();
}

// Starts the downloads whose panels have answered everything sent before
// (so that every later "y" or "n" answers a block) and ends those whose
// block got no answer in time.
void RouterSim::pumpTransfers(qint64 now)
{
    for (auto it = m_transfers.begin(); it != m_transfers.end();) {
        Transfer &t = it->second;
        if (t.sentAt < 0 && it->first->idle()) {
            it->first->queue('B', t.download.blocks[0]);
            t.sentAt = now;
        }
        if (t.sentAt < 0 || now - t.sentAt <= TransferTimeoutMs) {
            ++it;
            continue;
        }
        printf("sendcfg %s: no answer to block %d/%lld, stopped\n", qPrintable(it->first->name()),
               it->second.next + 1, (long long)it->second.download.blocks.size());
        fflush(stdout);
        it = m_transfers.erase(it);
    }
}

void RouterSim::cancelTransfers(const char *why)
{
    for (const auto &t : m_transfers)
        printf("sendcfg %s: %s at block %d/%lld\n", qPrintable(t.first->name()), why, t.second.next + 1,
               (long long)t.second.download.blocks.size());
    fflush(stdout);
    m_transfers.clear();
}

// "sendcfg FILE [--kind 1|2] [--block N] [--stop-after N]"
void RouterSim::sendConfigCommand(const QStringList &w)
{
    int kind = ConfigDownload::File, block = ConfigDownload::DefaultBlock, stopAfter = -1;
    for (int i = 2; i < w.size(); i += 2) {
        bool ok = i + 1 < w.size();
        const int v = ok ? w[i + 1].toInt(&ok) : 0;
        if (ok && w[i] == QLatin1String("--kind"))
            kind = v;
        else if (ok && w[i] == QLatin1String("--block"))
            block = v;
        else if (ok && w[i] == QLatin1String("--stop-after") && v >= 0)
            stopAfter = v;
        else {
            fprintf(stderr, "routersim: sendcfg FILE [--kind 1|2] [--block N] [--stop-after N]\n");
            return;
        }
    }
    ConfigDownload d;
    QString error;
    if (!ConfigDownload::load(w[1], kind, block, &d, &error)) {
        fprintf(stderr, "routersim: sendcfg: %s\n", qPrintable(error));
        return;
    }
    sendConfig(d, stopAfter);
}

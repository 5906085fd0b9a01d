// UDP sockets of the router link, on the firmware thread. Sockets are read
// by polling from the loop pass (one datagram per socket per pass), so no
// event is needed; everything here runs on the firmware thread.

#include "panels_main.h"
#include "plat.h"
#include "plat_firmware.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <QtDebug>
#include <cstdio>

enum { DATAGRAM_MAX = 8192 };

struct SockEntry {
    int port;                  // -1 = free
    QUdpSocket *socket;
    plat_udp_handler handler;
    int arg;
};

static SockEntry s_sock[PLAT_UDP_SOCKETS] = {
    {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0},
    {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0},
    {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0}, {-1, nullptr, nullptr, 0},
    {-1, nullptr, nullptr, 0}};
static QUdpSocket *s_sending;   // the most recently opened socket
static char s_datagram[DATAGRAM_MAX];
static char s_bad_address[64];  // an address text that did not parse

static void report(TFW_IFirmwareCallback::StateMsg st)
{
    plat_state_msg(int(st));
}

int plat_udp_open(int logical_id, int arg, plat_udp_handler handler)
{
    if (logical_id != PLAT_UDP_ROUTER_ID)
        return 0;
    int idx = -1;
    for (int i = 0; i < PLAT_UDP_SOCKETS; ++i)
        if (s_sock[i].port < 0) {
            idx = i;
            break;
        }
    if (idx < 0)
        return -1;

    if (s_bad_address[0]) {
        // Binding "any address" on a random port instead would leave the
        // panel unreachable without a word.
        qCritical("COULD NOT BIND: invalid panel address \"%s\"", s_bad_address);
        format_msg("COULD NOT BIND: invalid panel address \"%s\"", s_bad_address);
        report(TFW_IFirmwareCallback::ST_UDP_BIND_ERROR);
        return -1;
    }

    const StartParams *st = panels_settings();
    const quint32 ip = (quint32(st->ip_address[0]) << 24) | (quint32(st->ip_address[1]) << 16)
                       | (quint32(st->ip_address[2]) << 8) | quint32(st->ip_address[3]);
    const QHostAddress addr = ip ? QHostAddress(ip) : QHostAddress(QHostAddress::AnyIPv4);
    const quint16 port = quint16(st->udp_port);

    QUdpSocket *sock = new QUdpSocket;
    // The router link never goes through a proxy; asking the system for one
    // would start a proxy-resolver thread per panel.
    sock->setProxy(QNetworkProxy::NoProxy);
    if (!sock->bind(addr, port, QAbstractSocket::DontShareAddress)) {
        qCritical("COULD NOT BIND %s:%u %s", qPrintable(addr.toString()), unsigned(port),
                  qPrintable(sock->errorString()));
        delete sock;
        report(TFW_IFirmwareCallback::ST_UDP_BIND_ERROR);
        return -1;
    }
    s_sock[idx] = SockEntry{port, sock, handler, arg};
    s_sending = sock;
    return idx;
}

void plat_udp_receive()
{
    for (SockEntry &e : s_sock) {
        if (e.port < 0 || !e.socket || !e.socket->hasPendingDatagrams())
            continue;
        QHostAddress from;
        const qint64 n = e.socket->readDatagram(s_datagram, DATAGRAM_MAX, &from);
        if (n < 0)
            continue;
        bool ok = false;
        const quint32 v = from.toIPv4Address(&ok);
        const uint8_t addr[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        report(TFW_IFirmwareCallback::ST_UDP_RECEIVED);
        if (e.handler)
            e.handler(e.arg, reinterpret_cast<const uint8_t *>(s_datagram), int(n), addr);
    }
}

int plat_udp_send(const uint8_t *data, int len, const uint8_t *addr, int port)
{
    if (!addr) {
        format_msg("send_udp_data, addr is NULL");
        return 0;
    }
    if (addr[0] == 0) {
        format_msg("send_udp_data ,addr is invalid %d.%d.%d.%d", addr[0], addr[1], addr[2], addr[3]);
        return 0;
    }
    if (!s_sending) {
        report(TFW_IFirmwareCallback::ST_UDP_SEND_FAILED);
        return 0;
    }
    const quint32 ip = (quint32(addr[0]) << 24) | (quint32(addr[1]) << 16) | (quint32(addr[2]) << 8)
                       | quint32(addr[3]);
    const qint64 n = s_sending->writeDatagram(reinterpret_cast<const char *>(data), len,
                                              QHostAddress(ip), quint16(port));
    // A negative result is an error like a zero one.
    if (n <= 0) {
        report(TFW_IFirmwareCallback::ST_UDP_SEND_FAILED);
        return 0;
    }
    report(TFW_IFirmwareCallback::ST_UDP_SENT);
    return 1;
}

void plat_udp_close_all()
{
    for (SockEntry &e : s_sock) {
        if (e.socket) {
            e.socket->abort();
            delete e.socket;
        }
        e = SockEntry{-1, nullptr, nullptr, 0};
    }
    s_sending = nullptr;
}

void plat_udp_refuse_address(const char *text)
{
    // Cut to fit; the message only has to name it.
    snprintf(s_bad_address, sizeof s_bad_address, "%s", text ? text : "");
}

// UDP sockets of the router link, on the firmware thread. Sockets are read
// by polling from the loop pass (what is waiting, within a budget per
// socket and pass), so no event is needed; everything here runs on the
// firmware thread. They are
// plain non-blocking system sockets: the loop pass handles every datagram
// with the peer's address as four bytes and the fixed buffer below, so a
// busy router link costs no memory allocation.

#include "panels_main.h"
#include "plat.h"
#include "plat_firmware.h"

#include <QtDebug>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

enum { DATAGRAM_MAX = 8192 };

struct SockEntry {
    int port;                  // -1 = free
    int fd;                    // -1 = none
    plat_udp_handler handler;
    int arg;
};

static SockEntry s_sock[PLAT_UDP_SOCKETS] = {
    {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0},
    {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0},
    {-1, -1, nullptr, 0}, {-1, -1, nullptr, 0}};
static int s_sending = -1;     // the most recently opened socket
static uint8_t s_datagram[DATAGRAM_MAX];
static char s_bad_address[64];  // an address text that did not parse
static int s_sender_port;       // of the datagram in the handler

static void report(TFW_IFirmwareCallback::StateMsg st)
{
    plat_state_msg(int(st));
}

// The panel's own address and port from the settings (address 0: any).
static sockaddr_in own_address()
{
    const StartParams *st = panels_settings();
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    memcpy(&a.sin_addr.s_addr, st->ip_address, 4); // most significant first: network order
    a.sin_port = htons(uint16_t(st->udp_port));
    return a;
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

    const sockaddr_in addr = own_address();
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    // Not shared with any other socket: a second panel on the same address
    // and port is a bind failure.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        const int err = errno;
        qCritical("COULD NOT BIND %s:%u %s", text, unsigned(ntohs(addr.sin_port)), strerror(err));
        if (fd >= 0)
            close(fd);
        report(TFW_IFirmwareCallback::ST_UDP_BIND_ERROR);
        return -1;
    }
    s_sock[idx] = SockEntry{int(ntohs(addr.sin_port)), fd, handler, arg};
    s_sending = fd;
    return idx;
}

void plat_udp_receive()
{
    bool taken = false;
    for (SockEntry &e : s_sock) {
        for (int n = 0; n < PLAT_UDP_BUDGET && e.port >= 0 && e.fd >= 0; ++n) {
            sockaddr_in from;
            socklen_t fromLen = sizeof from;
            const ssize_t got = recvfrom(e.fd, s_datagram, sizeof s_datagram, 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromLen);
            if (got < 0)
                break; // nothing pending (or a pending error, reported by the next send)
            uint8_t addr[4] = {0, 0, 0, 0};
            if (fromLen >= sizeof from && from.sin_family == AF_INET)
                memcpy(addr, &from.sin_addr.s_addr, 4);
            s_sender_port = ntohs(from.sin_port);
            if (e.handler && e.handler(e.arg, s_datagram, int(got), addr))
                taken = true;
            s_sender_port = 0;
        }
    }
    // The host only restarts its receive indication: once a pass is as good
    // as once a datagram, and a flood does not become a flood of reports.
    if (taken)
        report(TFW_IFirmwareCallback::ST_UDP_RECEIVED);
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
    if (s_sending < 0 || len < 0) {
        report(TFW_IFirmwareCallback::ST_UDP_SEND_FAILED);
        return 0;
    }
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    memcpy(&to.sin_addr.s_addr, addr, 4);
    to.sin_port = htons(uint16_t(port));
    const ssize_t n = sendto(s_sending, data, size_t(len), 0, reinterpret_cast<const sockaddr *>(&to),
                             sizeof to);
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
        if (e.fd >= 0)
            close(e.fd);
        e = SockEntry{-1, -1, nullptr, 0};
    }
    s_sending = -1;
}

void plat_udp_refuse_address(const char *text)
{
    // Cut to fit; the message only has to name it.
    snprintf(s_bad_address, sizeof s_bad_address, "%s", text ? text : "");
}

int plat_udp_sender_port()
{
    return s_sender_port;
}

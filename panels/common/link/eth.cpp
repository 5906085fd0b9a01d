#include "link/eth.h"

#include "link/comms.h"
#include "plat.h"
#include "link/reliable.h"
#include "link/rlink.h"
#include "link/trace.h"
#include "link/router_cmd.h"
#include "link/router_allow.h"
#include "link/trace_decode.h"
#include "ms_clock.h"
#include "timer_list.h"

#include <cstdio>
#include <cstring>

struct PortEntry {
    uint8_t kind;
    uint8_t transport;
    int enabled;
    int socket;
    eth_init_fn init;
    int dest_port;
    RlinkParser parser;
};

static PortEntry s_port[ETH_PORTS];
static int s_router_initialised;

void eth_ports_reset()
{
    for (PortEntry &p : s_port) {
        p.kind = 0;
        p.transport = 0;
        p.enabled = 0;
        p.socket = -1;
        p.init = nullptr;
        p.dest_port = 0;
        rlp_reset(&p.parser);
    }
}

void eth_timers_init()
{
    tl_init();
}

// Reliable layer hooks of the router link.
static int router_send(const uint8_t *data, int len, const uint8_t addr[4])
{
    const int port = s_port[ETH_ROUTER_PORT].dest_port;
    const int sent = plat_udp_send(data, len, addr, port);
    trace_out(data, len, addr, port, sent);
    return sent;
}

// The sender of the datagram being handled, its address and UDP port.
struct Peer {
    uint8_t addr[4];
    int port;
};
static Peer s_rx;
// The peer whose new session (its sequence id 0) the reliable layer
// accepted last: the router the panel follows.
static Peer s_owner;
// Whose message the router link's stream parser holds a part of.
static Peer s_partial;
// Set while the messages of a sequenced datagram from the router the panel
// follows are dispatched.
static int s_in_session;

static bool same_peer(const Peer &a, const Peer &b)
{
    return a.port == b.port && memcmp(a.addr, b.addr, 4) == 0;
}

// Messages travel whole in an unsequenced datagram: it belongs to no
// session, so nothing it starts may run on into the next datagram (whoever
// sends that). A sequenced datagram continues only a message of its own
// sender; another sender's part is dropped first. One stray datagram can
// therefore never leave the parser inside a message that the router's
// datagrams would then be read into.
static void router_deliver(const uint8_t *data, int len, const uint8_t addr[4], int sequenced)
{
    // Replies go to whoever spoke last.
    rl_set_destination(addr);
    PortEntry &p = s_port[ETH_ROUTER_PORT];
    if (!p.enabled)
        return;
    if (!sequenced) {
        RlinkParser alone;
        rlp_reset(&alone);
        s_in_session = 0;
        rlp_feed(&alone, data, len, rlink_dispatch);
        if (alone.state != 0)
            printf("router link: message cut at the end of an unsequenced datagram dropped\n");
        return;
    }
    if (p.parser.state != 0 && !same_peer(s_partial, s_rx)) {
        printf("router link: unfinished message of another sender dropped\n");
        rlp_reset(&p.parser);
        trace_mark_in(TRD_RESTARTED);
    }
    s_in_session = rl_synchronised() && same_peer(s_owner, s_rx);
    rlp_feed(&p.parser, data, len, rlink_dispatch);
    s_in_session = 0;
    if (p.parser.state != 0)
        s_partial = s_rx;
}

// Datagrams from addresses that are not allowed routers, since the last
// report, and the last of their senders.
static int s_dropped;
static Peer s_dropped_from;
static uint32_t s_dropped_reported;
static int s_dropped_ever;

enum { DROP_REPORT_MS = 1000 };

static void router_error(int) {}

// A new session starts on a message boundary: whatever part of a message
// the old session left in the parser is dropped. Without this, noise that
// left the parser mid-message could keep it out of step with every later
// message for good. Its sender is now the router the panel follows.
static void router_restart()
{
    rlp_reset(&s_port[ETH_ROUTER_PORT].parser);
    s_owner = s_rx;
}

static void router_init(int port)
{
    if (s_router_initialised)
        return;
    s_router_initialised = 1;
    PortEntry &p = s_port[port];
    rlp_reset(&p.parser);
    memset(&s_owner, 0, sizeof s_owner);
    memset(&s_partial, 0, sizeof s_partial);
    rcmd_init();
    p.dest_port = ETH_INITIAL_PORT;
    rl_init(router_send, router_deliver, router_error, comms_query_flag, router_restart);
}

int eth_register(int index, uint8_t kind, int enabled, uint8_t transport, int dest_port,
                 eth_init_fn init)
{
    if (index < 0 || index >= ETH_PORTS)
        return 0;
    PortEntry &p = s_port[index];
    p.kind = kind;
    p.transport = transport;
    p.enabled = enabled;
    p.init = init;
    if (init)
        init(index);
    if (transport == ETH_TRANSPORT_UDP) {
        p.socket = plat_udp_open(dest_port, index, eth_router_receive);
        if (kind == ETH_KIND_ROUTER && dest_port != PLAT_UDP_ROUTER_ID)
            p.socket = plat_udp_open(PLAT_UDP_ROUTER_ID, index, eth_router_receive);
    }
    return 1;
}

void eth_register_router_link()
{
    s_dropped = 0;
    s_dropped_ever = 0;
    eth_register(ETH_ROUTER_PORT, ETH_KIND_ROUTER, 1, ETH_TRANSPORT_UDP, ETH_INITIAL_PORT,
                 router_init);
}

int eth_router_receive(int port, const uint8_t *data, int len, const uint8_t addr[4])
{
    if (port < 0 || port >= ETH_PORTS || !addr)
        return 0;
    const int sender_port = plat_udp_sender_port();
    if (!ra_allows(addr)) {
        ++s_dropped;
        memcpy(s_dropped_from.addr, addr, 4);
        s_dropped_from.port = sender_port;
        return 0;
    }
    s_port[port].dest_port = ETH_REPLY_PORT;
    memcpy(s_rx.addr, addr, 4);
    s_rx.port = sender_port;
    trace_in(data, len, addr, sender_port);
    rl_receive(data, len, addr);
    return 1;
}

int eth_router_in_session()
{
    return s_in_session;
}

// At most once a second: how many datagrams were dropped for their sender.
static void eth_report_dropped()
{
    if (!s_dropped)
        return;
    const uint32_t now = msc_now();
    if (s_dropped_ever && now - s_dropped_reported < DROP_REPORT_MS)
        return;
    const uint8_t *a = s_dropped_from.addr;
    printf("router link: %d datagrams dropped, sender not an allowed router (last %u.%u.%u.%u:%d)\n",
           s_dropped, a[0], a[1], a[2], a[3], s_dropped_from.port);
    trace_dropped(s_dropped, a, s_dropped_from.port);
    s_dropped = 0;
    s_dropped_reported = now;
    s_dropped_ever = 1;
}

int eth_router_dest_port()
{
    return s_port[ETH_ROUTER_PORT].dest_port;
}

void eth_poll_router_link() {}

void eth_receive()
{
    plat_udp_receive();
    eth_report_dropped();
}

void eth_timers_expire()
{
    tl_expire();
}

void eth_close_all()
{
    plat_udp_close_all();
}

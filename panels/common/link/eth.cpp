#include "link/eth.h"

#include "link/comms.h"
#include "plat.h"
#include "link/reliable.h"
#include "link/rlink.h"
#include "link/trace.h"
#include "link/router_cmd.h"
#include "timer_list.h"

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

static void router_deliver(const uint8_t *data, int len, const uint8_t addr[4])
{
    // Replies go to whoever spoke last.
    rl_set_destination(addr);
    PortEntry &p = s_port[ETH_ROUTER_PORT];
    if (p.enabled)
        rlp_feed(&p.parser, data, len, rlink_dispatch);
}

static void router_error(int) {}

// A new session starts on a message boundary: whatever part of a message
// the old session left in the parser is dropped. Without this, noise that
// left the parser mid-message could keep it out of step with every later
// message for good.
static void router_restart()
{
    rlp_reset(&s_port[ETH_ROUTER_PORT].parser);
}

static void router_init(int port)
{
    if (s_router_initialised)
        return;
    s_router_initialised = 1;
    PortEntry &p = s_port[port];
    rlp_reset(&p.parser);
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
    eth_register(ETH_ROUTER_PORT, ETH_KIND_ROUTER, 1, ETH_TRANSPORT_UDP, ETH_INITIAL_PORT,
                 router_init);
}

void eth_router_receive(int port, const uint8_t *data, int len, const uint8_t addr[4])
{
    if (port < 0 || port >= ETH_PORTS)
        return;
    s_port[port].dest_port = ETH_REPLY_PORT;
    trace_in(data, len, addr, plat_udp_sender_port());
    rl_receive(data, len, addr);
}

int eth_router_dest_port()
{
    return s_port[ETH_ROUTER_PORT].dest_port;
}

void eth_poll_router_link() {}

void eth_receive()
{
    plat_udp_receive();
}

void eth_timers_expire()
{
    tl_expire();
}

void eth_close_all()
{
    plat_udp_close_all();
}

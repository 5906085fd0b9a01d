#ifndef ETH_H
#define ETH_H

// The Ethernet side of the router link: the port table that binds the
// router-link protocol to a UDP socket, the firmware's timer list, and the
// hooks between the socket layer, the reliable layer and the stream parser.

#include <cstdint>

enum {
    ETH_PORTS = 10,
    ETH_ROUTER_PORT = 6,      // port-table entry of the router link
    ETH_KIND_ROUTER = 100,
    ETH_TRANSPORT_UDP = 3,
    ETH_REPLY_PORT = 2001,    // the router's port once it has spoken
    ETH_INITIAL_PORT = 90     // before anything was received
};

typedef void (*eth_init_fn)(int port);

// Resets the ten entries of the port table.
void eth_ports_reset();
// Empties the firmware's timer list.
void eth_timers_init();
// Registers a protocol on a port-table entry and opens its socket. Returns
// 0 for an index above 9, else 1.
int eth_register(int index, uint8_t kind, int enabled, uint8_t transport, int dest_port,
                 eth_init_fn init);
// Registers the router-link protocol on entry 6 (UDP, initial port 90).
void eth_register_router_link();
// Port-table entry 6 service hook (nothing to do for the UDP transport).
void eth_poll_router_link();
// Takes at most one pending datagram per open socket into the transport.
void eth_receive();
// Runs the timer-list entries that are due.
void eth_timers_expire();
// Closes every UDP socket of the router link.
void eth_close_all();

// The router-link socket's receive handler (argument: port index). A
// datagram from an address that is not an allowed router (router_allow.h)
// is dropped and counted (reported at most once a second, on standard
// output and in the protocol trace); returns 1 for a datagram taken, 0 for
// one dropped.
int eth_router_receive(int port, const uint8_t *data, int len, const uint8_t addr[4]);
// Non-zero while the messages of a sequenced datagram from the router the
// panel follows (the peer whose new session it accepted last) are
// dispatched; zero for every other datagram's messages.
int eth_router_in_session();
// Where replies go: the destination port of the router link's entry.
int eth_router_dest_port();

#endif

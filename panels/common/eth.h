#ifndef ETH_H
#define ETH_H

// The Ethernet transport of the router link: the port table, the UDP
// sockets, the reliable datagram layer and the firmware's timer list.

// Resets the ten entries of the port table.
void eth_ports_reset();
// Empties the firmware's timer list.
void eth_timers_init();
// Registers the router-link protocol on port-table entry 6 and opens its
// UDP socket.
void eth_register_router_link();
// Port-table entry 6 service hook (nothing to do for the UDP transport).
void eth_poll_router_link();
// Takes at most one pending datagram per open socket into the transport.
void eth_receive();
// Runs the timer-list entries that are due.
void eth_timers_expire();
// Closes every UDP socket of the router link.
void eth_close_all();

#endif

// The transport is not built yet: the panel opens no socket, receives
// nothing and keeps no timers. Each entry keeps its place in start-up and in
// the loop pass so the transport drops in without touching either.

#include "eth.h"

void eth_ports_reset() {}
void eth_timers_init() {}
void eth_register_router_link() {}
void eth_poll_router_link() {}
void eth_receive() {}
void eth_timers_expire() {}
void eth_close_all() {}

#ifndef COMMS_H
#define COMMS_H

// The panel's comms state with the router controller: offline, online or
// admin, the keepalive, and the comms display shown while not online.

enum CommsState { COMMS_OFFLINE = 0, COMMS_ONLINE = 1, COMMS_ADMIN = 2 };

// Clears the comms tables and shows the panel offline (reason 7).
void comms_init();
// One step of the button refresh scheduler.
void comms_refresh_step();
// The keepalive check of every loop pass.
void comms_keepalive_check();
int comms_state();

#endif

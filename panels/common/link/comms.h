#ifndef COMMS_H
#define COMMS_H

// The panel's comms state with the router controller: offline, online or
// admin; the router-link commands OFF POLL ("N"), ON POLL ("O") and QUERY
// ("P"); the 5-second keepalive; the button refresh scheduler; and the comms
// display that replaces the normal display while the panel is not online.

#include <cstdint>

enum CommsState { COMMS_OFFLINE = 0, COMMS_ONLINE = 1, COMMS_ADMIN = 2 };

enum CommsDisplay {
    CD_NO_COMMS = 0,
    CD_COMMS_VALID = 1,
    CD_NORMAL = 2,
    CD_ADMIN = 3,
    CD_NONE = 255
};

enum {
    COMMS_KEEPALIVE_MS = 4999,   // more than this without ON POLL: offline
    COMMS_TRAFFIC_MS = 1000,     // recent traffic counts this long
    COMMS_REFRESH_STEPS = 25     // scheduler steps per loop pass
};

// Clears the comms tables and shows the panel offline (reason 7).
void comms_init();
// Sets the state with the reason printed; redraws.
void comms_set_state(int state, int reason);
int comms_state();

// Router-link handlers.
void comms_off_poll();
void comms_on_poll();
void comms_query();
// Every handled router-link message except ON POLL counts as traffic.
void comms_note_traffic();

// After every configuration load.
void comms_panel_setup();
// The keepalive check of every loop pass.
void comms_keepalive_check();
// One step of the button refresh scheduler.
void comms_refresh_step();
// Asks the refresh scheduler to redraw every button from the first.
void comms_request_redraw();
// Leaves the setup menu: back online (from admin) or offline.
void comms_leave_setup_menu();

// Read by the reliable layer: 1 after a QUERY until the next ON POLL.
int comms_query_flag();
// 0 while a network configuration download is in progress.
void comms_set_config_complete(int complete);
int comms_config_complete();
// Clears the first-poll latch: the next ON POLL is announced again (after a
// configuration file came over the router link).
void comms_clear_first_poll();
// CRC of the configuration in use, reported in the QUERY reply.
void comms_set_config_crc(uint16_t crc);
int comms_display_needed();
int comms_last_display();

#endif

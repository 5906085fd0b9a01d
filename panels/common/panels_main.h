#ifndef PANELS_MAIN_H
#define PANELS_MAIN_H

// Entry points of the panel firmware, called by the firmware thread: the
// one-time loop initialisation, the loop pass of every 10 ms tick, the
// configuration reload and the few flags the thread reads between passes.

#include "start_params.h"

#include <cstdint>

// Copies the start block into the settings record and brings up the panel.
// Returns 0 (also for an unknown product name: the panel then runs without
// a product).
int panels_loop_init(StartParams params);

// One pass of the firmware loop.
void panels_loop();

// Loads the configuration file again and prints the result.
void panels_config_reload();

// Non-zero once a configuration has been loaded; never cleared.
uint8_t panels_config_loaded();
// Sets that mark (every successful configuration load does).
void panels_mark_config_loaded();

// Redraws every button: legends first, then each button with the
// redraw-all flag raised for the pass.
void panels_refresh_all_buttons();

// Closes the router link's sockets; part of the stop sequence.
void panels_close_sockets();

// The quarter-second flag: raised by the firmware thread every 250 ms,
// consumed by the key scan and the panel-logic timers.
void panels_set_quarter_flag(uint8_t on);
uint8_t panels_quarter_flag();

// Press timer: set to 20 by every key press, counted down by the panel
// logic.
void panels_set_press_timer(uint8_t v);
uint8_t panels_press_timer();

// Locate flashing (switched by the FTP server's LOCATEON/LOCATEOFF from its
// own thread, read once per pass).
void panels_set_locate(int on);
int panels_locate();
// Every lamp off, asked for from the FTP server's thread when it stops
// locate flashing; done by the next loop pass on the firmware thread, which
// owns the lamps.
void panels_request_leds_off();

// The settings record as copied by panels_loop_init.
const StartParams *panels_settings();
// The configuration file path of the settings, always terminated.
const char *panels_config_path();

#endif

#ifndef REFRESH_H
#define REFRESH_H

// What the panel shows is redrawn key by key. The comms state's refresh
// scheduler redraws one button per step through rf_redraw_button, cycling
// through all of them; a redraw that finds nothing changed sends nothing.
// A full refresh (the panel logic's redraw-all flag, raised for one whole
// round) also draws the keys that change only then. The router link's
// redraw-all requests restart the round at the first button; key handling
// asks for a full refresh after every key it handled, and the scheduler
// takes that request as a full round from the button it is at, so that a
// key repeating every few ticks cannot keep the round from reaching the
// last buttons.
//
// LCD-key models redraw legends and colours (lcd_keys), the others their
// lamps (lamp_keys), and after the first key of a full refresh their text
// displays and extra indicator lamps. While the setup menu is active it
// draws the keys itself.

#include <cstdint>

enum {
    RF_FLASH_MS = 500           // the flash phase changes this often
};

// Key handling: something changed, redraw.
void rf_request();
// The scheduler: non-zero when a refresh was requested since the last
// call (the request is taken).
int rf_take_request();
// Non-zero while a request is waiting.
int rf_requested();

// Set for one round of full refresh from the first button: drawing then
// also draws the keys that change only on a full refresh. Cleared after
// the last button of the round.
void rf_set_redraw_all(uint8_t on);
uint8_t rf_redraw_all();
// A full refresh round from button first, ending with the button before
// it. One already running is extended to a whole round from here.
void rf_begin_full_refresh(int first);

// Forgets what every LCD key shows, so that the redraw that follows passes
// every legend and colour on to the platform; run before every button is
// redrawn after a configuration load.
void rf_refresh_legends();
// Redraws button b (0-based physical key); nothing while the comms display
// is shown.
void rf_redraw_button(int b);
// After panel setup: everything is drawn again in a full refresh.
void rf_refresh_outputs();

// Panel setup's part of the drawing state: the working colour table from
// the new tables, the current-source keys free to ask again, and on the
// LCD-key models every key back to blank with colour 0.
void rf_panel_setup();

// The panel's flash phase (locate mode shows it on every key and lamp).
int rf_flash_phase();
// A scheduler step: when a flash phase change is due, the phase toggles.
void rf_flash_step();

#endif

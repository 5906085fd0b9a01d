#ifndef LOGIC_H
#define LOGIC_H

// The panel logic: key handling, menus, legends and lamps.

#include <cstdint>

// Initialises the panel logic's state at start-up.
void logic_init();
// Handles one key event (kind 'P', 'A' or 'R'; physical key 0..127).
void logic_key_event(uint8_t kind, uint8_t key);
// Timers driven by the quarter-second flag (menus, reset keys, salvos).
void logic_timers();
// Recomputes every key's legend.
void logic_refresh_legends();
// Redraws one button (0-based), legend and colour.
void logic_redraw_button(int button);
// Set while every button is redrawn: drawing then sends even unchanged
// legends and colours.
void logic_set_redraw_all(uint8_t on);
uint8_t logic_redraw_all();

#endif

// Comms hooks of the panel logic.
// Marks every destination's routing and lock state unknown.
void logic_clear_router_state();
// Panel setup: rebuilds the button tables from the configuration and resets
// the working state.
void logic_panel_setup();
// Redraws whatever the panel logic shows after a setup.
void logic_refresh_outputs();
// The setup menu (opened from the comms display): active flag and one
// drawing step.
int logic_setup_menu_active();
void logic_setup_menu_step(int counter);

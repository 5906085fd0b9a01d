#ifndef COLOURS_H
#define COLOURS_H

// The working colour table of the LCD keys: the configuration's 69 colour
// codes (palette indices), copied at panel setup, read by role.

#include <cstdint>

enum {
    CLR_ENTRIES = 69,
    CLR_SOURCE = 0,            // source key, not routed; keys without a function
    CLR_SOURCE_ROUTED = 1,
    CLR_PRESET = 2,            // preset and memory keys
    CLR_PRESET_ON = 3,         //   the preset / the routed source; Enable held
    CLR_DEST = 4,
    CLR_DEST_SELECTED = 5,
    CLR_LOCK_OFF = 6,          // lock and panel lock keys
    CLR_LOCK_ON = 7,
    CLR_DISPLAY = 8,           // current-source, preset-display and list keys
    CLR_IDLE = 13,             // snapshot and salvo keys
    CLR_ACTIVE = 14,           //   a snapshot held, a salvo just fired
    CLR_NEUTRAL = 15,          // menu, mode and function keys
    CLR_MODE_ON = 16,          // the current menu, a mode that is on
    CLR_LEVEL_BASE = 17        // 17 + 2L level L not selected, 18 + 2L selected
};

// Copies the codes from the runtime tables (panel setup).
void clr_copy();
// The code of entry e (0..68); entry 0's code for anything else.
uint8_t clr_code(int entry);
// The entry of level key L, selected or not; the neutral entry for a level
// beyond the 26 the table has colours for.
int clr_level_entry(int level, int selected);

#endif

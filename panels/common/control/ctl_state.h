#ifndef CTL_STATE_H
#define CTL_STATE_H

// The working state of key handling: one SubpanelState per independent
// section of the panel (its levels, destination, preset and typed names),
// the page offsets of its paged keys, the current menu pages and the few
// panel-wide flags. It lives for the firmware instance; panel setup puts it
// back to the subpanel defaults of the runtime tables.

#include <cstdint>

enum {
    CTL_SUBPANELS = 8,
    CTL_TEXT_MAX = 15,                 // characters of a typed name
    CTL_TEXT_LEN = CTL_TEXT_MAX + 1,   // with its terminator
    CTL_NONE = 9999,                   // no destination, source or key
    CTL_LEVELS = 26,
    CTL_LEVEL_MASK = (1u << CTL_LEVELS) - 1,
    CTL_NO_CATEGORY = -1
};

// One paging group's view of a page, for the source and the destination
// keys: the offset added to their values, the step a scroll moves by (the
// number of such keys on the page) and the lowest and highest value on the
// page.
struct PageOffsets {
    uint16_t src_offset, src_step, src_low, src_high;
    uint16_t dst_offset, dst_step, dst_low, dst_high;
};

// A name being typed on the keys. "complete" is set once a whole string has
// been entered (a character key then appends to it); "in_progress" while the
// text was typed rather than filled from a selection.
struct NameEntry {
    char text[CTL_TEXT_LEN];
    uint8_t complete;
    uint8_t in_progress;
    char category[CTL_TEXT_LEN];
    uint8_t category_complete;
};

struct SubpanelState {
    uint32_t level_mask;        // bit L: level L selected
    uint16_t dest;              // selected destination
    uint8_t locked;             // selections and takes refused
    uint16_t preset;            // preset source, CTL_NONE = none
    uint16_t last_preset;       // stepping base of next/previous preset
    uint32_t toggle_preset;     // each take makes the replaced source the preset
    uint32_t chop_preset;       // takes are recorded for the preset chop
    uint32_t take_time;         // the last recorded take
    uint16_t take_dest;         //   CTL_NONE = none
    uint32_t take_levels;
    NameEntry preset_entry;
    NameEntry dest_entry;       // destination mode; the selected destination's name
    int16_t category_key;       // slot of the key whose category entry runs
    PageOffsets pages[2];       // paging groups 1 and 2
};

struct PanelFlags {
    uint8_t dest_mode;          // typed names select the destination
    uint8_t take_error;         // the last typed source name matched nothing
    uint8_t dest_error;         // the last typed destination name matched nothing
    uint8_t swallow;            // ignore keys until the next release
    uint8_t setup_active;       // keys go to the setup menu
    uint8_t panel_lock;         // only a Panel Lock key acts
    uint8_t number_mode;        // display keys show router numbers
};

// Current and previous page of the primary (group 1) and secondary
// (group 2) menus; 0 is the first menu.
struct MenuPages {
    uint8_t primary, last_primary;
    uint8_t secondary, last_secondary;
};

// State of subpanel sp, or null when sp is not a subpanel.
SubpanelState *ctl_subpanel(int sp);
PanelFlags *ctl_flags();
MenuPages *ctl_pages();

// Start-up: no selection anywhere, first menu pages, every flag clear.
void ctl_init();
// Panel setup after a configuration load: rebuilds the tables' paging
// numbers and legend map, then puts the working state back to the subpanel
// defaults, evaluates the current page and resets what the keys show (the
// colours of the new tables; on the LCD-key models every key blank).
void ctl_panel_setup();
// Each subpanel's levels and destination from its defaults, nothing preset
// or typed, no take recorded, destination mode off.
void ctl_reset_working_state();

// The error beep of a refused key.
void ctl_beep();
// Non-zero on the models whose takes resolve a typed source name: every
// model that has no LCD keys.
int ctl_name_entry_model();
// Empties a name entry (text, flags and category).
void ctl_entry_clear(NameEntry *e);

#endif

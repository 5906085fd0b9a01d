#ifndef PANEL_TABLES_H
#define PANEL_TABLES_H

// The runtime tables of the panel logic: key definitions by slot, paging
// groups, legends, colours, the router's names and numbers, subpanel
// defaults, displays and the few panel-wide values. Written by
// applyConfiguration (from a PCSL text) or by the binary configuration
// reader; read by key handling, menus and legends. One set per firmware
// instance, statically sized.
//
// Slots: 0..127 are the physical keys of the first menu; later menus add
// pages of the paging-group-1 keys from slot 128 and of the group-2 keys
// from slot 1320.

#include <cstdint>

enum {
    PT_SLOTS = 2048,
    PT_STRING_SLOTS = 60,      // slots that carry a string value and character
    PT_STRING_LEN = 15,        // 10 used
    PT_KEYS = 128,
    PT_LEGENDS = 512,
    PT_LEGEND_LEN = 10,
    PT_NAMES = 2048,           // sources, destinations
    PT_LEVELS = 26,
    PT_DISPLAY_NAME = 16,      // 10 used (15 from a binary image), terminated
    PT_LEVEL_NAME = 15,        // 10 used
    PT_COLOURS = 69,
    PT_SUBPANELS = 8,
    PT_DISPLAYS = 10,
    PT_JOYSTICK = 8,
    PT_NAME_LIST = 512,
    PT_NONE = 9999,
    PT_NO_LEGEND = 0xFFFF,
    PT_GROUP1_BASE = 127,      // slot = base + (page - 1) * N + ordinal
    PT_GROUP2_BASE = 1319
};

struct PtLegend {
    char text[PT_LEGEND_LEN];  // not terminated when all ten are used
    uint16_t owner;            // menu number or slot + 1; 0 = unused
};

// Sources or destinations as the router knows them.
struct PtRouteTable {
    uint16_t count;
    uint8_t name_len;
    uint8_t level_count;
    char name[PT_NAMES][PT_DISPLAY_NAME];
    uint16_t number[PT_NAMES][PT_LEVELS];
};

struct PtLevelTable {
    uint32_t count;
    uint8_t name_len;
    char name[PT_LEVELS][PT_LEVEL_NAME + 1];
};

struct PtSubpanel {
    uint16_t def_dest;
    uint32_t def_level;
};

struct PtDisplay {
    uint16_t type;
    uint16_t dest;             // destination or subpanel; 9999 = none
    uint16_t level;
    uint32_t fixed_dest;       // 9999 = none
};

struct PtJoystick {
    uint16_t dest, source, mode;
    uint32_t level;
};

// Name list of a binary image: kept, not used by the panel logic.
struct PtNameEntry {
    uint16_t number;
    uint8_t value;
    uint8_t valid;
    char name[PT_LEVEL_NAME + 1];
};

struct PanelTables {
    // Key definitions by slot.
    uint8_t type[PT_SLOTS];
    uint16_t value[PT_SLOTS];
    uint16_t value2[PT_SLOTS];
    uint16_t subpanel[PT_SLOTS];        // low 8 bits used
    char string[PT_STRING_SLOTS][PT_STRING_LEN];
    uint8_t character[PT_STRING_SLOTS];

    // Physical keys of the first menu.
    uint8_t group[PT_KEYS];             // paging group 0 (fixed), 1, 2
    uint8_t ordinal[PT_KEYS];
    uint16_t group_count[2];            // keys in groups 1 and 2

    PtLegend legends[PT_LEGENDS];
    uint16_t legend_count;              // entries in use
    uint16_t menu_legends;              // entries that are primary menu names
    uint16_t all_menu_legends;          // ... primary or secondary menu names

    uint8_t colours[PT_COLOURS];
    PtRouteTable dests;
    PtRouteTable sources;
    PtLevelTable levels;
    PtSubpanel subpanels[PT_SUBPANELS];
    uint16_t display_count;
    PtDisplay displays[PT_DISPLAYS];
    int32_t reset_keys[2];
    uint16_t prev_dest, next_dest;
    uint16_t prev_preset, next_preset;
    uint16_t take_mode;                 // binary images only: 1 selected, 2 fixed
    uint16_t fixed_take_dest;
    PtJoystick joystick[PT_JOYSTICK];
    uint16_t joystick_dest;             // preset by a mode-1 mapping
    PtNameEntry names[PT_NAME_LIST];

    // Derived by panel setup.
    uint16_t page_limit[2];             // highest page of groups 1 and 2
    uint16_t slot_legend[PT_SLOTS];     // legend entry of a slot, or PT_NO_LEGEND
};

// The firmware instance's tables.
PanelTables *panel_tables();

// Start-up state: every joystick mapping cleared (no destination, no
// source), no legend for any slot.
void pt_init();

// Numbers the keys of the two paging groups in key order (ordinals from 1
// and the counts) and sets the highest page of each group (2256 / count +
// 1, 16 for an empty group). Run once whenever the groups are written (by
// applyConfiguration before it places the later menus' keys, and by the
// binary configuration reader); everything else reads the numbers.
void pt_number_groups();

// Panel setup's part: maps every slot to its legend entry.
void pt_panel_setup();

// The slot of physical key k (0..127) on primary page p and secondary page
// s (0 = first menu); k itself for fixed keys. PT_SLOTS when out of range.
int pt_key_slot(int key, int primary_page, int secondary_page);

// Display name of a table entry, terminated; null beyond the count.
const char *pt_dest_name(int i);
const char *pt_source_name(int i);
const char *pt_level_name(int i);

#endif

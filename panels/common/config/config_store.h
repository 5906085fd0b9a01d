#ifndef CONFIG_STORE_H
#define CONFIG_STORE_H

// The parsed panel configuration. SemConfig (sem_config.h) stores every
// object and property of a PCSL text here; applyConfiguration derives the
// runtime tables (panel_tables.h) from it once the whole text is parsed.
// One store per firmware instance, statically sized.

#include <cstdint>

enum {
    CFG_MENUS = 50,
    CFG_KEYS = 128,
    CFG_SOURCES = 2048,
    CFG_DESTS = 2048,
    CFG_LEVELS = 32,           // per-level numbers of sources and destinations
    CFG_TABLE_LEVELS = 26,     // levels the runtime tables use
    CFG_SUBPANELS = 8,
    CFG_RESET_KEYS = 2,
    CFG_DISPLAYS = 10,
    CFG_JOYSTICK = 8,
    CFG_COLOURS = 69,
    CFG_NAME_LEN = 10,         // names, legends and string values
    CFG_VERSION_LEN = 6,
    CFG_NONE = 9999            // no destination, source or display
};

// A fixed ten-character field: the first ten characters of a value, with a
// terminating NUL only when the value is shorter.
typedef char CfgName[CFG_NAME_LEN];

struct ButtonRecord {
    uint16_t type;         // ButtonType
    uint16_t value;
    uint16_t value2;       // chop keys: low 13 bits value, top 3 bits interval
    uint16_t property;     // paging group asked for by "bP" (first menu)
    uint16_t subpanel;
    uint8_t character;
    CfgName string;
    CfgName legend;
};

struct MenuRecord {
    CfgName name;
    CfgName sec_name;
    ButtonRecord keys[CFG_KEYS];
};

// A source or destination: its router number on each level.
struct RouteRecord {
    CfgName name;
    CfgName legend;
    uint16_t number[CFG_LEVELS];
};

struct LevelRecord {
    CfgName name;
    CfgName legend;
};

struct SubpanelRecord {
    int32_t def_dest;
    int32_t def_level;
};

struct DisplayRecord {
    int32_t dest;
    int32_t level;
    int32_t type;
};

struct JoystickMapping {
    uint16_t dest;         // 0-based
    uint16_t source;       // 0-based
    uint16_t mode;
    int32_t level;
};

struct CfgSettings {
    int32_t dest_count;
    int32_t source_count;
    uint16_t level_count;
    uint16_t prev_dest, next_dest;
    uint16_t prev_preset, next_preset;
    int32_t default_dest;          // kept, nothing reads it
    uint8_t from_setup_tool;       // text written by the setup tool
    char setup_version[CFG_VERSION_LEN + 1];
    int32_t menu_count;            // menus applyConfiguration walks
    int32_t keys_per_menu;         // keys per menu it walks; only grows
    uint8_t colour_taken[2];       // setup tool: entries 17 and 18 accepted once
};

struct ConfigStore {
    CfgSettings settings;
    MenuRecord menus[CFG_MENUS];
    RouteRecord sources[CFG_SOURCES];
    RouteRecord dests[CFG_DESTS];
    LevelRecord levels[CFG_LEVELS];
    SubpanelRecord subpanels[CFG_SUBPANELS];
    DisplayRecord displays[CFG_DISPLAYS];
    JoystickMapping joystick[CFG_JOYSTICK];
    uint32_t colours[CFG_COLOURS];
    int32_t reset_keys[CFG_RESET_KEYS];
};

// The firmware instance's store.
ConfigStore *cfg_store();

// Puts the store back to its defaults before a text is parsed. Displays,
// joystick mappings, the menu and key counts and the once-only colour marks
// survive; so does everything else the defaults do not name.
void resetConfiguration();

// Derives the runtime tables from the store (run once per parsed text).
void applyConfiguration();

// Copies the first ten characters of text into a name field.
void cfg_set_name(CfgName field, const char *text);
// Length of a name field (at most ten).
int cfg_name_len(const CfgName field);
// Reads decimal text with an optional sign; anything after the digits is
// ignored and values beyond 32 bits are clamped.
int32_t cfg_number(const char *text);

#endif

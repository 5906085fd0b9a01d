#include "config/sem_config.h"

#include "config/config_store.h"

#include <cstring>

// Object names by type (index = type).
static const char *const s_objects[] = {
    "",              "ConfigSettings",    "KnownSubpanels", "Subpanel",   "KnownResetButtons",
    "reset_button",  "KnownMenus",        "Menu",           "MenuButtons", "Button",
    "Btn",           "KnownSources",      "Source",         "Src",        "KnownDestinations",
    "Destination",   "Dst",               "KnownColours",   "Clr",        "KnownLevels",
    "Level",         "JoyStick",          "jsMapping",      "KnownDisplays", "Display",
    "sLev",          "dLev"};

enum { OBJECT_TYPES = sizeof s_objects / sizeof s_objects[0] };

struct NamedCode {
    const char *name;
    int code;
};

// Property keys: long and short spellings share a meaning; the code of the
// short one is the long one's + 1 where both exist.
enum {
    K_CONFIG_NAME = 27, K_DEFAULT_DEST, K_DEF_DEST, K_DEF_LVL, K_NUM_DESTS, K_NUM_SOURCES,
    K_NUM_LEVELS, K_MENU_NAME, K_SEC_MENU_NAME, K_BUTTON_TYPE, K_BT, K_BUTTON_VALUE, K_BV,
    K_BUTTON_VALUE2, K_BV2, K_BUTTON_LEGEND, K_BL, K_BUTTON_PROPERTY, K_BP, K_IV, K_SPI,
    K_SOURCE_NAME, K_SN, K_DEST_NAME, K_DN, K_DLEG, K_SLEG, K_LLEG, K_CV, K_JS_DEST, K_JS_SRC,
    K_JS_MODE, K_JS_LEVEL, K_DIS_DEST, K_DIS_LVL, K_DIS_TYPE, K_LVL_NAME, K_LN,
    K_LEVEL_NUMBERS_ZERO, K_FROM_CFGDESK, K_RESET_VALUE
};

static const NamedCode s_keys[] = {
    {"configName", K_CONFIG_NAME}, {"defaultDestination", K_DEFAULT_DEST},
    {"defDest", K_DEF_DEST}, {"defLvl", K_DEF_LVL}, {"numDestinations", K_NUM_DESTS},
    {"numSources", K_NUM_SOURCES}, {"numLevels", K_NUM_LEVELS}, {"menuName", K_MENU_NAME},
    {"secMenuName", K_SEC_MENU_NAME}, {"buttonType", K_BUTTON_TYPE}, {"bT", K_BT},
    {"buttonValue", K_BUTTON_VALUE}, {"bV", K_BV}, {"buttonValue2", K_BUTTON_VALUE2},
    {"bV2", K_BV2}, {"buttonLegend", K_BUTTON_LEGEND}, {"bL", K_BL},
    {"buttonProperty", K_BUTTON_PROPERTY}, {"bP", K_BP}, {"Iv", K_IV}, {"sPI", K_SPI},
    {"sourceName", K_SOURCE_NAME}, {"sN", K_SN}, {"destinationName", K_DEST_NAME},
    {"dN", K_DN}, {"dLeg", K_DLEG}, {"sLeg", K_SLEG}, {"lLeg", K_LLEG}, {"cV", K_CV},
    {"jsDest", K_JS_DEST}, {"jsSrc", K_JS_SRC}, {"jsMode", K_JS_MODE},
    {"jsLevel", K_JS_LEVEL}, {"disDest", K_DIS_DEST}, {"disLvl", K_DIS_LVL},
    {"disType", K_DIS_TYPE}, {"lvlName", K_LVL_NAME}, {"lN", K_LN},
    {"defLevelInputNumbersZero", K_LEVEL_NUMBERS_ZERO}, {"fromCfgdesk", K_FROM_CFGDESK},
    {"reset_value", K_RESET_VALUE}};

static const NamedCode s_button_types[] = {
    {"Panel Lock", 1}, {"Last Menu", 2}, {"Secondary Menu", 9}, {"Source", 10},
    {"Destination", 11}, {"Level", 12}, {"Locks", 13}, {"Primary Menu", 14}, {"Menu", 14},
    {"Src Scroll Up", 15}, {"Dst Scroll Up", 16}, {"Current Source Display", 17},
    {"Current Dst Src Display", 18}, {"Current Destination Display", 19},
    {"System Salvo", 20}, {"Enable", 22}, {"Src Shift", 24}, {"Dst Shift", 25},
    {"Source Preset", 26}, {"Take", 29}, {"Take Level Preset", 30},
    {"Source Preset Display", 31}, {"Add String", 33}, {"Add String/Character", 34},
    {"Preset Clear", 35}, {"Append String", 36}, {"Delete Last Character", 37},
    {"Destination Take", 38}, {"Src Scroll Down", 43}, {"Dst Scroll Down", 44},
    {"Previous Destination", 47}, {"Next Destination", 48}, {"Prev Source Preset", 51},
    {"Next Source Preset", 52}, {"Take Clear", 58}, {"Take Key Clear", 58},
    {"Destination Mode", 59}, {"Clear + Add Category String", 60},
    {"Clear + Add Category String or Add Character", 61}, {"Source Toggle", 63},
    {"Source Chop", 64}, {"Setup", 65}, {"Dest Src Take", 66}, {"Dest Src Display", 67},
    {"Source Preset Toggle", 68}, {"Source Preset Chop", 69}};

// "cV" index to colour code.
static const uint8_t s_colour_codes[13] = {0x00, 0x01, 0x03, 0x33, 0x85, 0xA4, 0x0C,
                                           0xCC, 0x0F, 0x8D, 0xCF, 0xFF, 0x3F};

template <size_t N>
static int find_code(const NamedCode (&table)[N], const char *name)
{
    if (!name)
        return 0;
    for (size_t i = 0; i < N; ++i)
        if (strcmp(table[i].name, name) == 0)
            return table[i].code;
    return 0;
}

int cfg_object_type(const char *name)
{
    if (!name || !*name)
        return COBJ_UNKNOWN;
    for (int t = 1; t < OBJECT_TYPES; ++t)
        if (strcmp(s_objects[t], name) == 0)
            return t;
    return COBJ_UNKNOWN;
}

int cfg_key_code(const char *key)
{
    return find_code(s_keys, key);
}

int cfg_button_type(const char *name)
{
    return find_code(s_button_types, name);
}

// ButtonTypes whose "bV" is a string.
static bool string_valued(int type)
{
    return type == 33 || type == 34 || type == 36 || type == 60 || type == 61;
}

// ButtonTypes whose "bL" is one character.
static bool character_valued(int type)
{
    return type == 34 || type == 61;
}

// ButtonTypes whose "bV" is stored as written unless the setup tool wrote
// the text.
static bool raw_value(int type)
{
    return type == 13 || type == 24 || type == 25 || type == 43 || type == 44;
}

// Record index of an object argument: n - 1, clamped to the table.
static int record_index(const char *arg, int count)
{
    const int32_t n = cfg_number(arg);
    if (n < 1)
        return 0;
    return n > count ? count - 1 : n - 1;
}

// The context's user word remembers its type and record so that each
// property does not look the name up again.
enum { CTX_VALID = 0x80000000u, CTX_NO_RECORD = 0xFFFF };

static uint32_t context_word(int type, int index)
{
    return CTX_VALID | (uint32_t(type) << 16) | (uint32_t(index) & 0xFFFF);
}

SemConfig::SemConfig()
    : menu_(0), key_(0), source_(0), dest_(0), colour_(0), level_(0), subpanel_(0), reset_(0),
      joystick_(0), display_(0)
{
}

// Finds the object's type and record once, when it opens.
static uint32_t classify(const SemContext *c)
{
    const int type = cfg_object_type(c->name);
    int index = 0;
    switch (type) {
    case COBJ_SUBPANEL: index = record_index(c->arg, CFG_SUBPANELS); break;
    case COBJ_RESET_BUTTON: index = record_index(c->arg, CFG_RESET_KEYS); break;
    case COBJ_MENU: index = record_index(c->arg, CFG_MENUS); break;
    case COBJ_SOURCE: case COBJ_SRC: index = record_index(c->arg, CFG_SOURCES); break;
    case COBJ_DEST: case COBJ_DST: index = record_index(c->arg, CFG_DESTS); break;
    case COBJ_CLR: index = record_index(c->arg, CFG_COLOURS); break;
    case COBJ_LEVEL: index = record_index(c->arg, CFG_LEVELS); break;
    case COBJ_JS_MAPPING: index = record_index(c->arg, CFG_JOYSTICK); break;
    case COBJ_DISPLAY: index = record_index(c->arg, CFG_DISPLAYS); break;
    case COBJ_BUTTON:
    case COBJ_BTN: {
        // Keys beyond the 128 of a menu have no record.
        const int32_t n = cfg_number(c->arg);
        index = (n >= 1 && n <= CFG_KEYS) ? n - 1 : int(CTX_NO_RECORD);
        break;
    }
    default: break;
    }
    return context_word(type, index);
}

void SemConfig::onObjectBegin()
{
    SemContext *c = currentContext();
    if (!c)
        return;
    c->user = classify(c);
    const int type = int((c->user >> 16) & 0xFF);
    // A Menu is current from its start, so that the keys in its MenuButtons
    // land in it; a key counts towards the keys per menu even when empty.
    if (type == COBJ_MENU || type == COBJ_BUTTON || type == COBJ_BTN)
        selectRecord(type, int(c->user & 0xFFFF));
}

// Makes the object's record current; a Menu also sets how many menus the
// apply step walks, a key how many keys per menu.
void SemConfig::selectRecord(int type, int index)
{
    CfgSettings *st = &cfg_store()->settings;
    switch (type) {
    case COBJ_SUBPANEL: subpanel_ = index; break;
    case COBJ_RESET_BUTTON: reset_ = index; break;
    case COBJ_MENU:
        menu_ = index;
        st->menu_count = index + 1;
        break;
    case COBJ_BUTTON:
    case COBJ_BTN:
        if (index == CTX_NO_RECORD) {
            key_ = -1;
        } else {
            key_ = index;
            if (index + 1 > st->keys_per_menu)
                st->keys_per_menu = index + 1;
        }
        break;
    case COBJ_SOURCE: case COBJ_SRC: source_ = index; break;
    case COBJ_DEST: case COBJ_DST: dest_ = index; break;
    case COBJ_CLR: colour_ = index; break;
    case COBJ_LEVEL: level_ = index; break;
    case COBJ_JS_MAPPING: joystick_ = index; break;
    case COBJ_DISPLAY: display_ = index; break;
    default: break;
    }
}

void SemConfig::onProperty(const char *key, const char *, const char *value)
{
    SemContext *c = currentContext();
    if (!c || !key)
        return;
    if (!(c->user & CTX_VALID))
        c->user = classify(c);
    const int type = int((c->user >> 16) & 0xFF);
    selectRecord(type, int(c->user & 0xFFFF));
    if (!value)
        value = "";
    if (type == COBJ_SLEV || type == COBJ_DLEV)
        applyLevelNumber(type, key, value);
    else
        applyKey(cfg_key_code(key), value);
}

// "L<n>=<number>" inside sLev/dLev: the router number of the current source
// or destination on level n.
void SemConfig::applyLevelNumber(int type, const char *key, const char *value)
{
    if (!key[0])
        return;
    const int32_t level = cfg_number(key + 1);
    if (level < 1 || level > CFG_LEVELS)
        return;
    RouteRecord *r = type == COBJ_SLEV ? &cfg_store()->sources[source_] : &cfg_store()->dests[dest_];
    r->number[level - 1] = uint16_t(cfg_number(value));
}

static int32_t clamp_count(int32_t v, int32_t max)
{
    return v < 0 ? 0 : (v > max ? max : v);
}

// "cV": the colour code of the current entry. Text from the setup tool may
// set entries 17 and 18 once each, and they fill the level-key pairs.
static void apply_colour(int entry, int32_t index)
{
    ConfigStore *cs = cfg_store();
    if (index < 0 || index > 12)
        return;
    const uint8_t code = s_colour_codes[index];
    if (!cs->settings.from_setup_tool || entry <= 16) {
        cs->colours[entry] = code;
        return;
    }
    if (entry > 18 || cs->settings.colour_taken[entry - 17])
        return;
    cs->settings.colour_taken[entry - 17] = 1;
    for (int e = entry; e < CFG_COLOURS; e += 2)
        cs->colours[e] = code;
}

void SemConfig::applyKey(int code, const char *value)
{
    ConfigStore *cs = cfg_store();
    CfgSettings *st = &cs->settings;
    const int32_t v = cfg_number(value);
    switch (code) {
    case K_DEFAULT_DEST: st->default_dest = v; break;
    case K_DEF_DEST: cs->subpanels[subpanel_].def_dest = v; break;
    case K_DEF_LVL: cs->subpanels[subpanel_].def_level = v; break;
    case K_NUM_DESTS: st->dest_count = clamp_count(v, CFG_DESTS); break;
    case K_NUM_SOURCES: st->source_count = clamp_count(v, CFG_SOURCES); break;
    case K_NUM_LEVELS: st->level_count = uint16_t(clamp_count(v, CFG_TABLE_LEVELS)); break;
    case K_MENU_NAME: cfg_set_name(cs->menus[menu_].name, value); break;
    case K_SEC_MENU_NAME: cfg_set_name(cs->menus[menu_].sec_name, value); break;
    case K_SOURCE_NAME: case K_SN: cfg_set_name(cs->sources[source_].name, value); break;
    case K_DEST_NAME: case K_DN: cfg_set_name(cs->dests[dest_].name, value); break;
    case K_DLEG: cfg_set_name(cs->dests[dest_].legend, value); break;
    case K_SLEG: cfg_set_name(cs->sources[source_].legend, value); break;
    case K_LLEG: cfg_set_name(cs->levels[level_].legend, value); break;
    case K_LVL_NAME: case K_LN: cfg_set_name(cs->levels[level_].name, value); break;
    case K_CV: apply_colour(colour_, v); break;
    case K_JS_DEST: cs->joystick[joystick_].dest = uint16_t(v - 1); break;
    case K_JS_SRC: cs->joystick[joystick_].source = uint16_t(v - 1); break;
    case K_JS_MODE: cs->joystick[joystick_].mode = uint16_t(v); break;
    case K_JS_LEVEL: cs->joystick[joystick_].level = v; break;
    case K_DIS_DEST: cs->displays[display_].dest = v; break;
    case K_DIS_LVL: cs->displays[display_].level = v == 0x20000 ? 0 : v; break;
    case K_DIS_TYPE: cs->displays[display_].type = v; break;
    case K_LEVEL_NUMBERS_ZERO:
        if (v == 1)
            for (int i = 0; i < CFG_SOURCES; ++i) {
                memset(cs->sources[i].number, 0, sizeof cs->sources[i].number);
                memset(cs->dests[i].number, 0, sizeof cs->dests[i].number);
            }
        break;
    case K_FROM_CFGDESK:
        st->from_setup_tool = 1;
        strncpy(st->setup_version, value, CFG_VERSION_LEN);
        st->setup_version[CFG_VERSION_LEN] = '\0';
        break;
    case K_RESET_VALUE: cs->reset_keys[reset_] = v; break;
    default: applyButtonKey(code, value); break;
    }
}

// Keys of the current key of the current menu. "bT" comes first: the
// meaning of the others depends on the ButtonType.
void SemConfig::applyButtonKey(int code, const char *value)
{
    if (key_ < 0 || code < K_BUTTON_TYPE || code > K_SPI)
        return;
    ConfigStore *cs = cfg_store();
    CfgSettings *st = &cs->settings;
    ButtonRecord *b = &cs->menus[menu_].keys[key_];
    const int32_t v = cfg_number(value);
    switch (code) {
    case K_BUTTON_TYPE: case K_BT: b->type = uint16_t(cfg_button_type(value)); break;
    case K_BUTTON_VALUE: case K_BV:
        if (string_valued(b->type)) {
            cfg_set_name(b->string, value);
            break;
        }
        b->value = (v == 0 || (raw_value(b->type) && !st->from_setup_tool)) ? uint16_t(v) : uint16_t(v - 1);
        if (b->type == 47) st->prev_dest = b->value;
        else if (b->type == 48) st->next_dest = b->value;
        else if (b->type == 51) st->prev_preset = b->value;
        else if (b->type == 52) st->next_preset = b->value;
        break;
    case K_BUTTON_VALUE2: case K_BV2:
        if (b->type == 64)
            b->value2 = uint16_t((b->value2 & 0xE000) | ((v - 1) & 0x1FFF));
        else
            b->value2 = uint16_t(v - 1);
        break;
    case K_BUTTON_LEGEND: case K_BL:
        if (character_valued(b->type))
            b->character = uint8_t(value[0]);
        else
            cfg_set_name(b->legend, value);
        break;
    case K_BUTTON_PROPERTY: case K_BP:
        // Paging groups belong to the physical keys: first menu only. The
        // keys of a group are numbered when the tables are made, so a key
        // marked twice is still one key of its group.
        if (menu_ != 0)
            break;
        b->property = uint16_t(v);
        break;
    case K_IV:
        if (b->type == 64 || b->type == 69)
            b->value2 = uint16_t((b->value2 & 0x1FFF) | (uint32_t(v) << 13));
        break;
    case K_SPI: b->subpanel = uint16_t(v); break;
    default: break;
    }
}

#include "config/config_store.h"

#include "product.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static ConfigStore s_store;

// Colours of a panel that was never given any (0-based entry: code).
static const uint8_t s_default_colours[19] = {0x33, 0xFF, 0x03, 0xCF, 0x03, 0x3F, 0x03,
                                              0xCC, 0x33, 0x03, 0xCC, 0x33, 0xCC, 0x03,
                                              0xCC, 0x03, 0xFF, 0x33, 0xA4};

ConfigStore *cfg_store()
{
    return &s_store;
}

void cfg_set_name(CfgName field, const char *text)
{
    // strncpy pads with NULs: a shorter value is terminated, a longer one
    // fills the field.
    strncpy(field, text ? text : "", CFG_NAME_LEN);
}

int cfg_name_len(const CfgName field)
{
    int n = 0;
    while (n < CFG_NAME_LEN && field[n])
        ++n;
    return n;
}

int32_t cfg_number(const char *text)
{
    if (!text)
        return 0;
    const long long v = strtoll(text, nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return int32_t(v);
}

// Every key of every menu back to "no function".
static void reset_menus(ConfigStore *cs)
{
    for (int m = 0; m < CFG_MENUS; ++m) {
        MenuRecord *menu = &cs->menus[m];
        char text[16];
        snprintf(text, sizeof text, "Menu %d", m + 1);
        cfg_set_name(menu->name, text);
        cfg_set_name(menu->sec_name, text);
        // Second value, subpanel, string and character go too, so that
        // nothing of an earlier text leaks into keys this one leaves out.
        memset(menu->keys, 0, sizeof menu->keys);
    }
}

// Sources and destinations: numbered names, number n on every level.
static void reset_routes(RouteRecord *table, int count, const char *format)
{
    for (int i = 0; i < count; ++i) {
        char text[16];
        snprintf(text, sizeof text, format, i + 1);
        cfg_set_name(table[i].name, text);
        memset(table[i].legend, 0, sizeof table[i].legend);
        for (int l = 0; l < CFG_LEVELS; ++l)
            table[i].number[l] = uint16_t(i + 1);
    }
}

static void reset_colours(ConfigStore *cs)
{
    for (int i = 0; i < CFG_COLOURS; ++i) {
        if (i < 19)
            cs->colours[i] = s_default_colours[i];
        else
            cs->colours[i] = (i & 1) ? 0x33 : 0x0C;
    }
}

void resetConfiguration()
{
    ConfigStore *cs = &s_store;
    CfgSettings *st = &cs->settings;
    // Before the first text both walk counts are 2.
    if (st->menu_count == 0)
        st->menu_count = 2;
    if (st->keys_per_menu == 0)
        st->keys_per_menu = 2;

    reset_menus(cs);
    st->level_count = 0;
    st->source_count = 0;
    st->dest_count = 0;
    st->prev_dest = st->next_dest = 0;
    st->prev_preset = st->next_preset = 0;
    // Whether the setup tool wrote the text is a property of each text: a
    // hand-written text after one from the tool reads its values as written.
    st->from_setup_tool = 0;
    memset(st->setup_version, 0, sizeof st->setup_version);

    for (int l = 0; l < CFG_LEVELS; ++l) {
        char text[16];
        snprintf(text, sizeof text, "Level %d", l + 1);
        cfg_set_name(cs->levels[l].name, text);
        memset(cs->levels[l].legend, 0, sizeof cs->levels[l].legend);
    }
    reset_routes(cs->sources, CFG_SOURCES, "Src-%d");
    reset_routes(cs->dests, CFG_DESTS, "Dst-%d");

    for (int s = 0; s < CFG_SUBPANELS; ++s) {
        cs->subpanels[s].def_dest = 1;
        cs->subpanels[s].def_level = 0;
    }
    cs->reset_keys[0] = prod_reset_key1();
    cs->reset_keys[1] = prod_reset_key2();
    reset_colours(cs);
}

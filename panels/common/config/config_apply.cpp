// applyConfiguration: the runtime tables of the panel logic derived from
// the configuration store, once a whole text has been parsed.

#include "config/config_store.h"
#include "config/panel_tables.h"
#include "product.h"

#include <cstdio>
#include <cstring>

static bool is_model(const char *name)
{
    return strcmp(prod_name(), name) == 0;
}

// Displays by model: how many there are, and the fixed types and
// destinations some models give them.
static void apply_displays(const ConfigStore *cs, PanelTables *pt)
{
    const bool sk2200 = is_model("SK2200A");
    const bool sk1700 = is_model("SK1700A");
    const bool sk1900 = is_model("SK1900A");
    pt->display_count = sk2200 ? 9 : (sk1700 ? 10 : 8);
    for (int i = 0; i < CFG_DISPLAYS; ++i) {
        const DisplayRecord *d = &cs->displays[i];
        PtDisplay *out = &pt->displays[i];
        int type = d->type;
        if ((i == 1 && is_model("SK2000A")) || (i == 8 && sk2200))
            type = 10;
        out->type = uint16_t(type);
        out->level = uint16_t(d->level);
        if (d->dest != 0)
            out->dest = uint16_t(d->dest - 1);
        else if ((sk2200 && i != 8) || ((sk1700 || sk1900) && type == 6))
            out->dest = PT_NONE;
        else
            out->dest = 0;
        out->fixed_dest = ((type == 1 || type == 6) && d->dest != 0) ? uint32_t(d->dest - 1) : uint32_t(PT_NONE);
    }
}

static void apply_joystick(const ConfigStore *cs, PanelTables *pt)
{
    for (int i = 0; i < CFG_JOYSTICK; ++i) {
        const JoystickMapping *j = &cs->joystick[i];
        if (j->dest == PT_NONE)
            continue;
        pt->joystick[i].mode = j->mode;
        pt->joystick[i].dest = j->dest;
        pt->joystick[i].level = uint32_t(j->level);
        pt->joystick[i].source = j->source;
        if (j->mode == 1)
            pt->joystick_dest = j->dest;
    }
}

// A display name: the legend when there is one, else the name.
static void display_name(char *out, int size, const CfgName legend, const CfgName name)
{
    const char *text = cfg_name_len(legend) ? legend : name;
    const int n = cfg_name_len(text);
    memset(out, 0, size_t(size));
    memcpy(out, text, size_t(n < size - 1 ? n : size - 1));
}

static void apply_routes(const RouteRecord *in, int count, PtRouteTable *out)
{
    out->count = uint16_t(count);
    out->name_len = CFG_NAME_LEN;
    out->level_count = CFG_TABLE_LEVELS;
    for (int i = 0; i < count; ++i) {
        display_name(out->name[i], PT_DISPLAY_NAME, in[i].legend, in[i].name);
        memcpy(out->number[i], in[i].number, sizeof out->number[i]);
    }
}

static void apply_levels(const ConfigStore *cs, PanelTables *pt)
{
    pt->levels.count = cs->settings.level_count;
    pt->levels.name_len = CFG_NAME_LEN;
    for (int l = 0; l < PT_LEVELS; ++l)
        display_name(pt->levels.name[l], PT_LEVEL_NAME + 1, cs->levels[l].legend, cs->levels[l].name);
}

// Appends a legend to the list unless it is empty or the list is full.
static void add_legend(PanelTables *pt, const CfgName text, int owner)
{
    if (pt->legend_count >= PT_LEGENDS || !cfg_name_len(text))
        return;
    PtLegend *e = &pt->legends[pt->legend_count++];
    memcpy(e->text, text, PT_LEGEND_LEN);
    e->owner = uint16_t(owner);
}

// Slot of key k of menu m, or -1 when the key has none there: the first
// menu defines the physical keys, later menus one page of each paging
// group.
static int key_slot(const PanelTables *pt, int m, int k)
{
    if (m == 0)
        return k;
    int slot;
    if (pt->group[k] == 1)
        slot = PT_GROUP1_BASE + (m - 1) * pt->group_count[0] + pt->ordinal[k];
    else if (pt->group[k] == 2)
        slot = PT_GROUP2_BASE + (m - 1) * pt->group_count[1] + pt->ordinal[k];
    else
        return -1;
    return slot < PT_SLOTS ? slot : -1;
}

static void apply_keys(const ConfigStore *cs, PanelTables *pt)
{
    // Slots this text does not define must not keep an earlier text's keys.
    memset(pt->type, 0, sizeof pt->type);
    memset(pt->value, 0, sizeof pt->value);
    memset(pt->value2, 0, sizeof pt->value2);
    memset(pt->subpanel, 0, sizeof pt->subpanel);
    memset(pt->string, 0, sizeof pt->string);
    memset(pt->character, 0, sizeof pt->character);

    const int menus = cs->settings.menu_count < CFG_MENUS ? cs->settings.menu_count : CFG_MENUS;
    const int keys = cs->settings.keys_per_menu < CFG_KEYS ? cs->settings.keys_per_menu : CFG_KEYS;
    for (int m = 0; m < menus; ++m)
        for (int k = 0; k < keys; ++k) {
            const int slot = key_slot(pt, m, k);
            if (slot < 0)
                continue;
            const ButtonRecord *b = &cs->menus[m].keys[k];
            pt->type[slot] = uint8_t(b->type);
            pt->value[slot] = b->value;
            pt->value2[slot] = b->value2;
            pt->subpanel[slot] = b->subpanel;
            if (slot < PT_STRING_SLOTS) {
                const int t = b->type;
                if (t == 33 || t == 34 || t == 36 || t == 60 || t == 61)
                    memcpy(pt->string[slot], b->string, CFG_NAME_LEN);
                if (t == 34 || t == 61)
                    pt->character[slot] = b->character;
            }
            if (m == 0 || pt->group[k] != 0)
                add_legend(pt, b->legend, slot + 1);
        }
}

// The last destination (or source preset) stepping reaches: the configured
// one, unless it is 0 or beyond the table.
static uint16_t last_index(uint16_t configured, int32_t count)
{
    if (configured == 0 || configured > count)
        return uint16_t(count > 0 ? count - 1 : 0);
    return configured;
}

void applyConfiguration()
{
    ConfigStore *cs = cfg_store();
    CfgSettings *st = &cs->settings;
    PanelTables *pt = panel_tables();

    for (int i = 0; i < PT_LEGENDS; ++i)
        pt->legends[i].owner = 0;
    pt->legend_count = 0;
    for (int i = 0; i < CFG_COLOURS; ++i)
        pt->colours[i] = uint8_t(cs->colours[i]);
    for (int s = 0; s < CFG_SUBPANELS; ++s) {
        pt->subpanels[s].def_dest = uint16_t(cs->subpanels[s].def_dest);
        pt->subpanels[s].def_level = uint32_t(cs->subpanels[s].def_level);
    }
    apply_displays(cs, pt);
    apply_joystick(cs, pt);
    apply_routes(cs->dests, st->dest_count, &pt->dests);
    apply_routes(cs->sources, st->source_count, &pt->sources);
    apply_levels(cs, pt);

    // The first menu's keys give the paging groups; their numbering is the
    // one everything else reads, the later menus' slots below included.
    for (int k = 0; k < CFG_KEYS; ++k) {
        const ButtonRecord *b = &cs->menus[0].keys[k];
        pt->group[k] = (b->property == 1 || b->property == 2) ? uint8_t(b->property) : 0;
    }
    pt_number_groups();

    for (int m = 0; m < CFG_MENUS; ++m)
        add_legend(pt, cs->menus[m].name, m + 1);
    pt->menu_legends = pt->legend_count;
    for (int m = 0; m < CFG_MENUS; ++m)
        add_legend(pt, cs->menus[m].sec_name, m + 1);
    pt->all_menu_legends = pt->legend_count;
    apply_keys(cs, pt);

    // The take mode comes only with binary images: a text takes on Take
    // keys only, whatever image was loaded before it.
    pt->take_mode = 0;
    pt->reset_keys[0] = cs->reset_keys[0];
    pt->reset_keys[1] = cs->reset_keys[1];
    pt->prev_dest = st->prev_dest;
    pt->prev_preset = st->prev_preset;
    pt->next_dest = last_index(st->next_dest, st->dest_count);
    pt->next_preset = last_index(st->next_preset, st->source_count);
    printf("Reset buttons are %d and %d\n", int(cs->reset_keys[0]), int(cs->reset_keys[1]));
}

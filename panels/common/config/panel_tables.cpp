#include "config/panel_tables.h"

#include <cstring>

static PanelTables s_tables;

PanelTables *panel_tables()
{
    return &s_tables;
}

void pt_init()
{
    PanelTables *pt = &s_tables;
    for (int i = 0; i < PT_JOYSTICK; ++i) {
        pt->joystick[i].dest = PT_NONE;
        pt->joystick[i].source = PT_NONE;
        pt->joystick[i].mode = 0;
        pt->joystick[i].level = 0;
    }
    pt->joystick_dest = PT_NONE;
    for (int s = 0; s < PT_SLOTS; ++s)
        pt->slot_legend[s] = PT_NO_LEGEND;
}

// Highest menu page of a paging group with n keys.
static uint16_t page_limit(int n)
{
    return n == 0 ? 16 : uint16_t(2256 / n + 1);
}

void pt_number_groups()
{
    PanelTables *pt = &s_tables;
    uint16_t n[2] = {0, 0};
    for (int k = 0; k < PT_KEYS; ++k) {
        const uint8_t g = pt->group[k];
        if (g == 1 || g == 2) {
            pt->ordinal[k] = uint8_t(++n[g - 1]);
        } else {
            // Any other group byte (a binary image may hold one) is fixed.
            pt->group[k] = 0;
            pt->ordinal[k] = 0;
        }
    }
    pt->group_count[0] = n[0];
    pt->group_count[1] = n[1];
    pt->page_limit[0] = page_limit(n[0]);
    pt->page_limit[1] = page_limit(n[1]);
}

void pt_panel_setup()
{
    PanelTables *pt = &s_tables;
    // Key legends follow the menu names in the list; their owner is the
    // slot + 1.
    for (int s = 0; s < PT_SLOTS; ++s)
        pt->slot_legend[s] = PT_NO_LEGEND;
    const int count = pt->legend_count <= PT_LEGENDS ? pt->legend_count : int(PT_LEGENDS);
    for (int e = pt->all_menu_legends; e < count; ++e) {
        const int owner = pt->legends[e].owner;
        if (owner >= 1 && owner <= PT_SLOTS)
            pt->slot_legend[owner - 1] = uint16_t(e);
    }
}

int pt_key_slot(int key, int primary_page, int secondary_page)
{
    const PanelTables *pt = &s_tables;
    if (key < 0 || key >= PT_KEYS)
        return PT_SLOTS;
    int slot = key;
    if (pt->group[key] == 1 && primary_page != 0)
        slot = PT_GROUP1_BASE + (primary_page - 1) * pt->group_count[0] + pt->ordinal[key];
    else if (pt->group[key] == 2 && secondary_page != 0)
        slot = PT_GROUP2_BASE + (secondary_page - 1) * pt->group_count[1] + pt->ordinal[key];
    return (slot >= 0 && slot < PT_SLOTS) ? slot : PT_SLOTS;
}

const char *pt_dest_name(int i)
{
    const PtRouteTable *t = &s_tables.dests;
    return (i >= 0 && i < t->count && i < PT_NAMES) ? t->name[i] : nullptr;
}

const char *pt_source_name(int i)
{
    const PtRouteTable *t = &s_tables.sources;
    return (i >= 0 && i < t->count && i < PT_NAMES) ? t->name[i] : nullptr;
}

const char *pt_level_name(int i)
{
    const PtLevelTable *t = &s_tables.levels;
    return (i >= 0 && uint32_t(i) < t->count && i < PT_LEVELS) ? t->name[i] : nullptr;
}

#include "control/pages.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "plat.h"
#include "product.h"

#include <cstring>

static uint8_t s_enable_key[CTL_SUBPANELS];
static uint8_t s_dest_list_display;

int pg_slot(int key)
{
    const MenuPages *m = ctl_pages();
    return pt_key_slot(key, m->primary, m->secondary);
}

PageOffsets *pg_offsets(int sp, int group)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || (group != 1 && group != 2))
        return nullptr;
    return &s->pages[group - 1];
}

static uint16_t last_of(int count)
{
    return uint16_t(count > 0 ? count - 1 : 0);
}

static void reset_records()
{
    const PanelTables *pt = panel_tables();
    for (int sp = 0; sp < CTL_SUBPANELS; ++sp)
        for (int g = 1; g <= 2; ++g) {
            PageOffsets *p = pg_offsets(sp, g);
            memset(p, 0, sizeof *p);
            p->src_low = p->dst_low = CTL_NONE;
            p->src_high = last_of(pt->sources.count);
            p->dst_high = last_of(pt->dests.count);
        }
}

// The key scan tracks these keys as held so that a take can ask for a held
// lock key and the enable check for a held Enable key; Source Toggle and
// Source Chop report presses as well as holds.
static void register_held_key(int key, int type, int value, int sp)
{
    if (type == BT_LOCKS && value >= 5 && value <= 7) {
        plat_key_set_function(uint8_t(key), BT_LOCKS, uint8_t(value));
    } else if (type == BT_ENABLE) {
        plat_key_set_function(uint8_t(key), BT_ENABLE, uint8_t(sp));
        if (sp < CTL_SUBPANELS)
            s_enable_key[sp] = 1;
    } else if (type == BT_SOURCE_TOGGLE || type == BT_SOURCE_CHOP) {
        plat_key_set_function(uint8_t(key), uint8_t(type), 0);
    }
}

// A paged key's part in its group's page records.
static void count_key(PageOffsets *p, int type, int value)
{
    const PanelTables *pt = panel_tables();
    switch (type) {
    case BT_SOURCE:
    case BT_SOURCE_PRESET:
        ++p->src_step;
        if (value < p->src_low)
            p->src_low = uint16_t(value);
        break;
    case BT_DESTINATION:
    case BT_SHARED_DEST:
        ++p->dst_step;
        if (value < p->dst_low)
            p->dst_low = uint16_t(value);
        break;
    case BT_SRC_SCROLL_DOWN:
        p->src_high = uint16_t(value ? value : pt->sources.count);
        break;
    case BT_DST_SCROLL_DOWN:
        p->dst_high = uint16_t(value ? value : pt->dests.count);
        break;
    default:
        break;
    }
}

void pg_evaluate()
{
    const PanelTables *pt = panel_tables();
    for (int k = 0; k < PLAT_KEY_COUNT; ++k)
        plat_key_clear_function(uint8_t(k));
    memset(s_enable_key, 0, sizeof s_enable_key);
    s_dest_list_display = 0;
    reset_records();

    int keys = prod_button_count();
    if (keys > PT_KEYS)
        keys = PT_KEYS;
    for (int k = 0; k < keys; ++k) {
        const int slot = pg_slot(k);
        if (slot >= PT_SLOTS)
            continue;
        const int type = pt->type[slot];
        const int value = pt->value[slot];
        const int sp = pt->subpanel[slot] & 0xFF;
        register_held_key(k, type, value, sp);
        if (type == BT_DEST_LIST)
            s_dest_list_display = 1;
        if (PageOffsets *p = pg_offsets(sp, pt->group[k]))
            count_key(p, type, value);
    }
}

int pg_has_enable_key(int sp)
{
    return (sp >= 0 && sp < CTL_SUBPANELS) ? s_enable_key[sp] : 0;
}

int pg_dest_list_display()
{
    return s_dest_list_display;
}

void pg_scroll(int sp, int group, int source_side, int down)
{
    PageOffsets *p = pg_offsets(sp, group);
    if (!p)
        return;
    const PanelTables *pt = panel_tables();
    uint16_t *offset = source_side ? &p->src_offset : &p->dst_offset;
    const int step = source_side ? p->src_step : p->dst_step;
    if (step == 0)
        return;
    if (!down) {
        *offset = uint16_t(*offset > step ? *offset - step : 0);
        return;
    }
    // Down only while the page's keys still reach entries that exist.
    const int next = *offset + step;
    const int span = source_side ? p->src_high - p->src_low : p->dst_high - p->dst_low;
    const int count = source_side ? pt->sources.count : pt->dests.count;
    const int last = source_side ? pt->next_preset : pt->next_dest;
    if (next < span && next < count && next <= last)
        *offset = uint16_t(next);
}

void pg_shift(int sp, int v, int group, int source_side)
{
    PageOffsets *p = pg_offsets(sp, group);
    if (!p)
        return;
    uint16_t *offset = source_side ? &p->src_offset : &p->dst_offset;
    const int step = source_side ? p->src_step : p->dst_step;
    if (step != 0)
        *offset = uint16_t(*offset == 0 ? v : 0);
}

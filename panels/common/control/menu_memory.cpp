// Memories and program mode: destination and source memories stored in
// program mode and recalled outside it; and the categories of the
// category string keys (a typed category finds the first source, or in
// destination mode destination, whose name starts with it, and the
// Previous/Next Destination keys step through the names of the category).

#include "control/menus.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/key_view.h"
#include "control/menu_int.h"
#include "control/name_search.h"
#include "control/preset.h"
#include "control/router_request.h"
#include "control/selection.h"

enum { MEMORIES = 2048 };

// An empty memory holds CTL_NONE, so that recalling it does nothing.
static uint16_t s_dest_memory[MEMORIES];
static uint16_t s_source_memory[MEMORIES];
static uint8_t s_program_mode;

void mmem_init()
{
    for (int i = 0; i < MEMORIES; ++i)
        s_dest_memory[i] = s_source_memory[i] = CTL_NONE;
    s_program_mode = 0;
}

void menu_program_mode()
{
    s_program_mode = !s_program_mode;
}

int menu_program_mode_on()
{
    return s_program_mode;
}

// What a source memory stores: the preset, or without one the source now
// routed to the destination (none when that is unknown).
static uint16_t source_to_store(const SubpanelState *s)
{
    if (s->preset < panel_tables()->sources.count)
        return s->preset;
    const int routed = kv_routed(s->dest, s->level_mask);
    return uint16_t(routed == KV_NONE ? CTL_NONE : routed);
}

static void store(int type, int number, const SubpanelState *s)
{
    if (type == BT_DEST_MEMORY)
        s_dest_memory[number] = s->dest;
    else
        s_source_memory[number] = source_to_store(s);
    s_program_mode = 0;
}

static void recall(int type, int number, int sp, SubpanelState *s)
{
    const int dest = s_dest_memory[number];
    const int source = s_source_memory[number];
    switch (type) {
    case BT_DEST_MEMORY:
        if (dest != CTL_NONE)
            sel_destination(dest, sp, 0, ROP_INTERROGATE);
        break;
    case BT_SOURCE_MEMORY:
        if (source < panel_tables()->sources.count) {
            pre_set(s, source);
            ctl_flags()->take_error = 0;
        }
        break;
    case BT_PRESET_MEMORY:
        if (source != CTL_NONE)
            sel_source_route(source, sp, 0);
        break;
    default:
        break;
    }
}

void menu_memory(int type, int number, int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || number < 0 || number >= MEMORIES)
        return;
    if (s_program_mode)
        store(type, number, s);
    else
        recall(type, number, sp, s);
}

// ---- categories ------------------------------------------------------------------

// Makes entry i of the category's table the current name: the preset (and
// its text), or in destination mode the destination text.
static void take_category_name(SubpanelState *s, int i)
{
    if (ctl_flags()->dest_mode) {
        ns_copy(s->dest_entry.text, pt_dest_name(i));
        return;
    }
    pre_set(s, i);
    s->preset_entry.in_progress = 1;
    ctl_flags()->take_error = 0;
}

static int category_table()
{
    return ctl_flags()->dest_mode ? NS_DESTS : NS_SOURCES;
}

void menu_category_lookup(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    const NameEntry *e = pre_active_entry(s);
    if (!e->category[0])
        return;
    const int i = ns_search(e->category, category_table(), 1, 1, 0);
    if (i != NS_NOT_FOUND)
        take_category_name(s, i);
}

void menu_category_step(int sp, int forward)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    const NameEntry *e = pre_active_entry(s);
    if (!e->category[0])
        return;
    const int table = category_table();
    // From the name shown now; past either end the walk wraps round.
    int current = ns_search(e->text, table, 0, 1, 0);
    if (current == NS_NOT_FOUND)
        current = forward ? -1 : (table == NS_DESTS ? panel_tables()->dests.count : panel_tables()->sources.count);
    int i = ns_search(e->category, table, 1, forward, current + (forward ? 1 : -1));
    if (i == NS_NOT_FOUND || (!forward && current <= 0))
        i = forward ? ns_search(e->category, table, 1, 1, 0) : ns_search(e->category, table, 1, 0, PT_NAMES);
    if (i != NS_NOT_FOUND)
        take_category_name(s, i);
}

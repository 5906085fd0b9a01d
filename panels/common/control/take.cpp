#include "control/take.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/menus.h"
#include "control/name_search.h"
#include "control/preset.h"
#include "control/router_request.h"
#include "control/selection.h"
#include "link/router_cmd.h"
#include "ms_clock.h"
#include "plat.h"
#include "product.h"

#include <cstdio>
#include <cstring>

enum { DISPLAY_KEYS = 8, DISPLAY_TYPE_ROUTED = 6 };

int take_key_mode(int key)
{
    if (key < 0 || key >= DISPLAY_KEYS)
        return TAKE_SELECTED;
    const char *model = prod_name();
    if (!strcmp(model, "SK1900A") || !strcmp(model, "SK2200A")
        || (!strcmp(model, "SK1700A") && panel_tables()->displays[0].type == DISPLAY_TYPE_ROUTED))
        return TAKE_DISPLAY;
    return TAKE_SELECTED;
}

// A Locks key of value 5, 6 or 7 held down turns the take into a lock of
// kind 1, 2 or 3. Returns non-zero when one was applied.
static int apply_held_lock(int dest, int sp)
{
    for (int v = 5; v <= 7; ++v)
        if (plat_key_find_held(BT_LOCKS, uint8_t(v)) != PLAT_NO_KEY) {
            menu_take_held_lock(v - 4, dest, sp);
            return 1;
        }
    return 0;
}

// Name-entry models take the source the preset text names. A text that
// names the preset source itself (a Source Preset key, a preset step, a
// memory or the last take put both there) stands for that source by its
// number: another source of the same name, spaces aside, must not replace
// it. Any other text was typed, and is looked up. Returns non-zero when the
// preset now holds the source.
static int resolve_typed_name(SubpanelState *s)
{
    PanelFlags *f = ctl_flags();
    NameEntry *e = &s->preset_entry;
    if (!e->text[0]) {
        f->take_error = 1;
        return 0;
    }
    if (ns_names(e->text, NS_SOURCES, s->preset)) {
        f->take_error = 0;
        return 1;
    }
    const int m = ns_search(e->text, NS_SOURCES, 0, 1, 0);
    if (m == NS_NOT_FOUND) {
        e->text[0] = '\0';
        e->complete = 0;
        e->in_progress = 0;
        f->take_error = 1;
        return 0;
    }
    s->preset = uint16_t(m);
    f->take_error = 0;
    return 1;
}

// Where the take goes and on which levels.
static void take_target(const SubpanelState *s, int key, int mode, int *dest, uint32_t *levels)
{
    const PanelTables *pt = panel_tables();
    if (mode == TAKE_CHOP && s->chop_preset && s->take_dest != CTL_NONE) {
        *dest = s->take_dest;
        *levels = s->take_levels;
        return;
    }
    *levels = s->level_mask;
    switch (mode == TAKE_KEY ? take_key_mode(key) : mode) {
    case TAKE_SELECTED:
    case TAKE_AUTO_SELECTED:
        *dest = s->dest;
        break;
    case TAKE_DISPLAY:
        *dest = (key >= 0 && key < PT_DISPLAYS) ? int(pt->displays[key].fixed_dest) : int(CTL_NONE);
        break;
    case TAKE_AUTO_FIXED:
        *dest = pt->fixed_take_dest;
        break;
    default:
        *dest = CTL_NONE;
        *levels = 0;
        break;
    }
}

int take(int sp, int level_take, int v, int key, int mode)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s) {
        ctl_beep();
        return TAKE_REFUSED;
    }
    if (!sel_enable_check(sp))
        return TAKE_REFUSED;
    const PanelTables *pt = panel_tables();
    int dest;
    uint32_t levels;
    take_target(s, key, mode, &dest, &levels);
    if (level_take)
        levels = (v >= 0 && v < CTL_LEVELS) ? 1u << v : 0;

    // No destination to take to (none configured for the display, or none
    // known to the panel): nothing happens.
    if (dest == CTL_NONE || dest >= pt->dests.count)
        return TAKE_NOTHING;
    if (apply_held_lock(dest, sp))
        return TAKE_NOTHING;
    if (s->locked || ds_refuses_take(dest)) {
        // The preset chop stops quietly on a destination that got locked.
        if (mode == TAKE_CHOP)
            s->take_dest = CTL_NONE;
        else
            ctl_beep();
        return TAKE_REFUSED;
    }
    const int chopping = s->chop_preset && (mode == TAKE_KEY || mode == TAKE_CHOP);
    // A Take key while the preset chop runs on a destination stops it there.
    if (mode == TAKE_KEY && s->chop_preset && s->take_dest != CTL_NONE) {
        if (s->take_dest == dest)
            s->take_dest = CTL_NONE;
        return TAKE_NOTHING;
    }
    // Toggle and chop swap the preset with the source it replaces.
    int replaced = CTL_NONE;
    if ((s->toggle_preset || s->chop_preset) && (mode == TAKE_KEY || mode == TAKE_CHOP)) {
        const int level = sel_first_level(levels);
        if (level >= 0)
            replaced = rcmd_source(level, dest);
    }
    if (ctl_name_entry_model() && !resolve_typed_name(s))
        return TAKE_NAME_FAILED;

    if (s->preset >= PT_NAMES)
        return TAKE_NOTHING;
    s->last_preset = s->preset;
    if (levels == 0) {
        printf("level == 0, take not happening\n");
        return TAKE_NOTHING;
    }
    const int routed = s->preset;
    routerRequest(ROP_ROUTE, uint32_t(routed), uint32_t(dest), levels, RPRIO_NORMAL);
    pre_end_category(sp);
    s->preset_entry.in_progress = 0;
    if (replaced != CTL_NONE && replaced != routed && replaced < pt->sources.count)
        pre_set(s, replaced);
    if (chopping) {
        s->take_time = msc_now();
        s->take_levels = levels;
        s->take_dest = uint16_t(dest);
    }
    return TAKE_ROUTED;
}

void take_dest_src(int dest, int sp, int key)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || !sel_enable_check(sp))
        return;
    const PanelTables *pt = panel_tables();
    if (dest < 0 || dest >= pt->dests.count)
        return;
    const int mode = take_key_mode(key);
    const uint32_t levels = (mode == TAKE_SELECTED || mode == TAKE_DISPLAY) ? s->level_mask : 0;
    if (apply_held_lock(dest, sp))
        return;
    if (s->locked || ds_refuses_route(dest)) {
        ctl_beep();
        return;
    }
    if (ctl_name_entry_model() && !resolve_typed_name(s))
        return;
    if (s->preset < PT_NAMES && levels)
        routerRequest(ROP_ROUTE, s->preset, uint32_t(dest), levels, RPRIO_NORMAL);
}

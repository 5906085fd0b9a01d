#include "control/selection.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/menus.h"
#include "control/name_search.h"
#include "control/pages.h"
#include "control/preset.h"
#include "control/router_request.h"
#include "link/router_cmd.h"
#include "plat.h"

int sel_first_level(uint32_t mask)
{
    for (int l = 0; l < CTL_LEVELS; ++l)
        if (mask & (1u << l))
            return l;
    return -1;
}

int sel_enable_check(int sp)
{
    if (!pg_has_enable_key(sp) || plat_key_find_held(BT_ENABLE, uint8_t(sp)) != PLAT_NO_KEY)
        return 1;
    ctl_beep();
    return 0;
}

void sel_destination(int v, int sp, int group, int op)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    if (s->locked) {
        ctl_beep();
        return;
    }
    const PanelTables *pt = panel_tables();
    int offset = 0;
    int high = 0;
    if (const PageOffsets *p = pg_offsets(sp, group)) {
        offset = p->dst_offset;
        high = p->dst_high;
    }
    v += offset;
    if (v < 0 || v >= pt->dests.count || v > pt->next_dest || (offset != 0 && v > high))
        return;

    s->dest = uint16_t(v);
    if (s->level_mask)
        routerRequest(op, uint32_t(v), s->level_mask, 0, RPRIO_NORMAL);
    s->dest_entry.complete = 0;
    s->dest_entry.in_progress = 0;
    ns_copy(s->dest_entry.text, pt_dest_name(v));
    ctl_flags()->take_error = 0;
    ctl_flags()->dest_error = 0;
    s->take_dest = CTL_NONE;
}

void sel_source_route(int v, int sp, int group)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    const PanelTables *pt = panel_tables();
    int offset = 0;
    int high = 0;
    if (const PageOffsets *p = pg_offsets(sp, group)) {
        offset = p->src_offset;
        high = p->src_high;
    }
    v += offset;
    // A held toggle or chop key takes the press as one of its sources.
    if (menu_programming_active() && menu_program_source(v, sp))
        return;
    if (s->locked || ds_refuses_route(s->dest)) {
        ctl_beep();
        return;
    }
    if (!sel_enable_check(sp))
        return;
    if (v < 0 || v >= pt->sources.count || v > pt->next_preset || (offset != 0 && v > high))
        return;
    if (s->level_mask)
        routerRequest(ROP_ROUTE, uint32_t(v), s->dest, s->level_mask, RPRIO_NORMAL);
}

void sel_level_toggle(int v, int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || v < 0 || v >= CTL_LEVELS)
        return;
    if (s->locked) {
        ctl_beep();
        return;
    }
    const uint32_t bit = 1u << v;
    s->level_mask ^= bit;
    if (s->level_mask & bit)
        routerRequest(ROP_INTERROGATE, s->dest, bit, 0, RPRIO_NORMAL);
    // The list shows the destinations that carry the preset source on the
    // first selected level.
    if (pg_dest_list_display()) {
        const int level = sel_first_level(s->level_mask);
        if (level >= 0)
            ds_list_build(level, s->preset);
        else
            ds_list_build(0, CTL_NONE);
    }
}

void sel_level_xor(int v, int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || v <= 0)
        return;
    if (s->locked) {
        ctl_beep();
        return;
    }
    s->level_mask ^= uint32_t(v - 1) & CTL_LEVEL_MASK;
}

void sel_step_destination(int sp, int forward)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    if (s->category_key != CTL_NO_CATEGORY) {
        menu_category_step(sp, forward);
        return;
    }
    const PanelTables *pt = panel_tables();
    const int prev = pt->prev_dest;
    const int next = pt->next_dest;
    const int sel = s->dest;
    int v;
    if (forward)
        v = (prev <= sel && sel < next) ? sel + 1 : prev;
    else
        v = (prev < sel && sel <= next) ? sel - 1 : next;
    sel_destination(v, sp, 0, ROP_INTERROGATE);
}

void sel_route_step(int sp, int forward)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    const PanelTables *pt = panel_tables();
    if (s->dest >= pt->dests.count)
        return;
    // The first selected level that the destination has on the router.
    for (int l = 0; l < CTL_LEVELS; ++l) {
        if (!(s->level_mask & (1u << l)) || pt->dests.number[s->dest][l] == 0)
            continue;
        const int current = rcmd_source(l, s->dest);
        if (current == RCMD_UNKNOWN)
            return;
        sel_source_route(forward ? current + 1 : current - 1, sp, 0);
        return;
    }
}

void sel_dest_mode_toggle(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    PanelFlags *f = ctl_flags();
    if (f->dest_mode && s->dest_entry.text[0]) {
        const int m = s->locked ? int(NS_NOT_FOUND) : ns_search(s->dest_entry.text, NS_DESTS, 1, 1, 0);
        if (s->locked) {
            // Selecting the typed destination is refused, as every
            // selection on a locked subpanel is; the mode still changes.
            // The text goes back to the destination still selected.
            ctl_beep();
            ns_copy(s->dest_entry.text, pt_dest_name(s->dest));
        } else if (m == NS_NOT_FOUND) {
            s->dest_entry.text[0] = '\0';
            f->dest_error = 1;
        } else {
            if (s->level_mask)
                routerRequest(ROP_INTERROGATE, uint32_t(m), s->level_mask, 0, RPRIO_NORMAL);
            s->dest = uint16_t(m);
            ns_copy(s->dest_entry.text, pt_dest_name(m));
            f->dest_error = 0;
        }
        s->dest_entry.complete = 0;
        s->dest_entry.in_progress = 0;
    }
    pre_end_category(sp);
    f->dest_mode = !f->dest_mode;
    s->toggle_preset = 0;
    s->chop_preset = 0;
    s->take_dest = CTL_NONE;
}

void sel_destination_take(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    // On a locked subpanel the selection by name is refused (in the mode
    // toggle), but the key still leaves destination mode.
    PanelFlags *f = ctl_flags();
    if (!f->dest_mode) {
        ns_copy(s->dest_entry.text, s->preset_entry.text);
        s->dest_entry.in_progress = 1;
        s->preset_entry.text[0] = '\0';
        s->preset_entry.complete = 0;
        s->preset_entry.in_progress = 0;
        s->take_dest = CTL_NONE;
        f->dest_mode = 1;
    }
    sel_dest_mode_toggle(sp);
}

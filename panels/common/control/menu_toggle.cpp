// Source toggle and chop, and the preset toggle and chop.
//
// A Source Toggle key routes its two sources to the subpanel's destination
// in turn, one each time it is released. A Source Chop key starts (and,
// released again, stops) switching between its two sources at its interval
// (the top 3 bits of its second value, in seconds; 0 is half a second).
// Held down long enough to repeat, either key is being programmed instead:
// each Source key pressed meanwhile sets one of its two sources. The key's
// release ends the programming; so does the panel lock going on, and 5 s
// without a repeat of the key (its release was lost: the panel locked or
// offline meanwhile), so that the Source keys route again.
//
// The preset toggle makes every take swap the preset with the source it
// replaces; the preset chop then takes again onto the recorded
// destination at its interval.

#include "control/menus.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/menu_int.h"
#include "control/pages.h"
#include "control/preset.h"
#include "control/refresh.h"
#include "control/router_request.h"
#include "control/selection.h"
#include "control/take.h"
#include "key_queue.h"
#include "ms_clock.h"
#include "plat.h"

enum {
    CHOP_SOURCE_MASK = 0x1FFF,
    CHOP_INTERVAL_SHIFT = 13,
    CHOP_HALF_SECOND = 500,
    PROGRAM_TIMEOUT_MS = 5000   // a held key repeats far more often
};

struct Chop {
    uint8_t active;
    int slot;             // the Source Chop key that runs it
    int sp;
    uint16_t a, b;        // its two sources
    uint32_t last_ms;     // the last switch
    uint8_t phase;        // 0: b goes next, 1: a
};

static uint8_t s_toggle_phase;
static Chop s_chop;
// The Source Toggle or Chop key being programmed (its slot, -1 none) and
// whether the next Source key sets its first value (else its second).
static int s_program_slot = -1;
static uint8_t s_program_first;
// The slot of a key that was programmed while held: its release ends the
// programming and does not toggle or chop.
static int s_programmed_slot = -1;
// The last press or repeat of the key being programmed.
static uint32_t s_program_ms;

void mtog_init()
{
    s_toggle_phase = 0;
    s_chop = Chop{};
    s_chop.slot = -1;
    s_program_slot = -1;
    s_programmed_slot = -1;
    s_program_first = 0;
}

int menu_toggle_phase()
{
    return s_toggle_phase;
}

int menu_chop_running(int slot)
{
    return s_chop.active && s_chop.slot == slot;
}

int menu_programming_active()
{
    return s_program_slot >= 0;
}

// Sets one source of the key being programmed: the second value first,
// then the value, each only when it differs from the other. A chop key's
// interval bits stay as they are.
int menu_program_source(int source, int)
{
    if (s_program_slot < 0 || s_program_slot >= PT_SLOTS)
        return 0;
    PanelTables *pt = panel_tables();
    if (source < 0 || source >= pt->sources.count)
        return 1;
    const int slot = s_program_slot;
    const int chop = pt->type[slot] == BT_SOURCE_CHOP;
    const uint16_t mask = chop ? uint16_t(CHOP_SOURCE_MASK) : uint16_t(0xFFFF);
    const uint16_t second = pt->value2[slot] & mask;
    if (s_program_first) {
        if (source != second)
            pt->value[slot] = uint16_t(source);
    } else if (source != pt->value[slot]) {
        pt->value2[slot] = uint16_t((pt->value2[slot] & ~mask) | (uint16_t(source) & mask));
    }
    s_program_first = !s_program_first;
    if (s_chop.active && s_chop.slot == slot) {
        s_chop.a = pt->value[slot];
        s_chop.b = pt->value2[slot] & CHOP_SOURCE_MASK;
    }
    return 1;
}

// Repeat events of a held toggle or chop key make it the key programmed;
// its release ends that. Returns non-zero when the release was the end of
// a programming (and so does nothing else).
static int programming_event(uint8_t kind, int slot)
{
    if (kind == KEY_REPEAT) {
        if (s_program_slot != slot) {
            s_program_slot = slot;
            s_programmed_slot = slot;
            s_program_first = 0;
        }
        s_program_ms = msc_now();
        return 1;
    }
    if (kind == KEY_PRESS) {
        s_programmed_slot = -1;
        s_program_ms = msc_now();
        return 1;
    }
    // Release.
    const int programmed = s_programmed_slot == slot;
    if (s_program_slot == slot)
        s_program_slot = -1;
    s_programmed_slot = -1;
    return programmed;
}

void menu_end_programming()
{
    // s_programmed_slot stays: the key's release, should it still come,
    // ends a programming and does not toggle or chop.
    s_program_slot = -1;
}

void menu_programming_timer()
{
    if (s_program_slot >= 0 && msc_now() - s_program_ms >= PROGRAM_TIMEOUT_MS)
        menu_end_programming();
}

// The subpanel may route to its destination now: not locked, the
// destination not locked against takes, and its Enable key (if any)
// active. beep: refusals sound the error beep (keys) or not (ticks).
static int may_route(int sp, int beep)
{
    const SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return 0;
    if (s->locked || ds_refuses_take(s->dest)) {
        if (beep)
            ctl_beep();
        return 0;
    }
    if (beep)
        return sel_enable_check(sp);
    return !pg_has_enable_key(sp) || plat_key_find_held(BT_ENABLE, uint8_t(sp)) != PLAT_NO_KEY;
}

static void route(int sp, int source)
{
    const SubpanelState *s = ctl_subpanel(sp);
    if (s && s->level_mask && source >= 0 && source < panel_tables()->sources.count)
        routerRequest(ROP_ROUTE, uint32_t(source), s->dest, s->level_mask, RPRIO_NORMAL);
}

void menu_source_toggle(uint8_t kind, int slot, int sp)
{
    if (programming_event(kind, slot) || slot < 0 || slot >= PT_SLOTS)
        return;
    if (!may_route(sp, 1))
        return;
    const PanelTables *pt = panel_tables();
    route(sp, s_toggle_phase == 0 ? pt->value2[slot] : pt->value[slot]);
    s_toggle_phase = !s_toggle_phase;
}

void menu_source_chop(uint8_t kind, int slot, int sp)
{
    if (programming_event(kind, slot) || slot < 0 || slot >= PT_SLOTS)
        return;
    if (menu_chop_running(slot)) {
        s_chop.active = 0;
        return;
    }
    if (!ctl_subpanel(sp)) {
        ctl_beep();
        return;
    }
    // The first source goes out at once (when the subpanel may route now;
    // otherwise the ticks wait for it); the tick switches from there.
    const PanelTables *pt = panel_tables();
    s_chop.active = 1;
    s_chop.slot = slot;
    s_chop.sp = sp;
    s_chop.a = pt->value[slot];
    s_chop.b = pt->value2[slot] & CHOP_SOURCE_MASK;
    s_chop.last_ms = msc_now();
    s_chop.phase = 0;
    if (may_route(sp, 0))
        route(sp, s_chop.a);
}

static uint32_t interval_ms(int interval)
{
    return interval > 0 ? uint32_t(interval) * 1000u : uint32_t(CHOP_HALF_SECOND);
}

void menu_chop_tick(int slot, int interval)
{
    if (!menu_chop_running(slot))
        return;
    const uint32_t now = msc_now();
    if (now - s_chop.last_ms < interval_ms(interval))
        return;
    s_chop.last_ms = now;
    if (!may_route(s_chop.sp, 0))
        return;
    route(s_chop.sp, s_chop.phase == 0 ? s_chop.b : s_chop.a);
    s_chop.phase = !s_chop.phase;
    rf_request();
}

void menu_preset_toggle(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || ctl_flags()->dest_mode || s->chop_preset) {
        ctl_beep();
        return;
    }
    s->toggle_preset = !s->toggle_preset;
}

void menu_preset_chop(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || ctl_flags()->dest_mode || s->toggle_preset) {
        ctl_beep();
        return;
    }
    s->take_dest = CTL_NONE;
    s->chop_preset = !s->chop_preset;
}

// Takes again onto the recorded destination once the interval has passed
// since the last take; the take swaps the preset, so the two sources
// alternate. A subpanel whose Enable key is not active waits.
void menu_preset_chop_tick(int sp, int interval)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || !s->chop_preset || s->take_dest == CTL_NONE)
        return;
    const uint32_t now = msc_now();
    if (now - s->take_time < interval_ms(interval))
        return;
    s->take_time = now;
    if (pg_has_enable_key(sp) && plat_key_find_held(BT_ENABLE, uint8_t(sp)) == PLAT_NO_KEY)
        return;
    take(sp, 0, 0, -1, TAKE_CHOP);
    rf_request();
}

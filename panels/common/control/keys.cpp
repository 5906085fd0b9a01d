#include "control/keys.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/key_view.h"
#include "control/menus.h"
#include "control/pages.h"
#include "control/preset.h"
#include "control/refresh.h"
#include "control/router_request.h"
#include "control/selection.h"
#include "control/take.h"
#include "key_queue.h"
#include "link/comms.h"
#include "panels_main.h"
#include "plat.h"
#include "product.h"

// A physical key's definition on the current pages.
struct KeyDef {
    int key;      // physical key
    int slot;
    int type;     // ButtonType
    int value;
    int sp;       // subpanel index
    int group;    // paging group of the physical key
};

static void read_definition(int key, KeyDef *d)
{
    const PanelTables *pt = panel_tables();
    d->key = key;
    d->slot = pg_slot(key);
    d->group = pt->group[key];
    if (d->slot >= PT_SLOTS) {
        // A page beyond the slots: the key has no function there.
        d->type = BT_NONE;
        d->value = 0;
        d->sp = 0;
        return;
    }
    d->type = pt->type[d->slot];
    d->value = pt->value[d->slot];
    d->sp = pt->subpanel[d->slot] & 0xFF;
}

// Keys that act when released rather than when pressed.
static bool acts_on_release(int type)
{
    switch (type) {
    case BT_SOURCE_TOGGLE:
    case BT_SOURCE_CHOP:
    case BT_SETUP:
    case BT_MENU:
    case BT_SECONDARY_MENU:
    case BT_LAST_MENU:
    case BT_KEY_REPORT:
        return true;
    default:
        return false;
    }
}

// Keys whose action must not repeat while they are held: a held Take
// takes once, a held Source routes once.
static bool ignores_repeat(int type)
{
    switch (type) {
    case BT_SOURCE:
    case BT_SALVO:
    case BT_TAKE:
    case BT_TAKE_LEVEL:
    case BT_TAKE_CLEAR:
    case BT_DESTINATION:
    case BT_DEST_SRC_TAKE:
    case BT_DEST_SRC_DISPLAY:
    case BT_LOCKS:
        return true;
    default:
        return false;
    }
}

// The keys that still act while the panel lock is on: those that switch
// it off again.
static bool is_panel_lock_key(const KeyDef *d)
{
    return d->type == BT_PANEL_LOCK || (d->type == BT_LOCKS && d->value == 4);
}

// Not online: only the model's setup button does something (it opens the
// setup menu); its release and anything until then are swallowed.
static void offline_key(uint8_t kind, int key)
{
    PanelFlags *f = ctl_flags();
    if (kind == KEY_RELEASE) {
        f->swallow = 0;
        return;
    }
    if (f->swallow || kind != KEY_PRESS)
        return;
    if (key + 1 == prod_setup_button()) {
        menu_setup_open();
        f->swallow = 1;
        return;
    }
    ctl_beep();
}

static void take_key(const KeyDef *d)
{
    // In destination mode a Take completes the destination name.
    if (ctl_flags()->dest_mode) {
        sel_dest_mode_toggle(d->sp);
        return;
    }
    const int result = take(d->sp, d->type == BT_TAKE_LEVEL, d->value, d->key, TAKE_KEY);
    // Take Clear forgets the preset after the take, whether it routed or
    // was refused (a lock, the Enable key), but keeps a typed name that
    // matched nothing so that it can be corrected.
    if (d->type == BT_TAKE_CLEAR && result != TAKE_NAME_FAILED)
        pre_take_clear(d->sp);
}

static void key_report(uint8_t kind, int key)
{
    if (kind == KEY_PRESS || kind == KEY_RELEASE)
        routerRequest(ROP_KEY_REPORT, kind == KEY_PRESS ? 1 : 2, uint32_t(key + 1), 0, RPRIO_REPORT);
}

// Menu keys select their page when released.
static void menu_key(uint8_t kind, const KeyDef *d)
{
    if (kind == KEY_RELEASE)
        menu_select(d->type, d->value + 1, d->group);
}

static void dispatch(uint8_t kind, const KeyDef *d)
{
    const int v = d->value;
    const int sp = d->sp;
    const int g = d->group;
    switch (d->type) {
    case BT_NONE: ctl_beep(); break;
    case BT_PANEL_LOCK: menu_panel_lock(sp); break;
    case BT_LAST_MENU:
    case BT_SECONDARY_MENU:
    case BT_MENU: menu_key(kind, d); break;
    case BT_TAKE_SNAPSHOT: menu_take_snapshot(sp); break;
    case BT_PLAY_SNAPSHOT: menu_play_snapshot(sp); break;
    case BT_IO_MODE: ctl_flags()->number_mode = !ctl_flags()->number_mode; break;
    case BT_SOURCE: sel_source_route(v, sp, g); break;
    case BT_DESTINATION:
    case BT_DESTINATION_ALT: sel_destination(v, sp, g, ROP_INTERROGATE); break;
    case BT_LEVEL:
    case BT_LEVEL_ALT: sel_level_toggle(v, sp); break;
    case BT_LOCKS: menu_locks(v, sp); break;
    case BT_SRC_SCROLL_UP: pg_scroll(sp, g, 1, 0); break;
    case BT_DST_SCROLL_UP: pg_scroll(sp, g, 0, 0); break;
    case BT_SRC_SCROLL_DOWN: pg_scroll(sp, g, 1, 1); break;
    case BT_DST_SCROLL_DOWN: pg_scroll(sp, g, 0, 1); break;
    case BT_SALVO: menu_salvo(v + 1, sp); break;
    case BT_DEST_MEMORY:
    case BT_SOURCE_MEMORY:
    case BT_PRESET_MEMORY: menu_memory(d->type, v, sp); break;
    case BT_LEVEL_XOR: sel_level_xor(v, sp); break;
    case BT_SRC_SHIFT: pg_shift(sp, v, g, 1); break;
    case BT_DST_SHIFT: pg_shift(sp, v, g, 0); break;
    case BT_SOURCE_PRESET: pre_source_preset(v, sp, g, d->key); break;
    case BT_PROGRAM_MODE: menu_program_mode(); break;
    case BT_TAKE:
    case BT_TAKE_LEVEL:
    case BT_TAKE_CLEAR: take_key(d); break;
    case BT_ADD_STRING:
    case BT_ADD_STRING_CHAR:
    case BT_APPEND_STRING: pre_string_key(d->type, d->slot, sp, d->key); break;
    case BT_PRESET_CLEAR: pre_preset_clear(sp); break;
    case BT_DELETE_LAST: pre_delete_last(sp); break;
    case BT_DEST_TAKE: sel_destination_take(sp); break;
    case BT_PREV_DEST: sel_step_destination(sp, 0); break;
    case BT_NEXT_DEST: sel_step_destination(sp, 1); break;
    case BT_PREV_SOURCE: sel_route_step(sp, 0); break;
    case BT_NEXT_SOURCE: sel_route_step(sp, 1); break;
    case BT_PREV_PRESET: pre_step_preset(sp, 0, d->key); break;
    case BT_NEXT_PRESET: pre_step_preset(sp, 1, d->key); break;
    case BT_SHARED_DEST: sel_destination(v, sp, g, ROP_SHARED_SELECT); break;
    case BT_PRESET_TO_DEST: take_dest_src(v - 1, sp, d->key); break;
    case BT_DEST_MODE: sel_dest_mode_toggle(sp); break;
    case BT_CATEGORY:
    case BT_CATEGORY_CHAR: pre_category_key(d->type, d->slot, sp, d->key); break;
    case BT_SOURCE_TOGGLE: menu_source_toggle(kind, d->slot, sp); break;
    case BT_SOURCE_CHOP: menu_source_chop(kind, d->slot, sp); break;
    case BT_SETUP:
        if (kind == KEY_RELEASE)
            menu_setup_key();
        break;
    case BT_DEST_SRC_TAKE: take_dest_src(v, sp, d->key); break;
    case BT_DEST_SRC_DISPLAY: sel_destination(v, sp, 0, ROP_INTERROGATE); break;
    case BT_PRESET_TOGGLE: menu_preset_toggle(sp); break;
    case BT_PRESET_CHOP: menu_preset_chop(sp); break;
    case BT_KEY_REPORT: key_report(kind, d->key); break;
    default: break; // display keys and the like: nothing to do
    }
}

void keys_event(uint8_t kind, uint8_t key)
{
    if (key >= PT_KEYS)
        return;
    PanelFlags *f = ctl_flags();
    // A release ends what the key shows while held (salvo, toggle).
    if (kind == KEY_RELEASE)
        kv_note_key(kind, key);
    // The first key after a locate request ends it and is used up by it.
    if (panels_locate()) {
        panels_set_locate(0);
        plat_led_all_off();
        rf_request();
        return;
    }
    KeyDef d;
    read_definition(key, &d);
    if (menu_setup_active()) {
        menu_setup_event(kind, key);
        return;
    }
    if (comms_state() != COMMS_ONLINE) {
        offline_key(kind, key);
        return;
    }
    if (kind == KEY_RELEASE) {
        const uint8_t swallowed = f->swallow;
        f->swallow = 0;
        if (swallowed || !acts_on_release(d.type))
            return;
    } else if (f->swallow) {
        return;
    }
    if (kind == KEY_REPEAT && ignores_repeat(d.type) && !menu_programming_active())
        return;
    if (f->panel_lock && !is_panel_lock_key(&d)) {
        ctl_beep();
        return;
    }
    kv_note_key(kind, key);
    dispatch(kind, &d);
    rf_request();
}

// Lamps of the lamp-key models. The lamp of physical key k is lamp k + 1
// (the key's button number); the platform keeps what each lamp shows and
// sends only changes.

#include "control/lamp_keys.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/key_view.h"
#include "control/menus.h"
#include "control/preset.h"
#include "control/refresh.h"
#include "control/take.h"
#include "panels_main.h"
#include "plat.h"
#include "product.h"

// Product codes of the models whose lamps have a rule of their own.
enum { CODE_SK1900A = 32, CODE_SK2200A = 33, CODE_SK1700A = 34, CODE_SK2000A = 36 };

// Lamp state and mode.
struct Lamp {
    int on;
    int flashing;
};

static Lamp lamp(int on)
{
    return Lamp{on ? 1 : 0, 0};
}

// On when the source is routed to the subpanel's destination on a
// selected level; flashing when it is not the destination's main source
// (the one on the first selected level).
static Lamp source_lamp(const KeyView *v, const SubpanelState *s)
{
    const int src = v->value + kv_offset(v, 1);
    if (src >= panel_tables()->sources.count)
        return lamp(0);
    int routed = 0;
    for (int l = 0; l < CTL_LEVELS; ++l)
        if ((s->level_mask & (1u << l)) && kv_routed(s->dest, 1u << l) == src)
            routed = 1;
    if (!routed)
        return lamp(0);
    return Lamp{1, kv_routed(s->dest, s->level_mask) != src};
}

// Whether the lock a Locks key of value v stands for is on.
static int lock_on(int value, const SubpanelState *s)
{
    const uint8_t status = ds_status(s->dest);
    switch (value) {
    case 0: return s->locked != 0;
    case 1: return (status & DS_LOCAL_LOCK) != 0;
    case 2: return (status & DS_ROUTER_LOCK) != 0;
    case 3: return (status & DS_PROTECT) != 0;
    case 4: return ctl_flags()->panel_lock != 0;
    case 5:
    case 6:
    case 7: return 1;
    default: return 0;
    }
}

// Take keys: the SK2000A shows whether the subpanel's destination is
// locked; the models with Take keys under their displays show what their
// lock follow-up set; the others keep them dark.
static Lamp take_lamp(const KeyView *v, const SubpanelState *s)
{
    switch (prod_code()) {
    case CODE_SK2000A: return lamp(ds_refuses_take(s->dest));
    case CODE_SK2200A:
    case CODE_SK1900A:
    case CODE_SK1700A: return lamp(menu_take_lock_lamp(v->key));
    default: return lamp(0);
    }
}

// The lamp of the key, or -1 when its type has no rule.
static int rule(const KeyView *v, SubpanelState *s, Lamp *out)
{
    const PanelFlags *f = ctl_flags();
    switch (v->type) {
    case BT_PANEL_LOCK: *out = lamp(f->panel_lock); break;
    case BT_SOURCE: *out = source_lamp(v, s); break;
    case BT_DESTINATION: *out = lamp(s->dest == v->value + kv_offset(v, 0)); break;
    case BT_DEST_SRC_TAKE:
    case BT_DEST_SRC_DISPLAY: *out = lamp(s->dest == v->value); break;
    case BT_LEVEL:
    case BT_LEVEL_ALT: *out = lamp(v->value < CTL_LEVELS && (s->level_mask & (1u << v->value))); break;
    case BT_LOCKS: *out = lamp(lock_on(v->value, s)); break;
    case BT_SALVO: *out = lamp(kv_pressed_within(v->key, LAMP_SALVO_MS)); break;
    case BT_SRC_SHIFT: *out = lamp(kv_offset(v, 1) != 0); break;
    case BT_DST_SHIFT: *out = lamp(kv_offset(v, 0) != 0); break;
    case BT_SOURCE_PRESET: *out = lamp(s->preset == v->value + kv_offset(v, 1)); break;
    case BT_TAKE:
    case BT_TAKE_CLEAR: *out = take_lamp(v, s); break;
    case BT_DEST_TAKE: *out = lamp(0); break;
    case BT_DEST_MODE: *out = lamp(f->dest_mode); break;
    case BT_CATEGORY:
    case BT_CATEGORY_CHAR: *out = lamp(s->category_key == v->slot); break;
    case BT_SOURCE_TOGGLE: *out = lamp(kv_pressed_within(v->key, LAMP_TOGGLE_MS)); break;
    case BT_SOURCE_CHOP:
        menu_chop_tick(v->slot, v->value2 >> 13);
        *out = lamp(menu_chop_running(v->slot));
        break;
    case BT_PRESET_TOGGLE: *out = lamp(s->toggle_preset); break;
    case BT_PRESET_CHOP:
        menu_preset_chop_tick(v->sp, v->value2 >> 13);
        *out = lamp(s->chop_preset);
        break;
    case BT_KEY_REPORT: {
        const RouterKey *r = kv_router_key(v->key);
        *out = Lamp{r->lamp, r->lamp && r->flashing};
        break;
    }
    default: return -1;
    }
    return 0;
}

void lamp_refresh_key(int key, int full)
{
    KeyView v;
    kv_read(key, &v);
    // Locate: every lamp flashes with the panel's flash phase.
    if (panels_locate()) {
        const int on = rf_flash_phase();
        plat_led_set(v.button, uint8_t(on), uint8_t(on));
        return;
    }
    SubpanelState *s = ctl_subpanel(v.sp);
    if (!s)
        s = ctl_subpanel(0);
    Lamp l = {0, 0};
    if (rule(&v, s, &l) < 0 && !full)
        return;
    plat_led_set(v.button, uint8_t(l.on), uint8_t(l.flashing));
}

int lamp_extra_base()
{
    if (prod_extra_lamps() <= 0)
        return -1;
    // The SK2000A's one extra lamp shares the button of key 9.
    return prod_code() == CODE_SK2000A ? 8 : 0;
}

// The destination a key stands for: a destination key's own, a Take key's
// display destination where it takes onto it, else the subpanel's
// selected destination.
static int key_dest(const KeyView *v, const SubpanelState *s)
{
    switch (v->type) {
    case BT_DESTINATION:
    case BT_DESTINATION_ALT: return v->value + kv_offset(v, 0);
    case BT_DEST_SRC_TAKE:
    case BT_DEST_SRC_DISPLAY: return v->value;
    case BT_TAKE:
    case BT_TAKE_CLEAR:
    case BT_TAKE_LEVEL:
        if (take_key_mode(v->key) == TAKE_DISPLAY && v->key < PT_DISPLAYS) {
            const uint32_t fixed = panel_tables()->displays[v->key].fixed_dest;
            return fixed < PT_NAMES ? int(fixed) : int(KV_NONE);
        }
        return s->dest;
    default: return s->dest;
    }
}

void lamp_refresh_extra()
{
    const int base = lamp_extra_base();
    if (base < 0)
        return;
    const int count = prod_extra_lamps();
    for (int i = 0; i < count; ++i) {
        KeyView v;
        kv_read(base + i, &v);
        SubpanelState *s = ctl_subpanel(v.sp);
        if (!s)
            s = ctl_subpanel(0);
        const int dest = key_dest(&v, s);
        const int on = dest < panel_tables()->dests.count && ds_status(dest) != 0;
        plat_led_set_extra(base + i, on);
    }
}

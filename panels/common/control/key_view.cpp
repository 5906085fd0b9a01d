#include "control/key_view.h"

#include "config/panel_tables.h"
#include "control/ctl_state.h"
#include "control/pages.h"
#include "key_queue.h"
#include "link/router_cmd.h"
#include "ms_clock.h"

#include <cstring>

void kv_read(int key, KeyView *v)
{
    const PanelTables *pt = panel_tables();
    memset(v, 0, sizeof *v);
    v->key = key;
    v->button = key + 1;
    v->slot = (key >= 0 && key < PT_KEYS) ? pg_slot(key) : int(PT_SLOTS);
    v->group = (key >= 0 && key < PT_KEYS) ? pt->group[key] : 0;
    if (v->slot >= PT_SLOTS)
        return;
    v->type = pt->type[v->slot];
    v->value = pt->value[v->slot];
    v->value2 = pt->value2[v->slot];
    v->sp = pt->subpanel[v->slot] & 0xFF;
    const uint16_t e = pt->slot_legend[v->slot];
    if (e != PT_NO_LEGEND && e < PT_LEGENDS && pt->legends[e].text[0])
        v->legend = pt->legends[e].text;
}

int kv_offset(const KeyView *v, int source_side)
{
    const PageOffsets *p = pg_offsets(v->sp, v->group);
    if (!p)
        return 0;
    return source_side ? p->src_offset : p->dst_offset;
}

int kv_routed(int dest, uint32_t mask)
{
    if (dest < 0 || dest >= RCMD_DESTS)
        return KV_NONE;
    for (int l = 0; l < RCMD_LEVELS; ++l)
        if (mask & (1u << l)) {
            const uint16_t s = rcmd_source(l, dest);
            return s == RCMD_UNKNOWN ? int(KV_NONE) : int(s);
        }
    return KV_NONE;
}

void kv_name(char *out, const char *name)
{
    out[0] = '\0';
    if (!name)
        return;
    const size_t n = strnlen(name, KV_NAME);
    memcpy(out, name, n);
    out[n] = '\0';
}

// ---- presses -------------------------------------------------------------------

// Per key: held, and the time of the last release (valid once released).
static uint8_t s_held[PT_KEYS];
static uint8_t s_released[PT_KEYS];
static uint32_t s_release_ms[PT_KEYS];

void kv_note_key(uint8_t kind, int key)
{
    if (key < 0 || key >= PT_KEYS)
        return;
    if (kind == KEY_PRESS || kind == KEY_REPEAT) {
        s_held[key] = 1;
    } else if (kind == KEY_RELEASE && s_held[key]) {
        s_held[key] = 0;
        s_released[key] = 1;
        s_release_ms[key] = msc_now();
    }
}

int kv_pressed_within(int key, uint32_t ms)
{
    if (key < 0 || key >= PT_KEYS)
        return 0;
    if (s_held[key])
        return 1;
    return s_released[key] && msc_now() - s_release_ms[key] < ms;
}

void kv_clear_presses()
{
    memset(s_held, 0, sizeof s_held);
    memset(s_released, 0, sizeof s_released);
}

// ---- report keys -----------------------------------------------------------------

static RouterKey s_router_keys[PT_KEYS];

void kv_set_router_key(int key, const char *legend, uint8_t colour, int lamp, int flashing)
{
    if (key < 0 || key >= PT_KEYS)
        return;
    RouterKey *r = &s_router_keys[key];
    kv_name(r->legend, legend);
    r->colour = colour;
    r->lamp = lamp ? 1 : 0;
    r->flashing = flashing ? 1 : 0;
}

const RouterKey *kv_router_key(int key)
{
    static const RouterKey none = {};
    return (key >= 0 && key < PT_KEYS) ? &s_router_keys[key] : &none;
}

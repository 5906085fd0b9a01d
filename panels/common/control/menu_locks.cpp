// Locks: the panel lock, the subpanel lock, this panel's own destination
// lock, the router's lock and protection, the held lock keys that turn a
// take into a lock, and the Take-key lamps of the models whose Take keys
// sit under destination displays.

#include "control/menus.h"

#include "config/panel_tables.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/menu_int.h"
#include "control/router_request.h"
#include "link/router_cmd.h"
#include "product.h"

#include <cstring>

// Product codes of the models with Take keys under their displays.
enum { CODE_SK1900A = 32, CODE_SK2200A = 33, CODE_SK1700A = 34 };

enum {
    LOCK_SUB = 0,
    LOCK_DEST = 1,     // this panel only, nothing asked of the router
    LOCK_SYS = 2,      // locked at the router
    LOCK_PROT = 3,     // protected at the router
    LOCK_PANEL = 4
};

void mlock_init()
{
    ctl_flags()->panel_lock = 0;
}

void menu_panel_lock(int)
{
    PanelFlags *f = ctl_flags();
    f->panel_lock = !f->panel_lock;
    // A toggle or chop key held for programming: its release would come to
    // a locked panel and be refused, leaving it programmed by every Source
    // key after the unlock.
    if (f->panel_lock)
        menu_end_programming();
}

// The router's two bits of dest as the panel keeps them until the router
// answers.
static void set_router_bits(int dest, uint8_t status)
{
    rcmd_set_lock(dest, uint8_t(status & (DS_ROUTER_LOCK | DS_PROTECT)));
}

// Lock kind 1, 2 or 3 toggled on dest. A router lock is not put on a
// protected destination, nor protection on a locked one: the router would
// hold the two against each other.
static void toggle_dest_lock(int kind, int dest)
{
    if (dest < 0 || dest >= panel_tables()->dests.count) {
        ctl_beep();
        return;
    }
    const uint8_t status = ds_status(dest);
    switch (kind) {
    case LOCK_DEST:
        ds_set_local_lock(dest, !(status & DS_LOCAL_LOCK));
        break;
    case LOCK_SYS:
        if (status & DS_PROTECT)
            return;
        set_router_bits(dest, status ^ DS_ROUTER_LOCK);
        routerRequest(ROP_LOCK, uint32_t(dest), (status & DS_ROUTER_LOCK) ? 0 : 1, 0, RPRIO_NORMAL);
        break;
    case LOCK_PROT:
        if (status & DS_ROUTER_LOCK)
            return;
        set_router_bits(dest, status ^ DS_PROTECT);
        routerRequest(ROP_PROTECT, uint32_t(dest), (status & DS_PROTECT) ? 0 : 1, 0, RPRIO_NORMAL);
        break;
    default:
        break;
    }
}

void menu_locks(int value, int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    switch (value) {
    case LOCK_SUB: s->locked = !s->locked; break;
    case LOCK_DEST:
    case LOCK_SYS:
    case LOCK_PROT: toggle_dest_lock(value, s->dest); break;
    case LOCK_PANEL: menu_panel_lock(sp); break;
    default:
        // Values 5..7 act while held, through the take; others do nothing.
        break;
    }
}

void menu_take_held_lock(int kind, int dest, int)
{
    toggle_dest_lock(kind, dest);
}

// The models whose first Take keys sit under destination displays: how
// many such keys they have.
static int display_take_keys()
{
    switch (prod_code()) {
    case CODE_SK2200A:
    case CODE_SK1900A: return 8;
    case CODE_SK1700A: return 5;
    default: return 0;
    }
}

int menu_take_lock_lamp(int key)
{
    if (key < 0 || key >= display_take_keys() || key >= PT_DISPLAYS)
        return 0;
    const uint32_t dest = panel_tables()->displays[key].fixed_dest;
    return dest < uint32_t(DS_DESTS) && ds_status(int(dest)) != 0;
}

// Snapshots and salvos: a copy of the whole routing taken on one key and
// routed back on another, and the router's system salvos.

#include "control/menus.h"

#include "config/panel_tables.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/menu_int.h"
#include "control/refresh.h"
#include "control/router_request.h"
#include "control/selection.h"
#include "link/router_cmd.h"

#include <cstring>

static uint16_t s_snapshot[RCMD_LEVELS][RCMD_DESTS];
static uint8_t s_held;

void msnap_init()
{
    s_held = 0;
}

int menu_snapshot_held()
{
    return s_held;
}

void menu_take_snapshot(int sp)
{
    if (!sel_enable_check(sp))
        return;
    for (int l = 0; l < RCMD_LEVELS; ++l)
        for (int d = 0; d < RCMD_DESTS; ++d)
            s_snapshot[l][d] = rcmd_source(l, d);
    s_held = 1;
}

// Routes back every crosspoint that changed since the snapshot, one level
// at a time. Crosspoints the panel did not know when the snapshot was
// taken are left alone (there is no source to route back), and so are
// destinations locked against this panel's takes.
void menu_play_snapshot(int)
{
    if (!s_held) {
        ctl_beep();
        return;
    }
    const PanelTables *pt = panel_tables();
    const int dests = pt->dests.count < RCMD_DESTS ? pt->dests.count : int(RCMD_DESTS);
    for (int d = 0; d < dests; ++d) {
        if (ds_refuses_take(d))
            continue;
        for (int l = 0; l < RCMD_LEVELS; ++l) {
            const uint16_t src = s_snapshot[l][d];
            if (pt->dests.number[d][l] == 0 || src == RCMD_UNKNOWN || src >= PT_NAMES)
                continue;
            if (rcmd_source(l, d) != src)
                routerRequest(ROP_ROUTE, src, uint32_t(d), 1u << l, RPRIO_NORMAL);
        }
    }
    s_held = 0;
    rf_request();
}

void menu_salvo(int number, int sp)
{
    if (!sel_enable_check(sp))
        return;
    routerRequest(ROP_SALVO, uint32_t(number), 0, 0, RPRIO_NORMAL);
    rf_request();
}

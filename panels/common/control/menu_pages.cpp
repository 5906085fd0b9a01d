// Menu pages: selecting a primary or secondary page (and the last one
// again), the return to the first page a page without onward Menu keys
// arms, the reset-key hold, and the joystick mappings' interrogation at
// panel setup.

#include "control/menus.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/key_view.h"
#include "control/menu_int.h"
#include "control/pages.h"
#include "control/refresh.h"
#include "control/router_request.h"
#include "link/comms.h"
#include "panels_main.h"
#include "plat.h"
#include "product.h"

enum {
    RETURN_QUARTERS = 16,      // about 3.75 s on a page before the first returns
    RESET_QUARTERS = 16        // about 3.75 s of holding both reset keys
};

// The highest page numbers are kept in a byte, as the menu state always
// had them: 2256 / 4 + 1 = 565 for four keys is kept as 53.
static uint8_t s_highest[2];
static uint8_t s_return_armed;
static int s_return_count = 1;
static int s_reset_count = 1;

void menu_init()
{
    MenuPages *m = ctl_pages();
    m->primary = m->last_primary = 0;
    m->secondary = m->last_secondary = 0;
    s_highest[0] = s_highest[1] = 16;
    s_return_armed = 0;
    s_return_count = 1;
    s_reset_count = 1;
    mlock_init();
    msnap_init();
    mmem_init();
    mtog_init();
    msetup_init();
}

int menu_highest_page(int group)
{
    return group == 2 ? s_highest[1] : s_highest[0];
}

// Every mapping that names a destination asks the router what it carries
// on the mapping's levels, so that the joystick starts from the router's
// routing. A mapping without levels has nothing to ask.
static void interrogate_joystick()
{
    const PanelTables *pt = panel_tables();
    for (int i = 0; i < PT_JOYSTICK; ++i) {
        const PtJoystick *j = &pt->joystick[i];
        if (j->dest == PT_NONE || j->dest >= pt->dests.count)
            continue;
        const uint32_t mask = j->level & CTL_LEVEL_MASK;
        if (mask)
            routerRequest(ROP_INTERROGATE, j->dest, mask, 0, RPRIO_LOW);
    }
}

void menu_panel_setup()
{
    const PanelTables *pt = panel_tables();
    s_highest[0] = uint8_t(pt->page_limit[0]);
    s_highest[1] = uint8_t(pt->page_limit[1]);
    s_return_armed = 0;
    s_return_count = 1;
    interrogate_joystick();
}

// A page from which no Menu key leads to another page is a page the panel
// leaves again by itself (only the LCD-key models do).
static int page_leads_nowhere()
{
    const int here = ctl_pages()->primary + 1;
    int keys = prod_button_count();
    if (keys > PT_KEYS)
        keys = PT_KEYS;
    for (int k = 0; k < keys; ++k) {
        KeyView v;
        kv_read(k, &v);
        if (v.type == BT_MENU && v.value + 1 != here)
            return 0;
    }
    return 1;
}

// Selects page (1-based) of the primary (group 1) or secondary (group 2)
// menu; a page above the highest one leaves the pages as they are. Either
// way the page is evaluated again.
static void select_page(int group, int page)
{
    MenuPages *m = ctl_pages();
    uint8_t *current = group == 2 ? &m->secondary : &m->primary;
    uint8_t *last = group == 2 ? &m->last_secondary : &m->last_primary;
    if (page >= 1 && page <= menu_highest_page(group)) {
        *last = *current;
        *current = uint8_t(page - 1);
        rf_request();
    }
    pg_evaluate();
    if (!prod_menu_model() && page_leads_nowhere()) {
        s_return_armed = 1;
        s_return_count = 1;
    }
}

void menu_select(int type, int page, int group)
{
    const MenuPages *m = ctl_pages();
    switch (type) {
    case BT_MENU: select_page(1, page); break;
    case BT_SECONDARY_MENU: select_page(2, page); break;
    case BT_LAST_MENU:
        // The last page of the key's own menu; pressed again it returns.
        if (group == 2)
            select_page(2, m->last_secondary + 1);
        else
            select_page(1, m->last_primary + 1);
        break;
    default: break;
    }
}

// Counts the quarter-second marks while the return timer is armed; the
// sixteenth brings the first primary page back.
static void return_timer()
{
    if (!s_return_armed || !panels_quarter_flag())
        return;
    panels_set_quarter_flag(0);
    if (++s_return_count < RETURN_QUARTERS)
        return;
    select_page(1, 1);
    s_return_armed = 0;
    s_return_count = 1;
}

static int reset_key_held(int key)
{
    return key >= 1 && key <= PLAT_KEY_COUNT && plat_key_is_held(uint8_t(key - 1));
}

// Both reset keys held for about 3.75 s: from then on every pass beeps and
// asks the platform to reset the panel, until one of them is let go.
static void reset_hold()
{
    if (comms_state() != COMMS_ONLINE)
        return;
    const PanelTables *pt = panel_tables();
    if (!reset_key_held(pt->reset_keys[0]) || !reset_key_held(pt->reset_keys[1])) {
        s_reset_count = 1;
        return;
    }
    if (panels_quarter_flag()) {
        panels_set_quarter_flag(0);
        if (s_reset_count < RESET_QUARTERS)
            ++s_reset_count;
    }
    if (s_reset_count >= RESET_QUARTERS) {
        ctl_beep();
        plat_panel_reset();
    }
}

void menu_timers()
{
    reset_hold();
    return_timer();
    menu_programming_timer();
}

int menu_return_armed()
{
    return s_return_armed;
}

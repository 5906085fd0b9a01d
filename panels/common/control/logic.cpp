// The panel logic is not built yet: key events change nothing and there is
// nothing to draw. The redraw-all flag already works as the refresh of every
// button expects.

#include "control/logic.h"

#include "config/panel_tables.h"

static uint8_t s_redraw_all;

void logic_init() {}
void logic_key_event(uint8_t, uint8_t) {}
void logic_timers() {}
void logic_refresh_legends() {}
void logic_redraw_button(int) {}

void logic_set_redraw_all(uint8_t on)
{
    s_redraw_all = on;
}

uint8_t logic_redraw_all()
{
    return s_redraw_all;
}

void logic_clear_router_state() {}
// Panel setup's rebuild of the button tables: paging-group ordinals and
// counts, the highest menu page of each group and the slot-to-legend map.
// The router's names are served straight from the tables (names.h). The
// working state that key handling keeps (subpanels, menu pages) has its
// reset here too once that state exists.
void logic_panel_setup()
{
    pt_panel_setup();
}
void logic_refresh_outputs() {}

int logic_setup_menu_active()
{
    return 0;
}

void logic_setup_menu_step(int) {}

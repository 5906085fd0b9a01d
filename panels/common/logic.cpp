// The panel logic is not built yet: key events change nothing and there is
// nothing to draw. The redraw-all flag already works as the refresh of every
// button expects.

#include "logic.h"

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
void logic_panel_setup() {}
void logic_refresh_outputs() {}

int logic_setup_menu_active()
{
    return 0;
}

void logic_setup_menu_step(int) {}

#include "control/refresh.h"

#include "control/colours.h"
#include "control/displays.h"
#include "control/lamp_keys.h"
#include "control/lcd_button.h"
#include "control/lcd_keys.h"
#include "control/menus.h"
#include "link/comms.h"
#include "ms_clock.h"
#include "product.h"

static uint8_t s_request;
static uint8_t s_redraw_all;
static int s_round_first;      // first and last button of the full round
static int s_round_last;
static uint8_t s_flash_phase;
static uint32_t s_flash_changed;

void rf_request()
{
    s_request = 1;
}

int rf_take_request()
{
    const int was = s_request;
    s_request = 0;
    return was;
}

int rf_requested()
{
    return s_request;
}

void rf_set_redraw_all(uint8_t on)
{
    s_redraw_all = on;
    s_round_first = 0;
    s_round_last = prod_button_count() - 1;
}

void rf_begin_full_refresh(int first)
{
    const int count = prod_button_count();
    if (first < 0 || first >= count)
        first = 0;
    s_redraw_all = 1;
    s_round_first = first;
    s_round_last = (first + count - 1) % (count > 0 ? count : 1);
}

uint8_t rf_redraw_all()
{
    return s_redraw_all;
}

void rf_refresh_legends()
{
    if (!prod_menu_model())
        lcd_forget_all();
}

void rf_redraw_button(int b)
{
    const int count = prod_button_count();
    if (b < 0 || b >= count)
        return;
    if (menu_setup_active()) {
        menu_setup_draw_step(b);
        return;
    }
    // While the comms display is up (offline, admin) it owns the face; the
    // keys are drawn again once the panel is online.
    if (comms_display_needed())
        return;
    const int full = s_redraw_all;
    if (prod_menu_model()) {
        lamp_refresh_key(b, full);
        if (full && b == s_round_first) {
            dsp_redraw_all();
            lamp_refresh_extra();
        }
    } else {
        lk_refresh_key(b, full);
    }
    // The round of the full refresh is over.
    if (full && b == s_round_last)
        s_redraw_all = 0;
}

void rf_refresh_outputs()
{
    rf_request();
}

void rf_panel_setup()
{
    clr_copy();
    lk_panel_setup();
    if (!prod_menu_model())
        lcd_reset_all();
}

int rf_flash_phase()
{
    return s_flash_phase;
}

void rf_flash_step()
{
    const uint32_t now = msc_now();
    if (now - s_flash_changed < RF_FLASH_MS)
        return;
    s_flash_changed = now;
    s_flash_phase = !s_flash_phase;
}

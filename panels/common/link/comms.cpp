#include "link/comms.h"

#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/lcd_button.h"
#include "control/menus.h"
#include "control/refresh.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "plat.h"
#include "product.h"
#include "link/reliable.h"
#include "link/rlink.h"
#include "link/router_cmd.h"

#include <cstdio>

// Palette indices of the comms display.
enum { COLOUR_RED = 204, COLOUR_GREEN = 51, COLOUR_BLANK = 0 };

static int s_state;
static int s_display_needed;
static int s_redraw_all;
static uint8_t s_last_display = CD_NONE;
static int s_recent_traffic;
static uint32_t s_last_message;
static uint32_t s_last_keepalive;
static int s_config_complete = 1;
static int s_query;
static int s_first_poll;
static uint8_t s_menu_model;
static int s_buttons;
static int s_counter;
static uint16_t s_config_crc;

static void comms_show(uint8_t type);

void comms_init()
{
    s_menu_model = prod_menu_model();
    s_buttons = prod_button_count();
    s_recent_traffic = 0;
    s_last_display = CD_NONE;
    s_counter = 0;
    s_first_poll = 0;
    s_query = 0;
    s_config_complete = 1;
    comms_set_state(COMMS_OFFLINE, 7);
    rcmd_clear_state();
    ds_clear();
}

void comms_set_state(int state, int reason)
{
    static const char *const names[] = {"offline", "online", "admin"};
    if (state < COMMS_OFFLINE || state > COMMS_ADMIN)
        return;
    s_state = state;
    printf("set panel state %s %d\n", names[state], reason);
    s_display_needed = state != COMMS_ONLINE;
    s_redraw_all = 1;
    comms_show(state == COMMS_OFFLINE ? CD_NO_COMMS : state == COMMS_ADMIN ? CD_ADMIN : CD_NORMAL);
}

int comms_state()
{
    return s_state;
}

void comms_note_traffic()
{
    s_last_message = msc_now();
    s_recent_traffic = 1;
}

void comms_off_poll()
{
    rl_reset();
    printf("OFF POLL\n");
    s_config_complete = 1;
    if (s_state == COMMS_ONLINE)
        comms_set_state(COMMS_OFFLINE, 2);
    rlink_send('y', nullptr, 0, 0);
}

void comms_on_poll()
{
    if (!s_first_poll) {
        s_first_poll = 1;
        printf("ON POLL\n");
    }
    if (s_state == COMMS_OFFLINE && s_config_complete) {
        printf("ON POLL\n");
        rcmd_clear_state();
        ds_clear();
        comms_panel_setup();
    }
    s_query = 0;
    rlink_send('y', nullptr, 0, 1);
    s_last_message = s_last_keepalive = msc_now();
    s_recent_traffic = 1;
}

void comms_query()
{
    printf("QUERY\n");
    const uint8_t reply[6] = {uint8_t(prod_code() | 0x80), 0, 1, uint8_t(s_config_crc >> 8),
                              uint8_t(s_config_crc), 0};
    rlink_send('R', reply, sizeof reply, 1);
    s_query = 1;
}

void comms_panel_setup()
{
    printf("starting panel setup\n");
    ctl_panel_setup();
    s_last_message = s_last_keepalive = msc_now();
    s_recent_traffic = 1;
    if (!(s_state == COMMS_ADMIN && s_config_complete))
        comms_set_state(COMMS_ONLINE, 8);
    rf_refresh_outputs();
    printf("finished panel setup\n");
}

void comms_keepalive_check()
{
    const uint32_t now = msc_now();
    if (s_state == COMMS_ONLINE) {
        if (now - s_last_keepalive > COMMS_KEEPALIVE_MS && s_config_complete) {
            printf("Keepalive poll missed...\n");
            comms_set_state(COMMS_OFFLINE, 6);
        }
    } else if (now - s_last_message >= COMMS_TRAFFIC_MS) {
        s_recent_traffic = 0;
    }
}

void comms_leave_setup_menu()
{
    s_last_display = CD_NONE;
    if (s_state == COMMS_ADMIN)
        comms_set_state(COMMS_ONLINE, 4);
    else
        comms_set_state(COMMS_OFFLINE, 5);
}

void comms_refresh_step()
{
    if (menu_setup_active()) {
        menu_setup_draw_step(s_counter++);
    } else if (s_display_needed) {
        comms_show(s_recent_traffic ? CD_COMMS_VALID : CD_NO_COMMS);
        return;
    } else {
        // A redraw asked for by the router link: a full refresh from the
        // first button; one asked for by key handling: a full round from
        // here.
        const int requested = rf_take_request();
        if (s_redraw_all) {
            s_redraw_all = 0;
            rf_set_redraw_all(1);
            s_counter = 0;
        } else if (requested) {
            rf_begin_full_refresh(s_counter);
        }
        if (s_buttons > 0)
            rf_redraw_button(s_counter);
        ++s_counter;
        rf_flash_step();
    }
    if (s_counter >= s_buttons)
        s_counter = 0;
}

void comms_request_redraw() { s_redraw_all = 1; }
int comms_query_flag() { return s_query; }
void comms_set_config_complete(int complete) { s_config_complete = complete ? 1 : 0; }
int comms_config_complete() { return s_config_complete; }
void comms_clear_first_poll() { s_first_poll = 0; }
void comms_set_config_crc(uint16_t crc) { s_config_crc = crc; }
int comms_display_needed() { return s_display_needed; }
int comms_last_display() { return s_last_display; }

// ---- the comms display ---------------------------------------------------------

static void show_menu_model(uint8_t type)
{
    if (type != CD_NO_COMMS && type != CD_COMMS_VALID)
        return;
    for (int w = 0; w < PLAT_WINDOWS; ++w)
        plat_display_clear(w);
    const StartParams *s = panels_settings();
    char text[16];
    // Status and comms-info positions are single bytes: a model without
    // one has 255 there, which is every window.
    plat_display_text(prod_status_pos(), type == CD_COMMS_VALID ? "Comms OK" : "No Comms");
    if (prod_version_pos() >= 0) {
        snprintf(text, sizeof text, "v%d.%02d", int(s->version_major), int(s->version_minor));
        plat_display_text(prod_version_pos(), text);
    }
    plat_display_text(prod_comms_pos(), "Ethernet");
    if (prod_ip_pos() >= 0) {
        uint8_t ip[4] = {0, 0, 0, 0};
        plat_net_get_ip(ip);
        snprintf(text, sizeof text, "%d.%d.", ip[0], ip[1]);
        plat_display_text(prod_ip_pos(), text);
        snprintf(text, sizeof text, "%d.%d", ip[2], ip[3]);
        plat_display_text(prod_ip_pos() + 1, text);
    }
}

// The comms display draws through the legend cache, so that the keys'
// own legends and colours are drawn again when it is taken down.

// A two-line legend from ten characters (five a line).
static void legend10(int button, const char *text)
{
    lcd_set_legend_text(text, button);
}

static void show_lcd_model(uint8_t type)
{
    const int s = prod_status_pos() == 255 ? -1 : prod_status_pos();
    const int c = prod_comms_pos() == 255 ? -1 : prod_comms_pos();
    const int v = prod_version_pos();
    const int setup = prod_setup_button();

    if (type == CD_NORMAL) {
        // Online: blank the buttons the comms display used (only those: a
        // model without a status or comms-info position used none of its
        // group); the panel logic redraws its own.
        int used[12];
        int n = 0;
        if (s >= 0)
            for (int b = s; b <= s + 5; ++b)
                used[n++] = b;
        if (c >= 4)
            for (int b = c - 4; b <= c; ++b)
                used[n++] = b;
        if (setup >= 0)
            used[n++] = setup;
        for (int i = 0; i < n; ++i) {
            if (used[i] < 1)
                continue;
            lcd_blank_key(used[i]);
            lcd_set_colour(used[i], COLOUR_BLANK);
        }
        return;
    }

    if (s >= 0) {
        for (int b = s; b <= s + 2; ++b)
            lcd_set_colour(b, COLOUR_RED);
        legend10(s, type != CD_NO_COMMS ? "Valid     " : "No        ");
        legend10(s + 1, "Panel     ");
        legend10(s + 2, "Comms     ");
        lcd_set_colour(s + 3, COLOUR_GREEN);
        lcd_set_colour(s + 4, COLOUR_RED);
        lcd_set_colour(s + 5, COLOUR_RED);
        if (s_config_complete) {
            legend10(s + 4, "CON- FIG  ");
            legend10(s + 5, "LOAD-ED   ");
        } else {
            legend10(s + 4, "LOAD-ING  ");
            legend10(s + 5, "CON- FIG  ");
        }
    }
    if (v >= 0) {
        const StartParams *st = panels_settings();
        char ver[16];
        snprintf(ver, sizeof ver, "v%d.%02d", int(st->version_major) % 100, int(st->version_minor) % 100);
        lcd_set_legend("VER= ", ver, nullptr, v, 0);
    }
    if (c >= 4) {
        uint8_t ip[4] = {0, 0, 0, 0};
        plat_net_get_ip(ip);
        for (int b = c - 4; b <= c; ++b)
            lcd_set_colour(b, COLOUR_GREEN);
        legend10(c - 4, "E'NETComms");
        char line[8];
        snprintf(line, sizeof line, " %4d", ip[0]);
        lcd_set_legend("IP=  ", line, nullptr, c - 3, 0);
        for (int i = 1; i < 4; ++i) {
            snprintf(line, sizeof line, " %4d", ip[i]);
            lcd_set_legend("     ", line, nullptr, c - 3 + i, 0);
        }
    }
    if (setup >= 0) {
        lcd_set_colour(setup, COLOUR_GREEN);
        legend10(setup, "Setup      ");
    }
}

static void comms_show(uint8_t type)
{
    if (type == s_last_display || menu_setup_active())
        return;
    s_last_display = type;
    // A panel without a product has no buttons and no windows to draw on.
    if (prod_current() == PROD_NONE)
        return;
    if (s_menu_model)
        show_menu_model(type);
    else
        show_lcd_model(type);
}

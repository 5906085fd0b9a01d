#include "panels_main.h"

#include "link/comms.h"
#include "config/config_load.h"
#include "link/eth.h"
#include "link/netcfg.h"
#include "link/router_cmd.h"
#include "link/router_allow.h"
#include "link/trace.h"
#include "key_queue.h"
#include "control/lcd_button.h"
#include "control/ctl_state.h"
#include "control/keys.h"
#include "control/menus.h"
#include "control/refresh.h"
#include "config/panel_tables.h"
#include "plat.h"
#include "product.h"

#include <atomic>
#include <cstdio>
#include <cstring>

// Status codes reported through plat_state_msg (TFW_IFirmwareCallback).
enum { ST_ONLINE = 0, ST_OFFLINE = 1, ST_LOCATE_ON = 14, ST_LOCATE_OFF = 15 };

// Settings record: the start block, copied word by word at initialisation.
static StartParams s_settings;
// The path from the settings with room for a terminator the block may lack.
static char s_config_path[SP_PATH_LEN + 1];

static uint8_t s_config_loaded;
static uint8_t s_quarter_flag;
static uint8_t s_press_timer;
static std::atomic<int> s_locate{0};
static std::atomic<int> s_leds_off_request{0};

// What the loop last told the host.
static int s_reported_comms;
static int s_reported_locate;

// The configuration file at the settings' path, parsed and applied, panel
// setup run. Returns non-zero when a valid configuration is now in force.
static int panels_load_config()
{
    return cfgload_file() ? 1 : 0;
}

static void panels_report_load(int ok)
{
    if (ok) {
        s_config_loaded = 1;
        printf("Config file loaded\n");
    } else {
        printf("No valid config found\n");
    }
}

int panels_loop_init(StartParams params)
{
    memcpy(&s_settings, &params, sizeof s_settings);
    memcpy(s_config_path, s_settings.config_path, SP_PATH_LEN);
    s_config_path[SP_PATH_LEN] = '\0';
    // Network settings saved from the setup menu outrank the host's.
    plat_net_start(s_settings.ip_address, &s_settings.link_address);

    pt_init();
    const int product = prod_find(s_settings.product_name);
    prod_select(product);
    if (product != PROD_NONE) {
        plat_keys_clear();
        kq_clear();
        ctl_init();
        eth_ports_reset();
        lcd_init();
        plat_display_clear(0);
        plat_display_clear(1);
    } else {
        printf("ERROR: PANEL PRODUCT NAME INVALID!!!");
    }

    // Before the socket opens, so a panel started with the marker traces
    // its first datagram.
    trace_init();
    comms_init();
    netcfg_init();
    eth_timers_init();

    // The router addresses this panel accepts, before its socket opens.
    ra_load();

    printf("Protocols Enabled:\n");
    printf(" - Matrixwire Ethernet Protocol%s\n", " [MASTER]");
    eth_register_router_link();

    printf("Loading config file...\n");
    panels_report_load(panels_load_config());
    fflush(stdout);
    return 0;
}

// Reports a change of comms state or locate flashing to the host.
static void panels_report_changes()
{
    if (s_leds_off_request.exchange(0, std::memory_order_relaxed))
        plat_led_all_off();
    const int comms = comms_state();
    if (comms != s_reported_comms) {
        plat_state_msg(comms == COMMS_ONLINE ? ST_ONLINE : ST_OFFLINE);
        s_reported_comms = comms;
    }
    const int locate = panels_locate();
    if (locate != s_reported_locate) {
        plat_state_msg(locate ? ST_LOCATE_ON : ST_LOCATE_OFF);
        s_reported_locate = locate;
    }
}

void panels_loop()
{
    plat_key_scan();
    KeyEvent ev;
    while (kq_get(&ev)) {
        trace_key(ev.kind, ev.key);
        keys_event(ev.kind, ev.key);
    }

    eth_poll_router_link();
    for (int i = 0; i < 25; ++i)
        comms_refresh_step();
    eth_receive();
    rcmd_send_held();
    netcfg_check_progress();
    comms_keepalive_check();
    menu_timers();
    eth_timers_expire();
    panels_report_changes();
    trace_flush();
}

void panels_config_reload()
{
    panels_report_load(panels_load_config());
    fflush(stdout);
}

void panels_mark_config_loaded()
{
    s_config_loaded = 1;
}

uint8_t panels_config_loaded()
{
    return s_config_loaded;
}

void panels_refresh_all_buttons()
{
    rf_refresh_legends();
    const uint8_t saved = rf_redraw_all();
    rf_set_redraw_all(1);
    const int count = prod_button_count();
    for (int i = 0; i < count; ++i)
        rf_redraw_button(i);
    rf_set_redraw_all(saved);
}

void panels_close_sockets()
{
    eth_close_all();
}

void panels_set_quarter_flag(uint8_t on) { s_quarter_flag = on; }
uint8_t panels_quarter_flag() { return s_quarter_flag; }
void panels_set_press_timer(uint8_t v) { s_press_timer = v; }
uint8_t panels_press_timer() { return s_press_timer; }
void panels_set_locate(int on) { s_locate.store(on ? 1 : 0, std::memory_order_relaxed); }
int panels_locate() { return s_locate.load(std::memory_order_relaxed); }
void panels_request_leds_off() { s_leds_off_request.store(1, std::memory_order_relaxed); }

const StartParams *panels_settings()
{
    return &s_settings;
}

const char *panels_config_path()
{
    return s_config_path;
}

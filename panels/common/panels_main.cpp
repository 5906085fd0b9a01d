#include "panels_main.h"

#include <cstdio>
#include <cstring>

// Settings record: the start block, copied word by word at initialisation.
static StartParams s_settings;

// Raised once a configuration file has loaded; nothing clears it.
static uint8_t s_config_loaded;

// Quarter-second flag shared with the key scan and the panel-logic timers.
static uint8_t s_quarter_flag;

// The configuration file at the settings' path, parsed and applied. Returns
// non-zero when a valid configuration is now in force. The configuration
// model and its loaders come with the panel logic; until then no file is
// accepted and the panel waits for one.
static int panels_load_config()
{
    return 0;
}

int panels_loop_init(StartParams params)
{
    memcpy(&s_settings, &params, sizeof s_settings);

    printf("Loading config file...\n");
    if (panels_load_config()) {
        s_config_loaded = 1;
        printf("Config file loaded\n");
    } else {
        printf("No valid config found\n");
    }
    fflush(stdout);
    return 0;
}

void panels_loop()
{
    // The loop pass runs the key scan, the button refresh scheduler, the
    // router link and the timers; each arrives with its module.
}

void panels_config_reload()
{
    if (panels_load_config()) {
        s_config_loaded = 1;
        printf("Config file loaded\n");
    } else {
        printf("No valid config found\n");
    }
    fflush(stdout);
}

uint8_t panels_config_loaded()
{
    return s_config_loaded;
}

void panels_refresh_all_buttons()
{
    // Legends and per-button drawing arrive with the panel logic; until a
    // product is selected the panel has no buttons to redraw.
}

void panels_close_sockets()
{
    // The router link opens no socket before its transport exists.
}

void panels_set_quarter_flag(uint8_t on)
{
    s_quarter_flag = on;
}

uint8_t panels_quarter_flag()
{
    return s_quarter_flag;
}

const StartParams *panels_settings()
{
    return &s_settings;
}

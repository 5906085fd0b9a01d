// Entries of the menus and special functions. Until these functions are
// built, every key action that needs one is refused the way a refused key
// is (the error beep), with a log line that says which function is
// missing, and changes nothing.

#include "control/menus.h"

#include "control/ctl_state.h"

#include <cstdio>

static void not_available(const char *function)
{
    printf("%s not available\n", function);
    ctl_beep();
}

void menu_panel_lock(int) { not_available("Panel Lock"); }
void menu_take_snapshot(int) { not_available("Take Snapshot"); }
void menu_play_snapshot(int) { not_available("Play Snapshot"); }
void menu_locks(int, int) { not_available("Locks"); }
void menu_salvo(int, int) { not_available("System Salvo"); }
void menu_program_mode() { not_available("Program Mode"); }
void menu_preset_toggle(int) { not_available("Source Preset Toggle"); }
void menu_preset_chop(int) { not_available("Source Preset Chop"); }
void menu_setup_key() { not_available("Setup"); }
void menu_setup_open() { not_available("Setup Menu"); }

void menu_select(int type, int, int)
{
    not_available(type == 2 ? "Last Menu" : type == 9 ? "Secondary Menu" : "Menu");
}

void menu_memory(int type, int, int)
{
    not_available(type == 21 ? "Destination Memory" : type == 28 ? "Source Memory" : "Preset Memory");
}

// The toggle and chop act when the key is released; holding it would
// program it.
void menu_source_toggle(uint8_t kind, int, int)
{
    if (kind == 'R')
        not_available("Source Toggle");
}

void menu_source_chop(uint8_t kind, int, int)
{
    if (kind == 'R')
        not_available("Source Chop");
}

void menu_take_held_lock(int, int, int) { not_available("Held Lock"); }

void menu_category_step(int, int) { not_available("Category Step"); }

// The typed category stays as it is; only the lookup is missing.
void menu_category_lookup(int) { printf("Category Lookup not available\n"); }

int menu_setup_active()
{
    return ctl_flags()->setup_active;
}

void menu_setup_event(uint8_t, uint8_t) { not_available("Setup Menu"); }
void menu_setup_draw_step(int) {}

int menu_programming_active()
{
    return 0;
}

int menu_program_source(int, int)
{
    return 0;
}

void menu_timers() {}

int menu_snapshot_held() { return 0; }
int menu_program_mode_on() { return 0; }
int menu_toggle_phase() { return 0; }
int menu_chop_running(int) { return 0; }
void menu_chop_tick(int, int) {}
void menu_preset_chop_tick(int, int) {}
int menu_take_lock_lamp(int) { return 0; }

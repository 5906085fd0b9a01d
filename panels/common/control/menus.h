#ifndef MENUS_H
#define MENUS_H

// Menus and special functions: menu pages, panel and destination locks,
// snapshots, salvos, memories, program mode, source and preset toggle and
// chop, the setup key and the setup menu. Key handling calls these entries
// for the ButtonTypes they own; the modules are menu_pages (pages, the
// return to the first page, the reset-key hold, joystick), menu_locks,
// menu_snapshot (snapshots and salvos), menu_memory (memories, program
// mode, categories), menu_toggle (toggle and chop) and menu_setup (the
// setup key and the setup menu).

#include <cstdint>

// Start-up: first pages, no snapshot, empty memories, no toggle or chop
// running, setup menu closed.
void menu_init();
// Panel setup after a configuration load: the highest pages of the new
// tables, the return timer disarmed, every joystick mapping with a
// destination interrogated.
void menu_panel_setup();
// The highest page number (1-based) a Menu key of group 1 or 2 may select.
int menu_highest_page(int group);

// Panel Lock key, or a Locks key with value 4.
void menu_panel_lock(int sp);
// Menu keys on release: type 14 (primary) or 9 (secondary) selects page
// `page` (1-based); type 2 returns to the last page of the key's group.
void menu_select(int type, int page, int group);
void menu_take_snapshot(int sp);
void menu_play_snapshot(int sp);
// Locks key of value v on the subpanel's selected destination.
void menu_locks(int value, int sp);
// System Salvo: the salvo number as configured.
void menu_salvo(int number, int sp);
// Memory keys: type 21 destination, 28 source, 32 preset memory.
void menu_memory(int type, int number, int sp);
void menu_program_mode();
// Source Toggle / Source Chop keys, every event of theirs (kind 'P', 'A',
// 'R'); the key's slot holds its two sources.
void menu_source_toggle(uint8_t kind, int slot, int sp);
void menu_source_chop(uint8_t kind, int slot, int sp);
void menu_preset_toggle(int sp);
void menu_preset_chop(int sp);
// Setup key on release: the panel goes to the admin state.
void menu_setup_key();

// The setup menu: opened by the model's setup button while the panel is
// not online; while active every key event goes to it and the refresh
// scheduler lets it draw.
void menu_setup_open();
int menu_setup_active();
void menu_setup_event(uint8_t kind, uint8_t key);
void menu_setup_draw_step(int counter);
// What the open setup menu shows: its page (0..3), the entry of the
// selected field (-1 none), the physical key of an entry (-1 none) and the
// bytes it edits (copies of the settings until saved).
enum {
    MENU_SETUP_IP = 0,          // four bytes each
    MENU_SETUP_MASK = 4,
    MENU_SETUP_GATEWAY = 8,
    MENU_SETUP_ADDRESS = 12,    // link address 0..64
    MENU_SETUP_MODE = 13,       // link mode: 0 Ethernet, 1 serial
    MENU_SETUP_BYTES = 14
};
int menu_setup_page();
int menu_setup_selected();
// Non-zero while the key test started from the menu runs.
int menu_setup_testing();
int menu_setup_key_of_entry(int entry);
int menu_setup_byte(int i);

// A take while a Locks key of value 5, 6 or 7 is held applies lock kind 1,
// 2 or 3 to the take's destination instead of routing.
void menu_take_held_lock(int kind, int dest, int sp);

// Toggle and chop programming: non-zero while a Source Toggle or Source
// Chop key is held to be programmed; a Source key press then sets one of
// its sources (menu_program_source returns non-zero when it took the
// press).
int menu_programming_active();
int menu_program_source(int source, int sp);
// Ends the programming (the panel lock went on); the key's release, when
// it comes, then does nothing.
void menu_end_programming();
// Run by menu_timers: ends a programming whose key has not repeated for
// 5 s (its release was lost).
void menu_programming_timer();

// Category entry: the category of the typed category text is looked up;
// Previous/Next Destination step through the category.
void menu_category_lookup(int sp);
void menu_category_step(int sp, int forward);

// Timers of every loop pass: return to the first page and the reset-key
// hold (both counted in quarter-second flags), the end of a toggle or
// chop programming whose release was lost.
void menu_timers();
// Non-zero while the return to the first page is armed.
int menu_return_armed();

// What the keys show of these functions (read by the key refresher on
// every redraw of a key).
// Non-zero while a snapshot is held.
int menu_snapshot_held();
// Non-zero while program mode is on.
int menu_program_mode_on();
// Which source of the Source Toggle goes next: 0 the second, 1 the first
// (after a toggle onto the second).
int menu_toggle_phase();
// Non-zero while the chop started by the Source Chop key of slot runs.
int menu_chop_running(int slot);
// The chop tick: run each time the Source Chop key of slot is redrawn,
// with its interval (the top 3 bits of its second value).
void menu_chop_tick(int slot, int interval);
// The preset-chop tick: run each time a Source Preset Chop key of
// subpanel sp is redrawn, with its interval.
void menu_preset_chop_tick(int sp, int interval);
// The lamp the lock follow-up of the models with Take keys under their
// displays (SK2200A, SK1900A, SK1700A) set for physical key k: 1 on, 0 off.
int menu_take_lock_lamp(int key);

#endif

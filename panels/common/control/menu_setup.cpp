// The setup key and the setup menu.
//
// The setup menu edits the panel's network settings on the LCD keys: four
// pages (IP address, subnet mask, gateway, comms) of sixteen entries, the
// first sixteen keys (the SK1300A maps its own keys onto them). Entries
// 0..4 are the page tabs and the test mode, 14 and 15 cancel and save;
// the rest of each page shows its fields, the up and down arrows that
// change the selected field, and on the comms page the link modes.

#include "control/menus.h"

#include "control/button_type.h"
#include "control/ctl_state.h"
#include "control/lcd_button.h"
#include "control/menu_int.h"
#include "key_queue.h"
#include "link/comms.h"
#include "link/reliable.h"
#include "plat.h"
#include "product.h"

#include <cstdio>
#include <cstring>

enum {
    SETUP_PAGES = 4,
    SETUP_ENTRIES = 16,
    LINK_ADDRESS_MAX = 64,
    COLOUR_ACTIVE = 0xCC,      // the current tab, cancel and save
    COLOUR_IDLE = 0x33,
    COLOUR_SELECTED = 0xFF,    // the selected field, the active link mode
    COLOUR_NONE = 0,
    CODE_SK1300A = 35
};

enum EntryKind { K_NONE = 0, K_TEXT = 1, K_FIELD = 2, K_ARROW = 3 };

enum Handler { H_NONE, H_PAGE, H_FIELD, H_UP, H_DOWN, H_MODE, H_TEST, H_CANCEL, H_SAVE };

// The bytes the menu edits: copies of the settings, stored on save.
enum {
    B_IP = MENU_SETUP_IP,
    B_MASK = MENU_SETUP_MASK,
    B_GATEWAY = MENU_SETUP_GATEWAY,
    B_ADDRESS = MENU_SETUP_ADDRESS,
    B_MODE = MENU_SETUP_MODE,
    B_COUNT = MENU_SETUP_BYTES,
    B_NONE = -1
};

struct SetupEntry {
    uint8_t kind;
    const char *text;          // text of a text key, format of a field
    uint8_t arrow;             // LCD_GRAPHIC_UP or LCD_GRAPHIC_DOWN
    uint8_t colour;
    int8_t byte;               // B_*, the byte a field shows and edits
    uint8_t handler;
    uint8_t arg;
};

struct SetupState {
    uint8_t page;
    int8_t selected;           // entry of the selected field, -1 none
    uint8_t bytes[B_COUNT];
    uint8_t remap;             // SK1300A keys
    uint8_t testing;           // the platform's key test runs
};

static SetupState s_setup;

void msetup_init()
{
    memset(&s_setup, 0, sizeof s_setup);
    s_setup.selected = -1;
    ctl_flags()->setup_active = 0;
    plat_test_mode_stop();
}

// The SK1300A's keys on the setup entries. Its face has three rows of
// eight keys on the left (1-8, 17-24, 33-40) and a block of three by three
// on the right (12, -, 16 / 42-44 / 45, 46, 48), so the first sixteen key
// numbers the other models use are not all there. Entries 0..7 (tabs, test
// mode, label, first field) take its first row, entries 8..13 (the other
// fields and the arrows) the start of its second, and cancel and save the
// last two keys of the panel, 46 and 48, as they are the last two keys
// (15, 16) of the SK1100A; 48 is the setup button on both comms displays.
static int sk1300a_entry(int key)
{
    const int id = key + 1;
    if (id >= 1 && id <= 8)
        return id - 1;
    if (id >= 17 && id <= 22)
        return id - 17 + 8;
    if (id == 46)
        return 14;
    if (id == 48)
        return 15;
    return -1;
}

static int sk1300a_key(int entry)
{
    if (entry < 8)
        return entry;
    if (entry < 14)
        return entry - 8 + 16;
    return entry == 14 ? 45 : 47;
}

// The entry of physical key k, or -1.
static int entry_of_key(int key)
{
    if (s_setup.remap)
        return sk1300a_entry(key);
    return (key >= 0 && key < SETUP_ENTRIES) ? key : -1;
}

static SetupEntry text_key(const char *text, uint8_t colour, uint8_t handler, uint8_t arg)
{
    return SetupEntry{K_TEXT, text, 0, colour, B_NONE, handler, arg};
}

static SetupEntry field(const char *format, int byte)
{
    return SetupEntry{K_FIELD, format, 0, COLOUR_IDLE, int8_t(byte), H_FIELD, 0};
}

static SetupEntry arrow(uint8_t graphic)
{
    return SetupEntry{K_ARROW, nullptr, graphic, COLOUR_IDLE, B_NONE,
                      uint8_t(graphic == LCD_GRAPHIC_UP ? H_UP : H_DOWN), 0};
}

// Entry e of page p; colours as drawn now (tab, selection, mode).
static SetupEntry entry(int p, int e)
{
    static const char *const tabs[SETUP_PAGES] = {"Ip   Setup", "Mask Setup", "Gate Setup", "CommsSetup"};
    static const char *const labels[3] = {"IP =      ", "Mask=       ", "Gtway        "};
    static const int bases[3] = {B_IP, B_MASK, B_GATEWAY};
    SetupEntry out = {K_NONE, nullptr, 0, COLOUR_NONE, B_NONE, H_NONE, 0};
    if (e < SETUP_PAGES)
        return text_key(tabs[e], e == p ? COLOUR_ACTIVE : COLOUR_IDLE, H_PAGE, uint8_t(e));
    if (e == 4)
        return text_key("Test Mode ", COLOUR_IDLE, H_TEST, 0);
    if (e == 14)
        return text_key("CanclExit", COLOUR_ACTIVE, H_CANCEL, 0);
    if (e == 15)
        return text_key("Save+Reset", COLOUR_ACTIVE, H_SAVE, 0);
    if (p < 3) {
        if (e == 6)
            out = text_key(labels[p], COLOUR_IDLE, H_NONE, 0);
        else if (e >= 7 && e <= 10)
            out = field(" %d          ", bases[p] + e - 7);
        else if (e == 11)
            out = arrow(LCD_GRAPHIC_UP);
        else if (e == 12)
            out = arrow(LCD_GRAPHIC_DOWN);
    } else {
        const uint8_t mode = s_setup.bytes[B_MODE];
        if (e == 6)
            out = field("Addr   %02X        ", B_ADDRESS);
        else if (e == 7)
            out = arrow(LCD_GRAPHIC_UP);
        else if (e == 8)
            out = arrow(LCD_GRAPHIC_DOWN);
        else if (e == 10)
            out = text_key("Mode=        ", COLOUR_IDLE, H_NONE, 0);
        else if (e == 11)
            out = text_key("ETHE-NET     ", mode == 0 ? COLOUR_SELECTED : COLOUR_IDLE, H_MODE, 0);
        else if (e == 12)
            out = text_key("RSBUS        ", mode == 1 ? COLOUR_SELECTED : COLOUR_IDLE, H_MODE, 1);
    }
    if (out.kind == K_FIELD && e == s_setup.selected)
        out.colour = COLOUR_SELECTED;
    return out;
}

static int first_field(int page)
{
    return page < 3 ? 7 : 6;
}

static void show_page(int page)
{
    s_setup.selected = -1;
    s_setup.page = uint8_t(page);
    s_setup.selected = int8_t(first_field(page));
}

void menu_setup_open()
{
    s_setup.page = 0;
    s_setup.selected = int8_t(first_field(0));
    memset(s_setup.bytes, 0, sizeof s_setup.bytes);
    plat_net_get_ip(&s_setup.bytes[B_IP]);
    plat_net_get_mask(&s_setup.bytes[B_MASK]);
    plat_net_get_gateway(&s_setup.bytes[B_GATEWAY]);
    const uint8_t address = plat_link_address();
    s_setup.bytes[B_ADDRESS] = address > LINK_ADDRESS_MAX ? uint8_t(LINK_ADDRESS_MAX) : address;
    s_setup.bytes[B_MODE] = plat_link_mode() ? 1 : 0;
    s_setup.remap = prod_code() == CODE_SK1300A;
    s_setup.testing = 0;
    ctl_flags()->setup_active = 1;
}

int menu_setup_active()
{
    return ctl_flags()->setup_active;
}

// Up and down change the selected field: address bytes wrap round through
// 0..255, the link address through 0..64.
static void step_selected(int up)
{
    if (s_setup.selected < 0)
        return;
    const SetupEntry f = entry(s_setup.page, s_setup.selected);
    if (f.kind != K_FIELD || f.byte < 0)
        return;
    uint8_t *b = &s_setup.bytes[f.byte];
    if (f.byte == B_ADDRESS) {
        if (up)
            *b = *b >= LINK_ADDRESS_MAX ? 0 : uint8_t(*b + 1);
        else
            *b = *b == 0 || *b > LINK_ADDRESS_MAX ? uint8_t(LINK_ADDRESS_MAX) : uint8_t(*b - 1);
    } else {
        *b = uint8_t(up ? *b + 1 : *b - 1);
    }
}

// Leaves the menu with every key blank, so that only what comes next (the
// comms display, or the panel's own keys once online) is shown.
static void leave()
{
    s_setup.selected = -1;
    ctl_flags()->setup_active = 0;
    lcd_reset_all();
    comms_leave_setup_menu();
}

// Stores the edited settings through the platform, for the panel's next
// start. A store that fails beeps and keeps the menu open with the edits,
// so that a failed save never looks like a saved one.
static void save()
{
    PlatNetSettings n;
    memcpy(n.ip, &s_setup.bytes[B_IP], 4);
    memcpy(n.mask, &s_setup.bytes[B_MASK], 4);
    memcpy(n.gateway, &s_setup.bytes[B_GATEWAY], 4);
    n.link_address = s_setup.bytes[B_ADDRESS];
    n.link_mode = s_setup.bytes[B_MODE];
    if (!plat_net_store(&n)) {
        printf("setup not saved\n");
        ctl_beep();
        return;
    }
    s_setup.selected = -1;
    printf("setup saved: ip %d.%d.%d.%d address %02X mode %d\n", n.ip[0], n.ip[1], n.ip[2], n.ip[3],
           n.link_address, n.link_mode);
    // The link starts again from its first sequence number.
    rl_reset();
    leave();
}

// The key test draws over the menu; when it is over the menu opens again
// from the settings and every key is drawn anew.
static void test_mode_start()
{
    s_setup.testing = 1;
    plat_test_mode();
}

static void test_mode_end()
{
    s_setup.testing = 0;
    menu_setup_open();
    lcd_forget_all();
}

static void run(int e, const SetupEntry *x)
{
    switch (x->handler) {
    case H_PAGE: show_page(x->arg); break;
    case H_FIELD: s_setup.selected = int8_t(e); break;
    case H_UP: step_selected(1); break;
    case H_DOWN: step_selected(0); break;
    case H_MODE: s_setup.bytes[B_MODE] = x->arg; break;
    case H_TEST: test_mode_start(); break;
    case H_CANCEL: leave(); break;
    case H_SAVE: save(); break;
    default: break;
    }
}

void menu_setup_event(uint8_t kind, uint8_t key)
{
    if (kind != KEY_PRESS)
        return;
    // A key pressed during the key test ends it.
    if (s_setup.testing) {
        plat_test_mode_stop();
        test_mode_end();
        return;
    }
    const int e = entry_of_key(key);
    const SetupEntry x = e >= 0 ? entry(s_setup.page, e) : SetupEntry{};
    if (e < 0 || x.kind == K_NONE) {
        ctl_beep();
        return;
    }
    run(e, &x);
}

// A ten-character legend of text (shorter texts padded with blanks).
static void legend10(const char *text, int button)
{
    char ten[11];
    snprintf(ten, sizeof ten, "%-10.10s", text);
    lcd_set_legend_text(ten, button);
}

static void draw_entry(int e, int button)
{
    const SetupEntry x = entry(s_setup.page, e);
    char text[32];
    switch (x.kind) {
    case K_TEXT: legend10(x.text, button); break;
    case K_FIELD:
        if (x.byte < 0) {
            lcd_blank_key(button);
            break;
        }
        snprintf(text, sizeof text, x.text, s_setup.bytes[x.byte]);
        legend10(text, button);
        break;
    case K_ARROW: lcd_set_graphic(button, x.arrow); break;
    default:
        lcd_blank_key(button);
        break;
    }
    lcd_set_colour(button, x.colour);
}

// One step of the refresh scheduler draws physical key counter.
void menu_setup_draw_step(int counter)
{
    if (s_setup.testing) {
        if (!plat_test_mode_running())
            test_mode_end();
        return;
    }
    const int button = counter + 1;
    if (counter < 0 || button > lcd_keys_total())
        return;
    const int e = entry_of_key(counter);
    if (e < 0) {
        lcd_blank_key(button);
        lcd_set_colour(button, COLOUR_NONE);
        return;
    }
    draw_entry(e, button);
}

// The physical key of a setup entry on this model.
int menu_setup_key_of_entry(int entry)
{
    if (entry < 0 || entry >= SETUP_ENTRIES)
        return -1;
    return s_setup.remap ? sk1300a_key(entry) : entry;
}

int menu_setup_byte(int i)
{
    return (i >= 0 && i < B_COUNT) ? s_setup.bytes[i] : -1;
}

int menu_setup_page()
{
    return s_setup.page;
}

int menu_setup_selected()
{
    return s_setup.selected;
}

int menu_setup_testing()
{
    return s_setup.testing;
}

void menu_setup_key()
{
    comms_set_state(COMMS_ADMIN, 9);
}

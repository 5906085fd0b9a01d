// Legends and colours of the LCD keys, one rule per ButtonType. A rule
// draws the legend (through the legend cache) and returns the entry of the
// working colour table the key shows; the refresher then sets that colour.
//
// Names on keys: a source's, destination's or level's display name, first
// ten characters, shown as two lines of five. "A over B" puts A's first
// five characters on the first line and B on the two lines below.

#include "control/lcd_keys.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/colours.h"
#include "control/ctl_state.h"
#include "control/dest_status.h"
#include "control/key_view.h"
#include "control/lcd_button.h"
#include "control/menus.h"
#include "control/pages.h"
#include "control/preset.h"
#include "control/refresh.h"
#include "control/router_request.h"
#include "control/take.h"
#include "panels_main.h"
#include "plat.h"

#include <cstdio>
#include <cstring>

enum { LEGEND_TEXT = 2 * LCD_LINE };

// A colour that is a code of its own (the router's report keys) rather
// than an entry of the table.
enum { OWN_CODE = 0x10000 };

// Current-source display keys that asked the router for their source
// since it was last known.
static uint8_t s_interrogated[PT_KEYS];

void lk_panel_setup()
{
    memset(s_interrogated, 0, sizeof s_interrogated);
}

// ---- legends ------------------------------------------------------------------------

// The configured legend, else the default text (ten characters or fewer).
static void configured_or(const KeyView *v, const char *text)
{
    lcd_set_legend_text(v->legend ? v->legend : text, v->button);
}

// top's first five characters over the ten of bottom.
static void legend_over(int button, const char *top, const char *bottom)
{
    char l[3][LCD_LINE + 1] = {};
    snprintf(l[0], sizeof l[0], "%.5s", top ? top : "");
    const size_t n = bottom ? strnlen(bottom, LEGEND_TEXT) : 0;
    if (n > 0)
        snprintf(l[1], sizeof l[1], "%.5s", bottom);
    if (n > LCD_LINE)
        snprintf(l[2], sizeof l[2], "%.5s", bottom + LCD_LINE);
    lcd_set_legend(l[0], l[1], n > LCD_LINE ? l[2] : nullptr, button, 0);
}

// A display key's text: the configured legend over the name, or the name
// alone; "INPUT nnn"/"O/PUT nnn" with the router number in number mode.
static void display_legend(const KeyView *v, const char *name, const char *number_format, int number)
{
    if (ctl_flags()->number_mode) {
        char text[32];
        snprintf(text, sizeof text, number_format, number + 1);
        lcd_set_legend_text(text, v->button);
    } else if (v->legend) {
        char top[LCD_LINE + 1];
        snprintf(top, sizeof top, "%.5s", v->legend);
        legend_over(v->button, top, name);
    } else {
        lcd_set_legend_text(name, v->button);
    }
}

static void name_of_source(char *out, int source)
{
    kv_name(out, source == KV_NONE ? nullptr : pt_source_name(source));
}

// Up to three lines given as texts of five characters or fewer.
static void three_lines(int button, const char *l1, const char *l2, const char *l3)
{
    lcd_set_legend(l1, l2, l3, button, 0);
}

// ---- rules --------------------------------------------------------------------------

static int rule_source(const KeyView *v, const SubpanelState *s)
{
    const PanelTables *pt = panel_tables();
    const int offset = kv_offset(v, 1);
    const PageOffsets *p = pg_offsets(v->sp, v->group);
    const int src = v->value + offset;
    if (src >= pt->sources.count || (offset != 0 && p && src > p->src_high)) {
        lcd_blank_key(v->button);
        return CLR_SOURCE;
    }
    char name[KV_NAME + 1];
    kv_name(name, pt_source_name(src));
    lcd_set_legend_text(offset == 0 && v->legend ? v->legend : name, v->button);

    // Routed on every selected level, or on one of several only: then that
    // level's colour says which.
    int selected = 0, routed = 0, level = -1;
    for (int l = 0; l < CTL_LEVELS; ++l) {
        if (!(s->level_mask & (1u << l)))
            continue;
        ++selected;
        if (kv_routed(s->dest, 1u << l) == src) {
            ++routed;
            level = l;
        }
    }
    if (routed == 0)
        return CLR_SOURCE;
    if (routed == 1 && selected > 1)
        return clr_level_entry(level, 1);
    return CLR_SOURCE_ROUTED;
}

static int rule_destination(const KeyView *v, const SubpanelState *s)
{
    const PanelTables *pt = panel_tables();
    const int offset = kv_offset(v, 0);
    const PageOffsets *p = pg_offsets(v->sp, v->group);
    const int dst = v->value + offset;
    if (dst >= pt->dests.count || (offset != 0 && p && dst > p->dst_high)) {
        lcd_blank_key(v->button);
        return CLR_DEST;
    }
    char name[KV_NAME + 1];
    kv_name(name, pt_dest_name(dst));
    lcd_set_legend_text(offset == 0 && v->legend ? v->legend : name, v->button);
    return s->dest == dst ? CLR_DEST_SELECTED : CLR_DEST;
}

static int rule_level(const KeyView *v, const SubpanelState *s)
{
    const char *name = pt_level_name(v->value);
    if (v->legend) {
        lcd_set_legend_text(v->legend, v->button);
    } else if (name) {
        char n[KV_NAME + 1];
        kv_name(n, name);
        lcd_set_legend_text(n, v->button);
    } else {
        lcd_set_legend_text("LEVEL ??", v->button);
    }
    const int selected = v->value < CTL_LEVELS && (s->level_mask & (1u << v->value));
    return clr_level_entry(v->value, selected);
}

// Whether the lock a Locks key of value v stands for is on.
static int lock_applies(int value, const SubpanelState *s)
{
    const uint8_t status = ds_status(s->dest);
    switch (value) {
    case 0: return s->locked != 0;
    case 1: return (status & DS_LOCAL_LOCK) != 0;
    case 2: return (status & DS_ROUTER_LOCK) != 0;
    case 3: return (status & DS_PROTECT) != 0;
    case 4: return ctl_flags()->panel_lock != 0;
    case 5:
    case 6:
    case 7: return 1;
    default: return 0;
    }
}

static int rule_locks(const KeyView *v, const SubpanelState *s)
{
    static const char *const single[] = {"LOCK SUB  ", "LOCK DEST ", "LOCK SYS  ", "LOCK PROT "};
    static const char *const held[] = {"DEST ", "SYS ", "PROT "};
    if (v->value >= 0 && v->value <= 3)
        lcd_set_legend_text(single[v->value], v->button);
    else if (v->value >= 5 && v->value <= 7)
        three_lines(v->button, "LOCK ", held[v->value - 5], " hld ");
    else
        lcd_set_legend_text("LOCK -----", v->button);
    return lock_applies(v->value, s) ? CLR_LOCK_ON : CLR_LOCK_OFF;
}

// Menu keys: their text with the page number below.
static int rule_menu(const KeyView *v, const char *text, int current)
{
    if (v->legend)
        lcd_set_legend_text(v->legend, v->button);
    else
        lcd_set_number_legend(text, "     ", nullptr, v->button, v->value + 1, LCD_NUMBER_WIDE);
    return current == v->value ? CLR_MODE_ON : CLR_NEUTRAL;
}

// The source routed to destination v; asks the router once while that is
// unknown.
static int rule_current_source(const KeyView *v, const SubpanelState *s)
{
    const int dest = v->value;
    const int src = kv_routed(dest, s->level_mask);
    if (src == KV_NONE) {
        lcd_blank_key(v->button);
        if (s->level_mask && dest < panel_tables()->dests.count && !s_interrogated[v->key]) {
            s_interrogated[v->key] = 1;
            printf("sending interrogate for src dest display button\n");
            routerRequest(ROP_INTERROGATE, uint32_t(dest), s->level_mask, 0, RPRIO_LOW);
        }
        return CLR_SOURCE;
    }
    s_interrogated[v->key] = 0;
    char name[KV_NAME + 1];
    name_of_source(name, src);
    display_legend(v, name, "INPUT %-3.3d ", src);
    return CLR_DISPLAY;
}

static int rule_dest_source(const KeyView *v, const SubpanelState *s)
{
    const int src = kv_routed(s->dest, s->level_mask);
    if (src == KV_NONE) {
        lcd_blank_key(v->button);
        return CLR_DISPLAY;
    }
    char name[KV_NAME + 1];
    name_of_source(name, src);
    display_legend(v, name, "INPUT %-3.3d ", src);
    return CLR_DISPLAY;
}

static int rule_current_dest(const KeyView *v, const SubpanelState *s)
{
    if (s->dest >= panel_tables()->dests.count) {
        lcd_blank_key(v->button);
        return CLR_DISPLAY;
    }
    char name[KV_NAME + 1];
    kv_name(name, pt_dest_name(s->dest));
    display_legend(v, name, "O/PUT %-3.3d ", s->dest);
    return CLR_DISPLAY;
}

static int rule_source_preset(const KeyView *v, const SubpanelState *s)
{
    const int offset = kv_offset(v, 1);
    const int src = v->value + offset;
    if (src >= panel_tables()->sources.count) {
        lcd_set_legend_text("PSRC ??", v->button);
        return CLR_PRESET;
    }
    char name[KV_NAME + 1];
    kv_name(name, pt_source_name(src));
    lcd_set_legend_text(offset == 0 && v->legend ? v->legend : name, v->button);
    return s->preset == src ? CLR_PRESET_ON : CLR_PRESET;
}

// The destination a Take key takes onto.
static int take_dest(const KeyView *v, const SubpanelState *s)
{
    if (take_key_mode(v->key) == TAKE_DISPLAY && v->key < PT_DISPLAYS) {
        const uint32_t fixed = panel_tables()->displays[v->key].fixed_dest;
        return fixed < PT_NAMES ? int(fixed) : int(KV_NONE);
    }
    return s->dest;
}

static int rule_take(const KeyView *v, const SubpanelState *s)
{
    const int src = kv_routed(take_dest(v, s), s->level_mask);
    if (src != KV_NONE && ctl_flags()->number_mode) {
        char text[32];
        snprintf(text, sizeof text, "INPUT %-3.3d ", src + 1);
        lcd_set_legend_text(text, v->button);
    } else if (src != KV_NONE && !ctl_name_entry_model()) {
        char name[KV_NAME + 1];
        name_of_source(name, src);
        legend_over(v->button, "TAKE ", name);
    } else {
        configured_or(v, "TAKE ");
    }
    return CLR_NEUTRAL;
}

static int rule_level_take(const KeyView *v, const SubpanelState *s)
{
    const char *level = v->value < CTL_LEVELS ? pt_level_name(v->value) : nullptr;
    if (!level) {
        lcd_set_legend_text("LEVEL TAKE", v->button);
        return CLR_NEUTRAL;
    }
    char name[KV_NAME + 1];
    name_of_source(name, kv_routed(s->dest, 1u << v->value));
    legend_over(v->button, level, name);
    return CLR_NEUTRAL;
}

static int rule_preset_display(const KeyView *v, const SubpanelState *s)
{
    if (s->preset >= panel_tables()->sources.count) {
        lcd_set_legend_text("PSRC ??", v->button);
    } else {
        char name[KV_NAME + 1];
        kv_name(name, pt_source_name(s->preset));
        lcd_set_legend_text(name, v->button);
    }
    return CLR_DISPLAY;
}

// A string key shows its string, five characters a line.
static int rule_string(const KeyView *v)
{
    if (v->slot >= PT_STRING_SLOTS) {
        lcd_blank_key(v->button);
        return CLR_NEUTRAL;
    }
    const char *str = panel_tables()->string[v->slot];
    const size_t n = strnlen(str, PT_STRING_LEN);
    char l[3][LCD_LINE + 1] = {};
    for (int i = 0; i < 3 && size_t(i * LCD_LINE) < n; ++i)
        snprintf(l[i], sizeof l[i], "%.5s", str + i * LCD_LINE);
    lcd_set_legend(l[0], l[1], n > 2 * LCD_LINE ? l[2] : nullptr, v->button, 0);
    return CLR_NEUTRAL;
}

// "TOGLE"/"CHOP" over the two source numbers.
static void two_sources(const KeyView *v, const char *title, int a, int b)
{
    char l2[16], l3[16];
    snprintf(l2, sizeof l2, " %2u ", unsigned(a + 1));
    snprintf(l3, sizeof l3, " %2u ", unsigned(b + 1));
    three_lines(v->button, title, l2, l3);
}

static int rule_dest_src(const KeyView *v, const SubpanelState *s)
{
    if (v->value >= panel_tables()->dests.count) {
        lcd_blank_key(v->button);
        return CLR_DISPLAY;
    }
    char dest[KV_NAME + 1], src[KV_NAME + 1];
    kv_name(dest, pt_dest_name(v->value));
    name_of_source(src, kv_routed(v->value, s->level_mask));
    legend_over(v->button, dest, src);
    return CLR_DISPLAY;
}

// The destination list: key value n shows the list's n-th destination.
static int rule_dest_list(const KeyView *v)
{
    if (v->value >= ds_list_count()) {
        lcd_blank_key(v->button);
        return CLR_DISPLAY;
    }
    char name[KV_NAME + 1];
    kv_name(name, pt_dest_name(ds_list()[v->value]));
    lcd_set_legend_text(name, v->button);
    return CLR_DISPLAY;
}

static int rule_router_key(const KeyView *v)
{
    const RouterKey *r = kv_router_key(v->key);
    lcd_set_legend_text(r->legend, v->button);
    return OWN_CODE | r->colour;
}

// Keys that show nothing but their colour: blank (or their configured
// legend) drawn once, on a full refresh.
static int rule_plain(const KeyView *v, int full, int configured)
{
    if (full) {
        if (configured && v->legend)
            lcd_set_legend_text(v->legend, v->button);
        else
            lcd_blank_key(v->button);
    }
    return CLR_SOURCE;
}

static int on_off(int on, int on_entry, int off_entry)
{
    return on ? on_entry : off_entry;
}

static int apply_rule(const KeyView *v, SubpanelState *s, int full)
{
    const PanelFlags *f = ctl_flags();
    const MenuPages *m = ctl_pages();
    switch (v->type) {
    case BT_NONE: return rule_plain(v, full, 1);
    case BT_PANEL_LOCK:
        configured_or(v, "PANELLOCK ");
        return on_off(f->panel_lock, CLR_LOCK_ON, CLR_LOCK_OFF);
    case BT_LAST_MENU: configured_or(v, "LAST MENU "); return CLR_NEUTRAL;
    case BT_TAKE_SNAPSHOT: configured_or(v, "TAKE SNAP "); return CLR_IDLE;
    case BT_PLAY_SNAPSHOT:
        configured_or(v, "PLAY SNAP ");
        return on_off(menu_snapshot_held(), CLR_ACTIVE, CLR_IDLE);
    case BT_IO_MODE:
        configured_or(v, "Ip/Op MODE");
        return on_off(f->number_mode, CLR_MODE_ON, CLR_NEUTRAL);
    case BT_SECONDARY_MENU: return rule_menu(v, "SMenu", m->secondary);
    case BT_MENU: return rule_menu(v, "Menu ", m->primary);
    case BT_SOURCE: return rule_source(v, s);
    case BT_DESTINATION:
    case BT_DESTINATION_ALT: return rule_destination(v, s);
    case BT_LEVEL:
    case BT_LEVEL_ALT: return rule_level(v, s);
    case BT_LOCKS: return rule_locks(v, s);
    case BT_SRC_SCROLL_UP:
    case BT_DST_SCROLL_UP: lcd_set_graphic(v->button, LCD_GRAPHIC_UP); return CLR_NEUTRAL;
    case BT_SRC_SCROLL_DOWN:
    case BT_DST_SCROLL_DOWN: lcd_set_graphic(v->button, LCD_GRAPHIC_DOWN); return CLR_NEUTRAL;
    case BT_SRC_SHIFT:
    case BT_DST_SHIFT:
        lcd_set_graphic(v->button, kv_offset(v, v->type == BT_SRC_SHIFT) == 0 ? LCD_GRAPHIC_DOWN : LCD_GRAPHIC_UP);
        return CLR_NEUTRAL;
    case BT_CURRENT_SOURCE: return rule_current_source(v, s);
    case BT_CURRENT_DST_SRC: return rule_dest_source(v, s);
    case BT_CURRENT_DEST: return rule_current_dest(v, s);
    case BT_SALVO:
        configured_or(v, "SALVO     ");
        return on_off(kv_pressed_within(v->key, LK_SALVO_MS), CLR_ACTIVE, CLR_IDLE);
    case BT_ENABLE:
        if (full)
            configured_or(v, "ENAB      ");
        return on_off(plat_key_find_held(BT_ENABLE, uint8_t(v->sp)) != PLAT_NO_KEY, CLR_PRESET_ON, CLR_NEUTRAL);
    case BT_SOURCE_PRESET: return rule_source_preset(v, s);
    case BT_PROGRAM_MODE:
        configured_or(v, "PROGMODE");
        return on_off(menu_program_mode_on(), CLR_MODE_ON, CLR_NEUTRAL);
    case BT_TAKE: return rule_take(v, s);
    case BT_TAKE_LEVEL: return rule_level_take(v, s);
    case BT_PRESET_DISPLAY: return rule_preset_display(v, s);
    case BT_ADD_STRING:
    case BT_ADD_STRING_CHAR:
    case BT_APPEND_STRING: return rule_string(v);
    case BT_PRESET_CLEAR: three_lines(v->button, "Prst", "Clear", nullptr); return CLR_NEUTRAL;
    case BT_DELETE_LAST: three_lines(v->button, "Del", "", nullptr); return CLR_NEUTRAL;
    case BT_DEST_TAKE: three_lines(v->button, "Dst", "Take", "     "); return CLR_NEUTRAL;
    case BT_DEST_LIST: return rule_dest_list(v);
    case BT_PREV_DEST: configured_or(v, "PREV DEST "); return CLR_NEUTRAL;
    case BT_NEXT_DEST: configured_or(v, "NEXT DEST "); return CLR_NEUTRAL;
    case BT_PREV_SOURCE: configured_or(v, "PREV SRCE "); return CLR_NEUTRAL;
    case BT_NEXT_SOURCE: configured_or(v, "NEXT SRCE "); return CLR_NEUTRAL;
    case BT_PREV_PRESET: configured_or(v, "PREV PSRC "); return CLR_NEUTRAL;
    case BT_NEXT_PRESET: configured_or(v, "NEXT PSRC "); return CLR_NEUTRAL;
    case BT_TAKE_CLEAR:
        three_lines(v->button, "Take", "Clear", "     ");
        return on_off(s->take_dest != CTL_NONE, CLR_ACTIVE, CLR_IDLE);
    case BT_DEST_MODE: three_lines(v->button, "Dst", "Mode", "     "); return CLR_NEUTRAL;
    case BT_SOURCE_TOGGLE:
        two_sources(v, "TOGLE", v->value, v->value2);
        return on_off(menu_toggle_phase(), CLR_MODE_ON, CLR_NEUTRAL);
    case BT_SOURCE_CHOP:
        menu_chop_tick(v->slot, v->value2 >> 13);
        two_sources(v, "CHOP", v->value, v->value2 & 0x1FFF);
        return on_off(menu_chop_running(v->slot), CLR_MODE_ON, CLR_NEUTRAL);
    case BT_SETUP: three_lines(v->button, "SETUP", "", nullptr); return CLR_NEUTRAL;
    case BT_DEST_SRC_TAKE:
    case BT_DEST_SRC_DISPLAY: return rule_dest_src(v, s);
    case BT_PRESET_TOGGLE:
        configured_or(v, "TOGGLPRSET");
        return on_off(s->toggle_preset, CLR_MODE_ON, CLR_NEUTRAL);
    case BT_PRESET_CHOP:
        menu_preset_chop_tick(v->sp, v->value2 >> 13);
        configured_or(v, "CHOP PRSET");
        return on_off(s->chop_preset, CLR_MODE_ON, CLR_NEUTRAL);
    case BT_KEY_REPORT: return rule_router_key(v);
    default: return rule_plain(v, full, 0);
    }
}

void lk_refresh_key(int key, int full)
{
    KeyView v;
    kv_read(key, &v);
    if (v.button > lcd_keys_total())
        return;
    // Locate: every key flashes its colour, the legends stay.
    if (panels_locate()) {
        lcd_set_colour(v.button, clr_code(rf_flash_phase() ? CLR_ACTIVE : CLR_IDLE));
        return;
    }
    SubpanelState *s = ctl_subpanel(v.sp);
    if (!s)
        s = ctl_subpanel(0);
    const int colour = apply_rule(&v, s, full);
    lcd_set_colour(v.button, (colour & OWN_CODE) ? uint8_t(colour & 0xFF) : clr_code(colour));
}

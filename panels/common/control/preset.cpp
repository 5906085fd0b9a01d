#include "control/preset.h"

#include "config/panel_tables.h"
#include "control/button_type.h"
#include "control/menus.h"
#include "control/name_search.h"
#include "control/pages.h"
#include "control/take.h"

#include <cstring>

NameEntry *pre_active_entry(SubpanelState *s)
{
    return ctl_flags()->dest_mode ? &s->dest_entry : &s->preset_entry;
}

void pre_set(SubpanelState *s, int source)
{
    s->preset = uint16_t(source);
    s->last_preset = uint16_t(source);
    ns_copy(s->preset_entry.text, pt_source_name(source));
    s->preset_entry.complete = 0;
    s->preset_entry.in_progress = 0;
}

int pre_auto_take_mode()
{
    switch (panel_tables()->take_mode) {
    case 1: return TAKE_AUTO_SELECTED;
    case 2: return TAKE_AUTO_FIXED;
    default: return TAKE_PRESET_ONLY;
    }
}

void pre_auto_take(int sp, int key)
{
    const int mode = pre_auto_take_mode();
    if (!ctl_flags()->dest_mode && mode != TAKE_PRESET_ONLY)
        take(sp, 0, 0, key, mode);
}

void pre_take_clear(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    s->preset = CTL_NONE;
    s->preset_entry.text[0] = '\0';
    s->preset_entry.complete = 0;
    s->preset_entry.in_progress = 0;
    s->take_dest = CTL_NONE;
    ctl_flags()->take_error = 0;
    ctl_flags()->dest_error = 0;
}

void pre_end_category(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s || s->category_key == CTL_NO_CATEGORY)
        return;
    s->category_key = CTL_NO_CATEGORY;
    NameEntry *entries[2] = {&s->preset_entry, &s->dest_entry};
    for (NameEntry *e : entries) {
        e->category[0] = '\0';
        e->category_complete = 0;
    }
}

void pre_preset_clear(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    pre_end_category(sp);
    // Nothing left that a take could route: neither the preset source nor
    // a name it would look up. In destination mode the typed destination
    // goes as well.
    s->preset = CTL_NONE;
    ctl_entry_clear(&s->preset_entry);
    ctl_entry_clear(pre_active_entry(s));
    ctl_flags()->take_error = 0;
}

void pre_source_preset(int v, int sp, int group, int key)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    if (const PageOffsets *p = pg_offsets(sp, group))
        v += p->src_offset;
    if (v < 0 || v >= panel_tables()->sources.count)
        return;
    // The same source again takes the preset back.
    if (v == s->preset) {
        s->last_preset = uint16_t(v);
        pre_take_clear(sp);
        return;
    }
    pre_set(s, v);
    ctl_flags()->take_error = 0;
    s->take_dest = CTL_NONE;
    pre_auto_take(sp, key);
}

void pre_step_preset(int sp, int forward, int key)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    const PanelTables *pt = panel_tables();
    // From the source of a typed name. A text that names the last preset
    // itself (a key put both there) stands for that source: another
    // source of the same name, spaces aside, must not replace it.
    int base = s->last_preset;
    if (s->preset_entry.text[0] && !ns_names(s->preset_entry.text, NS_SOURCES, base)) {
        const int m = ns_search(s->preset_entry.text, NS_SOURCES, 0, 1, 0);
        if (m != NS_NOT_FOUND)
            base = m;
    }
    const int prev = pt->prev_preset;
    const int next = pt->next_preset;
    int v;
    if (forward)
        v = (base >= prev && base < next) ? base + 1 : prev;
    else
        v = (base > prev && base <= next) ? base - 1 : next;
    if (v < 0 || v >= pt->sources.count)
        return;
    pre_set(s, v);
    ctl_flags()->take_error = 0;
    s->take_dest = CTL_NONE;
    pre_auto_take(sp, key);
}

// The ten-character string value of a slot as text (only the first slots
// carry one).
static void slot_string(int slot, char *out)
{
    if (slot >= 0 && slot < PT_STRING_SLOTS)
        ns_copy_field(out, panel_tables()->string[slot], PT_LEGEND_LEN);
    else
        out[0] = '\0';
}

static void append_character(char *text, int slot)
{
    if (slot < 0 || slot >= PT_STRING_SLOTS)
        return;
    const char c[2] = {char(panel_tables()->character[slot]), '\0'};
    ns_append(text, c);
}

void pre_string_key(int type, int slot, int sp, int key)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    NameEntry *e = pre_active_entry(s);
    char str[CTL_TEXT_LEN];
    slot_string(slot, str);
    if (type == BT_APPEND_STRING)
        ns_append(e->text, str);
    else if (type == BT_ADD_STRING_CHAR && e->complete)
        append_character(e->text, slot);
    else
        ns_copy(e->text, str);
    e->complete = 1;
    e->in_progress = 1;
    pre_auto_take(sp, key);
}

void pre_category_key(int type, int slot, int sp, int key)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    if (s->category_key == slot) {
        pre_end_category(sp);
        return;
    }
    NameEntry *e = pre_active_entry(s);
    if (type == BT_CATEGORY_CHAR && s->category_key != CTL_NO_CATEGORY && e->category_complete) {
        // Within a category the key adds its character to the name.
        append_character(e->text, slot);
    } else {
        pre_end_category(sp);
        s->category_key = int16_t(slot);
        char str[CTL_TEXT_LEN];
        slot_string(slot, str);
        ns_copy(e->text, str);
        ns_copy(e->category, str);
        e->category_complete = 1;
        e->complete = 1;
        menu_category_lookup(sp);
    }
    e->in_progress = 1;
    pre_auto_take(sp, key);
}

void pre_delete_last(int sp)
{
    SubpanelState *s = ctl_subpanel(sp);
    if (!s)
        return;
    NameEntry *e = pre_active_entry(s);
    const bool category = s->category_key != CTL_NO_CATEGORY;
    char *text = category ? e->category : e->text;
    const size_t n = strlen(text);
    if (n >= 8)
        text[7] = '\0';
    else if (n > 0)
        text[n - 1] = '\0';
    // Deleted down to nothing (the preset text, or in destination mode the
    // destination text): the preset is cleared with it.
    if (text[0] || category)
        return;
    pre_preset_clear(sp);
}

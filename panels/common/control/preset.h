#ifndef PRESET_H
#define PRESET_H

// The preset of a subpanel: the source the next take routes, chosen by a
// key, by stepping, or by a name typed on the string keys (into the
// destination text instead while in destination mode), and the automatic
// take some configurations make after every preset.
//
// slot is the slot of the key pressed (its string value and character);
// key is the physical key, handed on to the take.

#include "control/ctl_state.h"

// Take modes: where a take goes.
enum {
    TAKE_SELECTED = 0,        // the subpanel's selected destination
    TAKE_DISPLAY = 1,         // the destination of the display numbered by the key
    TAKE_PRESET_ONLY = 2,     // no automatic take: a Take key completes the preset
    TAKE_AUTO_SELECTED = 3,   // automatic take onto the selected destination
    TAKE_AUTO_FIXED = 4,      // automatic take onto the panel's fixed destination
    TAKE_KEY = 5,             // a Take key: 1 or 0 by model and key
    TAKE_CHOP = 6             // the preset chop's take onto the recorded destination
};

// Source Preset key: presets source v (page offset of group added);
// pressed again, clears the preset.
void pre_source_preset(int v, int sp, int group, int key);
// Previous/next source preset within the configured bounds, wrapping.
void pre_step_preset(int sp, int forward, int key);
// Forgets the preset, its text, the recorded take and both error flags.
void pre_take_clear(int sp);
// Preset Clear key: no preset, no typed text, no category entry.
void pre_preset_clear(int sp);
// Add String (33), Add String/Character (34), Append String (36).
void pre_string_key(int type, int slot, int sp, int key);
// Clear + Add Category String (60) / or Add Character (61).
void pre_category_key(int type, int slot, int sp, int key);
// Delete Last Character.
void pre_delete_last(int sp);
// Ends a category entry in progress.
void pre_end_category(int sp);

// The entry the string keys write: the destination text in destination
// mode, else the preset text.
NameEntry *pre_active_entry(SubpanelState *s);
// Makes source the preset (and the stepping base) with its name as text.
void pre_set(SubpanelState *s, int source);

// The automatic take after a preset key: mode 3 or 4 by the configured take
// mode (binary configurations only), else 2 (none).
int pre_auto_take_mode();
void pre_auto_take(int sp, int key);

#endif

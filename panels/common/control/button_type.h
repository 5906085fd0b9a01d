#ifndef BUTTON_TYPE_H
#define BUTTON_TYPE_H

// ButtonType: what a key does. The codes with a configuration name are
// listed with it; the others come only from binary configurations.
enum ButtonType {
    BT_NONE = 0,
    BT_PANEL_LOCK = 1,           // "Panel Lock"
    BT_LAST_MENU = 2,            // "Last Menu"
    BT_TAKE_SNAPSHOT = 3,
    BT_PLAY_SNAPSHOT = 4,
    BT_IO_MODE = 5,              // names or router numbers on display keys
    BT_SECONDARY_MENU = 9,       // "Secondary Menu"
    BT_SOURCE = 10,              // "Source"
    BT_DESTINATION = 11,         // "Destination"
    BT_LEVEL = 12,               // "Level"
    BT_LOCKS = 13,               // "Locks"
    BT_MENU = 14,                // "Primary Menu", "Menu"
    BT_SRC_SCROLL_UP = 15,       // "Src Scroll Up"
    BT_DST_SCROLL_UP = 16,       // "Dst Scroll Up"
    BT_CURRENT_SOURCE = 17,      // "Current Source Display"
    BT_CURRENT_DST_SRC = 18,     // "Current Dst Src Display"
    BT_CURRENT_DEST = 19,        // "Current Destination Display"
    BT_SALVO = 20,               // "System Salvo"
    BT_DEST_MEMORY = 21,
    BT_ENABLE = 22,              // "Enable"
    BT_LEVEL_XOR = 23,
    BT_SRC_SHIFT = 24,           // "Src Shift"
    BT_DST_SHIFT = 25,           // "Dst Shift"
    BT_SOURCE_PRESET = 26,       // "Source Preset"
    BT_PROGRAM_MODE = 27,
    BT_SOURCE_MEMORY = 28,
    BT_TAKE = 29,                // "Take"
    BT_TAKE_LEVEL = 30,          // "Take Level Preset"
    BT_PRESET_DISPLAY = 31,      // "Source Preset Display"
    BT_PRESET_MEMORY = 32,
    BT_ADD_STRING = 33,          // "Add String"
    BT_ADD_STRING_CHAR = 34,     // "Add String/Character"
    BT_PRESET_CLEAR = 35,        // "Preset Clear"
    BT_APPEND_STRING = 36,       // "Append String"
    BT_DELETE_LAST = 37,         // "Delete Last Character"
    BT_DEST_TAKE = 38,           // "Destination Take"
    BT_LEVEL_ALT = 41,
    BT_DEST_LIST = 42,
    BT_SRC_SCROLL_DOWN = 43,     // "Src Scroll Down"
    BT_DST_SCROLL_DOWN = 44,     // "Dst Scroll Down"
    BT_PREV_DEST = 47,           // "Previous Destination"
    BT_NEXT_DEST = 48,           // "Next Destination"
    BT_PREV_SOURCE = 49,
    BT_NEXT_SOURCE = 50,
    BT_PREV_PRESET = 51,         // "Prev Source Preset"
    BT_NEXT_PRESET = 52,         // "Next Source Preset"
    BT_SHARED_DEST = 53,
    BT_PRESET_TO_DEST = 54,
    BT_DESTINATION_ALT = 55,
    BT_TAKE_CLEAR = 58,          // "Take Clear", "Take Key Clear"
    BT_DEST_MODE = 59,           // "Destination Mode"
    BT_CATEGORY = 60,            // "Clear + Add Category String"
    BT_CATEGORY_CHAR = 61,       // "... or Add Character"
    BT_SOURCE_TOGGLE = 63,       // "Source Toggle"
    BT_SOURCE_CHOP = 64,         // "Source Chop"
    BT_SETUP = 65,               // "Setup"
    BT_DEST_SRC_TAKE = 66,       // "Dest Src Take"
    BT_DEST_SRC_DISPLAY = 67,    // "Dest Src Display"
    BT_PRESET_TOGGLE = 68,       // "Source Preset Toggle"
    BT_PRESET_CHOP = 69,         // "Source Preset Chop"
    BT_KEY_REPORT = 199
};

#endif

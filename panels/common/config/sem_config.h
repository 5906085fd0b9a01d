#ifndef SEM_CONFIG_H
#define SEM_CONFIG_H

// The meaning of a PCSL panel configuration: every object and property the
// parser reports is stored into the configuration store (config_store.h).
// One SemConfig lives for one parse; the store outlives it.

#include "semantic.h"

#include <cstdint>

// Object types, found by the object's exact name.
enum CfgObjectType {
    COBJ_UNKNOWN = 0,
    COBJ_SETTINGS = 1, COBJ_SUBPANELS, COBJ_SUBPANEL, COBJ_RESET_BUTTONS, COBJ_RESET_BUTTON,
    COBJ_MENUS, COBJ_MENU, COBJ_MENU_BUTTONS, COBJ_BUTTON, COBJ_BTN, COBJ_SOURCES, COBJ_SOURCE,
    COBJ_SRC, COBJ_DESTS, COBJ_DEST, COBJ_DST, COBJ_COLOURS, COBJ_CLR, COBJ_LEVELS, COBJ_LEVEL,
    COBJ_JOYSTICK, COBJ_JS_MAPPING, COBJ_DISPLAYS, COBJ_DISPLAY, COBJ_SLEV, COBJ_DLEV
};

// Object type of a name; COBJ_UNKNOWN when it names none.
int cfg_object_type(const char *name);
// Property key code (27..67) of a key; 0 when unknown.
int cfg_key_code(const char *key);
// ButtonType of a name as written in "bT"; 0 when unknown.
int cfg_button_type(const char *name);

class SemConfig : public Semantics
{
public:
    SemConfig();

    void onObjectBegin() override;
    void onProperty(const char *key, const char *op, const char *value) override;

private:
    void selectRecord(int type, int index);
    void applyKey(int code, const char *value);
    void applyButtonKey(int code, const char *value);
    void applyLevelNumber(int type, const char *key, const char *value);

    // The records made current last, by kind (0-based).
    int menu_, key_, source_, dest_, colour_, level_;
    int subpanel_, reset_, joystick_, display_;
};

#endif

#ifndef LCD_KEYS_H
#define LCD_KEYS_H

// The key refresher of the LCD-key models (SK1100A, SK1300A, SK1400A,
// SK1500A): each key's legend and colour computed from its ButtonType and
// the panel state, handed to the legend cache, which passes on only what
// changed.

enum {
    LK_SALVO_MS = 3000          // a salvo key stays active this long after release
};

// Redraws physical key k (0-based). On a full refresh also the keys that
// change only then (menu-independent legends, keys without a function).
void lk_refresh_key(int key, int full);

// Panel setup: the current-source display keys may ask the router again.
void lk_panel_setup();

#endif

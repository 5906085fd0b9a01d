#ifndef LAMP_KEYS_H
#define LAMP_KEYS_H

// The key refresher of the lamp-key models (every model without LCD keys):
// each key's lamp, off, on or flashing, from its ButtonType and the panel
// state; and the models' extra indicator lamps.

enum {
    LAMP_SALVO_MS = 3000,       // a salvo key stays lit this long after release
    LAMP_TOGGLE_MS = 500        // a toggle key stays lit this long after release
};

// Redraws the lamp of physical key k (0-based). On a full refresh the keys
// whose lamp has no rule are switched off as well.
void lamp_refresh_key(int key, int full);

// The extra indicator lamps of the model (their number from the product
// table): each shows whether the destination its key stands for is locked
// or protected.
void lamp_refresh_extra();

// The lamp index the model's first extra lamp is mixed into minus one (the
// platform's extra-lamp index), -1 on models without extra lamps.
int lamp_extra_base();

#endif

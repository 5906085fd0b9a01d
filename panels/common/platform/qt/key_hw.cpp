// Key hardware of the emulated panel: the key state array that the host's
// key events fill in.

#include "plat.h"

static uint8_t s_key_state[PLAT_KEY_COUNT];

uint8_t *plat_key_states()
{
    return s_key_state;
}

#ifndef KEYS_H
#define KEYS_H

// The key handler: every key event of the panel, one at a time, from the
// loop pass. It finds the key's definition on the current pages and acts on
// its ButtonType, within the rules of the panel's state (locate mode, the
// setup menu, not online, releases and repeats, the panel lock).

#include <cstdint>

// kind 'P' (press), 'A' (repeat while held), 'R' (release); physical key
// 0..127.
void keys_event(uint8_t kind, uint8_t key);

#endif

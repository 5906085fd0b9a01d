#ifndef PLAT_H
#define PLAT_H

// The firmware core's view of its platform. The core was written for panel
// hardware; everything it needs from the machine it runs on goes through
// these calls. The Qt platform layer (platform/qt) implements them on top of
// the firmware library's host callbacks; unit tests link a double.

#include <cstdint>

enum { PLAT_KEY_COUNT = 128 };

// The key state array: one byte per key (index = key number - 1), 1 while
// the key is pressed. The firmware wrapper writes it from the host's key
// events between loop ticks; the key scan reads it in the loop.
uint8_t *plat_key_states();

// printf-style text to the host's panel log. Output longer than 1023
// characters is cut. Dropped while no firmware object exists.
void format_msg(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif

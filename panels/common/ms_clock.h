#ifndef MS_CLOCK_H
#define MS_CLOCK_H

// The firmware's millisecond clock: milliseconds since the firmware first
// asked for the time. Wraps after about 49 days; callers compare differences.

#include <cstdint>

uint32_t msc_now();

// Tests drive time themselves: while a source is set, msc_now() returns *ms.
void msc_set_test_source(const uint32_t *ms);

#endif

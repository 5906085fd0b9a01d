#ifndef MS_CLOCK_H
#define MS_CLOCK_H

// The firmware's millisecond clock: milliseconds since the firmware first
// asked for the time. Wraps after about 49 days; callers compare differences.

#include <cstdint>

uint32_t msc_now();

// Tests drive time themselves: while a source is set, msc_now() returns *ms.
void msc_set_test_source(const uint32_t *ms);

// The loop tick's time. The firmware thread reads the steady clock once as
// a tick begins and hands it here (nanoseconds since the steady clock's
// epoch); until msc_tick_end(), msc_now() on that thread returns that time
// in milliseconds instead of reading the clock, so that a pass reads the
// clock once however often its steps ask. Other threads (the FTP service)
// still read the clock. A test source outranks the tick's time.
void msc_tick_begin(int64_t steady_ns);
void msc_tick_end();

#endif

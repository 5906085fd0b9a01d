#ifndef TIMER_LIST_H
#define TIMER_LIST_H

// The firmware's timer list: entries sorted by due time, each holding its
// delay relative to the entry before it. Due entries run their actions in
// the loop pass. Entries come from a fixed pool.

#include <cstdint>

enum { TL_POOL = 32, TL_MAX_ACTIONS = 10 };

typedef void (*tl_fn)(int arg);

void tl_init();
// An entry that sets *flag to 1 after delay_ms. Returns its id, -1 when the
// pool is exhausted.
int tl_start_flag(uint32_t delay_ms, int *flag);
// An entry that calls fn(arg) after delay_ms.
int tl_start_call(uint32_t delay_ms, tl_fn fn, int arg);
// Removes the entry; its delay passes to its successor. False if unknown.
bool tl_cancel(int id);
// Runs and removes every entry that is due.
void tl_expire();
// Number of entries waiting.
int tl_count();

#endif

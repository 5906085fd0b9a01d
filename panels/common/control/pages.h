#ifndef PAGES_H
#define PAGES_H

// Menu pages as key handling sees them: the slot each physical key reads on
// the current pages, the page offsets of the paged source and destination
// keys (scroll and shift move them), and what the keys of the current page
// register: the keys the key scan tracks as held (Enable, held Locks,
// Source Toggle and Source Chop) and the destination list display.

#include "control/ctl_state.h"

// The slot physical key k (0..127) reads on the current pages, or PT_SLOTS.
int pg_slot(int key);

// The page records of subpanel sp for paging group g (1 or 2), or null.
PageOffsets *pg_offsets(int sp, int group);

// Re-evaluates the current page: resets every subpanel's page records,
// then counts each page's source and destination keys per group and
// subpanel (the scroll step), their lowest values and the highest values
// the scroll-down keys give, and registers the held keys with the key scan.
// Run by panel setup and after every menu page selection.
void pg_evaluate();

// Non-zero when subpanel sp has an Enable key on the current page.
int pg_has_enable_key(int sp);
// Non-zero when the current page has a destination list display.
int pg_dest_list_display();

// Scroll keys: moves the group's source (or destination) offset up or down
// by its step.
void pg_scroll(int sp, int group, int source_side, int down);
// Shift keys: the group's offset becomes v, or 0 when it was shifted.
void pg_shift(int sp, int v, int group, int source_side);

#endif

#ifndef NAMES_H
#define NAMES_H

// Display names of destinations, sources and levels as the router may ask
// for them by number. They are the configuration's names in the runtime
// tables (panel_tables.h): up to 10 characters (15 from a binary image);
// the router link sends the first 8.

#include <cstdint>

enum { NAME_LEN = 10, NAMES_MAX = 2048, NAMES_LEVELS = 26 };

enum NameKind { NAME_DEST = 0, NAME_SOURCE = 1, NAME_LEVEL = 2 };

// Empties the three name tables (their counts become 0).
void names_clear();
// Sets name i (0-based) of a kind; the count grows to cover it and names
// between stay empty. Longer names are cut to 10 characters. Returns false
// for an index out of range. For tests and tools: configurations fill the
// tables themselves.
bool names_set(int kind, int i, const char *name);
// Name i of a kind (terminated), or null beyond the configured count.
const char *names_get(int kind, int i);
int names_count(int kind);

#endif

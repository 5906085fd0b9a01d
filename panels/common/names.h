#ifndef NAMES_H
#define NAMES_H

// Display names of destinations, sources and levels, as the configuration
// gives them: up to 8 characters each. The router may ask for them by number.

#include <cstdint>

enum { NAME_LEN = 8, NAMES_MAX = 2048, NAMES_LEVELS = 26 };

enum NameKind { NAME_DEST = 0, NAME_SOURCE = 1, NAME_LEVEL = 2 };

void names_clear();
// Sets name i (0-based) of a kind; the count grows to cover it. Longer
// names are cut to 8 characters. Returns false for an index out of range.
bool names_set(int kind, int i, const char *name);
// Name i of a kind (terminated), or null when there is none.
const char *names_get(int kind, int i);
int names_count(int kind);

#endif

#include "names.h"

#include <cstring>

static char s_dest[NAMES_MAX][NAME_LEN + 1];
static char s_source[NAMES_MAX][NAME_LEN + 1];
static char s_level[NAMES_LEVELS][NAME_LEN + 1];
static int s_count[3];

static char (*table(int kind, int *capacity))[NAME_LEN + 1]
{
    switch (kind) {
    case NAME_DEST: *capacity = NAMES_MAX; return s_dest;
    case NAME_SOURCE: *capacity = NAMES_MAX; return s_source;
    case NAME_LEVEL: *capacity = NAMES_LEVELS; return s_level;
    default: *capacity = 0; return nullptr;
    }
}

void names_clear()
{
    s_count[0] = s_count[1] = s_count[2] = 0;
}

bool names_set(int kind, int i, const char *name)
{
    int cap = 0;
    char(*t)[NAME_LEN + 1] = table(kind, &cap);
    if (!t || i < 0 || i >= cap || !name)
        return false;
    // Names between the old count and i stay empty.
    for (int k = s_count[kind]; k < i; ++k)
        t[k][0] = '\0';
    strncpy(t[i], name, NAME_LEN);
    t[i][NAME_LEN] = '\0';
    if (i >= s_count[kind])
        s_count[kind] = i + 1;
    return true;
}

const char *names_get(int kind, int i)
{
    int cap = 0;
    char(*t)[NAME_LEN + 1] = table(kind, &cap);
    if (!t || i < 0 || i >= s_count[kind])
        return nullptr;
    return t[i];
}

int names_count(int kind)
{
    return (kind >= 0 && kind < 3) ? s_count[kind] : 0;
}

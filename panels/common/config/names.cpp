#include "config/names.h"

#include "config/panel_tables.h"

#include <cstring>

void names_clear()
{
    PanelTables *pt = panel_tables();
    pt->dests.count = 0;
    pt->sources.count = 0;
    pt->levels.count = 0;
}

// Name field i of a kind and the table's count; null out of range.
static char *name_field(int kind, int i, uint32_t *count)
{
    PanelTables *pt = panel_tables();
    switch (kind) {
    case NAME_DEST:
        *count = pt->dests.count;
        return (i >= 0 && i < PT_NAMES) ? pt->dests.name[i] : nullptr;
    case NAME_SOURCE:
        *count = pt->sources.count;
        return (i >= 0 && i < PT_NAMES) ? pt->sources.name[i] : nullptr;
    case NAME_LEVEL:
        *count = pt->levels.count;
        return (i >= 0 && i < PT_LEVELS) ? pt->levels.name[i] : nullptr;
    default:
        *count = 0;
        return nullptr;
    }
}

static void set_count(int kind, uint32_t n)
{
    PanelTables *pt = panel_tables();
    if (kind == NAME_DEST)
        pt->dests.count = uint16_t(n);
    else if (kind == NAME_SOURCE)
        pt->sources.count = uint16_t(n);
    else
        pt->levels.count = n;
}

bool names_set(int kind, int i, const char *name)
{
    uint32_t count = 0;
    char *field = name_field(kind, i, &count);
    if (!field || !name)
        return false;
    for (uint32_t k = count; k < uint32_t(i); ++k) {
        uint32_t unused;
        name_field(kind, int(k), &unused)[0] = '\0';
    }
    // Level fields are one byte shorter than the others.
    const size_t size = kind == NAME_LEVEL ? PT_LEVEL_NAME + 1 : PT_DISPLAY_NAME;
    memset(field, 0, size);
    strncpy(field, name, NAME_LEN);
    if (uint32_t(i) >= count)
        set_count(kind, uint32_t(i) + 1);
    return true;
}

const char *names_get(int kind, int i)
{
    uint32_t count = 0;
    const char *field = name_field(kind, i, &count);
    return (field && uint32_t(i) < count) ? field : nullptr;
}

int names_count(int kind)
{
    uint32_t count = 0;
    name_field(kind, 0, &count);
    return int(count);
}

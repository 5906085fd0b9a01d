#include "control/colours.h"

#include "config/panel_tables.h"

#include <cstring>

static uint8_t s_codes[CLR_ENTRIES];

void clr_copy()
{
    static_assert(int(CLR_ENTRIES) == int(PT_COLOURS), "one code per table entry");
    memcpy(s_codes, panel_tables()->colours, sizeof s_codes);
}

uint8_t clr_code(int entry)
{
    return (entry >= 0 && entry < CLR_ENTRIES) ? s_codes[entry] : s_codes[0];
}

int clr_level_entry(int level, int selected)
{
    if (level < 0 || level >= PT_LEVELS)
        return CLR_NEUTRAL;
    return CLR_LEVEL_BASE + 2 * level + (selected ? 1 : 0);
}

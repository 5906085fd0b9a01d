#include "config/config_asm.h"

#include "plat.h"

#include <cstring>

void cfgasm_clear(CfgAssembly *a)
{
    a->len = 0;
}

void cfgasm_begin(CfgAssembly *a)
{
    memcpy(a->data, "CONFIG\0\0\0\0", CFGLOAD_HEADER);
    a->len = CFGLOAD_HEADER;
}

bool cfgasm_append(CfgAssembly *a, const uint8_t *bytes, size_t n)
{
    if (n > CFGASM_CAPACITY - a->len)
        return false;
    if (n)
        memcpy(a->data + a->len, bytes, n);
    a->len += uint32_t(n);
    return true;
}

bool cfgasm_write(CfgAssembly *a)
{
    const bool stored = plat_config_write(a->data, &a->len) != 0;
    // The platform empties it; an assembly is empty after every write.
    a->len = 0;
    return stored;
}

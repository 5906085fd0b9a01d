#include "control/dest_status.h"

#include "config/panel_tables.h"
#include "link/router_cmd.h"

#include <cstring>

static uint8_t s_local[DS_DESTS];
static uint16_t s_list[DS_DESTS];
static int s_list_count;

uint8_t ds_status(int dest)
{
    if (dest < 0 || dest >= DS_DESTS)
        return 0;
    // The router's table holds only its own two bits; bit 0 is ours.
    return uint8_t((rcmd_lock(dest) & (DS_ROUTER_LOCK | DS_PROTECT)) | s_local[dest]);
}

void ds_set_local_lock(int dest, int on)
{
    if (dest >= 0 && dest < DS_DESTS)
        s_local[dest] = on ? DS_LOCAL_LOCK : 0;
}

int ds_refuses_take(int dest)
{
    return (ds_status(dest) & (DS_LOCAL_LOCK | DS_ROUTER_LOCK)) != 0;
}

int ds_refuses_route(int dest)
{
    return ds_status(dest) != 0;
}

void ds_clear()
{
    memset(s_local, 0, sizeof s_local);
    s_list_count = 0;
}

int ds_list_build(int level, int source)
{
    s_list_count = 0;
    if (source < 0 || source >= PT_NAMES)
        return 0;
    const int count = panel_tables()->dests.count;
    for (int d = 0; d < count && d < DS_DESTS; ++d)
        if (rcmd_source(level, d) == source)
            s_list[s_list_count++] = uint16_t(d);
    return s_list_count;
}

int ds_list_count()
{
    return s_list_count;
}

const uint16_t *ds_list()
{
    return s_list;
}

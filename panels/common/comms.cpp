// The comms state machine is not built yet: the panel stays offline and the
// refresh scheduler has nothing to draw.

#include "comms.h"

static int s_state = COMMS_OFFLINE;

void comms_init()
{
    s_state = COMMS_OFFLINE;
}

void comms_refresh_step() {}
void comms_keepalive_check() {}

int comms_state()
{
    return s_state;
}

// The router command set and network configuration reception are not built
// yet: "Q" texts and "B" blocks are received and acknowledged by the
// transport but change nothing.

#include "router_cmd.h"

void rcmd_receive(const uint8_t *, int) {}
void rcmd_config_block(const uint8_t *, int) {}
void rcmd_init() {}

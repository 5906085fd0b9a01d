#ifndef ROUTER_CMD_H
#define ROUTER_CMD_H

// The router's command set carried in "Q" messages, and the configuration
// blocks carried in "B" messages.

#include <cstdint>

// A "Q" message: router command text.
void rcmd_receive(const uint8_t *text, int len);
// A "B" message: one block of a configuration sent by the router.
void rcmd_config_block(const uint8_t *data, int len);
// Called when the router link initialises: installs the command handler and
// sender of the active router protocol.
void rcmd_init();

#endif

#ifndef START_PARAMS_H
#define START_PARAMS_H

#include <cstdint>
#include <cstddef>

// The start block the firmware thread hands, by value, to the loop
// initialisation: what the host gave to start() in the fixed layout the
// firmware keeps as its settings record. Zero-filled before it is filled in.
enum {
    SP_NAME_LEN = 20,   // product name, not terminated when 20 bytes long
    SP_PATH_LEN = 1024  // configuration file path, UTF-8
};

struct StartParams {
    char     product_name[SP_NAME_LEN]; // 0: panel type name
    uint8_t  ip_address[4];             // 20: own IPv4 address, most significant byte first
    uint32_t link_address;              // 24: serial router-link address (host leaves 0)
    uint32_t udp_port;                  // 28: UDP port to bind, host byte order
    uint32_t version_major;             // 32: firmware version shown by the comms display
    uint32_t version_minor;             // 36
    char     config_path[SP_PATH_LEN];  // 40: configuration file path
};

static_assert(sizeof(StartParams) == 1064, "start block is 1064 bytes");
static_assert(offsetof(StartParams, ip_address) == 20, "layout");
static_assert(offsetof(StartParams, link_address) == 24, "layout");
static_assert(offsetof(StartParams, udp_port) == 28, "layout");
static_assert(offsetof(StartParams, version_major) == 32, "layout");
static_assert(offsetof(StartParams, version_minor) == 36, "layout");
static_assert(offsetof(StartParams, config_path) == 40, "layout");

#endif

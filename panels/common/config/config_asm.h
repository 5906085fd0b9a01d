#ifndef CONFIG_ASM_H
#define CONFIG_ASM_H

// Assembly of a configuration file as it arrives in pieces (router-link
// blocks, FTP data), until it is written whole to the configuration file.
//
// Every writer owns an assembly of its own: the router-link download keeps
// one (link/netcfg.cpp) and the FTP upload another, so a download and an
// upload running at the same time on their two threads never share bytes.
// An assembly is only ever touched by the thread that owns it; writing the
// file (plat_config_write) is safe from either thread, the file being
// replaced as a whole.
//
// The capacity is the largest file the configuration loader accepts, its
// 10-byte header included: a piece that would not fit is refused and the
// assembly left as it was, so the owner can abandon the transfer.

#include "config/config_load.h"

#include <cstddef>
#include <cstdint>

enum { CFGASM_CAPACITY = CFGLOAD_MAX_LENGTH };

struct CfgAssembly {
    uint32_t len;
    uint8_t data[CFGASM_CAPACITY];
};

// Empties the assembly.
void cfgasm_clear(CfgAssembly *a);
// Empties it and puts the file header in: "CONFIG" and four zero bytes,
// where the length goes when the file is written.
void cfgasm_begin(CfgAssembly *a);
// Appends n bytes. False, with nothing appended, when they would not fit.
bool cfgasm_append(CfgAssembly *a, const uint8_t *bytes, size_t n);
// Writes the assembly to the configuration file (its length goes into the
// header), empties it and has the configuration reloaded at the next loop
// tick. False when the file could not be written (the old one stays).
bool cfgasm_write(CfgAssembly *a);

#endif

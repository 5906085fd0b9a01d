#ifndef CONFIG_LOAD_H
#define CONFIG_LOAD_H

// Loading a panel configuration: the configuration file ("CONFIG", a 4-byte
// big-endian total length, the payload) and configuration texts received
// over the network. A payload is plain PCSL text (it begins with "#####"),
// compressed PCSL text (LZ77, then adaptive Huffman; the text again begins
// with "#####") or, failing both, a binary configuration.

#include <cstddef>
#include <cstdint>

enum {
    CFGLOAD_HEADER = 10,
    CFGLOAD_MAX_LENGTH = 0x1FFFF
};

// The configuration file through the platform layer: loaded, applied, panel
// setup run and the configuration marked loaded. False when there is no
// acceptable file; nothing changes then.
bool cfgload_file();

// The same for a file's bytes already in memory (len = bytes available).
bool cfgload_file_data(const uint8_t *data, size_t len);

// A configuration text from the network: the body, its length, whether it
// is compressed and whether it is a sequence of parts (each a 4-byte
// big-endian length and its bytes; a zero length ends it; at most two are
// read). The first part replaces the stored configuration, a second adds to
// it. True when applied; false when a part is not acceptable (parts before
// it stay stored, nothing is applied). A multi-part body whose first length
// is 0 holds nothing: true, the configuration is marked loaded and nothing
// else changes; one too short for its first length is refused. The caller
// runs panel setup.
bool cfgload_network(const uint8_t *body, size_t len, bool compressed, bool multipart);

// CRC-16/XMODEM of the last accepted configuration file's payload.
uint16_t cfgload_crc();

#endif

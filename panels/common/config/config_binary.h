#ifndef CONFIG_BINARY_H
#define CONFIG_BINARY_H

// The binary panel configuration: an image of records {id (8 bits), length
// (16 bits, big-endian), data} that fills the runtime tables (panel_tables.h)
// directly. Known blocks:
//   100 key and legend tables (7996 bytes used)
//   101 subpanel defaults (48)
//   102 level names         103 destination table     104 source table
//   105 name list           106 displays (62)          107 take mode (4)
// Unknown records are skipped; short data leaves tables partly filled.

#include <cstddef>
#include <cstdint>

enum {
    CFGBIN_KEYS = 100, CFGBIN_SUBPANELS, CFGBIN_LEVELS, CFGBIN_DESTS, CFGBIN_SOURCES,
    CFGBIN_NAMES, CFGBIN_DISPLAYS, CFGBIN_TAKE
};

// Reader state between pieces of one image: records may be split anywhere.
struct CfgBinReader {
    int field;            // 0 id, 1 and 2 length bytes, 3 data
    uint8_t id;
    uint16_t length;
    uint32_t offset;      // within the block's data
    uint8_t header[4];    // first bytes of blocks 102 to 105
    uint8_t filled;       // bit (id - 100) per block seen
    uint32_t keys_got;    // bytes of block 100 read
    uint8_t colours[40];  // colour bytes of block 100
};

// Starts an image: clears the reader and the fill marks.
void cfgbin_begin(CfgBinReader *r);
// Reads the next piece of the image.
void cfgbin_feed(CfgBinReader *r, const uint8_t *data, size_t len);
// After the last piece: splits slot values by ButtonType, rearranges the
// colours and takes the numbers of the copied blocks as big-endian.
void cfgbin_finish(CfgBinReader *r);

// A whole image in one piece. Returns 1, or 0 at once for no data.
int readBinaryConfig(const uint8_t *data, size_t len);

#endif

#ifndef NETCFG_H
#define NETCFG_H

// Configuration download over the router link. The router sends a
// configuration in blocks, each a "B" message:
//
//   0     0 or 1 (anything else: the message is ignored)
//   1..2  kind, big-endian: 1 configuration file, 2 configuration image
//   3..4  not used
//   5     block control: bit 7 first block, bit 6 last block, bits 0..5 the
//         block number (0..63, wrapping)
//   6..   block data (at least one byte)
//
// Every block that is not ignored is answered "y" (taken) or "n" (refused),
// sequenced. A file (kind 1) is assembled behind a "CONFIG" header and
// written to the configuration file after its last block; the loop then
// loads it. An image (kind 2) is collected in memory (at most 76800 bytes;
// what comes beyond is dropped, and the image is then too short to apply)
// and applied directly after its last block: a 12-byte header (total length
// big-endian at offset 2, flags at offset 10) and a body of configuration
// text or a binary configuration.
//
// Nothing is stored or applied before the last block: a download that stops
// halfway, or that is refused, leaves the configuration file and the
// configuration in use as they were. While a download runs the keepalive
// is held off; one that takes no block for 10 s ends and lets it count
// again.

#include <cstddef>
#include <cstdint>

enum {
    NETCFG_KIND_FILE = 1,
    NETCFG_KIND_IMAGE = 2,
    NETCFG_BLOCK_DATA = 6,          // offset of the block data
    NETCFG_IMAGE_MAX = 76800,       // image buffer
    NETCFG_IMAGE_HEADER = 12,
    NETCFG_STALL_MS = 10000         // a download without a block this long ends
};

// Block control bits.
enum { NETCFG_FIRST = 0x80, NETCFG_LAST = 0x40, NETCFG_NUMBER = 0x3F };

// Image flags (header offset 10).
enum { NETCFG_TEXT = 0x02, NETCFG_COMPRESSED = 0x04, NETCFG_MULTIPART = 0x08 };

// Back to idle: no download in progress, no image applied yet.
void netcfg_init();

// The "B" handler: one block with its data length.
void netcfg_block(const uint8_t *data, int len);
// Run every loop pass: a download that has taken no block for
// NETCFG_STALL_MS ends (refused, cut off or abandoned by the router), so
// that it no longer holds the keepalive off.
void netcfg_check_progress();

// Applies a received configuration image of fill bytes (the image buffer's
// contents after the last block).
void netcfg_apply_image(const uint8_t *image, uint32_t fill);

// Checksum of a configuration: CRC-16/XMODEM over its payload (a file's
// bytes after the header, an image's body), printed and returned.
uint16_t netcfg_config_crc(const uint8_t *payload, size_t len);
// The configuration with this checksum is now in use: the QUERY reply
// reports it, and the last text image applied no longer counts as in use.
// Every successful configuration load calls it.
void netcfg_config_in_use(uint16_t crc);

// Change detection of text images: the djb2 hash (5381, then hash * 33 +
// byte) and a CRC-16 over polynomial 0x1021 from 0xFFFF in which each byte
// enters after the table step.
uint32_t netcfg_hash(const uint8_t *data, size_t len);
uint16_t netcfg_image_crc(const uint8_t *data, size_t len);

// Reception state, for the comms display and tests.
int netcfg_receiving();          // a download is in progress
uint32_t netcfg_file_len();      // bytes assembled of a file, header included
uint32_t netcfg_image_fill();    // bytes collected of an image

#endif

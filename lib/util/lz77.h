#ifndef LZ77_H
#define LZ77_H

#include <cstddef>
#include <cstdint>

// LZ77 codec over a caller's window buffer.
//
// Stream format, all numbers 16-bit big-endian: a sequence of records,
// each starting with a signed header H. H > 0: H literal bytes follow.
// H < 0: a copy of L bytes (a 16-bit length, 1..65535, follows the header)
// from distance -H (1..32767) back in the output already produced, one
// byte at a time, so a copy may overlap itself and repeat a pattern.
// H = 0, a copy of length 0 and a distance beyond the output held in the
// window are errors.
//
// The coder state sits at the start of the caller's buffer; the rest is the
// window. A decoder uses all of it as a ring of recent output. An encoder
// divides it into a history ring (a power of two, at most 32768 bytes) and
// the hash chains of its match search, so it wants a larger buffer for
// good compression: LZ77_ENCODER_BUFFER gives the full 32 KiB history.

enum {
    LZ77_MAX_LITERALS = 32767,
    LZ77_MAX_DISTANCE = 32767,
    LZ77_MAX_COPY = 65535,
    LZ77_MIN_MATCH = 4,
    LZ77_HASH_BITS = 12,
    LZ77_HASH_SIZE = 1 << LZ77_HASH_BITS,
    LZ77_MAX_HISTORY = 32768,
    // Input an encoder leaves unconsumed until it is told the data ended,
    // so that the last record can be kept at four bytes or more.
    LZ77_TAIL = 8,
};

struct Lz77State
{
    Lz77State *self;        // points at itself while the state is valid
    int32_t mode;           // 0 encode, 1 decode
    uint32_t window_size;
    uint8_t *window_start;
    uint32_t window_fill;   // bytes of output (or input) held
    int32_t pending_header; // literals still to copy, or -distance of a copy
    uint32_t pending_copy;  // copy bytes still to produce
    uint32_t window_pos;    // where the next byte goes in the ring

    // Encoder only.
    uint32_t *hash_head;    // per hash: 1 + newest position, 0 = none
    uint32_t *hash_prev;    // per ring slot: 1 + previous position
    uint32_t total;         // bytes encoded so far (absolute position)
    uint8_t final;          // no more input will follow
};

enum { LZ77_MODE_ENCODE = 0, LZ77_MODE_DECODE = 1 };

// Size of buffer an encoder needs for the full 32 KiB history.
enum { LZ77_ENCODER_BUFFER = 64 + (LZ77_MAX_HISTORY * 5) + LZ77_HASH_SIZE * 4 + 64 };

// Places a fresh state at the start of buf and returns it; null when the
// buffer cannot hold a state and some window.
Lz77State *lz77_init(void *buf, size_t size, int mode);

// Code from in to out; on entry the counts are what is available and the
// room, on return what was consumed and produced. Decoding returns 1 when
// it could neither consume nor produce (end of data), 0 for more, -1 for a
// state that is not one, -2 for the wrong mode, -3 for a bad record.
// Encoding returns 0, or -1/-2 as above.
int lz77_decode(Lz77State *s, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count);
int lz77_encode(Lz77State *s, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count);

#endif

#ifndef ECHAIN_H
#define ECHAIN_H

#include "eahufbuf.h"
#include "elz77buf.h"
#include "estreambuf.h"

#include <cstddef>

// The stream chains of a compressed configuration: LZ77 coding first,
// adaptive Huffman coding of the result second. Both objects are large
// (they own their buffers): give them static storage or the heap.

enum {
    ECHAIN_LZ77_BUFFER = 65536,     // window, input and output of the reader
    // Input and output of the Huffman stage of the reader: the LZ77 stage
    // asks it for a whole buffer at a time, so each refill decodes a few
    // thousand bytes instead of ten and the per-call work of the stream
    // chain stays small against the decoding.
    ECHAIN_AHUF_BUFFER = 4096,
};

// Read side: ELZ77Buf <- EAhufBuf <- EMemBuf over the coded bytes, with
// the buffer sizes a panel uses when it loads a configuration.
class EDecodeChain
{
public:
    EDecodeChain();

    // Opens the chain over data[0..size). Returns 0, or -1 for no data.
    int open(const char *data, size_t size);
    // The decoded characters.
    EStreamBuf *stream() { return &lz_; }
    // Closes both coding stages. Returns 0, or -1 when one was not open.
    int close();
    // True when the coded data was damaged (a codec reported an error).
    bool failed() const { return lz_.failed() || ahuf_.failed(); }

private:
    EMemBuf mem_;
    char ahuf_in_[ECHAIN_AHUF_BUFFER];
    char ahuf_out_[ECHAIN_AHUF_BUFFER];
    EAhufBuf ahuf_;
    char lz_window_[ECHAIN_LZ77_BUFFER];
    char lz_in_[ECHAIN_LZ77_BUFFER];
    char lz_out_[ECHAIN_LZ77_BUFFER];
    ELZ77Buf lz_;
};

// Write side: EMemBuf <- EAhufBuf <- ELZ77Buf. Produces what
// EDecodeChain reads.
class EEncodeChain
{
public:
    EEncodeChain();

    // Codes data[0..size) into out[0..cap). Returns the coded size, or -1
    // when it does not fit.
    long compress(const char *data, size_t size, char *out, size_t cap);

private:
    EMemBuf mem_;
    char ahuf_in_[4096];
    char ahuf_out_[4096];
    EAhufBuf ahuf_;
    alignas(8) char lz_window_[LZ77_ENCODER_BUFFER];
    char lz_in_[ECHAIN_LZ77_BUFFER];
    char lz_out_[ECHAIN_LZ77_BUFFER];
    ELZ77Buf lz_;
};

#endif

#ifndef ECOMPBUF_H
#define ECOMPBUF_H

#include "estreambuf.h"

#include <cstddef>
#include <cstdint>

// A coding stream buffer that sits on another stream buffer. Opened for
// reading ("r") it pulls coded data from the attached stream and delivers
// decoded characters; opened for writing (any other mode) it takes plain
// characters and pushes coded data to the attached stream.
//
// The caller's input buffer is the put area (and, when reading, holds the
// coded data not yet decoded); the output buffer, after a put-back zone, is
// the get area (and, when writing, holds coded data on its way out).
class ECompBuf : public EStreamBuf
{
public:
    ECompBuf(char *in, size_t in_size, char *out, size_t out_size, size_t putback_size);

    bool good() const override;
    int in_avail() override;
    int underflow() override;
    int overflow(int c) override;
    int flush() override;

    // Resets the codec for the direction of the stream.
    virtual void start_encoder() = 0;
    virtual void start_decoder() = 0;
    // Code from in to out. On entry *in_count and *out_count are the bytes
    // available and the room; on return, the bytes consumed and produced.
    // Result: 1 finished, 0 more to do, negative an error.
    virtual int encode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) = 0;
    virtual int decode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) = 0;
    // Writes the codec's tail to the sink once all input was encoded.
    // Returns 0, or -1 when the sink did not take everything.
    virtual int finish_encoding();

    // Attaches the stream and starts the codec: mode "r" decodes from it,
    // any other mode encodes to it. Returns 0, or -1 without a stream.
    int open(EStreamBuf *stream, const char *mode);
    // Finishes the stream (when writing, all pending data and the codec's
    // tail reach the sink). Returns 0, or -1 when it was not open or, when
    // writing, the sink did not take everything.
    int close();

    bool is_open() const { return open_; }
    bool failed() const { return error_; }

protected:
    // Encodes the put area and hands the coded bytes to the sink until the
    // put area has room (or is empty when draining). Returns false when the
    // sink refused data.
    bool drain_put_area(bool empty_it);
    // Hands n coded bytes of the output buffer to the sink.
    bool write_out(size_t n);

    bool compress_;
    EStreamBuf *stream_;
    char *in_;
    char *out_;
    size_t in_size_;
    size_t out_size_;
    size_t putback_size_;
    size_t in_fill_;    // reading: coded bytes in the input buffer
    size_t in_pos_;     // reading: how many of them were decoded
    bool open_;
    bool eod_;
    bool error_;
};

#endif

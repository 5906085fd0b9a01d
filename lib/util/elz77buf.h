#ifndef ELZ77BUF_H
#define ELZ77BUF_H

#include "ecompbuf.h"
#include "lz77.h"

// LZ77 coding stream (see lz77.h for the format). The caller supplies the
// window buffer; the coder state is kept at its start. The input buffer
// must hold at least 4 bytes for decoding and more than LZ77_TAIL bytes for
// encoding (with an output buffer of at least 8 bytes); smaller ones fail
// the stream at its first use.
class ELZ77Buf : public ECompBuf
{
public:
    ELZ77Buf(char *window, size_t window_size, char *in, size_t in_size,
             char *out, size_t out_size, size_t putback_size);

    void start_encoder() override;
    void start_decoder() override;
    int encode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) override;
    int decode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) override;
    int finish_encoding() override;

private:
    char *window_;
    size_t window_size_;
    Lz77State *state_;
};

#endif

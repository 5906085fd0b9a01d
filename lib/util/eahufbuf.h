#ifndef EAHUFBUF_H
#define EAHUFBUF_H

#include "adhc.h"
#include "ecompbuf.h"

// Adaptive Huffman coding stream (see adhc.h for the format).
class EAhufBuf : public ECompBuf
{
public:
    EAhufBuf(char *in, size_t in_size, char *out, size_t out_size, size_t putback_size);

    void start_encoder() override;
    void start_decoder() override;
    int encode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) override;
    int decode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count) override;
    int finish_encoding() override;

    const AdhcState &coder() const { return state_; }

private:
    AdhcState state_;
};

#endif

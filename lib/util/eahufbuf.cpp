#include "eahufbuf.h"

#include <cstdio>

EAhufBuf::EAhufBuf(char *in, size_t in_size, char *out, size_t out_size, size_t putback_size)
    : ECompBuf(in, in_size, out, out_size, putback_size)
{
    adhc_start(&state_, false);
}

void EAhufBuf::start_encoder()
{
    adhc_start(&state_, true);
}

void EAhufBuf::start_decoder()
{
    adhc_start(&state_, false);
}

int EAhufBuf::encode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count)
{
    return adhc_encode(&state_, in, in_count, out, out_count);
}

int EAhufBuf::decode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count)
{
    return adhc_decode(&state_, in, in_count, out, out_count);
}

int EAhufBuf::finish_encoding()
{
    if (!compress_)
        return 0;
    // The end symbol and the padding may need several output buffers.
    int ok = 0;
    for (;;) {
        size_t n = out_size_;
        int r = adhc_finish(&state_, reinterpret_cast<uint8_t *>(out_), &n);
        if (r < 0) {
            printf("222\n");
            return -1;
        }
        if (!write_out(n))
            ok = -1;
        if (r == 1)
            break;
    }
    return ok;
}

#include "elz77buf.h"

ELZ77Buf::ELZ77Buf(char *window, size_t window_size, char *in, size_t in_size,
                   char *out, size_t out_size, size_t putback_size)
    : ECompBuf(in, in_size, out, out_size, putback_size),
      window_(window), window_size_(window_size), state_(nullptr)
{
}

// A state of null makes every coding call fail, which ends the stream
// with the error flag set.

void ELZ77Buf::start_encoder()
{
    // The encoder holds back a tail of its input until the end is known:
    // an input buffer no larger than that could never be drained. Each
    // step wants room for a literal record's header, a byte and a copy.
    bool fits = in_size_ > LZ77_TAIL && out_size_ >= 8;
    state_ = fits ? lz77_init(window_, window_size_, LZ77_MODE_ENCODE) : nullptr;
}

void ELZ77Buf::start_decoder()
{
    // A copy record is four bytes and is only started whole.
    state_ = in_size_ >= 4 ? lz77_init(window_, window_size_, LZ77_MODE_DECODE) : nullptr;
}

int ELZ77Buf::encode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count)
{
    return lz77_encode(state_, in, in_count, out, out_count);
}

int ELZ77Buf::decode_block(const uint8_t *in, uint8_t *out, size_t *in_count, size_t *out_count)
{
    return lz77_decode(state_, in, in_count, out, out_count);
}

int ELZ77Buf::finish_encoding()
{
    if (!compress_ || state_ == nullptr)
        return compress_ ? -1 : 0;
    // The held-back tail goes out now that no more input will follow.
    state_->final = 1;
    return drain_put_area(true) ? 0 : -1;
}

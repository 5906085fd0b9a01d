#include "ecompbuf.h"
#include "util_assert.h"

#include <cstdio>
#include <cstring>

#define ECOMPBUF_MODULE "lib\\util\\ecompbuf"

ECompBuf::ECompBuf(char *in, size_t in_size, char *out, size_t out_size, size_t putback_size)
    : compress_(false), stream_(nullptr), in_(in), out_(out), in_size_(in_size),
      out_size_(out_size), putback_size_(putback_size), in_fill_(0), in_pos_(0),
      open_(false), eod_(true), error_(false)
{
    UTIL_ASSERT(in, ECOMPBUF_MODULE);
    UTIL_ASSERT(out, ECOMPBUF_MODULE);
    UTIL_ASSERT(in_size, ECOMPBUF_MODULE);
    UTIL_ASSERT(out_size, ECOMPBUF_MODULE);
    UTIL_ASSERT(putback_size_ < out_size_, ECOMPBUF_MODULE);
    gbeg_ = gcur_ = gend_ = out_ + putback_size_;
    pbeg_ = pcur_ = pend_ = in_;
}

bool ECompBuf::good() const
{
    // Decoded characters still waiting in the get area count as data even
    // after the codec has reported the end.
    return open_ && !error_ && (!eod_ || gcur_ < gend_);
}

int ECompBuf::in_avail()
{
    if (gcur_ < gend_)
        return static_cast<int>(gend_ - gcur_);
    return eod_ ? 0 : 1;
}

int ECompBuf::underflow()
{
    UTIL_ASSERT(!compress_, ECOMPBUF_MODULE);
    if (gcur_ < gend_)
        return static_cast<unsigned char>(*gcur_);
    if (!open_)
        return -1;
    char *const get_start = out_ + putback_size_;
    bool starved = false;
    while (!eod_) {
        // Keep the last characters read so that they can be put back.
        size_t keep = static_cast<size_t>(gend_ - gbeg_);
        if (keep > putback_size_)
            keep = putback_size_;
        if (keep > 0)
            memmove(get_start - keep, gend_ - keep, keep);

        // Coded input is moved to the front and topped up only when less
        // than half the input buffer is left, or when the codec could not
        // go on with what there was: moving a large buffer on every call
        // would cost more than the decoding.
        size_t left = in_fill_ - in_pos_;
        bool topped = false;
        if (starved || left <= in_size_ / 2) {
            memmove(in_, in_ + in_pos_, left);
            in_fill_ = left;
            in_pos_ = 0;
            if (in_fill_ < in_size_)
                in_fill_ += stream_->sgetn(in_ + in_fill_, in_size_ - in_fill_);
            topped = true;
        }

        size_t in_count = in_fill_ - in_pos_;
        size_t out_count = out_size_ - putback_size_;
        int r = decode_block(reinterpret_cast<const uint8_t *>(in_ + in_pos_),
                             reinterpret_cast<uint8_t *>(get_start), &in_count, &out_count);
        if (in_count > in_fill_ - in_pos_)
            in_count = in_fill_ - in_pos_;
        in_pos_ += in_count;
        const bool progress = in_count > 0 || out_count > 0;
        if (r < 0) {
            error_ = true;
            eod_ = true;
        } else if (!progress) {
            // Finished, or stuck: with the input topped up as far as the
            // source allows, the data has ended (possibly inside a code).
            if (topped)
                eod_ = true;
            starved = true;
        } else if (r == 1) {
            eod_ = true;
        } else {
            starved = false;
        }

        gbeg_ = get_start - keep;
        gcur_ = get_start;
        gend_ = get_start + out_count;
        // Characters decoded before the end was seen are still delivered.
        if (out_count > 0)
            return static_cast<unsigned char>(*gcur_);
    }
    return -1;
}

bool ECompBuf::write_out(size_t n)
{
    if (n == 0)
        return true;
    return stream_->sputn(out_, n) == n;
}

bool ECompBuf::drain_put_area(bool empty_it)
{
    bool ok = true;
    size_t done = 0;
    const size_t pending = static_cast<size_t>(pcur_ - pbeg_);
    while (done < pending) {
        size_t in_count = pending - done;
        size_t out_count = out_size_;
        int r = encode_block(reinterpret_cast<const uint8_t *>(pbeg_ + done),
                             reinterpret_cast<uint8_t *>(out_), &in_count, &out_count);
        if (r < 0) {
            error_ = true;
            ok = false;
            break;
        }
        if (in_count > pending - done)
            in_count = pending - done;
        done += in_count;
        if (!write_out(out_count)) {
            error_ = true;
            ok = false;
        }
        // A codec may hold back a tail until it is told the data ended;
        // no progress means it waits for that.
        if (in_count == 0 && out_count == 0)
            break;
        // Room for new characters once half the area is free: the move
        // below then stays cheap per character.
        if (!empty_it && done >= (pending + 1) / 2)
            break;
    }
    // What the codec did not take moves to the front, once per drain.
    memmove(pbeg_, pbeg_ + done, pending - done);
    pcur_ -= done;
    return ok;
}

int ECompBuf::overflow(int c)
{
    UTIL_ASSERT(compress_, ECOMPBUF_MODULE);
    if (!open_)
        return -1;
    bool ok = drain_put_area(c == -1);
    if (c == -1)
        return ok ? 0 : -1;
    if (pcur_ >= pend_)
        return -1;
    *pcur_++ = static_cast<char>(c);
    return ok ? (c & 0xFF) : -1;
}

int ECompBuf::flush()
{
    if (compress_ && open_)
        return overflow(-1);
    return 0;
}

int ECompBuf::finish_encoding()
{
    return 0;
}

int ECompBuf::open(EStreamBuf *stream, const char *mode)
{
    if (stream == nullptr || mode == nullptr)
        return -1;
    stream_ = stream;
    compress_ = strcmp(mode, "r") != 0;
    in_fill_ = 0;
    in_pos_ = 0;
    gbeg_ = gcur_ = gend_ = out_ + putback_size_;
    if (compress_) {
        pbeg_ = pcur_ = in_;
        pend_ = in_ + in_size_;
        start_encoder();
    } else {
        // Nothing can be put into a reading stream.
        pbeg_ = pcur_ = pend_ = in_;
        start_decoder();
    }
    open_ = true;
    eod_ = false;
    error_ = false;
    return 0;
}

int ECompBuf::close()
{
    if (!open_) {
        printf("ECompBuf::close allready closed(%p)\n", static_cast<void *>(this));
        return -1;
    }
    // A writer reports whether all its data reached the sink; a reader
    // has told of damaged data through failed() already.
    int r = flush();
    if (compress_ && finish_encoding() != 0)
        r = -1;
    if (compress_ && error_)
        r = -1;
    open_ = false;
    error_ = false;
    eod_ = true;
    gbeg_ = gcur_ = gend_ = out_ + putback_size_;
    return r;
}

#include "estreambuf.h"

#include <cstring>

EStreamBuf::EStreamBuf()
    : gbeg_(nullptr), gcur_(nullptr), gend_(nullptr),
      pbeg_(nullptr), pcur_(nullptr), pend_(nullptr)
{
}

EStreamBuf::~EStreamBuf() = default;

int EStreamBuf::sputc(int c)
{
    if (c < 0)
        return -1;
    if (pcur_ < pend_) {
        *pcur_++ = static_cast<char>(c);
        return c & 0xFF;
    }
    return overflow(c);
}

int EStreamBuf::in_avail()
{
    return 0;
}

int EStreamBuf::sbumpc()
{
    // Fast path first: underflow is only for an exhausted get area.
    if (gcur_ < gend_)
        return static_cast<unsigned char>(*gcur_++);
    int c = underflow();
    if (c != -1 && gcur_ < gend_)
        ++gcur_;
    return c;
}

int EStreamBuf::underflow()
{
    return -1;
}

int EStreamBuf::sputbackc(int c)
{
    // Only a character still held in the get area can be given back;
    // anything else would invent data.
    if (gcur_ == nullptr || gcur_ <= gbeg_)
        return -1;
    if (static_cast<unsigned char>(gcur_[-1]) != (c & 0xFF))
        return -1;
    --gcur_;
    return c & 0xFF;
}

int EStreamBuf::overflow(int)
{
    return -1;
}

void EStreamBuf::setbuf(char *, size_t)
{
}

size_t EStreamBuf::sputn(const char *s, size_t n)
{
    size_t done = 0;
    while (done < n) {
        // Copy what fits, then let overflow make room for the rest.
        size_t room = static_cast<size_t>(pend_ - pcur_);
        if (room > 0) {
            size_t k = n - done < room ? n - done : room;
            memcpy(pcur_, s + done, k);
            pcur_ += k;
            done += k;
            continue;
        }
        if (overflow(static_cast<unsigned char>(s[done])) == -1)
            break;
        ++done;
    }
    return done;
}

size_t EStreamBuf::sgetn(char *s, size_t n)
{
    size_t done = 0;
    while (done < n) {
        size_t have = static_cast<size_t>(gend_ - gcur_);
        if (have > 0) {
            size_t k = n - done < have ? n - done : have;
            memcpy(s + done, gcur_, k);
            gcur_ += k;
            done += k;
            continue;
        }
        // underflow refills the get area (or reports the end).
        if (underflow() == -1)
            break;
        if (gcur_ >= gend_)
            break;
    }
    return done;
}

EMemBuf::EMemBuf() : mem_(nullptr), size_(0)
{
}

bool EMemBuf::good() const
{
    return mem_ != nullptr;
}

int EMemBuf::underflow()
{
    // What has been put is what can be read.
    gend_ = pcur_;
    if (gcur_ < gend_)
        return static_cast<unsigned char>(*gcur_);
    return -1;
}

void EMemBuf::setbuf(char *mem, size_t size)
{
    // A block is attached once; a stream never moves to other memory
    // while readers may hold positions in it.
    if (mem_ != nullptr || mem == nullptr)
        return;
    mem_ = mem;
    size_ = size;
    gbeg_ = gcur_ = gend_ = mem;
    pbeg_ = pcur_ = mem;
    pend_ = mem + size;
}

int EMemBuf::flush()
{
    return 0;
}

int EMemBuf::open(const char *mode)
{
    if (mem_ == nullptr || mode == nullptr)
        return -1;
    if (strcmp(mode, "r") == 0) {
        gbeg_ = gcur_ = mem_;
        gend_ = mem_ + size_;
        pbeg_ = mem_;
        pcur_ = pend_ = mem_ + size_;
        return 0;
    }
    if (strcmp(mode, "w") == 0) {
        gbeg_ = gcur_ = gend_ = mem_;
        pbeg_ = pcur_ = mem_;
        pend_ = mem_ + size_;
        return 0;
    }
    return -1;
}

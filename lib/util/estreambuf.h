#ifndef ESTREAMBUF_H
#define ESTREAMBUF_H

#include <cstddef>

// Character stream buffers of the firmware, in the manner of the standard
// stream-buffer model: a get area (begin, current, end) that readers take
// characters from and refill through underflow, and a put area that writers
// fill and drain through overflow. The PCSL parser reads from any of them;
// the compressing buffers (ecompbuf.h) stack on top of one another.
//
// Characters are returned as 0..255; -1 means end of data (or failure on
// the writing side).
class EStreamBuf
{
public:
    EStreamBuf();
    virtual ~EStreamBuf();

    // Stores c at the put position; when the put area is full, overflow
    // decides. Returns c, or -1 when it could not be stored.
    virtual int sputc(int c);
    // True while the buffer can deliver or accept data.
    virtual bool good() const = 0;
    // Characters that can be read without blocking; 0 when unknown.
    virtual int in_avail();
    // Returns the next character and moves past it; -1 at end of data.
    virtual int sbumpc();
    // Makes the next character available without moving past it; -1 at
    // end of data.
    virtual int underflow();
    // Steps the read position back over c when the character before the
    // read position is c. Returns c, or -1 when that is not possible.
    virtual int sputbackc(int c);
    // Called when the put area is full (c = character to store) or to
    // drain it (c = -1). The base buffer has nowhere to drain to.
    virtual int overflow(int c);
    // Hands the buffer a block of memory to work on.
    virtual void setbuf(char *mem, size_t size);
    // Stores n characters; returns how many were stored.
    virtual size_t sputn(const char *s, size_t n);
    // Pushes pending output on; 0 on success, -1 on failure.
    virtual int flush() = 0;

    // Reads up to n characters into s, refilling through underflow.
    // Returns how many were read; fewer than n only at end of data.
    size_t sgetn(char *s, size_t n);

    // Next character without moving past it: the get area when it holds
    // one, underflow otherwise. The parser's look at the next character.
    int sgetc()
    {
        return gcur_ < gend_ ? static_cast<unsigned char>(*gcur_) : underflow();
    }

    // Next character, moving past it: straight from the get area when it
    // holds one, else through sbumpc. The parser's per-character read.
    int take()
    {
        return gcur_ < gend_ ? static_cast<unsigned char>(*gcur_++) : sbumpc();
    }

    // The unread characters of the get area, for a reader that scans them
    // itself instead of taking one at a time; gbump moves past n of them
    // (n at most egptr() - gptr()).
    const char *gptr() const { return gcur_; }
    const char *egptr() const { return gend_; }
    void gbump(size_t n) { gcur_ += n; }

protected:
    char *gbeg_, *gcur_, *gend_;
    char *pbeg_, *pcur_, *pend_;
};

// A stream over a caller's memory block. Opened for reading, the whole
// block is readable; opened for writing, it fills from the start and what
// was written can be read back.
class EMemBuf : public EStreamBuf
{
public:
    EMemBuf();

    bool good() const override;
    int underflow() override;
    void setbuf(char *mem, size_t size) override;
    int flush() override;

    // Mode "r": read the whole block. Mode "w": write from its start.
    // Returns 0, or -1 for a missing block or another mode.
    int open(const char *mode);

    // Characters written so far (or the block size after open "r").
    size_t written() const { return static_cast<size_t>(pcur_ - pbeg_); }

private:
    char *mem_;
    size_t size_;
};

#endif

#include "echain.h"

EDecodeChain::EDecodeChain()
    : ahuf_(ahuf_in_, sizeof ahuf_in_, ahuf_out_, sizeof ahuf_out_, 0),
      lz_(lz_window_, sizeof lz_window_, lz_in_, sizeof lz_in_, lz_out_, sizeof lz_out_, 0)
{
}

int EDecodeChain::open(const char *data, size_t size)
{
    if (data == nullptr)
        return -1;
    // A memory stream takes its block once: a fresh one for each open.
    mem_ = EMemBuf();
    mem_.setbuf(const_cast<char *>(data), size);
    if (mem_.open("r") != 0)
        return -1;
    if (ahuf_.is_open())
        ahuf_.close();
    if (lz_.is_open())
        lz_.close();
    ahuf_.open(&mem_, "r");
    lz_.open(&ahuf_, "r");
    return 0;
}

int EDecodeChain::close()
{
    int a = lz_.close();
    int b = ahuf_.close();
    return a == 0 && b == 0 ? 0 : -1;
}

EEncodeChain::EEncodeChain()
    : ahuf_(ahuf_in_, sizeof ahuf_in_, ahuf_out_, sizeof ahuf_out_, 0),
      lz_(lz_window_, sizeof lz_window_, lz_in_, sizeof lz_in_, lz_out_, sizeof lz_out_, 0)
{
}

long EEncodeChain::compress(const char *data, size_t size, char *out, size_t cap)
{
    mem_ = EMemBuf();
    mem_.setbuf(out, cap);
    if (mem_.open("w") != 0)
        return -1;
    ahuf_.open(&mem_, "w");
    lz_.open(&ahuf_, "w");
    bool ok = lz_.sputn(data, size) == size;
    // Outer stage first: its tail passes through the Huffman stage.
    if (lz_.close() != 0)
        ok = false;
    if (ahuf_.close() != 0)
        ok = false;
    return ok ? static_cast<long>(mem_.written()) : -1;
}

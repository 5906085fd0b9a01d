// LZ77 decoder over arbitrary bytes. The first byte picks the stream's
// buffer sizes (so records split across calls in every way); the rest is
// the coded stream. Decoding must end without a fault, and the output
// can never be longer than 65535 bytes per 4 bytes of input.

#include "elz77buf.h"
#include "estreambuf.h"
#include "fuzz_common.h"

#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const size_t in_sizes[] = {4, 5, 7, 64, 1000, 65536};
    static const size_t out_sizes[] = {1, 2, 3, 100, 4096, 65536};
    static const size_t window_sizes[] = {65536, 4096, 200, 100};
    const uint8_t sel = data[0];
    const size_t in_size = in_sizes[sel % 6];
    const size_t out_size = out_sizes[(sel / 6) % 6];
    const size_t window_size = window_sizes[(sel / 36) % 4];
    const size_t putback = out_size > 1 ? (sel >> 7) % out_size : 0;

    std::vector<char> coded(data + 1, data + size);
    std::vector<char> window(window_size), in(in_size), out(out_size);
    EMemBuf mem;
    mem.setbuf(coded.data(), coded.size());
    mem.open("r");
    ELZ77Buf lz(window.data(), window.size(), in.data(), in.size(), out.data(), out.size(), putback);
    lz.open(&mem, "r");
    char buf[1024];
    size_t total = 0, n;
    while ((n = lz.sgetn(buf, sizeof buf)) > 0) {
        total += n;
        FUZZ_CHECK(total <= coded.size() * 16384 + 65536);
        // Inflating copies are legal; past this they only slow the search
        // (tiny output buffers cost a refill per character).
        if (total > (128u << 10) || total > out_size * 2048)
            return 0;
    }
    FUZZ_CHECK(lz.sbumpc() == -1);
    FUZZ_CHECK(lz.close() == 0);
    return 0;
}

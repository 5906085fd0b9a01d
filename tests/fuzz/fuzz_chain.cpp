// The decompression chain a panel uses for a compressed configuration,
// over arbitrary bytes; then the same bytes as a text through the writing
// chain and back, which must give them back unchanged.

#include "echain.h"
#include "fuzz_common.h"

#include <cstring>
#include <vector>

static EDecodeChain *s_dec;
static EEncodeChain *s_enc;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (s_dec == nullptr) {
        s_dec = new EDecodeChain;
        s_enc = new EEncodeChain;
    }
    // Decoding damaged or foreign data ends cleanly.
    // One spare byte keeps the block non-null for empty input.
    std::vector<char> coded(data, data + size);
    coded.reserve(size + 1);
    s_dec->open(coded.data(), size);
    char buf[4096];
    size_t total = 0, n;
    while ((n = s_dec->stream()->sgetn(buf, sizeof buf)) > 0) {
        total += n;
        // LZ77 copies can inflate a lot, but never without bound.
        FUZZ_CHECK(total <= (size * 8 + 64) * 16384);
        if (total > (128u << 10))
            break;
    }
    FUZZ_CHECK(s_dec->close() == 0);

    // Round trip.
    std::vector<char> packed(size * 3 + 1024);
    long m = s_enc->compress(reinterpret_cast<const char *>(data), size, packed.data(), packed.size());
    FUZZ_CHECK(m > 0);
    s_dec->open(packed.data(), size_t(m));
    std::vector<char> back(size + 1);
    size_t got = s_dec->stream()->sgetn(back.data(), back.size());
    FUZZ_CHECK(!s_dec->failed());
    FUZZ_CHECK(got == size);
    FUZZ_CHECK(size == 0 || memcmp(back.data(), data, size) == 0);
    FUZZ_CHECK(s_dec->close() == 0);
    return 0;
}

// Adaptive Huffman decoder over arbitrary bytes. The first byte picks the
// buffer sizes; the rest is the coded stream. The code tree must stay a
// valid FGK tree whatever the input, and re-encoding what was decoded must
// decode to the same bytes again.

#include "adhc.h"
#include "eahufbuf.h"
#include "estreambuf.h"
#include "fuzz_common.h"

#include <cstring>
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
    static const size_t sizes[] = {1, 2, 3, 10, 97, 4096};
    const uint8_t sel = data[0];
    const size_t in_size = sizes[sel % 6];
    const size_t out_size = sizes[(sel / 6) % 6] + 1;
    const size_t putback = (sel / 36) % out_size;

    std::vector<char> coded(data + 1, data + size);
    std::vector<char> in(in_size), out(out_size);
    EMemBuf mem;
    mem.setbuf(coded.data(), coded.size());
    mem.open("r");
    EAhufBuf decoder(in.data(), in.size(), out.data(), out.size(), putback);
    EAhufBuf *ah = &decoder;
    ah->open(&mem, "r");
    std::vector<char> text;
    char buf[512];
    size_t n;
    while ((n = ah->sgetn(buf, sizeof buf)) > 0)
        text.insert(text.end(), buf, buf + n);
    FUZZ_CHECK(ah->sbumpc() == -1);
    FUZZ_CHECK(adhc_check(&ah->coder()));
    // Every decoded byte took at least one bit.
    FUZZ_CHECK(text.size() <= coded.size() * 8);
    ah->close();

    // What came out goes back in and out again unchanged.
    static AdhcState enc, dec;
    adhc_start(&enc, true);
    std::vector<uint8_t> recoded(text.size() * 40 + 64);
    size_t ic = text.size(), oc = recoded.size();
    FUZZ_CHECK(adhc_encode(&enc, reinterpret_cast<const uint8_t *>(text.data()), &ic,
                           recoded.data(), &oc) == 0);
    FUZZ_CHECK(ic == text.size());
    size_t tail = recoded.size() - oc;
    FUZZ_CHECK(adhc_finish(&enc, recoded.data() + oc, &tail) == 1);
    FUZZ_CHECK(adhc_check(&enc));
    const size_t coded_size = oc + tail;
    adhc_start(&dec, false);
    std::vector<uint8_t> back(text.size() + 1);
    ic = coded_size;
    oc = back.size();
    FUZZ_CHECK(adhc_decode(&dec, recoded.data(), &ic, back.data(), &oc) == 1);
    FUZZ_CHECK(oc == text.size());
    FUZZ_CHECK(oc == 0 || memcmp(back.data(), text.data(), oc) == 0);
    return 0;
}

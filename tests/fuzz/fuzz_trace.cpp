// The protocol trace's decoder: any sequence of datagrams in either
// direction, with any marks, decodes into lines that stay within their
// buffer and hold printable ASCII only, one line each; the two direction
// streams carry messages across datagrams as the panel's parser does.
//
// Input: records of a control byte, a 16-bit big-endian length (cut to what
// is left) and the datagram. Control bits: 0 sent by the panel, 1 refused
// (received) or not sent (sent), 2 resend (sent) or another sender's
// message dropped before it and its blocks refused (received), 3 only the
// first half kept (a datagram longer than the trace keeps), 4-7 when
// non-zero: also decode into a small buffer of 5 times that many bytes, so
// that cutting is exercised at every length. An unsequenced datagram never
// moves its direction's stream.

#include "fuzz_common.h"
#include "link/trace.h"
#include "link/trace_decode.h"

#include <cstring>
#include <vector>

namespace {

char s_line[TRACE_LINE_MAX];
TraceEntry s_entry;
TrdStream s_in, s_out, s_small_stream;

void checkLine(const char *buf, int len, int cap)
{
    FUZZ_CHECK(len >= 0 && len < cap);
    FUZZ_CHECK(buf[len] == '\0');
    FUZZ_CHECK(int(strlen(buf)) == len);
    for (int i = 0; i < len; ++i)
        FUZZ_CHECK(buf[i] >= 0x20 && buf[i] < 0x7f);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    trd_stream_reset(&s_in);
    trd_stream_reset(&s_out);
    size_t at = 0;
    uint64_t us = 0;
    while (size - at >= 3) {
        const uint8_t ctl = data[at];
        size_t n = size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        if (n > size - at)
            n = size - at;
        const uint8_t *d = data + at;
        at += n;

        memset(&s_entry, 0, offsetof(TraceEntry, data));
        s_entry.us = us += 1234567;
        s_entry.kind = (ctl & 1) ? TRACE_OUT : TRACE_IN;
        // Bit 1 refuses a received payload; a sent one was not sent.
        const unsigned bit1 = (ctl & 1) ? unsigned(TRD_NOT_SENT) : unsigned(TRD_REFUSED);
        const unsigned bit2 = (ctl & 1) ? unsigned(TRD_RESEND) : unsigned(TRD_RESTARTED | TRD_BLOCK_REFUSED);
        s_entry.flags = uint8_t(((ctl & 2) ? bit1 : 0u) | ((ctl & 4) ? bit2 : 0u));
        const uint8_t addr[4] = {127, 0, 0, uint8_t(ctl)};
        memcpy(s_entry.addr, addr, 4);
        s_entry.port = 2001;
        s_entry.len = int(n);
        size_t kept = (ctl & 8) ? n / 2 : n;
        if (kept > TRACE_KEEP)
            kept = TRACE_KEEP;
        s_entry.kept = uint16_t(kept);
        // An exact copy, so that reading past what was kept is caught.
        std::memcpy(s_entry.data, d, kept);
        const TrdStream &moved = (ctl & 1) ? s_out : s_in;
        const TrdStream before = moved;
        const int len = trace_format(&s_entry, &s_in, &s_out, s_line, int(sizeof s_line));
        checkLine(s_line, len, int(sizeof s_line));
        if (kept >= 5 && !(d[0] & 1))
            FUZZ_CHECK(memcmp(&before, &moved, offsetof(TrdStream, data)) == 0);
        FUZZ_CHECK(s_in.state <= 3 && s_out.state <= 3);
        FUZZ_CHECK(s_in.count <= TRD_STREAM_MAX && s_out.count <= TRD_STREAM_MAX);

        if (ctl >> 4) {
            const int cap = (ctl >> 4) * 5;
            char small[80];
            TrdText t;
            trd_text_init(&t, small, cap);
            trd_stream_reset(&s_small_stream);
            // Only the kept bytes, in a buffer of their size: a read past
            // them is caught.
            std::vector<uint8_t> exact(d, d + kept);
            trd_datagram(&t, exact.data(), int(kept), int(n), s_entry.flags, &s_small_stream);
            trd_text_finish(&t);
            checkLine(small, t.len, cap);
        }
    }
    return 0;
}

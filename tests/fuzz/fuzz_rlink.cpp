// The router link as a whole: datagrams from the router into the reliable
// layer, the stream parser, the comms messages and the router command texts,
// several datagrams per input with the panel's state carried from one to the
// next, and loop passes with time going by in between (resends, keepalive,
// the refresh scheduler). Checks that every datagram the panel sends is well
// formed and that the link's state stays within its tables.
//
// Input: byte 0 picks the panel model (bits 0-3; 12 and above: no product).
// Then records: a control byte (bits 0-5: milliseconds to let pass, times
// 16; bit 6: run a loop pass after the datagram; bit 7: sequenced
// shorthand, see below), a 16-bit big-endian datagram length (cut to what
// is left) and the datagram. With bit 7 set the record's bytes are a
// router-link payload that the harness wraps in a sequenced header with
// the next id the panel expects, so that deep message paths are reached
// without guessing ids.
//
// Several senders: with bit 7 of byte 0 set, each record starts with a
// sender byte (bits 0-1: the router, a standby router, two strangers), and
// with bit 6 too the panel accepts only the two routers. A datagram from an
// address that is not accepted changes nothing at all, and no unsequenced
// datagram (nor any datagram from a peer other than the one whose session
// is open) touches a configuration download.
//
// The whole input is also read as the file of allowed router addresses:
// whatever it holds, the list keeps to its size, holds only addresses a
// datagram can come from, and accepts exactly those while it is in force.

#include "fuzz_common.h"
#include "link/comms.h"
#include "link/eth.h"
#include "link/netcfg.h"
#include "link/reliable.h"
#include "link/router_allow.h"
#include "link/router_cmd.h"
#include "ms_clock.h"
#include "panels_main.h"
#include "product.h"

#include <cstring>
#include <vector>

namespace {

uint32_t s_now;
const uint8_t kRouter[4] = {10, 1, 2, 3};
const uint8_t kSenders[4][4] = {{10, 1, 2, 3}, {10, 1, 2, 4}, {10, 9, 9, 9}, {192, 168, 0, 7}};

// What a datagram that is not taken must leave as it was.
struct LinkState {
    int pending, synchronised, comms, receiving;
    uint8_t nextId, lastAccepted, dest[4];
    uint32_t fileLen, imageFill;
    size_t sent;
    bool operator==(const LinkState &o) const
    {
        return pending == o.pending && synchronised == o.synchronised && comms == o.comms
               && receiving == o.receiving && nextId == o.nextId && lastAccepted == o.lastAccepted
               && memcmp(dest, o.dest, 4) == 0 && fileLen == o.fileLen && imageFill == o.imageFill
               && sent == o.sent;
    }
};

// What the panel sent during one input.
std::vector<std::vector<uint8_t>> s_sent;

int capture(const uint8_t *d, int len, const uint8_t addr[4])
{
    FUZZ_CHECK(len >= RL_HEADER && len <= RL_HEADER + RL_MAX_PAYLOAD);
    FUZZ_CHECK(addr && addr[0] != 0);
    s_sent.emplace_back(d, d + len);
    return 1;
}

// A datagram of the panel: the header, then whole router-link messages of
// the kinds a panel sends.
void checkSent(const std::vector<uint8_t> &d)
{
    FUZZ_CHECK(d[0] == 0 || d[0] == 1);
    FUZZ_CHECK(d[3] == 0 && d[4] == 0);
    if (d[0] == 0)
        FUZZ_CHECK(d[1] == 0 && d[2] == 0);
    size_t at = RL_HEADER;
    while (at < d.size()) {
        FUZZ_CHECK(d.size() - at >= 3);
        const uint8_t cmd = d[at];
        const size_t n = size_t(d[at + 1]) << 8 | d[at + 2];
        FUZZ_CHECK(d.size() - at - 3 >= n);
        switch (cmd) {
        case 'y':
        case 'n':
            FUZZ_CHECK(n == 0);
            break;
        case 'R':
            FUZZ_CHECK(n == 6);
            FUZZ_CHECK(d[at + 3] & 0x80);
            break;
        case 'Q':
            FUZZ_CHECK(n >= 1 && n < 100);
            FUZZ_CHECK(d[at + 3] == '.');
            break;
        default:
            FUZZ_CHECK(!"unexpected message kind");
        }
        at += 3 + n;
    }
}

LinkState linkState();

void startPanel(uint8_t model)
{
    StartParams p;
    memset(&p, 0, sizeof p);
    const ProductInfo *info = prod_entry(model % 16);
    const char *name = info ? info->name : "XYZ9";
    memcpy(p.product_name, name, strlen(name));
    p.version_major = 1;
    panels_close_sockets();
    panels_loop_init(p);
    // No file in the harness's directory: no list unless the input sets one.
    ra_set_text(nullptr, 0);
    // The socket stays open, but the router link's datagrams go to the
    // harness.
    rl_set_send(capture);
    rl_reset();
}

LinkState linkState()
{
    LinkState st;
    st.pending = rl_pending();
    st.synchronised = rl_synchronised();
    st.comms = comms_state();
    st.receiving = netcfg_receiving();
    st.nextId = rl_next_id();
    st.lastAccepted = rl_last_accepted();
    memcpy(st.dest, rl_destination(), 4);
    st.fileLen = netcfg_file_len();
    st.imageFill = netcfg_image_fill();
    st.sent = s_sent.size();
    return st;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    msc_set_test_source(&s_now);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int listed = ra_set_text(reinterpret_cast<const char *>(data), int(size));
    FUZZ_CHECK(listed == ra_count() && listed >= 0 && listed <= RA_MAX);
    FUZZ_CHECK(ra_active() || listed == 0);
    for (int i = 0; i < listed; ++i) {
        FUZZ_CHECK(ra_address(i)[0] != 0);
        FUZZ_CHECK(ra_allows(ra_address(i)));
    }
    const uint8_t nobody[4] = {0, 0, 0, 0};
    FUZZ_CHECK(ra_allows(nobody) == !ra_active());

    s_now = 100000;
    s_sent.clear();
    startPanel(data[0] & 0x0f);
    const bool senders = data[0] & 0x80;
    if (senders && (data[0] & 0x40))
        ra_set_text("10.1.2.3, 10.1.2.4", 18);

    size_t at = 1;
    bool anyTaken = false;
    uint8_t nextId = 0; // of the wrapped payloads
    std::vector<uint8_t> datagram;
    while (size - at >= (senders ? 4u : 3u)) {
        const uint8_t *from = kRouter;
        if (senders)
            from = kSenders[data[at++] & 3];
        const uint8_t ctl = data[at];
        size_t n = size_t(data[at + 1]) << 8 | data[at + 2];
        at += 3;
        if (n > size - at)
            n = size - at;
        if (ctl & 0x80) {
            datagram.assign({1, nextId, rl_next_id() ? uint8_t(rl_next_id() - 1) : uint8_t(0), 0, 0});
            nextId = nextId == 255 ? 1 : uint8_t(nextId + 1);
        } else {
            datagram.clear();
        }
        datagram.insert(datagram.end(), data + at, data + at + n);
        at += n;
        // An exact copy, so that reading past the datagram is caught.
        std::vector<uint8_t> exact(datagram);
        const LinkState before = linkState();
        const int taken = eth_router_receive(ETH_ROUTER_PORT, exact.empty() ? nullptr : exact.data(),
                                             int(exact.size()), from);
        const LinkState after = linkState();
        FUZZ_CHECK(taken == ra_allows(from));
        if (!taken)
            FUZZ_CHECK(before == after);
        if (exact.size() >= RL_HEADER && !(exact[0] & 1)) {
            FUZZ_CHECK(after.receiving == before.receiving);
            FUZZ_CHECK(after.fileLen == before.fileLen && after.imageFill == before.imageFill);
        }
        s_now += uint32_t(ctl & 0x3f) * 16;
        if (ctl & 0x40)
            panels_loop();

        FUZZ_CHECK(rl_pending() >= 0 && rl_pending() <= RL_SLOTS);
        FUZZ_CHECK(comms_state() >= COMMS_OFFLINE && comms_state() <= COMMS_ADMIN);
        anyTaken = anyTaken || taken;
        if (anyTaken)
            FUZZ_CHECK(eth_router_dest_port() == ETH_REPLY_PORT);
        // Out-of-range queries answer as nothing known, never from outside
        // the tables.
        FUZZ_CHECK(rcmd_lock(RCMD_DESTS) == 0 && rcmd_lock(-1) == 0);
    }
    for (const auto &d : s_sent)
        checkSent(d);
    return 0;
}

// The router link's configuration download over arbitrary bytes: sequences
// of "B" messages through the block handler, and configuration images
// through the image apply path. Checks the replies (at most one per
// message, "y" or "n", none for what is ignored), that the configuration
// file is written only at the last block of a file and that block is
// refused when the write fails, that the
// assembly buffers never exceed their capacity and that the runtime tables
// stay within their bounds.
//
// First input byte: mode (low 2 bits: 0 and 3 messages, 1 an image as
// given, 2 an image whose length field is made to match).
//
// Messages, one after the other:
//   op & 1      raw: a length byte and that many bytes, handed over as the
//               message data
//   otherwise   built: kind from op bits 1..3 (mostly 1 and 2, also 0 and
//               3), a control byte, a length byte and that many data bytes;
//               op bit 7 makes the first byte 1 instead of 0. With op bit 4
//               a count byte c follows: 2c more blocks of 500 bytes continue
//               it in order, the last with the last-block bit when op bit 5
//               is set.

#include "config/config_asm.h"
#include "config/panel_tables.h"
#include "fuzz_common.h"
#include "link/comms.h"
#include "link/netcfg.h"
#include "link/reliable.h"
#include "plat_firmware.h"
#include "product.h"

#include <QtGlobal>
#include <cstring>
#include <vector>

namespace {

// The firmware object as the platform layer sees it: counts the reloads
// that every configuration file write requests.
class CountingHost : public PlatFirmware
{
public:
    void stateMsg(StateMsg) override {}
    void firmMsg(const QString &) override {}
    void buttondriverMsg(const std::vector<QByteArray> &) override {}
    void requestReload() override { ++reloads; }
    int reloads = 0;
};

CountingHost *s_host;
std::vector<std::vector<uint8_t>> s_sent;

int capture(const uint8_t *d, int len, const uint8_t *)
{
    s_sent.emplace_back(d, d + len);
    return 1;
}
void deliver(const uint8_t *, int, const uint8_t *, int) {}
void error(int) {}
int no_query() { return 0; }

void check_tables()
{
    const PanelTables *pt = panel_tables();
    FUZZ_CHECK(pt->dests.count <= PT_NAMES);
    FUZZ_CHECK(pt->sources.count <= PT_NAMES);
    FUZZ_CHECK(pt->levels.count <= PT_LEVELS);
    FUZZ_CHECK(pt->legend_count <= PT_LEGENDS);
    FUZZ_CHECK(pt->display_count <= PT_DISPLAYS);
    FUZZ_CHECK(netcfg_file_len() <= CFGASM_CAPACITY);
    FUZZ_CHECK(netcfg_image_fill() <= NETCFG_IMAGE_MAX);
}

// One message through the handler, with its reply checked.
void block(const std::vector<uint8_t> &msg)
{
    // An exact copy, so that reading past the message is caught.
    std::vector<uint8_t> data(msg);
    const int len = int(data.size());
    rl_reset(); // the reply, if any, goes out at once
    s_sent.clear();
    const int reloads = s_host->reloads;
    netcfg_block(data.empty() ? nullptr : data.data(), len);

    FUZZ_CHECK(s_sent.size() <= 1);
    const bool ignored = len < 5 || data[0] > 1;
    char reply = 0;
    if (!s_sent.empty()) {
        const std::vector<uint8_t> &d = s_sent[0];
        FUZZ_CHECK(d.size() == 8 && d[0] == 1 && d[6] == 0 && d[7] == 0);
        reply = char(d[5]);
        FUZZ_CHECK(reply == 'y' || reply == 'n');
    }
    FUZZ_CHECK(ignored == (reply == 0));
    if (!ignored) {
        const int kind = (data[1] << 8) | data[2];
        if (kind != NETCFG_KIND_FILE && kind != NETCFG_KIND_IMAGE)
            FUZZ_CHECK(reply == 'n');
        // Only the last block of a file writes the file, and it is accepted
        // only when the file was stored (never here: the harness gives the
        // panel no configuration path, so every write fails and is refused).
        const bool wrote = s_host->reloads != reloads;
        FUZZ_CHECK(!wrote || (kind == NETCFG_KIND_FILE && len > 6 && (data[5] & NETCFG_LAST)));
        if (wrote)
            FUZZ_CHECK(reply == 'n' && netcfg_file_len() == 0 && !netcfg_receiving());
        if (reply == 'y' && kind == NETCFG_KIND_FILE && (data[5] & NETCFG_LAST))
            FUZZ_CHECK(wrote && netcfg_file_len() == 0);
        if (reply == 'y' && (data[5] & NETCFG_LAST))
            FUZZ_CHECK(!netcfg_receiving() && comms_config_complete());
    }
    check_tables();
}

const int KINDS[8] = {1, 2, 1, 2, 1, 2, 0, 3};

void messages(const uint8_t *p, size_t size)
{
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? p[i++] : 0; };
    while (i < size) {
        const uint8_t op = next();
        if (op & 1) {
            const size_t n = std::min<size_t>(next(), size - i);
            block(std::vector<uint8_t>(p + i, p + i + n));
            i += n;
            continue;
        }
        const int kind = KINDS[(op >> 1) & 7];
        const uint8_t control = next();
        const size_t n = std::min<size_t>(next(), size - i);
        std::vector<uint8_t> data = {uint8_t(op >> 7), uint8_t(kind >> 8), uint8_t(kind), 0, 0, control};
        data.insert(data.end(), p + i, p + i + n);
        i += n;
        block(data);
        if (!(op & 0x10))
            continue;
        const int more = 2 * next();
        std::vector<uint8_t> fill(500);
        for (size_t k = 0; k < fill.size(); ++k)
            fill[k] = n ? data[6 + k % n] : '#';
        for (int r = 1; r <= more; ++r) {
            uint8_t c = uint8_t((control + r) & NETCFG_NUMBER);
            if (r == more && (op & 0x20))
                c |= NETCFG_LAST;
            std::vector<uint8_t> b = {0, uint8_t(kind >> 8), uint8_t(kind), 0, 0, c};
            b.insert(b.end(), fill.begin(), fill.end());
            block(b);
        }
    }
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    qInstallMessageHandler(quiet);
    s_host = new CountingHost;
    plat_set_firmware(s_host);
    prod_select(prod_find("SK2000A"));
    pt_init();
    comms_init();
    netcfg_init();
    rl_init(capture, deliver, error, no_query);
    const uint8_t router[4] = {127, 0, 0, 1};
    rl_set_destination(router);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0] & 3;
    std::vector<uint8_t> rest(data + 1, data + size);
    if (mode == 0 || mode == 3) {
        messages(rest.data(), rest.size());
        return 0;
    }
    if (mode == 2 && rest.size() >= 6) {
        const uint32_t n = uint32_t(rest.size());
        rest[2] = uint8_t(n >> 24);
        rest[3] = uint8_t(n >> 16);
        rest[4] = uint8_t(n >> 8);
        rest[5] = uint8_t(n);
    }
    if (rest.size() > NETCFG_IMAGE_MAX)
        rest.resize(NETCFG_IMAGE_MAX);
    netcfg_apply_image(rest.empty() ? nullptr : rest.data(), uint32_t(rest.size()));
    check_tables();
    return 0;
}

#include "link/netcfg.h"

#include "config/config_asm.h"
#include "config/config_binary.h"
#include "config/config_load.h"
#include "config/config_store.h"
#include "control/dest_status.h"
#include "crc16.h"
#include "link/comms.h"
#include "link/rlink.h"
#include "link/router_cmd.h"
#include "ms_clock.h"
#include "panels_main.h"

#include <cstdio>
#include <cstring>

// Reception state. The reception-error flag is set while no download is in
// progress (at start, after the last block, after an error): then only a
// first block is taken.
static int s_rx_error = 1;
static uint8_t s_last_block;
// Kind of the download in progress: a block of the other kind does not
// continue it.
static int s_kind;
// A download holds the keepalive off until its last block. One that stops
// coming (the router gone, its blocks refused, the link cut) must not hold
// it off for good: s_watching while a download has started and not ended,
// s_progress_ms when its last block was taken.
static int s_watching;
static uint32_t s_progress_ms;

// The file being received. The FTP upload assembles into one of its own.
static CfgAssembly s_file;

static uint8_t s_image[NETCFG_IMAGE_MAX];
static uint32_t s_image_fill;

// The last text image applied (length 0: none, or another configuration
// has been loaded since).
static uint32_t s_applied_len;
static uint32_t s_applied_hash;
static uint16_t s_applied_crc;

void netcfg_init()
{
    s_rx_error = 1;
    s_last_block = 0;
    s_kind = 0;
    s_watching = 0;
    cfgasm_clear(&s_file);
    s_image_fill = 0;
    s_applied_len = 0;
}

// ---- checksums ------------------------------------------------------------------

uint32_t netcfg_hash(const uint8_t *data, size_t len)
{
    uint32_t h = 5381;
    for (size_t i = 0; i < len; ++i)
        h = h * 33 + data[i];
    return h;
}

// T[i]: the CRC of byte i shifted into the top of the register.
struct ImageCrcTable {
    uint16_t v[256];
    constexpr ImageCrcTable() : v()
    {
        for (int i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
            v[i] = c;
        }
    }
};

static constexpr ImageCrcTable s_crc_table;

uint16_t netcfg_image_crc(const uint8_t *data, size_t len)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < len; ++i)
        crc = uint16_t((crc << 8) ^ s_crc_table.v[crc >> 8] ^ data[i]);
    return crc;
}

uint16_t netcfg_config_crc(const uint8_t *payload, size_t len)
{
    const uint16_t crc = crc16_xmodem(payload, len);
    printf("Received CRC %d\n", crc);
    return crc;
}

void netcfg_config_in_use(uint16_t crc)
{
    comms_set_config_crc(crc);
    // Whatever was loaded replaces the last text image: sending that image
    // again has to load it again.
    s_applied_len = 0;
}

// ---- applying an image -------------------------------------------------------------

static uint32_t read_be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// A text body: loaded unless it is the text image applied last.
static void apply_text(const uint8_t *image, uint32_t total, uint8_t flags)
{
    const uint32_t hash = netcfg_hash(image, total);
    const uint16_t crc = netcfg_image_crc(image, total);
    if (s_applied_len != 0 && total == s_applied_len && hash == s_applied_hash && crc == s_applied_crc) {
        printf("panel_config 1 panel setup(TRUE)\n");
        comms_panel_setup();
        return;
    }
    const uint8_t *body = image + NETCFG_IMAGE_HEADER;
    const uint32_t body_len = total - NETCFG_IMAGE_HEADER;
    // A text the loader refuses is not remembered: sent again, it is tried
    // again rather than taken as already in use.
    s_applied_len = 0;
    if (cfgload_network(body, body_len, (flags & NETCFG_COMPRESSED) != 0, (flags & NETCFG_MULTIPART) != 0)) {
        netcfg_config_in_use(netcfg_config_crc(body, body_len));
        s_applied_len = total;
        s_applied_hash = hash;
        s_applied_crc = crc;
        panels_mark_config_loaded();
    }
    printf("panel_config 2 panel setup(FALSE)\n");
    comms_panel_setup();
}

static void apply_binary(const uint8_t *body, uint32_t body_len)
{
    printf("Config: Binary config %d [%d,%d]\n", int(body_len), body_len > 0 ? body[0] : 0,
           body_len > 1 ? body[1] : 0);
    resetConfiguration();
    if (readBinaryConfig(body, body_len)) {
        netcfg_config_in_use(netcfg_config_crc(body, body_len));
        panels_mark_config_loaded();
    }
    printf("panel_config 3 panel setup(FALSE)\n");
    comms_panel_setup();
    comms_request_redraw();
}

void netcfg_apply_image(const uint8_t *image, uint32_t fill)
{
    const uint32_t total = fill >= 6 ? read_be32(image + 2) : 0;
    printf("Config: Specified length %d Received %d\n", int(total), int(fill));
    // Fewer bytes than the header says, or a length that cannot even hold
    // the header: nothing is applied.
    if (fill < total || total < NETCFG_IMAGE_HEADER) {
        printf("Config: Received config too small!\n");
        return;
    }
    const uint8_t flags = image[10];
    if (flags & NETCFG_TEXT)
        apply_text(image, total, flags);
    else
        apply_binary(image + NETCFG_IMAGE_HEADER, total - NETCFG_IMAGE_HEADER);
}

// ---- the "B" handler -------------------------------------------------------------

static void reply(uint8_t letter)
{
    rlink_send(letter, nullptr, 0, 1);
}

// Ends the download in progress with a refusal; what was received of it is
// dropped when the next first block arrives.
static void abandon(const char *why)
{
    printf("%s", why);
    s_rx_error = 1;
    reply('n');
}

// A block was taken: the download goes on.
static void progress(uint8_t control)
{
    s_last_block = control & NETCFG_NUMBER;
    s_watching = !(control & NETCFG_LAST);
    s_progress_ms = msc_now();
    reply('y');
}

static void image_block(uint8_t control, const uint8_t *block, size_t n)
{
    // What does not fit is dropped; the blocks are still taken, and the
    // image, shorter than its header says, is then not applied.
    const size_t room = NETCFG_IMAGE_MAX - s_image_fill;
    if (n > room)
        n = room;
    memcpy(s_image + s_image_fill, block, n);
    s_image_fill += uint32_t(n);
    progress(control);
    if (!(control & NETCFG_LAST))
        return;
    // The new configuration may route differently: nothing the panel knew
    // of the router's state holds.
    rcmd_clear_state();
    ds_clear();
    netcfg_apply_image(s_image, s_image_fill);
    comms_set_config_complete(1);
    s_rx_error = 1;
}

static void file_block(uint8_t control, const uint8_t *block, size_t n)
{
    if (!cfgasm_append(&s_file, block, n)) {
        cfgasm_clear(&s_file);
        abandon("Config: Received config too big!\n");
        return;
    }
    if (!(control & NETCFG_LAST)) {
        progress(control);
        return;
    }
    // The last block: the download is over whatever the store does.
    s_last_block = control & NETCFG_NUMBER;
    s_watching = 0;
    printf("received last block\n");
    // The last block is acknowledged once the file is stored: a file that
    // could not be written (a full disk) is refused, and the controller
    // knows the panel still has its old configuration.
    if (!cfgasm_write(&s_file)) {
        abandon("Config: could not store the configuration\n");
        return;
    }
    reply('y');
    s_rx_error = 1;
    comms_clear_first_poll();
    comms_set_config_complete(1);
}

void netcfg_block(const uint8_t *data, int len)
{
    if (!data || len < 5 || data[0] > 1)
        return;
    const int kind = (data[1] << 8) | data[2];
    if (kind != NETCFG_KIND_FILE && kind != NETCFG_KIND_IMAGE) {
        printf("bug 6\n");
        reply('n');
        return;
    }
    if (len <= NETCFG_BLOCK_DATA) {
        printf("bug 5\n");
        reply('n');
        return;
    }
    const uint8_t control = data[5];
    const uint8_t number = control & NETCFG_NUMBER;
    if (control & NETCFG_FIRST) {
        // A first block always starts the download afresh.
        comms_set_config_complete(0);
        printf("\n\nreceived first block\n");
        if (kind == NETCFG_KIND_FILE)
            cfgasm_begin(&s_file);
        else
            s_image_fill = 0;
        s_kind = kind;
        s_last_block = number;
        s_rx_error = 0;
        s_watching = 1;
        s_progress_ms = msc_now();
    } else if (s_rx_error) {
        printf("bug 4\n");
        reply('n');
        return;
    } else if (kind != s_kind || number != ((s_last_block + 1) & NETCFG_NUMBER)) {
        abandon("bug 3\n");
        return;
    }
    const uint8_t *block = data + NETCFG_BLOCK_DATA;
    const size_t n = size_t(len - NETCFG_BLOCK_DATA);
    if (kind == NETCFG_KIND_IMAGE)
        image_block(control, block, n);
    else
        file_block(control, block, n);
}

void netcfg_check_progress()
{
    if (!s_watching || msc_now() - s_progress_ms < NETCFG_STALL_MS)
        return;
    // Over, as if it had never started: the keepalive counts again (an
    // online panel the router stopped polling goes offline), an offline
    // panel comes online on the next ON POLL, and the blocks that come
    // late are refused.
    printf("Config: no block for %d s, download ended\n", NETCFG_STALL_MS / 1000);
    s_watching = 0;
    s_rx_error = 1;
    cfgasm_clear(&s_file);
    comms_set_config_complete(1);
}

int netcfg_receiving()
{
    return !s_rx_error;
}

uint32_t netcfg_file_len()
{
    return s_file.len;
}

uint32_t netcfg_image_fill()
{
    return s_image_fill;
}

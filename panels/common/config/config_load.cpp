#include "config/config_load.h"

#include "link/comms.h"
#include "link/netcfg.h"
#include "config/config_binary.h"
#include "config/config_store.h"
#include "echain.h"
#include "estreambuf.h"
#include "panels_main.h"
#include "parser.h"
#include "plat.h"
#include "config/sem_config.h"

#include <cstdio>
#include <cstring>

static uint16_t s_crc;

uint16_t cfgload_crc()
{
    return s_crc;
}

// Plain PCSL text begins with the first characters of its "#" line.
static bool plain_text(const uint8_t *p, size_t len)
{
    return len >= 5 && memcmp(p, "#####", 5) == 0;
}

// Parses one PCSL text into the store.
static void parse_stream(EStreamBuf *sb)
{
    SemConfig sem;
    Parser parser;
    parser.attach(sb, &sem);
    parser.parse(0, nullptr);
}

static void parse_plain(const uint8_t *p, size_t len)
{
    EMemBuf mem;
    // Opened for reading only: the buffer is never written.
    mem.setbuf(const_cast<char *>(reinterpret_cast<const char *>(p)), len);
    mem.open("r");
    parse_stream(&mem);
}

// After every load from the file: panel setup, and the mark the firmware
// thread reports to the host.
static void finish_load()
{
    comms_panel_setup();
    panels_mark_config_loaded();
}

// A payload that is not plain text: compressed text, or else a binary
// configuration. An empty payload takes the binary way with nothing to
// read: the configuration in force stays, panel setup runs and the
// configuration counts as loaded.
static bool load_coded(const uint8_t *p, size_t len)
{
    printf("setting up membuf\n");
    // The chain's buffers are large; they live on the stack for this load
    // only, as the parser does.
    EDecodeChain chain;
    printf("setting up decompression chain\n");
    chain.open(reinterpret_cast<const char *>(p), len);
    EStreamBuf *text = chain.stream();
    int hashes = 0;
    for (int i = 0; i < 5; ++i)
        if (text->take() == '#')
            ++hashes;
    if (hashes == 5) {
        printf("reading compressed pcsl file\n");
        resetConfiguration();
        parse_stream(text);
        chain.close();
        applyConfiguration();
        finish_load();
        return true;
    }
    chain.close();
    printf("reading binary config file\n");
    if (len)
        readBinaryConfig(p, len);
    finish_load();
    comms_request_redraw();
    return true;
}

static uint32_t read_be32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool cfgload_file_data(const uint8_t *data, size_t len)
{
    // The magic and the length field must both be there.
    if (!data || len < CFGLOAD_HEADER || memcmp(data, "CONFIG", 6) != 0) {
        printf("incorrect config header!\n");
        return false;
    }
    const uint32_t length = read_be32(data + 6);
    // The checksum never reads beyond the bytes that are there.
    size_t payload = length > CFGLOAD_HEADER ? length - CFGLOAD_HEADER : 0;
    if (payload > len - CFGLOAD_HEADER)
        payload = len - CFGLOAD_HEADER;
    const uint16_t crc = netcfg_config_crc(data + CFGLOAD_HEADER, payload);
    printf("LOAD CRC: %04X\n", crc);
    printf("length of file is %d\n", int(length));
    // A length beyond the file is a truncated file: refused as too big for
    // what is there.
    if (length < 1 || length > CFGLOAD_MAX_LENGTH || length > len) {
        printf("config file too big (%d)!\n", int(length));
        return false;
    }
    if (length < CFGLOAD_HEADER) {
        printf("incorrect config header!\n");
        return false;
    }

    const uint8_t *p = data + CFGLOAD_HEADER;
    if (plain_text(p, payload)) {
        printf("reading uncompressed pcsl file\n");
        resetConfiguration();
        parse_plain(p, payload);
        applyConfiguration();
        finish_load();
    } else if (!load_coded(p, payload)) {
        return false;
    }
    s_crc = crc;
    netcfg_config_in_use(crc);
    return true;
}

bool cfgload_file()
{
    uint32_t len = 0;
    const uint8_t *data = plat_config_read(&len);
    if (!data)
        return false;
    return cfgload_file_data(data, len);
}

// One text of a network body. Returns false when it is neither compressed
// text beginning with "#" nor plain text beginning with "#####".
static bool load_network_part(const uint8_t *p, size_t len, bool compressed, bool first)
{
    if (compressed) {
        printf("Config: Compressed PCSL received\n");
        EDecodeChain chain;
        chain.open(reinterpret_cast<const char *>(p), len);
        EStreamBuf *text = chain.stream();
        if (text->take() != '#') {
            chain.close();
            return false;
        }
        printf("reading compressed pcsl file\n");
        if (first)
            resetConfiguration();
        parse_stream(text);
        chain.close();
        return true;
    }
    if (!plain_text(p, len))
        return false;
    printf("Config: Un-compressed PCSL received\n");
    if (first)
        resetConfiguration();
    parse_plain(p, len);
    return true;
}

bool cfgload_network(const uint8_t *body, size_t len, bool compressed, bool multipart)
{
    if (!body)
        return false;
    if (!multipart) {
        if (!load_network_part(body, len, compressed, true))
            return false;
        applyConfiguration();
        return true;
    }
    size_t pos = 0;
    int parts = 0;
    bool ended = false; // a zero length was read
    while (parts < 2 && len - pos >= 4) {
        const uint32_t n = read_be32(body + pos);
        pos += 4;
        if (n == 0) {
            ended = true;
            break;
        }
        // A part longer than the body is damaged: not acceptable.
        if (n > len - pos)
            return false;
        if (!load_network_part(body + pos, n, compressed, parts == 0))
            return false;
        pos += n;
        ++parts;
    }
    if (parts == 0) {
        // A body too short for even its first length field is damaged.
        if (!ended)
            return false;
        // A zero first length: nothing to apply, and the configuration in
        // force stays.
        panels_mark_config_loaded();
        return true;
    }
    applyConfiguration();
    return true;
}

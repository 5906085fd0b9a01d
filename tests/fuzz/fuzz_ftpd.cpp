// The FTP server over a network scripted by the input: what the client
// sends on the control connection (in segments of any size, or nothing for
// as long as the server waits), how the data connection connects and what
// arrives on it, and time jumps for the time-outs. Every reply is one
// well-formed line (or a stored multi-line reply), every stored
// configuration has its header and fits a file, no client can end the
// service or hold it for longer than its time-outs, the data connection
// only ever goes to the client itself at a port of 1024 or above, and
// PORT's parser takes any text.

#include "fuzz_common.h"
#include "link/ftpd.h"
#include "link/ftpd_int.h"
#include "ms_clock.h"

#include <cstring>

namespace {

const uint8_t *s_in;
size_t s_len;
size_t s_pos;
uint32_t s_now;
int s_clients;
int s_opens;
enum { LISTEN = 3, CTRL = 4, DATA = 5 };
const uint8_t kClient[4] = {127, 0, 0, 1};

int next_byte()
{
    return s_pos < s_len ? s_in[s_pos++] : -1;
}

int f_open() { return s_opens++ == 0 ? LISTEN : DATA; }
int f_reuse(int) { return 0; }
int f_bind(int, const uint8_t *, uint16_t) { return 0; }
int f_listen(int, int) { return 0; }

int f_accept(int, uint8_t peer[4])
{
    if (s_clients <= 0)
        return -1;
    --s_clients;
    memcpy(peer, kClient, 4);
    return CTRL;
}

int f_connect(int, const uint8_t *ip, uint16_t port)
{
    FUZZ_CHECK(g_ftpd.port_port == port);
    FUZZ_CHECK(memcmp(ip, kClient, 4) == 0 && port >= 1024);
    switch (next_byte() & 3) {
    case 0: return 0;
    case 1: return FTPD_NET_PENDING;
    case 2: return FTPD_NET_ISCONN;
    default: return 111;
    }
}

// Control: a length byte, then that many bytes (0 = closed, 255 = error,
// 254 = nothing for as long as the server waits).
// Data: 0 nothing yet, 1 closed, 2 error, 3 a time jump, 4..199 that many
// bytes of input, 200 and more a full chunk of filler (large uploads).
int f_recv(int s, uint8_t *buf, int len, int wait, int *err)
{
    *err = 0;
    FUZZ_CHECK((s == CTRL) == (wait != 0));
    FUZZ_CHECK(wait >= 0 && wait <= FTPD_IDLE_MS);
    const int b = next_byte();
    if (b < 0)
        return 0;
    if (s == CTRL) {
        if (b == 0)
            return 0;
        if (b == 254) {
            s_now += uint32_t(wait);
            return -1;
        }
        if (b == 255) {
            *err = 104;
            return -1;
        }
        int n = 0;
        while (n < b && n < len && s_pos < s_len)
            buf[n++] = s_in[s_pos++];
        return n > 0 ? n : 0;
    }
    switch (b) {
    case 0: return -1;
    case 1: return 0;
    case 2: *err = 104; return -1;
    case 3: s_now += 6000; return -1;
    default: break;
    }
    if (b >= 200) {
        memset(buf, 'f', size_t(len));
        return len;
    }
    int n = 0;
    while (n < b && n < len && s_pos < s_len)
        buf[n++] = s_in[s_pos++];
    return n > 0 ? n : -1;
}

// Each reply: "ddd text\r\n" without a line end inside, or a stored
// multi-line reply, all within the reply buffer.
int f_send(int s, const uint8_t *buf, int len)
{
    FUZZ_CHECK(s == CTRL);
    FUZZ_CHECK(len >= 6 && len <= FTPD_REPLY_MAX);
    FUZZ_CHECK(buf[0] >= '1' && buf[0] <= '5' && buf[1] >= '0' && buf[1] <= '9' && buf[2] >= '0' && buf[2] <= '9');
    FUZZ_CHECK(buf[3] == ' ' || buf[3] == '-');
    FUZZ_CHECK(buf[len - 2] == '\r' && buf[len - 1] == '\n');
    if (buf[3] == ' ') {
        for (int i = 0; i < len - 2; ++i)
            FUZZ_CHECK(buf[i] != '\r' && buf[i] != '\n');
    }
    return 0;
}

void f_close(int) {}
void f_nothing() {}

// A staged upload is put in place only while one is staged.
bool s_staged;

int f_stage(uint8_t *buf, uint32_t *len)
{
    FUZZ_CHECK(*len >= FTPD_CONFIG_HEADER && *len <= FTPD_UPLOAD_MAX);
    FUZZ_CHECK(memcmp(buf, "CONFIG\0\0\0\0", 10) == 0);
    *len = 0;
    s_staged = true;
    return FTPD_STORE_OK;
}

int f_place(int keep)
{
    FUZZ_CHECK(!keep || s_staged);
    s_staged = false;
    return keep;
}

void f_locate(int on) { FUZZ_CHECK(on == 0 || on == 1); }
void f_message(const char *) {}

const FtpdPlatform s_platform = {f_open,  f_reuse, f_bind,  f_listen,  f_accept, f_connect,
                                 f_recv,  f_send,  f_close, f_nothing, f_nothing, f_stage,
                                 f_place, f_locate, f_nothing, f_message};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    msc_set_test_source(&s_now);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // PORT's parser over the input as text.
    char text[600];
    const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
    if (n)
        memcpy(text, data, n);
    text[n] = '\0';
    uint8_t ip[4];
    uint16_t port;
    ftpd_parse_port(text, ip, &port);

    // A session scripted by the input; one client, then a second one.
    s_in = data;
    s_len = size;
    s_pos = 0;
    s_now = 0;
    s_clients = 2;
    s_opens = 0;
    const uint8_t any[4] = {0, 0, 0, 0};
    ftpd_init(&s_platform, any, 2001);
    for (int step = 0; step < 200000; ++step) {
        if (ftpd_state() == FTPD_ST_ACCEPT && s_clients == 0)
            break;
        ftpd_step();
        s_now += 25;
        FUZZ_CHECK(ftpd_error() == 0);
        FUZZ_CHECK(ftpd_state() >= 0 && ftpd_state() <= FTPD_ST_SESSION_END);
        FUZZ_CHECK(g_ftpd.line_len >= 0 && g_ftpd.line_len <= FTPD_LINE_MAX + 1);
        FUZZ_CHECK(g_ftpd.rx_pos >= 0 && g_ftpd.rx_pos <= g_ftpd.rx_len && g_ftpd.rx_len <= FTPD_RX_CHUNK);
        FUZZ_CHECK(g_ftpd.upload_len <= FTPD_UPLOAD_MAX);
        // Time-outs: a session waits at most the idle time for a command
        // (give or take a step), an upload at most its limit.
        if (ftpd_state() == FTPD_ST_COMMAND)
            FUZZ_CHECK(s_now - g_ftpd.ctrl_active <= FTPD_IDLE_MS + 50);
        if (ftpd_state() == FTPD_ST_DATA_RECV)
            FUZZ_CHECK(s_now - g_ftpd.upload_started <= FTPD_UPLOAD_LIMIT_MS + 6100);
    }
    FUZZ_CHECK(ftpd_state() == FTPD_ST_ACCEPT);
    ftpd_stop();
    ftpd_finish();
    return 0;
}

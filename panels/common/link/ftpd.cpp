// FTP server: the service state machine. Each step does one thing (create,
// bind, listen, accept, read commands, run the data connection of an
// upload, close) and picks the next state. Accept and the command receive
// block; the data connection never does, so its time-outs run on the
// stopwatch between steps.

#include "link/ftpd_int.h"
#include "ms_clock.h"

#include <cstdio>
#include <cstring>

FtpdState g_ftpd;
std::atomic<int> g_ftpd_stopping{0};

static const char NO_DATA_CONNECTION[] = "Can't open data connection.";
static const char ABORTED[] = "Requested file action aborted, internal error %d.";
static const char NOT_STORED[] = "Requested action aborted: local error in processing.";
static const char NO_SPACE[] = "Requested action not taken. Insufficient storage space in system.";

static const char BANNER[] =
    "220-Pellam FTP Server.\r\n"
    "220-Panel configuration upload and locate.\r\n"
    "220 Type QUOTE HELP for information.\r\n";

static const uint8_t CONFIG_HEADER[FTPD_CONFIG_HEADER] = {'C', 'O', 'N', 'F', 'I', 'G', 0, 0, 0, 0};

uint16_t ftpd_control_port(uint32_t udp_port)
{
    return udp_port ? uint16_t(2 * udp_port + 10021) : 21;
}

uint16_t ftpd_data_port(uint32_t udp_port)
{
    return udp_port ? uint16_t(2 * udp_port + 10020) : 20;
}

void ftpd_init(const FtpdPlatform *plat, const uint8_t ip[4], uint32_t udp_port)
{
    FtpdState &s = g_ftpd;
    s.plat = plat;
    s.listen_sock = s.ctrl_sock = s.data_sock = -1;
    s.state = FTPD_ST_SOCKET;
    s.error = FTPD_ERR_NONE;
    s.client_error = FTPD_ERR_NONE;
    memcpy(s.ip, ip, 4);
    s.ctrl_port = ftpd_control_port(udp_port);
    s.data_port = ftpd_data_port(udp_port);
    s.stopwatch = 0;
    ftpd_session_reset();
    g_ftpd_stopping.store(0, std::memory_order_relaxed);
    plat->sock_rearm();
    // An upload staged by a run that ended before its session did.
    plat->place_config(0);
}

int ftpd_error(void) { return g_ftpd.error; }
int ftpd_client_error(void) { return g_ftpd.client_error; }
int ftpd_state(void) { return g_ftpd.state; }

static void close_sock(int *s)
{
    if (*s >= 0) {
        g_ftpd.plat->sock_close(*s);
        *s = -1;
    }
}

void ftpd_close_all(void)
{
    close_sock(&g_ftpd.data_sock);
    close_sock(&g_ftpd.ctrl_sock);
    close_sock(&g_ftpd.listen_sock);
}

static void step_session_end(void);

void ftpd_finish(void)
{
    if (g_ftpd.transfer_complete)
        step_session_end();
    ftpd_close_all();
}

void ftpd_stop(void)
{
    g_ftpd_stopping.store(1, std::memory_order_relaxed);
    if (g_ftpd.plat)
        g_ftpd.plat->sock_shutdown_all();
}

static uint32_t elapsed(void)
{
    return msc_now() - g_ftpd.stopwatch;
}

static void step_socket(void)
{
    printf("serviceFtp: requesting socket ");
    g_ftpd.listen_sock = g_ftpd.plat->sock_open();
    if (g_ftpd.listen_sock < 0) {
        printf("(failed)\n");
        return;
    }
    printf("(passed)\n");
    g_ftpd.state = FTPD_ST_BIND;
}

// Address reuse on the listening socket lets a panel that is started again
// bind its port while connections of its last run linger in TIME_WAIT; it
// never lets two servers listen on one port.
static void step_bind(void)
{
    FtpdState &s = g_ftpd;
    printf("serviceFtp: binding socket ");
    s.plat->sock_reuse(s.listen_sock);
    const int err = s.plat->sock_bind(s.listen_sock, s.ip, s.ctrl_port);
    if (err) {
        printf("(failed)\n");
        printf("errorcode %d\n", err);
        s.error = FTPD_ERR_BIND;
        s.state = FTPD_ST_CLOSE_LISTEN;
        return;
    }
    char text[64];
    snprintf(text, sizeof text, "Ftp using ports:%u %u", unsigned(s.ctrl_port), unsigned(s.data_port));
    s.plat->message(text);
    printf("(passed)\n");
    s.state = FTPD_ST_LISTEN;
}

static void step_listen(void)
{
    printf("serviceFtp: listening on socket ");
    if (g_ftpd.plat->sock_listen(g_ftpd.listen_sock, FTPD_BACKLOG) != 0) {
        printf("(failed)\n");
        g_ftpd.error = FTPD_ERR_LISTEN;
        g_ftpd.state = FTPD_ST_CLOSE_LISTEN;
        return;
    }
    printf("(passed)\n");
    g_ftpd.state = FTPD_ST_ACCEPT;
}

static void step_accept(void)
{
    FtpdState &s = g_ftpd;
    uint8_t peer[4];
    const int c = s.plat->sock_accept(s.listen_sock, peer);
    if (c < 0)
        return;
    s.ctrl_sock = c;
    printf("serviceFtp: connection accepted from %u.%u.%u.%u\n", peer[0], peer[1], peer[2], peer[3]);
    ftpd_session_reset();
    memcpy(s.peer, peer, 4);
    s.ctrl_active = msc_now();
    if (s.plat->sock_send(c, reinterpret_cast<const uint8_t *>(BANNER), int(sizeof BANNER - 1)) != 0) {
        printf("serviceFtp: unable to send banner\n");
        s.state = FTPD_ST_CLOSE_CTRL;
        return;
    }
    s.state = FTPD_ST_COMMAND;
}

// Executes what is already received; only when no byte is left does it
// wait for more, so pipelined commands are all answered. The wait ends
// when the client has sent nothing for FTPD_IDLE_MS: the server has one
// client at a time, and one that only holds the connection open would
// keep every other client out.
static void step_command(void)
{
    FtpdState &s = g_ftpd;
    if (!s.session_end && s.rx_pos >= s.rx_len) {
        const uint32_t idle = msc_now() - s.ctrl_active;
        const int wait = idle >= FTPD_IDLE_MS ? 1 : int(FTPD_IDLE_MS - idle);
        int err = 0;
        const int n = s.plat->sock_recv(s.ctrl_sock, s.rx, FTPD_RX_CHUNK, wait, &err);
        if (n == 0) {
            printf("netftpd_rxcmd: client closed session\n");
            s.session_end = 1;
        } else if (n < 0 && err == 0) {
            if (msc_now() - s.ctrl_active >= FTPD_IDLE_MS) {
                printf("netftpd_rxcmd: no command for %d s\n", FTPD_IDLE_MS / 1000);
                ftpd_reply(421, "No command for %d seconds, closing control connection.",
                           FTPD_IDLE_MS / 1000);
                s.session_end = 1;
            }
            return;
        } else if (n < 0) {
            printf("netftpd_rxcmd: socket error %d\n", err);
            s.session_end = 1;
        } else {
            s.rx_len = n;
            s.rx_pos = 0;
            s.ctrl_active = msc_now();
        }
    }
    if (!s.session_end)
        s.rx_pos += ftpd_feed(s.rx + s.rx_pos, s.rx_len - s.rx_pos);
    if (s.session_end) {
        printf("ftpService: rxcmd drop sess\n");
        s.state = FTPD_ST_CLOSE_CTRL;
    }
}

static void step_close_ctrl(void)
{
    printf("serviceFtp: closing control client socket\n");
    close_sock(&g_ftpd.ctrl_sock);
    close_sock(&g_ftpd.data_sock);
    g_ftpd.state = FTPD_ST_SESSION_END;
}

static void step_close_listen(void)
{
    printf("serviceFtp: closing client socket\n");
    close_sock(&g_ftpd.listen_sock);
    g_ftpd.state = FTPD_ST_SOCKET;
}

static void data_failed(void)
{
    ftpd_reply(425, "%s", NO_DATA_CONNECTION);
    g_ftpd.state = FTPD_ST_DATA_CLOSE;
}

static void step_data_socket(void)
{
    printf("serviceFtp: alloc data socket ");
    g_ftpd.data_sock = g_ftpd.plat->sock_open();
    if (g_ftpd.data_sock < 0) {
        printf("(failed)\n");
        data_failed();
        return;
    }
    printf("(passed)\n");
    g_ftpd.state = FTPD_ST_DATA_OPTS;
}

static void step_data_opts(void)
{
    printf("serviceFtp: set data sock opts ");
    if (g_ftpd.plat->sock_reuse(g_ftpd.data_sock) != 0) {
        printf("(failed)\n");
        data_failed();
        return;
    }
    printf("(passed)\n");
    g_ftpd.state = FTPD_ST_DATA_BIND;
}

static void step_data_bind(void)
{
    FtpdState &s = g_ftpd;
    printf("serviceFtp: binding data socket ");
    if (s.plat->sock_bind(s.data_sock, s.ip, s.data_port) != 0) {
        printf("(failed)\n");
        s.error = FTPD_ERR_BIND;
        data_failed();
        return;
    }
    printf("(passed)\n");
    s.stopwatch = msc_now();
    s.state = FTPD_ST_DATA_CONNECT;
}

// The connect runs over several steps; the call that finds the socket
// already connected opens the session. A new upload replaces whatever an
// earlier one of the session left in the buffer, so that earlier one no
// longer counts as complete.
static void step_data_connect(void)
{
    FtpdState &s = g_ftpd;
    if (elapsed() > FTPD_TIMEOUT_MS) {
        printf("serviceFtp: timed out waiting for data connect\n");
        s.client_error = FTPD_ERR_DATA_CONNECT;
        data_failed();
        return;
    }
    const int r = s.plat->sock_connect(s.data_sock, s.port_ip, s.port_port);
    if (r == 0 || r == FTPD_NET_PENDING)
        return;
    if (r != FTPD_NET_ISCONN) {
        printf("serviceFtp: error %d on data connect\n", r);
        s.client_error = FTPD_ERR_DATA_CONNECT;
        data_failed();
        return;
    }
    const uint8_t *a = s.port_ip;
    printf("serviceFtp: data session with %u.%u.%u.%u opened\n", a[0], a[1], a[2], a[3]);
    s.stopwatch = msc_now();
    s.upload_started = s.stopwatch;
    s.upload_len = 0;
    ftpd_reply(150, "Opening data connection.");
    // A new upload replaces one the session finished before.
    if (s.transfer_complete && s.upload_in_config)
        s.plat->place_config(0);
    s.transfer_complete = 0;
    s.upload_in_config = !s.at_root;
    if (s.upload_in_config) {
        memcpy(s.upload, CONFIG_HEADER, FTPD_CONFIG_HEADER);
        s.upload_len = FTPD_CONFIG_HEADER;
    }
    s.state = FTPD_ST_DATA_RECV;
}

// The client has sent the whole file: a configuration is written to disk
// now, so that the client learns whether it was kept; it takes the old
// one's place when the session ends.
static void finish_upload(void)
{
    FtpdState &s = g_ftpd;
    if (!s.upload_in_config) {
        s.transfer_complete = 1;
        ftpd_reply(226, "Transfer complete.");
        return;
    }
    const int r = s.plat->stage_config(s.upload, &s.upload_len);
    s.upload_len = 0;
    if (r == FTPD_STORE_OK) {
        s.transfer_complete = 1;
        ftpd_reply(226, "Transfer complete.");
        return;
    }
    printf("serviceFtp: the upload could not be stored\n");
    if (r == FTPD_STORE_NO_SPACE)
        ftpd_reply(452, NO_SPACE);
    else
        ftpd_reply(451, NOT_STORED);
}

static void step_data_recv(void)
{
    FtpdState &s = g_ftpd;
    // However the data trickles in, an upload ends: a file of the largest
    // size takes a fraction of this limit on any network a panel is on.
    if (msc_now() - s.upload_started > FTPD_UPLOAD_LIMIT_MS) {
        printf("serviceFtp: upload not finished within %d s, aborted\n", FTPD_UPLOAD_LIMIT_MS / 1000);
        ftpd_reply(426, "Connection closed; transfer aborted, upload took longer than %d seconds.",
                   FTPD_UPLOAD_LIMIT_MS / 1000);
        s.upload_len = 0;
        s.state = FTPD_ST_DATA_CLOSE;
        return;
    }
    if (elapsed() > FTPD_TIMEOUT_MS) {
        printf("serviceFtp: timed out waiting for data\n");
        ftpd_reply(451, ABORTED, 3);
        s.state = FTPD_ST_DATA_CLOSE;
        return;
    }
    uint8_t buf[FTPD_DATA_CHUNK];
    int err = 0;
    const int n = s.plat->sock_recv(s.data_sock, buf, FTPD_DATA_CHUNK, 0, &err);
    if (n > 0) {
        // No configuration is larger than a file may be: refuse the upload
        // and stop reading instead of growing without bound.
        if (s.upload_len + uint32_t(n) > FTPD_UPLOAD_MAX) {
            printf("serviceFtp: upload larger than %d bytes refused\n", FTPD_UPLOAD_MAX);
            ftpd_reply(552, "Requested file action aborted. Exceeded storage allocation.");
            s.upload_len = 0;
            s.state = FTPD_ST_DATA_CLOSE;
            return;
        }
        memcpy(s.upload + s.upload_len, buf, size_t(n));
        s.upload_len += uint32_t(n);
        s.stopwatch = msc_now();
        return;
    }
    if (n < 0 && err == 0)
        return; // nothing yet
    // A connection shut down because the panel stops is no finished upload.
    if (g_ftpd_stopping.load(std::memory_order_relaxed)) {
        s.upload_len = 0;
        s.state = FTPD_ST_DATA_CLOSE;
        return;
    }
    if (n == 0) {
        printf("netftpd_rxdata: client closed session\n");
        printf("serviceFtp: closing client data socket\n");
        finish_upload();
    } else {
        printf("serviceFtp: socket error %d\n", err);
        ftpd_reply(451, ABORTED, err);
        s.client_error = FTPD_ERR_DATA_RECV;
        s.upload_len = 0;
    }
    s.state = FTPD_ST_DATA_CLOSE;
}

static void step_data_close(void)
{
    printf("serviceFtp: closing client data socket\n");
    close_sock(&g_ftpd.data_sock);
    g_ftpd.state = FTPD_ST_COMMAND;
    // The client's idle time counts from the end of its transfer.
    g_ftpd.ctrl_active = msc_now();
}

// The upload is stored when the session ends, however it ended.
static void step_session_end(void)
{
    FtpdState &s = g_ftpd;
    if (s.transfer_complete) {
        s.transfer_complete = 0;
        if (s.upload_in_config)
            s.plat->place_config(1);
        else
            printf("Invalid panel image file, please try again...\n");
    }
    s.upload_len = 0;
    s.state = FTPD_ST_ACCEPT;
}

void ftpd_step(void)
{
    switch (g_ftpd.state) {
    case FTPD_ST_SOCKET: step_socket(); break;
    case FTPD_ST_BIND: step_bind(); break;
    case FTPD_ST_LISTEN: step_listen(); break;
    case FTPD_ST_ACCEPT: step_accept(); break;
    case FTPD_ST_COMMAND: step_command(); break;
    case FTPD_ST_CLOSE_CTRL: step_close_ctrl(); break;
    case FTPD_ST_CLOSE_LISTEN: step_close_listen(); break;
    case FTPD_ST_DATA_SOCKET: step_data_socket(); break;
    case FTPD_ST_DATA_OPTS: step_data_opts(); break;
    case FTPD_ST_DATA_BIND: step_data_bind(); break;
    case FTPD_ST_DATA_CONNECT: step_data_connect(); break;
    case FTPD_ST_DATA_RECV: step_data_recv(); break;
    case FTPD_ST_DATA_CLOSE: step_data_close(); break;
    case FTPD_ST_SESSION_END: step_session_end(); break;
    default:
        printf("serviceFtp: unknown state\n");
        ftpd_close_all();
        g_ftpd.state = FTPD_ST_SOCKET;
        break;
    }
    fflush(stdout);
}

#ifndef FTPD_H
#define FTPD_H

// The panel's FTP server: one client at a time, active-mode data
// connections, uploads only. A configuration tool changes to "config" and
// stores the panel's configuration there. When the data connection closes
// the upload is written and synced to a temporary file, and the client
// hears 226 only once that worked (451, or 452 for a full disk, otherwise);
// the file takes the configuration's place when the control session ends.
// SITE LOCATEON makes the panel face flash.
//
// The service is a state machine advanced one step at a time (every 25 ms
// by the FTP thread). Everything it needs from the machine (sockets, the
// configuration write, locate, the host log) comes through an FtpdPlatform,
// so tests and the fuzzer run it over a scripted network. All calls except
// ftpd_stop() belong to the service's own thread.

#include <cstdint>

enum {
    FTPD_LINE_MAX = 510,         // longest command line, without CR LF
    FTPD_RX_CHUNK = 256,         // control bytes taken per receive
    FTPD_DATA_CHUNK = 1024,      // data bytes taken per receive
    FTPD_UPLOAD_MAX = 131071,    // largest file a configuration may be
    FTPD_CONFIG_HEADER = 10,     // "CONFIG" and the 4-byte length
    FTPD_TIMEOUT_MS = 5000,      // data connect and data inactivity
    FTPD_IDLE_MS = 60000,        // a control connection without a command
    FTPD_UPLOAD_LIMIT_MS = 60000, // an upload's data connection, in all
    FTPD_SEND_TIMEOUT_MS = 5000, // a reply the client does not take
    FTPD_BACKLOG = 2,
    FTPD_REPLY_MAX = 1024
};

// Service states (ftpd_state()).
enum {
    FTPD_ST_SOCKET = 0,     // create the listening socket
    FTPD_ST_BIND = 1,       // bind it to the control port
    FTPD_ST_LISTEN = 2,
    FTPD_ST_ACCEPT = 3,     // wait for a client, send the banner
    FTPD_ST_COMMAND = 4,    // read and execute commands
    FTPD_ST_CLOSE_CTRL = 5, // session over: close control and data sockets
    FTPD_ST_CLOSE_LISTEN = 6,
    FTPD_ST_DATA_SOCKET = 7,
    FTPD_ST_DATA_OPTS = 8,
    FTPD_ST_DATA_BIND = 9,
    FTPD_ST_DATA_CONNECT = 10,
    FTPD_ST_DATA_RECV = 11,
    FTPD_ST_DATA_CLOSE = 12,
    FTPD_ST_SESSION_END = 13 // store what the session uploaded
};

// Error codes. Only a bind or listen failure ends the service (and so the
// panel); what one client does wrong ends that transfer or session only.
enum {
    FTPD_ERR_NONE = 0,
    FTPD_ERR_DATA_CONNECT = 1, // data connection failed or timed out
    FTPD_ERR_BIND = 2,
    FTPD_ERR_LISTEN = 3,
    FTPD_ERR_DATA_RECV = 4     // data receive error
};

// Results of FtpdPlatform::stage_config.
enum { FTPD_STORE_OK = 0, FTPD_STORE_NO_SPACE = 1, FTPD_STORE_FAILED = 2 };

// Results of FtpdPlatform::sock_connect besides 0 (connected by this call)
// and a positive system error number.
enum { FTPD_NET_PENDING = -1, FTPD_NET_ISCONN = -2 };

struct FtpdPlatform {
    // A new TCP socket (blocking), or -1. Refused once ftpd_stop() ran.
    int (*sock_open)(void);
    // Allows the socket's address to be reused; 0 or a system error.
    int (*sock_reuse)(int s);
    // Binds to ip (most significant byte first; 0.0.0.0 = any) and port;
    // 0 or a system error.
    int (*sock_bind)(int s, const uint8_t ip[4], uint16_t port);
    int (*sock_listen)(int s, int backlog);
    // Waits for a client; its socket and address, or -1.
    int (*sock_accept)(int s, uint8_t peer[4]);
    // Starts or continues a connect without blocking: 0 when this call
    // connected, FTPD_NET_PENDING while in progress, FTPD_NET_ISCONN once
    // connected, else a system error.
    int (*sock_connect)(int s, const uint8_t ip[4], uint16_t port);
    // Receives up to len bytes, waiting at most wait_ms milliseconds for
    // them (0: not at all). Returns the count, 0 when the peer closed, or -1
    // with *err the system error (*err = 0: nothing came within the wait).
    int (*sock_recv)(int s, uint8_t *buf, int len, int wait_ms, int *err);
    // Sends all of buf, waiting at most FTPD_SEND_TIMEOUT_MS for a client
    // that does not read; 0 or a system error (ETIMEDOUT then).
    int (*sock_send)(int s, const uint8_t *buf, int len);
    void (*sock_close)(int s);
    // From another thread: wakes every blocked call on the service's
    // sockets and refuses new ones until sock_rearm.
    void (*sock_shutdown_all)(void);
    void (*sock_rearm)(void);

    // Writes an uploaded configuration file (buf starts with its header)
    // to a temporary file and syncs it; sets *len to 0. FTPD_STORE_OK, or
    // why it failed (nothing is left of it then).
    int (*stage_config)(uint8_t *buf, uint32_t *len);
    // keep non-zero: puts the staged file in place of the configuration
    // file and has the panel reload it. keep 0: drops the staged file, if
    // any.
    int (*place_config)(int keep);
    // Locate flashing on or off.
    void (*locate)(int on);
    // Every lamp of the panel off.
    void (*leds_off)(void);
    // A line for the host's panel log.
    void (*message)(const char *text);
};

// Control and data port of a panel with UDP port p: 2p + 10021 and
// 2p + 10020 (21 and 20 for p = 0). Ports are 16 bits: the sum wraps for
// UDP ports above 27757.
uint16_t ftpd_control_port(uint32_t udp_port);
uint16_t ftpd_data_port(uint32_t udp_port);

// Resets the service to state 0 for the panel's address and UDP port.
// Called before the service's thread starts.
void ftpd_init(const FtpdPlatform *plat, const uint8_t ip[4], uint32_t udp_port);
// One service step.
void ftpd_step(void);
// The error code; non-zero ends the service.
int ftpd_error(void);
// The last per-client failure (FTPD_ERR_DATA_CONNECT, FTPD_ERR_DATA_RECV)
// or 0; informational only.
int ftpd_client_error(void);
int ftpd_state(void);
// Closes the listening, control and data sockets.
void ftpd_close_all(void);
// The service's thread on its way out: an upload the client finished in
// the session that is still open is stored as if the session had ended,
// then every socket is closed.
void ftpd_finish(void);
// Any thread: wakes the service out of a blocked accept or receive. The
// transfer in progress is dropped; the sockets are closed by the service's
// thread (ftpd_close_all) on its way out.
void ftpd_stop(void);

// Parses a PORT argument "h1,h2,h3,h4,p1,p2" into an address and port.
// Returns 0, or -1 for a number above 255 or a missing comma.
int ftpd_parse_port(const char *arg, uint8_t ip[4], uint16_t *port);

// Executes one command line (without CR LF) of the current session.
void ftpd_execute(const char *line);
// Feeds bytes received on the control connection: completes command lines
// and executes each while the session stays in command state; bytes after
// a STOR wait until the transfer is over. Returns the count consumed.
int ftpd_feed(const uint8_t *data, int len);

#endif

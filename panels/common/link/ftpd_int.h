#ifndef FTPD_INT_H
#define FTPD_INT_H

// State shared by the FTP server's command handling (ftpd_cmd.cpp) and its
// service state machine (ftpd.cpp). One service per library copy.

#include "link/ftpd.h"

#include <atomic>
#include <cstdint>

struct FtpdState {
    const FtpdPlatform *plat;
    int listen_sock;            // -1 = none
    int ctrl_sock;
    int data_sock;
    int state;
    int error;
    int client_error;

    uint8_t ip[4];              // the panel's own address
    uint16_t ctrl_port;
    uint16_t data_port;

    // Command line being assembled and control bytes not yet looked at.
    char line[FTPD_LINE_MAX + 2]; // room for a trailing CR and the end
    int line_len;
    uint8_t rx[FTPD_RX_CHUNK];
    int rx_len;
    int rx_pos;
    int session_end;            // set by QUIT, a lost connection, a reply
                                // the client would not take, idleness
    uint8_t peer[4];            // the client's address (control connection)
    uint32_t ctrl_active;       // the client's last command bytes (or the end
                                // of its last transfer)
    uint32_t upload_started;    // the data connection of the upload opened

    // Where the client listens for the data connection (PORT).
    uint8_t port_ip[4];         // 0.0.0.0 = no PORT received
    uint16_t port_port;

    int at_root;                // 1 = root, 0 = "config"
    int transfer_complete;      // an upload finished in this session
    int upload_in_config;       // the upload in the buffer went to "config"
    uint32_t stopwatch;         // start of the running time-out

    // The upload: the FTP server's own buffer, so it never meets the
    // network configuration download of the firmware thread.
    uint8_t upload[FTPD_UPLOAD_MAX];
    uint32_t upload_len;
};

extern FtpdState g_ftpd;
// Set by ftpd_stop() from another thread.
extern std::atomic<int> g_ftpd_stopping;

// Sends "ddd text\r\n" (text printf-style) on the control connection.
void ftpd_reply(int code, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Sends a stored multi-line reply as it is.
void ftpd_reply_extended(const char *text);
// Forgets the session's command line, pending bytes and PORT address.
void ftpd_session_reset(void);

#endif

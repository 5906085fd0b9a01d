// The FTP server's platform: POSIX TCP sockets used from the FTP thread,
// plus the configuration write, locate and the panel log.
//
// The firmware thread ends the service from outside while the FTP thread
// may sit in accept or recv. Closing a descriptor under a blocked call does
// not wake it on Linux, and a closed number may at once be reused by
// another socket of the process. So the other thread only shuts the
// sockets down (which wakes every call on them) and keeps new ones from
// being opened; the FTP thread closes them itself. The table of open
// descriptors and the lock keep a shutdown from ever meeting a number the
// FTP thread has already closed.

#include "link/ftpd.h"
#include "panels_main.h"
#include "plat.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

enum { FTP_SOCKETS = 4 };

static std::mutex s_lock;
static int s_open[FTP_SOCKETS] = {-1, -1, -1, -1};
static bool s_stopping;

static void track(int fd)
{
    for (int &slot : s_open)
        if (slot < 0) {
            slot = fd;
            return;
        }
}

static void untrack(int fd)
{
    for (int &slot : s_open)
        if (slot == fd)
            slot = -1;
}

static int has_room()
{
    for (int slot : s_open)
        if (slot < 0)
            return 1;
    return 0;
}

static sockaddr_in make_addr(const uint8_t ip[4], uint16_t port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl((uint32_t(ip[0]) << 24) | (uint32_t(ip[1]) << 16)
                              | (uint32_t(ip[2]) << 8) | uint32_t(ip[3]));
    return a;
}

static int ftp_open()
{
    std::lock_guard<std::mutex> l(s_lock);
    if (s_stopping || !has_room())
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0)
        track(fd);
    return fd;
}

static int ftp_reuse(int s)
{
    const int on = 1;
    return ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 ? 0 : errno;
}

static int ftp_bind(int s, const uint8_t ip[4], uint16_t port)
{
    const sockaddr_in a = make_addr(ip, port);
    return ::bind(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? 0 : errno;
}

static int ftp_listen(int s, int backlog)
{
    return ::listen(s, backlog) == 0 ? 0 : errno;
}

static int ftp_accept(int s, uint8_t peer[4])
{
    sockaddr_in a = {};
    socklen_t len = sizeof a;
    const int fd = ::accept4(s, reinterpret_cast<sockaddr *>(&a), &len, SOCK_CLOEXEC);
    if (fd < 0)
        return -1;
    std::lock_guard<std::mutex> l(s_lock);
    // Accepted while the service was being stopped, or nowhere to keep it.
    if (s_stopping || !has_room()) {
        ::close(fd);
        return -1;
    }
    track(fd);
    const uint32_t ip = ntohl(a.sin_addr.s_addr);
    peer[0] = uint8_t(ip >> 24);
    peer[1] = uint8_t(ip >> 16);
    peer[2] = uint8_t(ip >> 8);
    peer[3] = uint8_t(ip);
    return fd;
}

// The data socket connects without blocking, so that its time-out runs on
// the service's stopwatch; calling again reports progress.
static int ftp_connect(int s, const uint8_t ip[4], uint16_t port)
{
    const int flags = ::fcntl(s, F_GETFL);
    if (flags >= 0 && !(flags & O_NONBLOCK))
        ::fcntl(s, F_SETFL, flags | O_NONBLOCK);
    const sockaddr_in a = make_addr(ip, port);
    if (::connect(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0)
        return 0;
    switch (errno) {
    case EINPROGRESS:
    case EALREADY:
    case EINTR:
        return FTPD_NET_PENDING;
    case EISCONN:
        return FTPD_NET_ISCONN;
    default:
        return errno;
    }
}

static int ms_since(const timespec &t0)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int((t.tv_sec - t0.tv_sec) * 1000 + (t.tv_nsec - t0.tv_nsec) / 1000000);
}

// Waits at most ms for the socket to be ready for events: 1 ready (or
// shut down), 0 not within the time, -1 with errno.
static int wait_ready(int s, short events, int ms)
{
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    for (;;) {
        pollfd p = {s, events, 0};
        const int left = ms - ms_since(t0);
        const int r = ::poll(&p, 1, left > 0 ? left : 0);
        if (r >= 0)
            return r;
        if (errno != EINTR)
            return -1;
    }
}

static int ftp_recv(int s, uint8_t *buf, int len, int wait_ms, int *err)
{
    *err = 0;
    if (wait_ms > 0) {
        const int r = wait_ready(s, POLLIN, wait_ms);
        if (r == 0)
            return -1; // nothing within the wait
        if (r < 0) {
            *err = errno ? errno : EIO;
            return -1;
        }
    }
    for (;;) {
        const ssize_t n = ::recv(s, buf, size_t(len), MSG_DONTWAIT);
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1; // nothing pending after all
        *err = errno ? errno : EIO;
        return -1;
    }
}

// MSG_NOSIGNAL: a client gone away must not raise SIGPIPE in the host.
// A client that does not read its replies fills the connection's buffers;
// the send then gives up after FTPD_SEND_TIMEOUT_MS instead of holding the
// FTP thread for as long as the client likes.
static int ftp_send(int s, const uint8_t *buf, int len)
{
    timespec t0;
    clock_gettime(CLOCK_MONOTONIC, &t0);
    while (len > 0) {
        const ssize_t n = ::send(s, buf, size_t(len), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            buf += n;
            len -= int(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno ? errno : EIO;
        const int left = FTPD_SEND_TIMEOUT_MS - ms_since(t0);
        const int r = left > 0 ? wait_ready(s, POLLOUT, left) : 0;
        if (r == 0)
            return ETIMEDOUT;
        if (r < 0)
            return errno ? errno : EIO;
    }
    return 0;
}

static void ftp_close(int s)
{
    std::lock_guard<std::mutex> l(s_lock);
    untrack(s);
    ::close(s);
}

static void ftp_shutdown_all()
{
    std::lock_guard<std::mutex> l(s_lock);
    s_stopping = true;
    for (int fd : s_open)
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
}

static void ftp_rearm()
{
    std::lock_guard<std::mutex> l(s_lock);
    s_stopping = false;
}

static void ftp_locate(int on)
{
    panels_set_locate(on);
}

static void ftp_message(const char *text)
{
    format_msg("%s", text);
}

static const FtpdPlatform s_platform = {
    ftp_open,  ftp_reuse, ftp_bind,          ftp_listen, ftp_accept,
    ftp_connect, ftp_recv, ftp_send,         ftp_close,  ftp_shutdown_all,
    ftp_rearm, plat_config_stage, plat_config_place, ftp_locate, panels_request_leds_off,
    ftp_message};

static_assert(int(PLAT_STORE_OK) == int(FTPD_STORE_OK)
                  && int(PLAT_STORE_NO_SPACE) == int(FTPD_STORE_NO_SPACE)
                  && int(PLAT_STORE_FAILED) == int(FTPD_STORE_FAILED),
              "the FTP server reads the platform's store results as its own");

const FtpdPlatform *plat_ftpd()
{
    return &s_platform;
}

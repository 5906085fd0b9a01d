// The protocol trace's file, "trace.txt" in the panel's directory (where
// its configuration file is), and the marker file "TRACE" that switches the
// trace on. Plain system calls on the firmware thread: the file stays open
// while the trace is on, each tick appends whole lines, and a file that
// would grow beyond its cap is renamed "trace.txt.1" (one rotation) before a
// new one starts.

#include "panels_main.h"
#include "plat.h"

#include <QtDebug>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

enum : long long { TRACE_FILE_MAX = 10LL * 1024 * 1024 };

static int s_fd = -1;
static long long s_size;       // bytes in the open file
static int s_complained;       // a failure was logged since the last close

// "<panel directory>/<name>"; false when the panel has no configuration
// path (no directory) or the name does not fit.
static bool panel_file(char *buf, size_t cap, const char *name)
{
    const char *cfg = panels_config_path();
    if (!cfg || !cfg[0])
        return false;
    const char *slash = strrchr(cfg, '/');
    const int n = slash ? snprintf(buf, cap, "%.*s/%s", int(slash - cfg), cfg, name)
                        : snprintf(buf, cap, "%s", name);
    return n > 0 && size_t(n) < cap;
}

int plat_trace_marker()
{
    char path[PATH_MAX];
    return panel_file(path, sizeof path, "TRACE") && access(path, F_OK) == 0;
}

static void complain(const char *what, const char *path, int err)
{
    if (s_complained)
        return;
    s_complained = 1;
    qWarning("trace: cannot %s %s: %s (%s,%d)", what, path, strerror(err), __FILE__, __LINE__);
}

static bool open_file(const char *path, int extra_flags)
{
    s_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | extra_flags, 0644);
    if (s_fd < 0) {
        complain("open", path, errno);
        return false;
    }
    struct stat st;
    s_size = fstat(s_fd, &st) == 0 ? (long long)st.st_size : 0;
    return true;
}

// The full file becomes "trace.txt.1" (the older one goes) and a new one
// starts.
static bool rotate(const char *path)
{
    char old[PATH_MAX + 2];
    snprintf(old, sizeof old, "%s.1", path);
    close(s_fd);
    s_fd = -1;
    if (rename(path, old) != 0)
        complain("rename", path, errno);
    return open_file(path, O_TRUNC);
}

void plat_trace_write(const char *text, int len)
{
    if (!text || len <= 0)
        return;
    char path[PATH_MAX];
    if (!panel_file(path, sizeof path, "trace.txt"))
        return;
    if (s_fd < 0 && !open_file(path, 0))
        return;
    if (s_size > 0 && s_size + len > TRACE_FILE_MAX && !rotate(path))
        return;
    while (len > 0) {
        const ssize_t n = write(s_fd, text, size_t(len));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A full disk: the lines are dropped, the panel runs on.
            complain("write", path, n < 0 ? errno : ENOSPC);
            return;
        }
        text += n;
        len -= int(n);
        s_size += n;
    }
}

void plat_trace_close()
{
    if (s_fd >= 0)
        close(s_fd);
    s_fd = -1;
    s_size = 0;
    s_complained = 0;
}

#include "kst_open_files.h"

#include <dirent.h>
#include <sys/resource.h>

static long limitValue(rlim_t v)
{
    return v == RLIM_INFINITY ? -1 : long(v);
}

KST_OpenFilesLimit KST_openFilesLimit()
{
    KST_OpenFilesLimit l;
    rlimit r;
    if (getrlimit(RLIMIT_NOFILE, &r) == 0) {
        l.soft = limitValue(r.rlim_cur);
        l.hard = limitValue(r.rlim_max);
    }
    return l;
}

KST_OpenFilesLimit KST_raiseOpenFilesLimit()
{
    rlimit r;
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        // An unlimited hard limit cannot be the soft limit of open files on
        // Linux (it is capped by fs.nr_open): fall back to that cap.
        if (setrlimit(RLIMIT_NOFILE, &r) != 0 && r.rlim_max == RLIM_INFINITY) {
            r.rlim_cur = 1048576;
            setrlimit(RLIMIT_NOFILE, &r);
        }
    }
    return KST_openFilesLimit();
}

int KST_openFileCount()
{
    DIR *d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n - 1; // the directory's own descriptor
}

bool KST_openFilesFit(long limit, int open, int promised, int needed)
{
    if (limit < 0)
        return true;
    return long(open) + promised + needed + KST_HOST_OPEN_FILES_RESERVE <= limit;
}

QString KST_openFilesMessage(const KST_OpenFilesLimit &limit, int open, int needed)
{
    const QString hard = limit.hard < 0 ? QStringLiteral("unlimited") : QString::number(limit.hard);
    return QStringLiteral(
               "panel start refused: the open-files limit of %1 (ulimit -n; hard limit %2) leaves "
               "no room for another panel (%3 open or promised to starting panels, a panel "
               "needs %4 and %5 stay free for the host). Raise the hard limit before starting: as root 'ulimit -Hn 65536', "
               "LimitNOFILE=65536 in a systemd unit, or a 'nofile' line in "
               "/etc/security/limits.conf")
        .arg(limit.soft)
        .arg(hard)
        .arg(open)
        .arg(needed)
        .arg(int(KST_HOST_OPEN_FILES_RESERVE));
}

bool KST_panelStartFits(int needed, int promised, QString *message)
{
    const KST_OpenFilesLimit limit = KST_openFilesLimit();
    const int open = KST_openFileCount();
    if (open < 0 || KST_openFilesFit(limit.soft, open, promised, needed))
        return true;
    if (message)
        *message = KST_openFilesMessage(limit, open + promised, needed);
    return false;
}

#include "proc_stats.h"


#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <unistd.h>

namespace proc_stats {

double cpuSeconds()
{
    timespec ts;
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0)
        return 0;
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

qint64 residentBytes()
{
    FILE *f = fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    long size = 0, resident = 0;
    const int n = fscanf(f, "%ld %ld", &size, &resident);
    fclose(f);
    if (n != 2)
        return 0;
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}

int threadCount()
{
    DIR *d = opendir("/proc/self/task");
    if (!d)
        return -1;
    int n = 0;
    while (dirent *e = readdir(d))
        if (e->d_name[0] != '.')
            ++n;
    closedir(d);
    return n;
}

static qint64 wallNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

CpuMeter::CpuMeter() : m_cpu(cpuSeconds()), m_wallNs(wallNs()) {}

double CpuMeter::sample()
{
    const double cpu = cpuSeconds();
    const qint64 wall = wallNs();
    const double cores = wall > m_wallNs ? (cpu - m_cpu) / (double(wall - m_wallNs) / 1e9) : 0.0;
    m_cpu = cpu;
    m_wallNs = wall;
    return cores;
}

} // namespace proc_stats

#ifndef PROC_STATS_H
#define PROC_STATS_H

#include <QByteArray>
#include <QtGlobal>

// What this process uses, as the per-second summary of a rack reports it.
namespace proc_stats {

// Processor time of the whole process (every thread, ended ones too), in
// seconds.
double cpuSeconds();
// Resident memory in bytes, 0 when it cannot be read.
qint64 residentBytes();
// Threads of the process now, -1 when that cannot be told.
int threadCount();

// Turns samples of cpuSeconds() into cores: the processor time used between
// two samples divided by the wall time between them.
class CpuMeter
{
public:
    CpuMeter();
    // Cores used since the last call (or since construction).
    double sample();

private:
    double m_cpu;
    qint64 m_wallNs;
};

} // namespace proc_stats

#endif

#ifndef RM_LATENCY_H
#define RM_LATENCY_H

// remote::Latency: how long the event stream takes from the host applying a
// panel's records to the event being written to the sockets of its
// clients. Kept only when the environment variable TESSALINE_REMOTE_STATS
// is 1 (for the benchmarks); a fixed histogram, so a sample neither
// allocates nor grows: 5 us bins up to 5 ms, 100 us bins up to 100 ms, one
// bin for anything later. Percentiles read as the upper edge of their bin,
// the worst exactly.

#include <QString>
#include <QtGlobal>

#include <array>

namespace remote {

class Latency
{
public:
    enum { FineBins = 1000, CoarseBins = 950, Bins = FineBins + CoarseBins + 1 };

    // Whether TESSALINE_REMOTE_STATS=1 asks for the figures.
    static bool wanted();

    void record(qint64 ns);
    qint64 count() const { return m_count; }
    // The latency (ns) that fraction p of the samples did not exceed.
    qint64 percentile(double p) const;
    qint64 worst() const { return m_worst; }
    // "remote events: N sent, records applied to written to the sockets:
    // median X ms, p99 Y ms, worst Z ms"
    QString text() const;

private:
    std::array<quint32, Bins> m_bins{};
    qint64 m_count = 0;
    qint64 m_worst = 0;
};

} // namespace remote

#endif

#include "rm_latency.h"

namespace remote {

namespace {

const qint64 FineNs = 5000, FineEnd = FineNs * Latency::FineBins;
const qint64 CoarseNs = 100000, CoarseEnd = FineEnd + CoarseNs * Latency::CoarseBins;

int binOf(qint64 ns)
{
    if (ns < FineEnd)
        return int(ns / FineNs);
    if (ns < CoarseEnd)
        return Latency::FineBins + int((ns - FineEnd) / CoarseNs);
    return Latency::Bins - 1;
}

qint64 upperEdge(int bin)
{
    if (bin < Latency::FineBins)
        return (bin + 1) * FineNs;
    return FineEnd + (bin - Latency::FineBins + 1) * CoarseNs;
}

} // namespace

bool Latency::wanted()
{
    return qEnvironmentVariable("TESSALINE_REMOTE_STATS") == QLatin1String("1");
}

void Latency::record(qint64 ns)
{
    ns = qMax<qint64>(0, ns);
    ++m_bins[size_t(binOf(ns))];
    ++m_count;
    m_worst = qMax(m_worst, ns);
}

qint64 Latency::percentile(double p) const
{
    if (m_count == 0)
        return 0;
    const qint64 want = qMax<qint64>(1, qint64(p * double(m_count) + 0.999999));
    qint64 seen = 0;
    for (int i = 0; i < Bins - 1; ++i) {
        seen += m_bins[size_t(i)];
        if (seen >= want)
            return qMin(upperEdge(i), m_worst);
    }
    return m_worst;
}

QString Latency::text() const
{
    return QStringLiteral("remote events: %1 sent, records applied to written to the sockets: median %2 ms, "
                          "p99 %3 ms, worst %4 ms")
        .arg(m_count)
        .arg(double(percentile(0.5)) / 1e6, 0, 'f', 3)
        .arg(double(percentile(0.99)) / 1e6, 0, 'f', 3)
        .arg(double(m_worst) / 1e6, 0, 'f', 3);
}

} // namespace remote

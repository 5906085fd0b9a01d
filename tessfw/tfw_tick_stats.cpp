#include "tfw_tick_stats.h"

#include <cstring>

namespace {

// The histogram's ranges: bins of `width` ns up to `end` ns.
struct Range {
    int64_t end;
    int64_t width;
    int bins;
};

const Range kRanges[] = {
    {2000000, 10000, 200},
    {20000000, 100000, 180},
    {200000000, 1000000, 180},
    {2000000000, 10000000, 180},
};

} // namespace

void tfw_tick_stats_reset(TFW_TickStats *s, int64_t periodNs)
{
    memset(s, 0, sizeof *s);
    s->lastNs = -1;
    s->periodNs = periodNs;
}

void tfw_tick_stats_arm(TFW_TickStats *s, int64_t nowNs)
{
    s->lastNs = nowNs;
}

int tfw_tick_stats_bin(int64_t latenessNs)
{
    if (latenessNs < 0)
        latenessNs = 0;
    int first = 0;
    int64_t start = 0;
    for (const Range &r : kRanges) {
        if (latenessNs < r.end)
            return first + int((latenessNs - start) / r.width);
        first += r.bins;
        start = r.end;
    }
    return TFW_TickStats::Bins - 1;
}

int64_t tfw_tick_stats_bin_edge(int bin)
{
    int first = 0;
    int64_t start = 0;
    for (const Range &r : kRanges) {
        if (bin < first + r.bins)
            return start + int64_t(bin - first + 1) * r.width;
        first += r.bins;
        start = r.end;
    }
    return -1;
}

void tfw_tick_stats_record(TFW_TickStats *s, int64_t nowNs)
{
    if (s->lastNs >= 0) {
        int64_t late = nowNs - s->lastNs - s->periodNs;
        if (late < 0)
            late = 0;
        s->bins[tfw_tick_stats_bin(late)]++;
        s->ticks++;
        if (late > s->worstNs)
            s->worstNs = late;
    }
    s->lastNs = nowNs;
}

int64_t tfw_tick_stats_percentile(const TFW_TickStats *s, double p)
{
    if (s->ticks == 0)
        return 0;
    // The smallest bin at which the count reaches p of all ticks.
    uint64_t want = uint64_t(p * double(s->ticks) + 0.999999);
    if (want < 1)
        want = 1;
    uint64_t seen = 0;
    for (int b = 0; b < TFW_TickStats::Bins; ++b) {
        seen += s->bins[b];
        if (seen >= want) {
            const int64_t edge = tfw_tick_stats_bin_edge(b);
            return edge < 0 || edge > s->worstNs ? s->worstNs : edge;
        }
    }
    return s->worstNs;
}

QString tfw_tick_stats_text(const TFW_TickStats *s)
{
    return QStringLiteral("tick lateness: %1 ticks, median %2 ms, p99 %3 ms, worst %4 ms")
        .arg(s->ticks)
        .arg(double(tfw_tick_stats_percentile(s, 0.5)) / 1e6, 0, 'f', 2)
        .arg(double(tfw_tick_stats_percentile(s, 0.99)) / 1e6, 0, 'f', 2)
        .arg(double(s->worstNs) / 1e6, 0, 'f', 2);
}

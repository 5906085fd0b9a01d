#ifndef TFW_TICK_STATS_H
#define TFW_TICK_STATS_H

#include <QString>
#include <cstdint>

// How late a firmware thread's 10 ms ticks run: each tick's lateness is how
// much more than the period has passed since the tick before. Kept in a
// fixed histogram, so recording a tick neither allocates nor grows: 10 us
// bins up to 2 ms, 100 us bins up to 20 ms, 1 ms bins up to 200 ms, 10 ms
// bins up to 2 s, and one bin for anything later. Percentiles read as the
// upper edge of their bin; the worst lateness is kept exactly.
struct TFW_TickStats
{
    enum { Bins = 200 + 180 + 180 + 180 + 1 };

    uint32_t bins[Bins];
    uint64_t ticks;
    int64_t worstNs;
    int64_t lastNs;   // time of the tick before, -1 before the first
    int64_t periodNs;
};

// Empties the histogram for ticks of the given period.
void tfw_tick_stats_reset(TFW_TickStats *s, int64_t periodNs);
// The loop timer started at nowNs: the first tick is measured from there.
void tfw_tick_stats_arm(TFW_TickStats *s, int64_t nowNs);
// A tick ran at nowNs.
void tfw_tick_stats_record(TFW_TickStats *s, int64_t nowNs);
// The bin a lateness falls in, and the upper edge of a bin (ns; the last
// bin has none and reads as the worst lateness).
int tfw_tick_stats_bin(int64_t latenessNs);
int64_t tfw_tick_stats_bin_edge(int bin);
// The lateness (ns) that fraction p of the ticks did not exceed, as the
// upper edge of its bin; 0 without ticks.
int64_t tfw_tick_stats_percentile(const TFW_TickStats *s, double p);
// "tick lateness: N ticks, median X ms, p99 Y ms, worst Z ms"
QString tfw_tick_stats_text(const TFW_TickStats *s);

#endif

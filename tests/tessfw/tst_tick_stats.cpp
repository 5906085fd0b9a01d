// The tick lateness histogram: which bin a lateness lands in, the
// percentiles read back from it, and the report line.

#include "tfw_tick_stats.h"

#include <QTest>
#include <memory>

namespace {

const int64_t kPeriod = 10000000; // 10 ms
const int64_t kMs = 1000000;
const int64_t kUs = 1000;

std::unique_ptr<TFW_TickStats> armedAt(int64_t t)
{
    auto s = std::make_unique<TFW_TickStats>();
    tfw_tick_stats_reset(s.get(), kPeriod);
    tfw_tick_stats_arm(s.get(), t);
    return s;
}

} // namespace

class TestTickStats : public QObject
{
    Q_OBJECT

private slots:
    // Every lateness falls into a bin whose upper edge lies above it, bins
    // follow each other without gaps, and anything beyond 2 s goes into
    // the last bin.
    void binsCoverEveryLateness()
    {
        QCOMPARE(tfw_tick_stats_bin(-5), 0);
        QCOMPARE(tfw_tick_stats_bin(0), 0);
        QCOMPARE(tfw_tick_stats_bin(9999), 0);
        QCOMPARE(tfw_tick_stats_bin(10000), 1);
        const int64_t probes[] = {0,        1,         9999,       10000,       1999999,      2000000,
                                  2099999,  19999999,  20000000,   199999999,   200000000,    1999999999,
                                  123456789};
        for (int64_t v : probes) {
            const int b = tfw_tick_stats_bin(v);
            QVERIFY(b >= 0 && b < TFW_TickStats::Bins - 1);
            QVERIFY2(tfw_tick_stats_bin_edge(b) > v, qPrintable(QString::number(v)));
            QVERIFY(b == 0 || tfw_tick_stats_bin_edge(b - 1) <= v);
        }
        for (int b = 1; b < TFW_TickStats::Bins - 1; ++b)
            QVERIFY(tfw_tick_stats_bin_edge(b) > tfw_tick_stats_bin_edge(b - 1));
        QCOMPARE(tfw_tick_stats_bin(2000000000), TFW_TickStats::Bins - 1);
        QCOMPARE(tfw_tick_stats_bin(INT64_MAX), TFW_TickStats::Bins - 1);
        QCOMPARE(tfw_tick_stats_bin_edge(TFW_TickStats::Bins - 1), int64_t(-1));
    }

    // Lateness counts from the arming on; an early tick counts as on time;
    // percentiles are bin edges, capped by the exact worst.
    void percentilesAndWorst()
    {
        auto s = armedAt(1000 * kMs);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 0.99), int64_t(0));
        int64_t t = 1000 * kMs;
        // 98 ticks 50 us late, one early, one 3.05 ms late.
        for (int i = 0; i < 98; ++i)
            tfw_tick_stats_record(s.get(), t += kPeriod + 50 * kUs);
        tfw_tick_stats_record(s.get(), t += kPeriod - 2 * kMs);
        tfw_tick_stats_record(s.get(), t += kPeriod + 3050 * kUs);
        QCOMPARE(s->ticks, uint64_t(100));
        QCOMPARE(s->worstNs, 3050 * kUs);
        QCOMPARE(s->bins[0], 1u);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 0.5), 60 * kUs);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 0.99), 60 * kUs);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 1.0), 3050 * kUs);
        QCOMPARE(tfw_tick_stats_text(s.get()),
                 QStringLiteral("tick lateness: 100 ticks, median 0.06 ms, p99 0.06 ms, worst 3.05 ms"));

        // Two late ticks in a hundred move the p99 into their bin.
        tfw_tick_stats_record(s.get(), t += kPeriod + 3050 * kUs);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 0.99), 3050 * kUs);
    }

    // A stall of seconds lands in the overflow bin and still reads back as
    // its exact worst; a reset forgets everything.
    void stallAndReset()
    {
        auto s = armedAt(0);
        tfw_tick_stats_record(s.get(), kPeriod + 5000 * kMs);
        QCOMPARE(s->bins[TFW_TickStats::Bins - 1], 1u);
        QCOMPARE(tfw_tick_stats_percentile(s.get(), 0.5), 5000 * kMs);
        tfw_tick_stats_reset(s.get(), kPeriod);
        QCOMPARE(s->ticks, uint64_t(0));
        QCOMPARE(s->worstNs, int64_t(0));
        // Not armed: the first tick only starts the measurement.
        tfw_tick_stats_record(s.get(), 77 * kMs);
        QCOMPARE(s->ticks, uint64_t(0));
        tfw_tick_stats_record(s.get(), 87 * kMs);
        QCOMPARE(s->ticks, uint64_t(1));
        QCOMPARE(s->bins[0], 1u);
    }
};

QTEST_GUILESS_MAIN(TestTickStats)
#include "tst_tick_stats.moc"

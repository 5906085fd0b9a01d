#ifndef TALLY_STORM_H
#define TALLY_STORM_H

#include <QtGlobal>
#include <random>

// Paces a tally storm: RATE random crosspoint changes per second. The
// simulator asks it on every service pass how many changes are due and
// where each goes; changes owed by a late pass are made up at the next.
// The sequence of changes is the same on every run (fixed seed).
class TallyStorm
{
public:
    struct Change {
        int level; // 0-based
        int dest;  // 1-based, as on the wire
        int source;
    };

    TallyStorm(int levels, int sources, int dests);

    // Starts (rate > 0) or stops (0) the storm at nowMs.
    void setRate(int perSecond, qint64 nowMs);
    int rate() const { return m_rate; }
    // Changes due at nowMs since the last call; at most one second's worth,
    // so that a long stall does not end in a burst.
    int due(qint64 nowMs);
    // The next random change.
    Change next();

private:
    int m_levels, m_sources, m_dests;
    int m_rate = 0;
    qint64 m_start = 0;  // when the rate was set
    qint64 m_made = 0;   // changes made since then
    std::mt19937 m_rng;
};

#endif

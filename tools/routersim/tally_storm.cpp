#include "tally_storm.h"

TallyStorm::TallyStorm(int levels, int sources, int dests)
    : m_levels(qMax(1, levels)), m_sources(qMax(1, sources)), m_dests(qMax(1, dests)), m_rng(1)
{
}

void TallyStorm::setRate(int perSecond, qint64 nowMs)
{
    m_rate = qMax(0, perSecond);
    m_start = nowMs;
    m_made = 0;
}

int TallyStorm::due(qint64 nowMs)
{
    if (m_rate <= 0 || nowMs < m_start)
        return 0;
    // Counted from the start, not from the last pass, so that rounding
    // never loses a change.
    const qint64 owed = (nowMs - m_start) * m_rate / 1000 - m_made;
    if (owed <= 0)
        return 0;
    if (owed > m_rate) {
        // A stall: skip what a second cannot carry.
        m_made += owed - m_rate;
        m_made += m_rate;
        return m_rate;
    }
    m_made += owed;
    return int(owed);
}

TallyStorm::Change TallyStorm::next()
{
    Change c;
    c.level = int(m_rng() % unsigned(m_levels));
    c.dest = int(m_rng() % unsigned(m_dests)) + 1;
    c.source = int(m_rng() % unsigned(m_sources)) + 1;
    return c;
}

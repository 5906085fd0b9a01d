#include "router_state.h"

static const char LETTERS[] = "VABCDEFGHIJKLMNOPQRSTUWXYZ";

RouterState::RouterState(int levels, int sources, int dests)
    : m_levels(qBound(1, levels, int(MaxLevels))), m_sources(qMax(1, sources)), m_dests(qMax(1, dests))
{
    // Every destination starts on source 1.
    m_xpt = QVector<QVector<int>>(m_levels, QVector<int>(m_dests, 1));
    m_lock = QVector<int>(m_dests, 0);
    m_protect = QVector<QVector<int>>(m_levels, QVector<int>(m_dests, -1));
}

void RouterState::addSalvo(int number, const Salvo &entry)
{
    m_salvos[number].append(entry);
}

QByteArray RouterState::levelText(quint32 levels)
{
    QByteArray t;
    for (int l = 0; l < MaxLevels; ++l)
        if (levels & (1u << l))
            t.append(LETTERS[l]);
    return t;
}

qint64 RouterState::parseLevels(const QByteArray &letters)
{
    quint32 mask = 0;
    for (char c : letters) {
        const char *hit = strchr(LETTERS, c);
        if (!hit || !c)
            return -1;
        mask |= 1u << (hit - LETTERS);
    }
    return mask;
}

int RouterState::source(int level, int dest) const
{
    if (level < 0 || level >= m_levels || dest < 1 || dest > m_dests)
        return 0;
    return m_xpt[level][dest - 1];
}

int RouterState::lock(int dest) const
{
    if (dest < 1 || dest > m_dests)
        return 0;
    if (m_lock[dest - 1])
        return m_lock[dest - 1];
    for (int l = 0; l < m_levels; ++l)
        if (m_protect[l][dest - 1] >= 0)
            return 255;
    return 0;
}

int RouterState::protectState(int level, int dest, int *device) const
{
    *device = 0;
    if (level < 0 || level >= m_levels || dest < 1 || dest > m_dests)
        return 0;
    if (m_lock[dest - 1] == 255)
        return 2;
    if (m_lock[dest - 1])
        return 3;
    if (m_protect[level][dest - 1] < 0)
        return 0;
    *device = m_protect[level][dest - 1];
    return 1;
}

bool RouterState::takeRefused(quint32 levels, int dest) const
{
    if (dest < 1 || dest > m_dests)
        return false;
    if (m_lock[dest - 1] == 255)
        return true;
    for (int l = 0; l < m_levels; ++l)
        if ((levels & (1u << l)) && m_protect[l][dest - 1] >= 0)
            return true;
    return false;
}

RouterState::ProtectResult RouterState::protect(int level, int dest, int device, QByteArray *panelText)
{
    panelText->clear();
    if (level < 0 || level >= m_levels || dest < 1 || dest > m_dests || m_lock[dest - 1])
        return Refused;
    int &owner = m_protect[level][dest - 1];
    if (owner == device)
        return Unchanged;
    if (owner >= 0)
        return Refused;
    const int before = lock(dest);
    owner = device;
    if (lock(dest) != before)
        *panelText = lockText(dest);
    if (m_observer)
        m_observer(Change{Change::Protect, level, dest, device});
    return Changed;
}

RouterState::ProtectResult RouterState::unprotect(int level, int dest, int device, QByteArray *panelText)
{
    panelText->clear();
    if (level < 0 || level >= m_levels || dest < 1 || dest > m_dests)
        return Refused;
    int &owner = m_protect[level][dest - 1];
    if (owner < 0)
        return Unchanged;
    if (owner != device)
        return Refused;
    const int before = lock(dest);
    owner = -1;
    if (lock(dest) != before)
        *panelText = lockText(dest);
    if (m_observer)
        m_observer(Change{Change::Protect, level, dest, device});
    return Changed;
}

QByteArray RouterState::lockText(int dest) const
{
    return ".BA" + QByteArray::number(dest).rightJustified(3, '0') + ',' + QByteArray::number(lock(dest)) + '\r';
}

QByteArray RouterState::route(quint32 levels, int dest, int source)
{
    if (dest < 1 || dest > m_dests || source < 1 || source > m_sources)
        return QByteArray();
    quint32 applied = 0;
    for (int l = 0; l < m_levels; ++l)
        if (levels & (1u << l)) {
            m_xpt[l][dest - 1] = source;
            applied |= 1u << l;
            if (m_observer)
                m_observer(Change{Change::Route, l, dest, 0});
        }
    if (!applied)
        return QByteArray();
    return ".U" + levelText(applied) + QByteArray::number(dest).rightJustified(3, '0') + ','
           + QByteArray::number(source).rightJustified(3, '0') + '\r';
}

QByteArray RouterState::setLock(int dest, int value)
{
    if (dest < 1 || dest > m_dests)
        return QByteArray();
    m_lock[dest - 1] = value;
    if (m_observer)
        m_observer(Change{Change::Protect, -1, dest, 0});
    return lockText(dest);
}

// Reads digits at pos; -1 when there are none.
static int number(const QByteArray &t, int *pos)
{
    int v = -1;
    while (*pos < t.size() && t[*pos] >= '0' && t[*pos] <= '9' && v < 100000)
        v = (v < 0 ? 0 : v * 10) + (t[(*pos)++] - '0');
    return v;
}

static quint32 readLevels(const QByteArray &t, int *pos)
{
    quint32 mask = 0;
    while (*pos < t.size()) {
        const char *hit = strchr(LETTERS, t[*pos]);
        if (!hit || !t[*pos])
            break;
        mask |= 1u << (hit - LETTERS);
        ++*pos;
    }
    return mask;
}

QList<RouterState::Out> RouterState::handle(const QByteArray &text)
{
    QList<Out> out;
    if (text.size() < 3 || text[0] != '.')
        return out;
    int pos = 2;
    switch (text[1]) {
    case 'S': { // take: levels, destination, source
        const quint32 lv = readLevels(text, &pos);
        const int dest = number(text, &pos);
        if (pos >= text.size() || text[pos] != ',')
            return out;
        ++pos;
        const int src = number(text, &pos);
        if (takeRefused(lv, dest)) {
            // A locked destination refuses the take; the panel learns why.
            out.append({false, lockText(dest)});
            return out;
        }
        const QByteArray tally = route(lv, dest, src);
        if (!tally.isEmpty())
            out.append({true, tally});
        break;
    }
    case 'B': {
        if (text.size() < 4)
            return out;
        const char kind = text[2];
        pos = 3;
        const int dest = number(text, &pos);
        if (dest < 1 || dest > m_dests)
            return out;
        if (kind == 'L' || kind == 'U' || kind == 'P') {
            const QByteArray state = setLock(dest, kind == 'L' ? 255 : kind == 'P' ? 1 : 0);
            out.append({true, state});
        } else if (kind == 'I') {
            out.append({false, lockText(dest)});
        }
        break;
    }
    case 'I': { // interrogate: levels, destination
        const quint32 lv = readLevels(text, &pos);
        const int dest = number(text, &pos);
        int lowest = -1;
        for (int l = 0; l < MaxLevels && lowest < 0; ++l)
            if (lv & (1u << l))
                lowest = l;
        const int src = lowest >= 0 ? source(lowest, dest) : 0;
        if (dest < 1 || dest > m_dests || src < 1)
            return out;
        out.append({false, ".A" + levelText(lv) + QByteArray::number(dest).rightJustified(3, '0') + ','
                               + QByteArray::number(src).rightJustified(3, '0') + '\r'});
        break;
    }
    case 'F': { // fire salvo n
        const int n = number(text, &pos);
        for (const Salvo &s : m_salvos.value(n)) {
            const QByteArray tally = route(s.levels, s.dest, s.source);
            if (!tally.isEmpty())
                out.append({true, tally});
        }
        break;
    }
    default:
        break;
    }
    return out;
}

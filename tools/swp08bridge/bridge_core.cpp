#include "bridge_core.h"

#include <QStringList>

#include <cstring>
#include <iterator>

using swp08::Message;

namespace {

const char LETTERS[] = "VABCDEFGHIJKLMNOPQRSTUWXYZ";

int letterIndex(char c)
{
    const char *hit = c ? strchr(LETTERS, c) : nullptr;
    return hit ? int(hit - LETTERS) : -1;
}

QByteArray letters(quint32 mask)
{
    QByteArray t;
    for (int l = 0; l < BridgeOptions::PanelLevels; ++l)
        if (mask & (1u << l))
            t.append(LETTERS[l]);
    return t;
}

QByteArray num3(int n)
{
    return QByteArray::number(n).rightJustified(3, '0');
}

// The panels' command grammar: a run of level letters, a run of digits.
quint32 readLevels(const QByteArray &t, int *pos)
{
    quint32 mask = 0;
    while (*pos < t.size()) {
        const int l = letterIndex(t[*pos]);
        if (l < 0)
            break;
        mask |= 1u << l;
        ++*pos;
    }
    return mask;
}

int readNumber(const QByteArray &t, int *pos)
{
    int v = -1;
    while (*pos < t.size() && t[*pos] >= '0' && t[*pos] <= '9' && v < 100000)
        v = (v < 0 ? 0 : v * 10) + (t[(*pos)++] - '0');
    return v;
}

const QByteArray ERROR_REPLY = ".E\r";

} // namespace

BridgeOptions::BridgeOptions()
{
    // Panel level n is SW-P-08 level n, for the sixteen levels the general
    // commands can name.
    for (int l = 0; l < PanelLevels; ++l)
        level[l] = l < 16 ? l : -1;
}

bool BridgeOptions::parseLevels(const QString &text, QString *why)
{
    int map[PanelLevels];
    bool used[256] = {};
    for (int &m : map)
        m = -1;
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.isEmpty()) {
        *why = QStringLiteral("no level given");
        return false;
    }
    for (const QString &item : items) {
        const QStringList kv = item.trimmed().split(QLatin1Char('='));
        bool ok = false;
        const int v = kv.size() == 2 ? kv[1].trimmed().toInt(&ok) : -1;
        const QString key = kv.value(0).trimmed();
        const int l = key.size() == 1 ? letterIndex(key[0].toLatin1()) : -1;
        if (!ok || l < 0 || v < 0 || v > 255) {
            *why = QStringLiteral("\"%1\" is not LETTER=LEVEL (a panel level letter of %2, a level 0..255)")
                       .arg(item, QLatin1String(LETTERS));
            return false;
        }
        if (map[l] >= 0 || used[v]) {
            *why = QStringLiteral("\"%1\": each letter and each level at most once").arg(item);
            return false;
        }
        map[l] = v;
        used[v] = true;
    }
    memcpy(level, map, sizeof map);
    return true;
}

QString BridgeOptions::levelText() const
{
    QStringList out;
    for (int l = 0; l < PanelLevels; ++l)
        if (level[l] >= 0)
            out << QStringLiteral("%1=%2").arg(QLatin1Char(LETTERS[l])).arg(level[l]);
    return out.join(QLatin1Char(','));
}

BridgeCore::BridgeCore(const BridgeOptions &options, Output &out)
    : m_options(options), m_out(out), m_source(PanelLevels), m_protect(PanelLevels), m_asked(PanelLevels), m_ownKind(PanelDests, 0),
      m_shownLock(PanelDests, 0), m_protectAsked(PanelLevels, -1)
{
    for (int l = 0; l < PanelLevels; ++l) {
        if (m_options.level[l] < 0)
            continue;
        m_mapped |= 1u << l;
        m_source[size_t(l)].assign(PanelDests, Unknown);
        m_protect[size_t(l)].assign(PanelDests, ProtectState());
        m_asked[size_t(l)].assign(PanelDests, false);
    }
}

void BridgeCore::addSalvo(int number, int dest, int source, quint32 levels)
{
    m_salvos[number].append(Salvo{dest, source, levels});
}

int BridgeCore::letter(int swpLevel) const
{
    for (int l = 0; l < PanelLevels; ++l)
        if (m_options.level[l] == swpLevel)
            return l;
    return -1;
}

int BridgeCore::source(int panelLevel, int dest) const
{
    if (panelLevel < 0 || panelLevel >= PanelLevels || !(m_mapped & (1u << panelLevel)) || dest < 0
        || dest >= PanelDests)
        return Unknown;
    return m_source[size_t(panelLevel)][size_t(dest)];
}

int BridgeCore::lockState(int dest) const
{
    return dest >= 0 && dest < PanelDests ? m_shownLock[size_t(dest)] : 0;
}

// Any level protected by another device (or overridden, or by a third
// party) locks the destination for the panels; the bridge's own protects
// show as the panel asked for them.
int BridgeCore::lockValue(int dest) const
{
    bool own = false;
    for (int l = 0; l < PanelLevels; ++l) {
        if (!(m_mapped & (1u << l)))
            continue;
        const ProtectState &p = m_protect[size_t(l)][size_t(dest)];
        if (p.state == swp08::NotProtected)
            continue;
        if (p.state == swp08::Protected && p.device == m_options.device)
            own = true;
        else
            return 255;
    }
    if (own)
        return m_ownKind[size_t(dest)] ? m_ownKind[size_t(dest)] : 255;
    return 0;
}

QByteArray BridgeCore::lockText(int dest) const
{
    return ".BA" + num3(dest + 1) + ',' + QByteArray::number(m_shownLock[size_t(dest)]) + '\r';
}

void BridgeCore::updateLock(int dest)
{
    const int v = lockValue(dest);
    if (v == m_shownLock[size_t(dest)])
        return;
    m_shownLock[size_t(dest)] = quint8(v);
    m_out.toPanels(lockText(dest));
}

bool BridgeCore::sendRoute(quint32 levels, int dest, int source, QString *why)
{
    const quint32 mapped = levels & m_mapped;
    if (dest < 0 || dest >= PanelDests || source < 0) {
        *why = QStringLiteral("no such destination or source");
        return false;
    }
    const int swpDest = dest + m_options.destOffset;
    const int swpSource = source + m_options.sourceOffset;
    if (swpDest > swp08::MaxExtendedNumber || swpSource > swp08::MaxExtendedNumber) {
        *why = QStringLiteral("destination %1 or source %2 is beyond the router's numbers")
                   .arg(dest + 1)
                   .arg(source + 1);
        return false;
    }
    if (!mapped) {
        *why = QStringLiteral("no level of %1 is mapped to the router").arg(QLatin1String(letters(levels)));
        return false;
    }
    for (int l = 0; l < PanelLevels; ++l) {
        if (!(mapped & (1u << l)))
            continue;
        Message c;
        c.command = swp08::Connect;
        c.matrix = m_options.matrix;
        c.level = m_options.level[l];
        c.dest = swpDest;
        c.source = swpSource;
        c.extended = swp08::needsExtended(c.matrix, c.level, c.dest, c.source);
        m_out.toRouter(c);
    }
    return true;
}

void BridgeCore::sendProtect(int dest, bool on)
{
    for (int l = 0; l < PanelLevels; ++l) {
        if (!(m_mapped & (1u << l)))
            continue;
        Message p;
        p.command = on ? swp08::ProtectConnect : swp08::ProtectDisconnect;
        p.matrix = m_options.matrix;
        p.level = m_options.level[l];
        p.dest = dest + m_options.destOffset;
        p.device = m_options.device;
        p.extended = swp08::needsExtended(p.matrix, p.level, p.dest, p.device);
        m_out.toRouter(p);
    }
}

QList<QByteArray> BridgeCore::panelCommand(const QByteArray &text)
{
    if (text.size() < 3 || text[0] != '.')
        return {};
    int pos = 2;
    switch (text[1]) {
    case 'S': { // take: levels, destination, source
        const quint32 lv = readLevels(text, &pos);
        const int dest = readNumber(text, &pos);
        if (pos >= text.size() || text[pos] != ',')
            return {};
        ++pos;
        const int src = readNumber(text, &pos);
        if (!m_up)
            return {ERROR_REPLY};
        if (dest >= 1 && dest <= PanelDests && lockValue(dest - 1) == 255)
            return {".BA" + num3(dest) + ",255\r"};
        QString why;
        if (!sendRoute(lv, dest - 1, src - 1, &why)) {
            m_out.note(QStringLiteral("take %1 refused: %2").arg(QString::fromLatin1(text.trimmed()), why));
            return {ERROR_REPLY};
        }
        return {};
    }
    case 'I': { // interrogate: levels, destination
        const quint32 lv = readLevels(text, &pos);
        const int dest = readNumber(text, &pos);
        int lowest = -1;
        for (int l = 0; l < PanelLevels && lowest < 0; ++l)
            if (lv & (1u << l))
                lowest = l;
        if (lowest < 0 || dest < 1 || dest > PanelDests || !(m_mapped & (1u << lowest)))
            return {};
        const int src = m_source[size_t(lowest)][size_t(dest - 1)];
        if (src >= 0)
            return {".A" + letters(lv) + num3(dest) + ',' + num3(src + 1) + '\r'};
        if (src == Unknown)
            m_asked[size_t(lowest)][size_t(dest - 1)] = true;
        if (src == Unknown && m_up && dest - 1 + m_options.destOffset <= swp08::MaxExtendedNumber) {
            // The router's answer reaches every panel as a tally.
            Message q;
            q.command = swp08::Interrogate;
            q.matrix = m_options.matrix;
            q.level = m_options.level[lowest];
            q.dest = dest - 1 + m_options.destOffset;
            q.extended = swp08::needsExtended(q.matrix, q.level, q.dest);
            m_out.toRouter(q);
        }
        return {};
    }
    case 'B': {
        if (text.size() < 4)
            return {};
        const char kind = text[2];
        pos = 3;
        const int dest = readNumber(text, &pos);
        if (dest < 1 || dest > PanelDests)
            return {};
        if (kind == 'I')
            return {lockText(dest - 1)};
        if (kind != 'L' && kind != 'P' && kind != 'U')
            return {};
        if (!m_up)
            return {ERROR_REPLY};
        if (dest - 1 + m_options.destOffset > swp08::MaxExtendedNumber)
            return {ERROR_REPLY};
        if (kind != 'U') {
            m_ownKind[size_t(dest - 1)] = kind == 'L' ? 255 : 1;
            updateLock(dest - 1); // our protect may be in place already
        }
        sendProtect(dest - 1, kind != 'U');
        return {};
    }
    case 'F': { // salvo
        const int n = readNumber(text, &pos);
        if (!m_up)
            return {ERROR_REPLY};
        for (const Salvo &s : m_salvos.value(n)) {
            QString why;
            if (s.dest >= 1 && s.dest <= PanelDests && lockValue(s.dest - 1) == 255)
                continue;
            if (!sendRoute(s.levels, s.dest - 1, s.source - 1, &why))
                m_out.note(QStringLiteral("salvo %1: %2").arg(n).arg(why));
        }
        return {};
    }
    default:
        return {};
    }
}

bool BridgeCore::route(quint32 levels, int dest, int source, QString *why)
{
    if (!m_up) {
        *why = QStringLiteral("the router is not connected");
        return false;
    }
    return sendRoute(levels, dest - 1, source - 1, why);
}

bool BridgeCore::lock(int dest, int value, QString *why)
{
    if (!m_up) {
        *why = QStringLiteral("the router is not connected");
        return false;
    }
    if (dest < 1 || dest > PanelDests || dest - 1 + m_options.destOffset > swp08::MaxExtendedNumber) {
        *why = QStringLiteral("no such destination");
        return false;
    }
    if (value) {
        m_ownKind[size_t(dest - 1)] = value == 1 ? 1 : 255;
        updateLock(dest - 1);
    }
    sendProtect(dest - 1, value != 0);
    return true;
}

void BridgeCore::linkUp()
{
    m_up = true;
    for (int l = 0; l < PanelLevels; ++l) {
        if (!(m_mapped & (1u << l)))
            continue;
        Message d;
        d.command = swp08::DumpRequest;
        d.matrix = m_options.matrix;
        d.level = m_options.level[l];
        d.extended = swp08::needsExtended(d.matrix, d.level, 0);
        m_out.toRouter(d);
        d.command = swp08::ProtectDumpRequest;
        d.dest = m_options.destOffset;
        m_protectAsked[size_t(l)] = d.dest;
        m_out.toRouter(d);
    }
}

void BridgeCore::linkDown()
{
    m_up = false;
    for (int &a : m_protectAsked)
        a = -1;
}

swp08::Message BridgeCore::keepalive() const
{
    Message q;
    q.command = swp08::Interrogate;
    q.matrix = m_options.matrix;
    for (int l = 0; l < PanelLevels; ++l)
        if (m_mapped & (1u << l)) {
            q.level = m_options.level[l];
            break;
        }
    q.dest = m_options.destOffset;
    q.extended = swp08::needsExtended(q.matrix, q.level, q.dest);
    return q;
}

void BridgeCore::crosspoint(int level, int swpDest, int swpSource, bool always)
{
    const int l = letter(level);
    const int dest = swpDest - m_options.destOffset;
    if (l < 0 || dest < 0 || dest >= PanelDests)
        return;
    int v = swpSource - m_options.sourceOffset;
    if (v < 0 || v >= swp08::MaxExtendedNumber)
        v = NotShown; // a source the panels have no number for
    int &cur = m_source[size_t(l)][size_t(dest)];
    if (cur == v && !always)
        return;
    // What no panel has seen or asked for stays in the mirror until it is.
    const bool tell = always || cur != Unknown || m_asked[size_t(l)][size_t(dest)];
    m_asked[size_t(l)][size_t(dest)] = false;
    cur = v;
    if (!tell && !m_pending.count(dest))
        return;
    // The level's latest source only: an earlier one waiting is dropped.
    auto &bySource = m_pending[dest];
    for (auto it = bySource.begin(); it != bySource.end();) {
        it->second &= ~(1u << l);
        it = it->second ? std::next(it) : bySource.erase(it);
    }
    if (v >= 0 && tell)
        bySource[v] |= 1u << l;
    if (bySource.empty())
        m_pending.erase(dest);
}

void BridgeCore::protectChanged(int level, int swpDest, int state, int device)
{
    const int l = letter(level);
    const int dest = swpDest - m_options.destOffset;
    if (l < 0 || dest < 0 || dest >= PanelDests)
        return;
    m_protect[size_t(l)][size_t(dest)] = ProtectState{state, device};
    updateLock(dest);
}

void BridgeCore::routerMessage(const Message &m)
{
    if (m.command == swp08::Invalid) {
        m_out.note(QStringLiteral("the router answered \"invalid message\" to command %1")
                       .arg(m.bytes.empty() ? -1 : int(m.bytes[0])));
        return;
    }
    if (m.matrix != m_options.matrix)
        return;
    switch (m.command) {
    case swp08::Tally:
    case swp08::Connected:
        // A connect reported is a route made, even to the source it had.
        crosspoint(m.level, m.dest, m.source, m.command == swp08::Connected);
        return;
    case swp08::DumpByte:
    case swp08::DumpWord:
        for (size_t i = 0; i < m.sources.size(); ++i)
            crosspoint(m.level, m.dest + int(i), m.sources[i], false);
        return;
    case swp08::ProtectTally:
    case swp08::ProtectConnected:
    case swp08::ProtectDisconnected:
        protectChanged(m.level, m.dest, m.protect, m.device);
        return;
    case swp08::ProtectDump: {
        for (size_t i = 0; i < m.protects.size(); ++i)
            protectChanged(m.level, m.dest + int(i), m.protects[i].state, m.protects[i].device);
        // The answer to the dump asked for: a full one asks for the next
        // destinations the panels see.
        const int l = letter(m.level);
        if (l < 0 || m_protectAsked[size_t(l)] != m.dest)
            return;
        const int next = m.dest + int(m.protects.size());
        m_protectAsked[size_t(l)] = -1;
        if (m_up && int(m.protects.size()) >= swp08::MaxDumpEntries
            && next < m_options.destOffset + PanelDests && next <= swp08::MaxExtendedNumber) {
            Message d;
            d.command = swp08::ProtectDumpRequest;
            d.matrix = m_options.matrix;
            d.level = m.level;
            d.dest = next;
            d.extended = swp08::needsExtended(d.matrix, d.level, 0);
            m_protectAsked[size_t(l)] = next;
            m_out.toRouter(d);
        }
        return;
    }
    default:
        return;
    }
}

void BridgeCore::flush()
{
    for (const auto &d : m_pending)
        for (const auto &s : d.second)
            m_out.toPanels(".U" + letters(s.second) + num3(d.first + 1) + ',' + num3(s.first + 1) + '\r');
    m_pending.clear();
}

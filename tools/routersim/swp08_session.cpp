#include "swp08_session.h"

#include <algorithm>
#include <string>

using swp08::Message;

namespace {

// A name made up from a number: "S12" in 4 characters, "SRC 12" in 8 and
// more; the number's last digits when it does not fit.
std::string madeUpName(bool source, int n, int chars)
{
    const std::string num = std::to_string(n + 1);
    std::string s = (chars >= 8 ? (source ? "SRC " : "DST ") : (source ? "S" : "D")) + num;
    if (int(s.size()) > chars)
        s = num.substr(num.size() - size_t(std::min<int>(int(num.size()), chars)));
    return s;
}

} // namespace

void Swp08Session::invalid(uint8_t wireCommand)
{
    Message m;
    m.command = swp08::Invalid;
    m.bytes = {wireCommand};
    m_out.reply(m);
}

// The matrix, level and numbers of a request name something this router
// has.
bool Swp08Session::valid(const Message &m) const
{
    return m.matrix == m_matrix && m.level < m_state.levels() && m.dest < m_state.dests()
           && m.source < m_state.sources();
}

void Swp08Session::handle(const std::vector<uint8_t> &data)
{
    Message m;
    const char *why = nullptr;
    if (!swp08::decode(data, &m, &why)) {
        // Never answer an invalid message with another.
        if (!data.empty() && data[0] != swp08::Invalid)
            invalid(data[0]);
        return;
    }
    switch (m.command) {
    case swp08::Invalid:
        return;
    case swp08::Interrogate:
    case swp08::ProtectInterrogate:
        interrogate(m);
        return;
    case swp08::Connect:
        connect(m);
        return;
    case swp08::ProtectConnect:
    case swp08::ProtectDisconnect:
        protect(m);
        return;
    case swp08::ProtectDumpRequest:
        protectDump(m);
        return;
    case swp08::DumpRequest:
        dump(m);
        return;
    case swp08::DualStatusRequest: {
        // One controller, active; no second card.
        Message r;
        r.command = swp08::DualStatus;
        r.bytes = {0x02, 0x01};
        m_out.reply(r);
        return;
    }
    case swp08::ImplementationRequest: {
        static const uint8_t out[] = {3, 4, 9, 11, 13, 15, 20, 22, 23, 98, 99, 106, 107,
                                      131, 132, 139, 141, 143, 148, 151, 234, 235};
        static const uint8_t in[] = {1, 2, 8, 10, 12, 14, 19, 21, 97, 99, 100, 101, 102, 103,
                                     129, 130, 138, 140, 142, 147, 149, 228, 229, 230, 231};
        Message r;
        r.command = swp08::Implementation;
        r.bytes = {uint8_t(sizeof out), uint8_t(sizeof in)};
        r.bytes.insert(r.bytes.end(), std::begin(out), std::end(out));
        r.bytes.insert(r.bytes.end(), std::begin(in), std::end(in));
        m_out.reply(r);
        return;
    }
    case swp08::AllSourceNames:
    case swp08::SourceName:
    case swp08::AllDestNames:
    case swp08::DestName:
        names(m);
        return;
    default:
        // What a router sends, not what it is sent.
        invalid(m.wireCommand());
        return;
    }
}

Message Swp08Session::protectMessage(const RouterState &state, int matrix, uint8_t command, int level, int dest,
                                     int device)
{
    Message r;
    r.command = command;
    r.matrix = matrix;
    r.level = level;
    r.dest = dest;
    int owner = 0;
    r.protect = state.protectState(level, dest + 1, &owner);
    r.device = r.protect ? owner : device;
    r.extended = swp08::needsExtended(matrix, level, dest, r.device);
    return r;
}

void Swp08Session::interrogate(const Message &m)
{
    if (!valid(m)) {
        invalid(m.wireCommand());
        return;
    }
    Message r;
    if (m.command == swp08::ProtectInterrogate) {
        r = protectMessage(m_state, m_matrix, swp08::ProtectTally, m.level, m.dest, 0);
    } else {
        r.command = swp08::Tally;
        r.matrix = m.matrix;
        r.level = m.level;
        r.dest = m.dest;
        r.source = m_state.source(m.level, m.dest + 1) - 1;
        r.extended = swp08::needsExtended(r.matrix, r.level, r.dest, r.source);
    }
    // An extended request gets an extended answer.
    r.extended = r.extended || m.extended;
    m_out.reply(r);
}

void Swp08Session::connect(const Message &m)
{
    if (!valid(m)) {
        invalid(m.wireCommand());
        return;
    }
    int device = 0;
    if (m_state.protectState(m.level, m.dest + 1, &device) == 2) {
        // Locked by a panel: nothing changes; the client is told what the
        // crosspoint still is.
        Message r;
        r.command = swp08::Tally;
        r.matrix = m.matrix;
        r.level = m.level;
        r.dest = m.dest;
        r.source = m_state.source(m.level, m.dest + 1) - 1;
        r.extended = m.extended || swp08::needsExtended(r.matrix, r.level, r.dest, r.source);
        m_out.reply(r);
        return;
    }
    // The matrix's observer sends CONNECTED to every client.
    const QByteArray tally = m_state.route(1u << m.level, m.dest + 1, m.source + 1);
    if (!tally.isEmpty())
        m_out.toPanels(tally);
}

void Swp08Session::protect(const Message &m)
{
    if (!valid(m)) {
        invalid(m.wireCommand());
        return;
    }
    QByteArray text;
    const bool on = m.command == swp08::ProtectConnect;
    const RouterState::ProtectResult result = on ? m_state.protect(m.level, m.dest + 1, m.device, &text)
                                                 : m_state.unprotect(m.level, m.dest + 1, m.device, &text);
    if (!text.isEmpty())
        m_out.toPanels(text);
    if (result == RouterState::Changed)
        return; // every client hears of it from the observer
    // Refused or nothing to change: the client is told the state as it is.
    Message r = protectMessage(m_state, m_matrix, on ? swp08::ProtectConnected : swp08::ProtectDisconnected,
                               m.level, m.dest, m.device);
    r.extended = r.extended || m.extended;
    m_out.reply(r);
}

void Swp08Session::protectDump(const Message &m)
{
    if (!valid(m)) {
        invalid(m.wireCommand());
        return;
    }
    Message r;
    r.command = swp08::ProtectDump;
    r.matrix = m.matrix;
    r.level = m.level;
    r.dest = m.dest;
    r.extended = m.extended || swp08::needsExtended(m.matrix, m.level, 0);
    const int count = std::min<int>(swp08::MaxDumpEntries, m_state.dests() - m.dest);
    for (int i = 0; i < count; ++i) {
        int device = 0;
        const int state = m_state.protectState(m.level, m.dest + i + 1, &device);
        // The dump's word has room for devices up to 1023.
        r.protects.push_back(swp08::ProtectEntry{state, device & 0x3FF});
    }
    m_out.reply(r);
}

// The whole level, in messages of up to 64 destinations: one byte per
// source while every number fits in 0..191, else 16-bit.
void Swp08Session::dump(const Message &m)
{
    if (!valid(m)) {
        invalid(m.wireCommand());
        return;
    }
    const bool byteForm = !m.extended && m_state.dests() <= 192 && m_state.sources() <= 192;
    for (int first = 0; first < m_state.dests(); first += swp08::MaxDumpEntries) {
        Message r;
        r.command = byteForm ? swp08::DumpByte : swp08::DumpWord;
        r.extended = m.extended;
        r.matrix = m.matrix;
        r.level = m.level;
        r.dest = first;
        const int count = std::min<int>(swp08::MaxDumpEntries, m_state.dests() - first);
        for (int i = 0; i < count; ++i)
            r.sources.push_back(m_state.source(m.level, first + i + 1) - 1);
        m_out.reply(r);
    }
}

void Swp08Session::names(const Message &m)
{
    const bool dest = m.command == swp08::AllDestNames || m.command == swp08::DestName;
    const bool single = m.command == swp08::SourceName || m.command == swp08::DestName;
    const int total = dest ? m_state.dests() : m_state.sources();
    const int one = dest ? m.dest : m.source;
    if (!valid(m) || (single && one >= total)) {
        invalid(m.wireCommand());
        return;
    }
    const int chars = swp08::nameChars(m.lengthCode);
    const int per = single ? 1 : swp08::namesPerMessage(m.lengthCode);
    const int from = single ? one : 0;
    const int to = single ? one + 1 : total;
    for (int first = from; first < to; first += per) {
        Message r;
        r.command = dest ? swp08::DestNames : swp08::SourceNames;
        r.extended = m.extended || swp08::needsExtended(m.matrix, m.level, 0);
        r.matrix = m.matrix;
        r.level = dest ? 0 : m.level;
        r.lengthCode = m.lengthCode;
        (dest ? r.dest : r.source) = first;
        for (int n = first; n < std::min(to, first + per); ++n)
            r.names.push_back(madeUpName(!dest, n, chars));
        m_out.reply(r);
    }
}

std::vector<Message> Swp08Session::changeMessages(const RouterState &state, int matrix,
                                                  const RouterState::Change &change)
{
    std::vector<Message> out;
    if (change.dest < 1 || change.dest > state.dests())
        return out;
    if (change.kind == RouterState::Change::Route) {
        Message r;
        r.command = swp08::Connected;
        r.matrix = matrix;
        r.level = change.level;
        r.dest = change.dest - 1;
        r.source = state.source(change.level, change.dest) - 1;
        r.extended = swp08::needsExtended(matrix, r.level, r.dest, r.source);
        out.push_back(r);
        return out;
    }
    const int from = change.level >= 0 ? change.level : 0;
    const int to = change.level >= 0 ? change.level + 1 : state.levels();
    for (int l = from; l < to && l < state.levels(); ++l) {
        int device = 0;
        const bool on = state.protectState(l, change.dest, &device) != 0;
        out.push_back(protectMessage(state, matrix, on ? swp08::ProtectConnected : swp08::ProtectDisconnected, l,
                                     change.dest - 1, change.device));
    }
    return out;
}

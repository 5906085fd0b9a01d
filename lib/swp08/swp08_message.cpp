#include "swp08_message.h"

#include "swp08_frame.h"

#include <cstdio>

namespace swp08 {

namespace {

const int kNameChars[MaxLengthCode + 1] = {4, 8, 12, 16, 32};
// At most this many names per response keeps DATA within 134 bytes (230
// for 32-character names).
const int kNamesPerMessage[MaxLengthCode + 1] = {32, 16, 10, 8, 7};

int word(const uint8_t *p)
{
    return (p[0] << 8) | p[1];
}

void putWord(std::vector<uint8_t> &out, int v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

// The general form's matrix/level byte and multiplier.
void readMl(uint8_t b, Message *m)
{
    m->matrix = b >> 4;
    m->level = b & 0x0F;
}

bool lowPart(uint8_t b)
{
    return b <= 0x7F;
}

// Names: fixed-width fields, trailing spaces and NULs dropped.
bool readNames(const uint8_t *p, size_t avail, int count, int lengthCode, Message *m)
{
    const int chars = nameChars(lengthCode);
    if (chars <= 0 || size_t(count) * size_t(chars) != avail)
        return false;
    for (int i = 0; i < count; ++i) {
        std::string s(reinterpret_cast<const char *>(p) + size_t(i) * size_t(chars), size_t(chars));
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
            s.pop_back();
        m->names.push_back(s);
    }
    return true;
}

void putNames(std::vector<uint8_t> &out, const Message &m)
{
    const int chars = nameChars(m.lengthCode);
    for (const std::string &name : m.names)
        for (int i = 0; i < chars; ++i)
            out.push_back(i < int(name.size()) ? uint8_t(name[size_t(i)]) : uint8_t(' '));
}

bool fits(int v, int max)
{
    return v >= 0 && v <= max;
}

// Decoders of the general and the extended forms. d points at the message
// bytes after the command, n is their number.
const char *decodeGeneral(uint8_t cmd, const uint8_t *d, size_t n, Message *m)
{
    const char *len = "length does not fit the command";
    switch (cmd) {
    case Interrogate:
    case ProtectInterrogate:
        if (n != 3)
            return len;
        readMl(d[0], m);
        if (!lowPart(d[2]))
            return "destination low part above 127";
        m->dest = ((d[1] >> 4) & 7) * 128 + d[2];
        return nullptr;
    case Connect:
    case Tally:
    case Connected:
        if (n != 4)
            return len;
        readMl(d[0], m);
        if (!lowPart(d[2]) || !lowPart(d[3]))
            return "low part above 127";
        m->dest = ((d[1] >> 4) & 7) * 128 + d[2];
        m->source = (d[1] & 7) * 128 + d[3];
        m->badSource = (d[1] & 0x08) != 0;
        return nullptr;
    case ProtectConnect:
    case ProtectDisconnect:
        if (n != 4)
            return len;
        readMl(d[0], m);
        if (!lowPart(d[2]) || !lowPart(d[3]))
            return "low part above 127";
        m->dest = ((d[1] >> 4) & 7) * 128 + d[2];
        m->device = (d[1] & 7) * 128 + d[3];
        return nullptr;
    case ProtectTally:
    case ProtectConnected:
    case ProtectDisconnected:
        if (n != 5)
            return len;
        readMl(d[0], m);
        m->protect = d[1];
        if (!lowPart(d[3]) || !lowPart(d[4]))
            return "low part above 127";
        m->dest = ((d[2] >> 4) & 7) * 128 + d[3];
        m->device = (d[2] & 7) * 128 + d[4];
        return nullptr;
    case ProtectDumpRequest:
        if (n != 3)
            return len;
        readMl(d[0], m);
        m->dest = word(d + 1);
        return nullptr;
    case ProtectDump: {
        if (n < 4)
            return len;
        readMl(d[0], m);
        const int count = d[1];
        if (n != 4 + size_t(count) * 2)
            return len;
        m->dest = word(d + 2);
        for (int i = 0; i < count; ++i) {
            const int w = word(d + 4 + 2 * i);
            m->protects.push_back(ProtectEntry{(w >> 12) & 7, w & 0x3FF});
        }
        return nullptr;
    }
    case DumpRequest:
        if (n != 1)
            return len;
        readMl(d[0], m);
        return nullptr;
    case DumpByte: {
        if (n < 3)
            return len;
        readMl(d[0], m);
        const int count = d[1];
        if (n != 3 + size_t(count))
            return len;
        m->dest = d[2];
        for (int i = 0; i < count; ++i)
            m->sources.push_back(d[3 + i]);
        return nullptr;
    }
    case DumpWord: {
        if (n < 4)
            return len;
        readMl(d[0], m);
        const int count = d[1];
        if (n != 4 + size_t(count) * 2)
            return len;
        m->dest = word(d + 2);
        for (int i = 0; i < count; ++i)
            m->sources.push_back(word(d + 4 + 2 * i));
        return nullptr;
    }
    case DualStatusRequest:
    case ImplementationRequest:
        return n == 0 ? nullptr : len;
    case DualStatus:
        if (n != 2)
            return len;
        m->bytes.assign(d, d + n);
        return nullptr;
    case NamesUpdated:
        if (n != 8)
            return len;
        m->bytes.assign(d, d + n);
        return nullptr;
    case Implementation:
        // Two counts and the command lists; some readers take every byte
        // after the counts as a command, so the lists are kept as they are.
        if (n < 2)
            return len;
        m->bytes.assign(d, d + n);
        return nullptr;
    case Invalid:
        if (n < 1)
            return len;
        m->bytes.assign(d, d + 1);
        return nullptr;
    case AllSourceNames:
    case AllDestNames:
        // Some clients leave the matrix/level byte out.
        if (n == 1) {
            m->lengthCode = d[0];
        } else if (n == 2) {
            readMl(d[0], m);
            m->lengthCode = d[1];
        } else {
            return len;
        }
        if (cmd == AllDestNames)
            m->level = 0;
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case SourceName:
    case DestName:
        if (n != 4)
            return len;
        readMl(d[0], m);
        if (cmd == DestName)
            m->level = 0;
        m->lengthCode = d[1];
        (cmd == SourceName ? m->source : m->dest) = word(d + 2);
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case SourceNames:
    case DestNames: {
        if (n < 5)
            return len;
        readMl(d[0], m);
        if (cmd == DestNames)
            m->level = 0;
        m->lengthCode = d[1];
        (cmd == SourceNames ? m->source : m->dest) = word(d + 2);
        if (m->lengthCode > MaxLengthCode)
            return "unknown name length code";
        return readNames(d + 5, n - 5, d[4], m->lengthCode, m) ? nullptr : len;
    }
    default:
        return "unknown command";
    }
}

const char *decodeExtended(uint8_t cmd, const uint8_t *d, size_t n, Message *m)
{
    const char *len = "length does not fit the command";
    if (n >= 1)
        m->matrix = d[0];
    switch (cmd) {
    case Interrogate:
    case ProtectInterrogate:
    case ProtectDumpRequest:
        if (n != 4)
            return len;
        m->level = d[1];
        m->dest = word(d + 2);
        return nullptr;
    case Connect:
    case ProtectConnect:
    case ProtectDisconnect:
        if (n != 6)
            return len;
        m->level = d[1];
        m->dest = word(d + 2);
        (cmd == Connect ? m->source : m->device) = word(d + 4);
        return nullptr;
    case Tally:
    case Connected:
        // A seventh byte, a reserved status, is sent by some routers only.
        if (n != 6 && n != 7)
            return len;
        m->level = d[1];
        m->dest = word(d + 2);
        m->source = word(d + 4);
        return nullptr;
    case ProtectTally:
    case ProtectConnected:
    case ProtectDisconnected:
        if (n != 7)
            return len;
        m->level = d[1];
        m->protect = d[2];
        m->dest = word(d + 3);
        m->device = word(d + 5);
        return nullptr;
    case ProtectDump: {
        if (n < 5)
            return len;
        m->level = d[1];
        const int count = d[2];
        if (n != 5 + size_t(count) * 2)
            return len;
        m->dest = word(d + 3);
        for (int i = 0; i < count; ++i) {
            const int w = word(d + 5 + 2 * i);
            m->protects.push_back(ProtectEntry{(w >> 12) & 7, w & 0x3FF});
        }
        return nullptr;
    }
    case DumpRequest:
        if (n != 2)
            return len;
        m->level = d[1];
        return nullptr;
    case DumpWord: {
        if (n < 5)
            return len;
        m->level = d[1];
        const int count = d[2];
        if (n != 5 + size_t(count) * 2)
            return len;
        m->dest = word(d + 3);
        for (int i = 0; i < count; ++i)
            m->sources.push_back(word(d + 5 + 2 * i));
        return nullptr;
    }
    case AllSourceNames:
        if (n != 3)
            return len;
        m->level = d[1];
        m->lengthCode = d[2];
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case SourceName:
        if (n != 5)
            return len;
        m->level = d[1];
        m->lengthCode = d[2];
        m->source = word(d + 3);
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case AllDestNames:
        // Destination names have no level; some clients send one anyway.
        if (n != 2 && n != 3)
            return len;
        m->lengthCode = d[n - 1];
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case DestName:
        if (n != 4 && n != 5)
            return len;
        m->lengthCode = d[n - 3];
        m->dest = word(d + n - 2);
        return m->lengthCode <= MaxLengthCode ? nullptr : "unknown name length code";
    case SourceNames: {
        if (n < 6)
            return len;
        m->level = d[1];
        m->lengthCode = d[2];
        m->source = word(d + 3);
        if (m->lengthCode > MaxLengthCode)
            return "unknown name length code";
        return readNames(d + 6, n - 6, d[5], m->lengthCode, m) ? nullptr : len;
    }
    case DestNames: {
        // M, length, first, count, names; or with a level byte after M.
        if (n >= 5 && d[1] <= MaxLengthCode
            && readNames(d + 5, n - 5, d[4], d[1], m)) {
            m->lengthCode = d[1];
            m->dest = word(d + 2);
            return nullptr;
        }
        m->names.clear();
        if (n >= 6 && d[2] <= MaxLengthCode && readNames(d + 6, n - 6, d[5], d[2], m)) {
            m->lengthCode = d[2];
            m->dest = word(d + 3);
            return nullptr;
        }
        return len;
    }
    default:
        return "unknown command";
    }
}

} // namespace

int nameChars(int lengthCode)
{
    return lengthCode >= 0 && lengthCode <= MaxLengthCode ? kNameChars[lengthCode] : 0;
}

int namesPerMessage(int lengthCode)
{
    return lengthCode >= 0 && lengthCode <= MaxLengthCode ? kNamesPerMessage[lengthCode] : 0;
}

bool needsExtended(int matrix, int level, int a, int b)
{
    return matrix > MaxStandardMatrix || level > MaxStandardLevel || a > MaxStandardNumber
           || b > MaxStandardNumber;
}

bool decode(const uint8_t *data, size_t n, Message *out, const char **why)
{
    *out = Message();
    if (n == 0) {
        *why = "empty";
        return false;
    }
    const uint8_t wire = data[0];
    const bool ext = wire >= Extended;
    out->command = ext ? uint8_t(wire - Extended) : wire;
    out->extended = ext;
    const char *error = ext ? decodeExtended(out->command, data + 1, n - 1, out)
                            : decodeGeneral(out->command, data + 1, n - 1, out);
    if (error) {
        *why = error;
        const uint8_t keep = wire;
        *out = Message();
        out->command = ext ? uint8_t(keep - Extended) : keep;
        out->extended = ext;
        return false;
    }
    return true;
}

std::vector<uint8_t> encode(const Message &m)
{
    std::vector<uint8_t> out;
    out.push_back(m.wireCommand());
    const bool x = m.extended;
    // Only the multiplier byte limits the general form's numbers; dumps
    // and names carry 16-bit ones in both forms.
    const bool multiplier = m.command <= Connected || (m.command >= ProtectInterrogate && m.command <= ProtectDisconnected);
    const int maxNumber = x || !multiplier ? MaxExtendedNumber : MaxStandardNumber;
    if (!fits(m.matrix, x ? MaxExtendedMatrix : MaxStandardMatrix)
        || !fits(m.level, x ? MaxExtendedLevel : MaxStandardLevel) || !fits(m.dest, maxNumber)
        || !fits(m.source, maxNumber) || !fits(m.device, maxNumber))
        return {};
    const uint8_t ml = uint8_t(m.matrix << 4 | m.level);
    auto mult = [](int a, int b) { return uint8_t((a / 128) << 4 | (b / 128)); };
    auto ml2 = [&] {
        if (x) {
            out.push_back(uint8_t(m.matrix));
            out.push_back(uint8_t(m.level));
        } else {
            out.push_back(ml);
        }
    };
    switch (m.command) {
    case Interrogate:
    case ProtectInterrogate:
        ml2();
        if (x) {
            putWord(out, m.dest);
        } else {
            out.push_back(mult(m.dest, 0));
            out.push_back(uint8_t(m.dest % 128));
        }
        break;
    case Connect:
    case Tally:
    case Connected:
    case ProtectConnect:
    case ProtectDisconnect: {
        const bool isRoute = m.command <= Connected;
        const int second = isRoute ? m.source : m.device;
        ml2();
        if (x) {
            putWord(out, m.dest);
            putWord(out, second);
        } else {
            out.push_back(uint8_t(mult(m.dest, second) | (isRoute && m.badSource ? 0x08 : 0)));
            out.push_back(uint8_t(m.dest % 128));
            out.push_back(uint8_t(second % 128));
        }
        break;
    }
    case ProtectTally:
    case ProtectConnected:
    case ProtectDisconnected:
        if (!fits(m.protect, 255))
            return {};
        ml2();
        out.push_back(uint8_t(m.protect));
        if (x) {
            putWord(out, m.dest);
            putWord(out, m.device);
        } else {
            out.push_back(mult(m.dest, m.device));
            out.push_back(uint8_t(m.dest % 128));
            out.push_back(uint8_t(m.device % 128));
        }
        break;
    case ProtectDumpRequest:
        ml2();
        putWord(out, m.dest);
        break;
    case ProtectDump:
        if (m.protects.size() > 125)
            return {};
        ml2();
        out.push_back(uint8_t(m.protects.size()));
        putWord(out, m.dest);
        for (const ProtectEntry &e : m.protects) {
            if (!fits(e.device, MaxStandardNumber) || !fits(e.state, 7))
                return {};
            putWord(out, e.state << 12 | e.device);
        }
        break;
    case DumpRequest:
        ml2();
        break;
    case DumpByte:
        if (x || m.sources.size() > 251 || !fits(m.dest, 255))
            return {};
        out.push_back(ml);
        out.push_back(uint8_t(m.sources.size()));
        out.push_back(uint8_t(m.dest));
        for (int s : m.sources) {
            if (!fits(s, 255))
                return {};
            out.push_back(uint8_t(s));
        }
        break;
    case DumpWord:
        if (m.sources.size() > 125 || !fits(m.dest, MaxExtendedNumber))
            return {};
        ml2();
        out.push_back(uint8_t(m.sources.size()));
        putWord(out, m.dest);
        for (int s : m.sources) {
            if (!fits(s, MaxExtendedNumber))
                return {};
            putWord(out, s);
        }
        break;
    case DualStatusRequest:
    case ImplementationRequest:
        if (x)
            return {};
        break;
    case DualStatus:
    case NamesUpdated:
    case Implementation:
    case Invalid:
        if (x)
            return {};
        out.insert(out.end(), m.bytes.begin(), m.bytes.end());
        break;
    case AllSourceNames:
    case SourceName:
    case AllDestNames:
    case DestName:
    case SourceNames:
    case DestNames: {
        if (!fits(m.lengthCode, MaxLengthCode))
            return {};
        const bool dest = m.command == AllDestNames || m.command == DestName || m.command == DestNames;
        // Destination names belong to a matrix, not to a level.
        if (x) {
            out.push_back(uint8_t(m.matrix));
            if (!dest)
                out.push_back(uint8_t(m.level));
        } else {
            out.push_back(dest ? uint8_t(m.matrix << 4) : ml);
        }
        out.push_back(uint8_t(m.lengthCode));
        if (m.command == SourceName || m.command == DestName) {
            putWord(out, dest ? m.dest : m.source);
        } else if (m.command == SourceNames || m.command == DestNames) {
            if (m.names.size() > 255)
                return {};
            putWord(out, dest ? m.dest : m.source);
            out.push_back(uint8_t(m.names.size()));
            putNames(out, m);
        }
        break;
    }
    default:
        return {};
    }
    if (out.size() > MaxData)
        return {};
    return out;
}

namespace {

std::string fmt(const char *f, int a, int b = 0, int c = 0, int d = 0, int e = 0)
{
    char buf[160];
    snprintf(buf, sizeof buf, f, a, b, c, d, e);
    return buf;
}

const char *protectText(int state)
{
    switch (state) {
    case NotProtected: return "not protected";
    case Protected: return "protected";
    case OverrideProtected: return "override-protected";
    case ThirdPartyProtected: return "protected by a third party";
    }
    return "unknown state";
}

std::string hex(const uint8_t *p, size_t n)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(buf, sizeof buf, i ? " %02x" : "%02x", p[i]);
        s += buf;
    }
    return s;
}

std::string quotedNames(const Message &m)
{
    std::string s;
    for (const std::string &n : m.names) {
        s += " \"";
        for (char c : n)
            s += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? std::string(1, c) : fmt("\\x%02x", uint8_t(c));
        s += '"';
    }
    return s;
}

} // namespace

std::string describe(const Message &m)
{
    std::string s = m.extended ? "ext " : "";
    const std::string ml = fmt("m%d l%d", m.matrix, m.level);
    switch (m.command) {
    case Interrogate: return s + "interrogate " + ml + fmt(" d%d", m.dest);
    case Connect: return s + "connect " + ml + fmt(" d%d s%d", m.dest, m.source);
    case Tally:
    case Connected:
        return s + (m.command == Tally ? "tally " : "connected ") + ml + fmt(" d%d s%d", m.dest, m.source)
               + (m.badSource ? " (bad source)" : "");
    case DualStatusRequest: return "dual controller status request";
    case DualStatus: return "dual controller status " + hex(m.bytes.data(), m.bytes.size());
    case ProtectInterrogate: return s + "protect interrogate " + ml + fmt(" d%d", m.dest);
    case ProtectConnect: return s + "protect connect " + ml + fmt(" d%d dev%d", m.dest, m.device);
    case ProtectDisconnect: return s + "protect disconnect " + ml + fmt(" d%d dev%d", m.dest, m.device);
    case ProtectTally:
    case ProtectConnected:
    case ProtectDisconnected: {
        const char *name = m.command == ProtectTally      ? "protect tally "
                           : m.command == ProtectConnected ? "protect connected "
                                                            : "protect disconnected ";
        return s + name + ml + fmt(" d%d dev%d ", m.dest, m.device) + protectText(m.protect);
    }
    case ProtectDumpRequest: return s + "protect dump request " + ml + fmt(" from d%d", m.dest);
    case ProtectDump: {
        s += "protect dump " + ml + fmt(" d%d+%d:", m.dest, int(m.protects.size()));
        for (const ProtectEntry &e : m.protects)
            s += fmt(" %d/%d", e.state, e.device);
        return s;
    }
    case DumpRequest: return s + "tally dump request " + ml;
    case DumpByte:
    case DumpWord: {
        s += "tally dump " + ml + fmt(" d%d+%d:", m.dest, int(m.sources.size()));
        for (int src : m.sources)
            s += fmt(" %d", src);
        return s;
    }
    case NamesUpdated: return "names updated " + hex(m.bytes.data(), m.bytes.size());
    case ImplementationRequest: return "implementation request";
    case Implementation: return "implementation " + hex(m.bytes.data(), m.bytes.size());
    case Invalid: return fmt("invalid message (command %d)", m.bytes.empty() ? -1 : m.bytes[0]);
    case AllSourceNames:
        return s + "source names request " + ml + fmt(" %d chars", nameChars(m.lengthCode));
    case SourceName:
        return s + "source name request " + ml + fmt(" s%d %d chars", m.source, nameChars(m.lengthCode));
    case AllDestNames: return s + fmt("destination names request m%d %d chars", m.matrix, nameChars(m.lengthCode));
    case DestName:
        return s + fmt("destination name request m%d d%d %d chars", m.matrix, m.dest, nameChars(m.lengthCode));
    case SourceNames:
        return s + "source names " + ml + fmt(" s%d+%d", m.source, int(m.names.size())) + quotedNames(m);
    case DestNames:
        return s + fmt("destination names m%d d%d+%d", m.matrix, m.dest, int(m.names.size())) + quotedNames(m);
    }
    return s + fmt("command %d", m.command);
}

std::string describeData(const uint8_t *data, size_t n)
{
    Message m;
    const char *why = nullptr;
    if (decode(data, n, &m, &why))
        return describe(m);
    return fmt("command %d", n ? data[0] : -1) + fmt(" (%d bytes): ", int(n)) + why;
}

} // namespace swp08

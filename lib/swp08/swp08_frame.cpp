#include "swp08_frame.h"

namespace swp08 {

uint8_t checksum(const uint8_t *data, size_t n)
{
    unsigned sum = unsigned(n);
    for (size_t i = 0; i < n; ++i)
        sum += data[i];
    return uint8_t(0x100 - (sum & 0xFF));
}

static void putStuffed(std::vector<uint8_t> &out, uint8_t b)
{
    out.push_back(b);
    if (b == DLE)
        out.push_back(DLE);
}

std::vector<uint8_t> encodeFrame(const uint8_t *data, size_t n)
{
    std::vector<uint8_t> out;
    if (n == 0 || n > MaxData)
        return out;
    out.reserve(2 * n + 8);
    out.push_back(DLE);
    out.push_back(STX);
    for (size_t i = 0; i < n; ++i)
        putStuffed(out, data[i]);
    putStuffed(out, uint8_t(n));
    putStuffed(out, checksum(data, n));
    out.push_back(DLE);
    out.push_back(ETX);
    return out;
}

void FrameReader::reset()
{
    m_state = Idle;
    m_body.clear();
}

FrameReader::Event FrameReader::damaged(Error e, State next)
{
    m_error = e;
    m_body.clear();
    m_state = next;
    return Damaged;
}

// The body is DATA, BTC and CHK: its sum is 0 modulo 256 and BTC counts
// the DATA bytes before it.
FrameReader::Event FrameReader::finish()
{
    m_state = Idle;
    if (m_body.size() < 3)
        return damaged(BadCount, Idle);
    unsigned sum = 0;
    for (uint8_t b : m_body)
        sum += b;
    if ((sum & 0xFF) != 0)
        return damaged(BadChecksum, Idle);
    const size_t n = m_body.size() - 2;
    if (m_body[n] != n)
        return damaged(BadCount, Idle);
    m_data.assign(m_body.begin(), m_body.begin() + long(n));
    m_body.clear();
    m_error = NoError;
    return Frame;
}

FrameReader::Event FrameReader::feed(uint8_t b)
{
    switch (m_state) {
    case Idle:
        if (b == DLE)
            m_state = IdleDle;
        return None;
    case IdleDle:
        switch (b) {
        case STX:
            m_body.clear();
            m_state = InFrame;
            return None;
        case ACK:
            m_state = Idle;
            return Ack;
        case NAK:
            m_state = Idle;
            return Nak;
        case DLE:
            return None; // a stray DLE: the next one may start something
        default:
            m_state = Idle;
            return None;
        }
    case InFrame:
        if (b == DLE) {
            m_state = InFrameDle;
            return None;
        }
        if (m_body.size() >= size_t(MaxData) + 2)
            return damaged(TooLong, Skip);
        m_body.push_back(b);
        return None;
    case InFrameDle:
        switch (b) {
        case DLE:
            m_state = InFrame;
            if (m_body.size() >= size_t(MaxData) + 2)
                return damaged(TooLong, Skip);
            m_body.push_back(DLE);
            return None;
        case ETX:
            return finish();
        case STX:
            // The frame before was cut off; this one starts afresh.
            m_body.clear();
            m_state = InFrame;
            return Lost;
        case ACK:
            m_state = InFrame;
            return Ack;
        case NAK:
            m_state = InFrame;
            return Nak;
        default:
            return damaged(IllegalDle, Idle);
        }
    case Skip:
        // The rest of an over-long frame, up to its end.
        if (b == DLE)
            m_state = SkipDle;
        return None;
    case SkipDle:
        switch (b) {
        case DLE:
            m_state = Skip;
            return None;
        case STX:
            m_body.clear();
            m_state = InFrame;
            return None;
        case ACK:
            m_state = Skip;
            return Ack;
        case NAK:
            m_state = Skip;
            return Nak;
        default:
            m_state = Idle; // its end, or a framing error already answered
            return None;
        }
    }
    return None;
}

const char *errorText(FrameReader::Error e)
{
    switch (e) {
    case FrameReader::NoError: return "no error";
    case FrameReader::BadChecksum: return "bad checksum";
    case FrameReader::BadCount: return "bad byte count";
    case FrameReader::IllegalDle: return "illegal DLE sequence";
    case FrameReader::TooLong: return "frame too long";
    }
    return "?";
}

} // namespace swp08

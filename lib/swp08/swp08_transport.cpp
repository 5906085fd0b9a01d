#include "swp08_transport.h"

#include "swp08_message.h"

#include <cstdio>

namespace swp08 {

void Transport::trace(Event::Kind kind, const std::vector<uint8_t> *data, int attempt, FrameReader::Error error)
{
    m_handler.traced(Event{kind, data, attempt, error});
}

void Transport::writeControl(uint8_t code, Event::Kind kind, FrameReader::Error error)
{
    const uint8_t b[2] = {DLE, code};
    m_handler.write(b, 2);
    trace(kind, nullptr, 0, error);
}

void Transport::reset()
{
    m_reader.reset();
    m_queue.clear();
    m_queuedBytes = 0;
    m_inFlight = false;
    m_attempts = 0;
}

bool Transport::send(const std::vector<uint8_t> &data, int64_t nowMs)
{
    if (data.empty() || data.size() > MaxData)
        return false;
    m_queue.push_back(data);
    m_queuedBytes += data.size();
    if (!m_inFlight)
        transmit(nowMs);
    return true;
}

void Transport::transmit(int64_t nowMs)
{
    if (m_queue.empty())
        return;
    const std::vector<uint8_t> frame = encodeFrame(m_queue.front());
    m_inFlight = true;
    ++m_attempts;
    m_sentAt = nowMs;
    m_handler.write(frame.data(), frame.size());
    trace(Event::TxFrame, &m_queue.front(), m_attempts);
}

// The frame on the wire is done with: the next one goes out.
void Transport::next(int64_t nowMs)
{
    if (!m_queue.empty()) {
        m_queuedBytes -= m_queue.front().size();
        m_queue.pop_front();
    }
    m_inFlight = false;
    m_attempts = 0;
    transmit(nowMs);
}

void Transport::poll(int64_t nowMs)
{
    if (!m_inFlight || nowMs - m_sentAt < m_timing.ackTimeoutMs)
        return;
    if (m_attempts <= m_timing.maxResends) {
        transmit(nowMs);
        return;
    }
    const std::vector<uint8_t> dropped = m_queue.front();
    next(nowMs);
    m_handler.gaveUp(dropped, true);
}

void Transport::receive(const uint8_t *bytes, size_t n, int64_t nowMs)
{
    for (size_t i = 0; i < n; ++i) {
        switch (m_reader.feed(bytes[i])) {
        case FrameReader::None:
            break;
        case FrameReader::Frame: {
            // The ACK goes out before anything the frame makes us send.
            const std::vector<uint8_t> data = m_reader.data();
            trace(Event::RxFrame, &data);
            writeControl(ACK, Event::TxAck, FrameReader::NoError);
            m_handler.frame(data);
            break;
        }
        case FrameReader::Damaged:
            trace(Event::RxDamaged, nullptr, 0, m_reader.error());
            writeControl(NAK, Event::TxNak, m_reader.error());
            break;
        case FrameReader::Lost:
            trace(Event::RxLost, nullptr);
            break;
        case FrameReader::Ack:
            trace(Event::RxAck, nullptr);
            if (m_inFlight)
                next(nowMs);
            break;
        case FrameReader::Nak:
            trace(Event::RxNak, nullptr);
            if (!m_inFlight)
                break;
            if (m_attempts <= m_timing.maxResends) {
                transmit(nowMs);
            } else {
                const std::vector<uint8_t> dropped = m_queue.front();
                next(nowMs);
                m_handler.gaveUp(dropped, false);
            }
            break;
        }
    }
}

bool received(const Transport::Event &e)
{
    switch (e.kind) {
    case Transport::Event::RxFrame:
    case Transport::Event::RxDamaged:
    case Transport::Event::RxLost:
    case Transport::Event::RxAck:
    case Transport::Event::RxNak:
        return true;
    default:
        return false;
    }
}

std::string traceText(const Transport::Event &e)
{
    switch (e.kind) {
    case Transport::Event::RxAck:
    case Transport::Event::TxAck:
        return "ACK";
    case Transport::Event::RxNak:
        return "NAK";
    case Transport::Event::TxNak:
        return std::string("NAK (") + errorText(e.error) + ")";
    case Transport::Event::RxDamaged:
        return std::string("DAMAGED frame (") + errorText(e.error) + ")";
    case Transport::Event::RxLost:
        return "LOST frame (cut short by the next)";
    case Transport::Event::RxFrame:
    case Transport::Event::TxFrame:
        break;
    }
    if (!e.data)
        return "?";
    std::string s;
    if (e.kind == Transport::Event::TxFrame && e.attempt > 1)
        s = "resend " + std::to_string(e.attempt - 1) + ": ";
    s += describeData(e.data->data(), e.data->size()) + " [";
    const std::vector<uint8_t> wire = encodeFrame(*e.data);
    char buf[4];
    for (size_t i = 0; i < wire.size(); ++i) {
        snprintf(buf, sizeof buf, i ? " %02x" : "%02x", wire[i]);
        s += buf;
    }
    return s + "]";
}

} // namespace swp08

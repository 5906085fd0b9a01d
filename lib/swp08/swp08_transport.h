#ifndef SWP08_TRANSPORT_H
#define SWP08_TRANSPORT_H

// One end of an SW-P-08 link, without the socket: it reads the peer's byte
// stream, answers every frame with ACK or NAK, hands intact frames on, and
// sends queued messages one at a time, each waiting for its ACK. A frame
// answered with NAK, or not answered within the ACK timeout, is sent again,
// up to maxResends times; then the handler is told it gave up. Time is
// given by the caller in milliseconds. Plain C++.

#include "swp08_frame.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace swp08 {

class Transport
{
public:
    struct Timing {
        int ackTimeoutMs = 1000;
        int maxResends = 5;
    };

    // What happened on the link, for a protocol trace.
    struct Event {
        enum Kind {
            RxFrame,   // an intact frame received (and acknowledged)
            RxDamaged, // a damaged frame received (answered with NAK)
            RxLost,    // a frame cut short by the start of the next
            RxAck,
            RxNak,
            TxFrame,   // a frame sent; attempt > 1 for a re-send
            TxAck,
            TxNak,
        };
        Kind kind;
        const std::vector<uint8_t> *data; // DATA of the frame (frames only)
        int attempt;
        FrameReader::Error error;
    };

    class Handler
    {
    public:
        virtual ~Handler() = default;
        // Bytes for the peer.
        virtual void write(const uint8_t *bytes, size_t n) = 0;
        // An intact frame from the peer, already acknowledged.
        virtual void frame(const std::vector<uint8_t> &data) = 0;
        // A frame of ours was dropped after its re-sends: no ACK came
        // (noAck) or the peer answered NAK every time.
        virtual void gaveUp(const std::vector<uint8_t> &data, bool noAck) = 0;
        virtual void traced(const Event &) {}
    };

    explicit Transport(Handler &handler) : m_handler(handler) {}
    Transport(Handler &handler, Timing timing) : m_handler(handler), m_timing(timing) {}

    // Bytes from the peer.
    void receive(const uint8_t *bytes, size_t n, int64_t nowMs);
    // Queues the DATA of a message (1 to MaxData bytes; anything else is
    // refused) and sends it when the link is free.
    bool send(const std::vector<uint8_t> &data, int64_t nowMs);
    // Re-sends or gives up on a frame whose ACK is overdue.
    void poll(int64_t nowMs);
    // A new connection: nothing queued or half read.
    void reset();

    // Messages waiting, the one on the wire included, and their bytes.
    size_t queued() const { return m_queue.size(); }
    size_t queuedBytes() const { return m_queuedBytes; }
    // When the frame on the wire was last sent; -1 when none is.
    int64_t sentAt() const { return m_inFlight ? m_sentAt : -1; }
    const Timing &timing() const { return m_timing; }

private:
    void transmit(int64_t nowMs);
    void next(int64_t nowMs);
    void writeControl(uint8_t code, Event::Kind kind, FrameReader::Error error);
    void trace(Event::Kind kind, const std::vector<uint8_t> *data, int attempt = 0,
               FrameReader::Error error = FrameReader::NoError);

    Handler &m_handler;
    Timing m_timing;
    FrameReader m_reader;
    std::deque<std::vector<uint8_t>> m_queue;
    size_t m_queuedBytes = 0;
    bool m_inFlight = false;
    int m_attempts = 0;
    int64_t m_sentAt = 0;
};

// An event as a line of a protocol trace, after "rx" or "tx": the message
// decoded and the frame as it went on the wire ("connect m0 l0 d5 s3
// [10 02 ...]"), "ACK", "NAK (bad checksum)", "resend 2: ...".
std::string traceText(const Transport::Event &e);
// Whether the event is something received (else sent).
bool received(const Transport::Event &e);

} // namespace swp08

#endif

#ifndef SWP08_FRAME_H
#define SWP08_FRAME_H

// The framing of the SW-P-08 router control protocol, as it runs on a
// serial line or a TCP stream: every message travels as
//
//   DLE STX | DATA (command byte, message bytes) | BTC | CHK | DLE ETX
//
// with BTC the number of DATA bytes, CHK the two's complement of the sum of
// DATA and BTC, and every 0x10 in DATA, BTC and CHK sent twice. A receiver
// answers each frame with DLE ACK (intact) or DLE NAK (damaged). Plain C++,
// no allocation beyond the frame being built or read.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace swp08 {

enum : uint8_t { DLE = 0x10, STX = 0x02, ETX = 0x03, ACK = 0x06, NAK = 0x15 };

enum {
    // BTC is one byte: DATA holds at most 255 bytes.
    MaxData = 255,
};

// The checksum of DATA with its byte count.
uint8_t checksum(const uint8_t *data, size_t n);

// The frame of one DATA (1 to MaxData bytes), stuffed and ready for the
// wire; empty for an empty or over-long DATA.
std::vector<uint8_t> encodeFrame(const uint8_t *data, size_t n);
inline std::vector<uint8_t> encodeFrame(const std::vector<uint8_t> &data)
{
    return encodeFrame(data.data(), data.size());
}

// A byte-at-a-time reader of the stream from the peer. It finds frames,
// checks their packaging and reports ACK and NAK, between frames and inside
// them (a single DLE ACK or DLE NAK inside a frame is an acknowledgement
// sent while the frame was being transmitted).
class FrameReader
{
public:
    enum Event {
        None,     // nothing complete yet
        Frame,    // a frame intact: data() is its DATA
        Ack,      // DLE ACK
        Nak,      // DLE NAK
        Damaged,  // a frame that must be answered with NAK: error() says why
        Lost,     // a frame cut short by the start of another (not answered)
    };
    enum Error {
        NoError,
        BadChecksum,
        BadCount,   // BTC differs from the number of DATA bytes, or no room for BTC and CHK
        IllegalDle, // DLE followed by a byte that has no meaning after it
        TooLong,    // more bytes than DATA, BTC and CHK can make
    };

    // Feeds one byte of the stream; returns what it completed.
    Event feed(uint8_t byte);
    // DATA of the last Frame event (valid until the next feed).
    const std::vector<uint8_t> &data() const { return m_data; }
    Error error() const { return m_error; }
    // Forgets a frame in progress (a new connection).
    void reset();

private:
    enum State { Idle, IdleDle, InFrame, InFrameDle, Skip, SkipDle };
    Event finish();
    Event damaged(Error e, State next);

    State m_state = Idle;
    std::vector<uint8_t> m_body; // DATA BTC CHK, unstuffed
    std::vector<uint8_t> m_data;
    Error m_error = NoError;
};

const char *errorText(FrameReader::Error e);

} // namespace swp08

#endif

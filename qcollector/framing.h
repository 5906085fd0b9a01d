#ifndef COLLECTOR_FRAMING_H
#define COLLECTOR_FRAMING_H

#include <QByteArray>

class QIODevice;

namespace collector {

// Collector TCP connections carry each message as a 4-byte big-endian length
// followed by that many payload bytes.
enum { FrameHeaderSize = 4 };

// The framed form of one payload: length header, then the payload.
QByteArray frame(const QByteArray &payload);

// Writes one framed payload to the device. The write counts as done only when
// both the header and the whole payload were accepted by the device.
bool writeFramed(QIODevice *dev, const QByteArray &payload);

// Cuts a collector byte stream, arriving in pieces, back into its framed
// payloads, in order. A payload is handed out once all of it has arrived. A
// length above the reader's maximum cannot be a collector message and would
// have the reader wait for data without bound: the stream is marked failed
// and the owner drops the connection.
class FrameReader
{
public:
    enum { DefaultMaxPayload = 1 << 20 };

    explicit FrameReader(quint32 maxPayload = DefaultMaxPayload) : m_max(maxPayload) {}

    // Adds received bytes (ignored once the stream failed).
    void append(const QByteArray &bytes);
    // The next complete payload; false when none is complete yet.
    bool next(QByteArray *payload);
    bool failed() const { return m_failed; }
    // The length that made the stream fail.
    quint32 refusedLength() const { return m_refused; }
    // Bytes received and not yet handed out.
    qsizetype pending() const { return m_buffer.size() - m_pos; }
    // Forgets everything received and starts a new stream.
    void clear();

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0; // start of what is not handed out yet
    quint32 m_max;
    quint32 m_refused = 0;
    bool m_failed = false;
};

} // namespace collector

#endif

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

} // namespace collector

#endif

#include "framing.h"

#include <QIODevice>
#include <QtEndian>

namespace collector {

static QByteArray header(qsizetype n)
{
    QByteArray h(FrameHeaderSize, '\0');
    qToBigEndian<quint32>(quint32(n), reinterpret_cast<uchar *>(h.data()));
    return h;
}

QByteArray frame(const QByteArray &payload)
{
    return header(payload.size()) + payload;
}

bool writeFramed(QIODevice *dev, const QByteArray &payload)
{
    if (!dev || !dev->isWritable())
        return false;
    const QByteArray h = header(payload.size());
    if (dev->write(h) != h.size())
        return false;
    return dev->write(payload) == payload.size();
}

} // namespace collector

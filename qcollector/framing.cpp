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

void FrameReader::append(const QByteArray &bytes)
{
    if (m_failed)
        return;
    // What was handed out goes once it is the larger part of the buffer, so
    // a long stream costs no more than its pending bytes.
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(bytes);
}

bool FrameReader::next(QByteArray *payload)
{
    if (m_failed || pending() < FrameHeaderSize)
        return false;
    const quint32 n = qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(m_buffer.constData() + m_pos));
    if (n > m_max) {
        m_failed = true;
        m_refused = n;
        m_buffer.clear();
        m_pos = 0;
        return false;
    }
    if (pending() - FrameHeaderSize < qsizetype(n))
        return false;
    *payload = m_buffer.mid(m_pos + FrameHeaderSize, qsizetype(n));
    m_pos += FrameHeaderSize + qsizetype(n);
    return true;
}

void FrameReader::clear()
{
    m_buffer.clear();
    m_pos = 0;
    m_refused = 0;
    m_failed = false;
}

} // namespace collector

#include "bd_records.h"

#include <QtEndian>

namespace buttondriver {

namespace {

// Fills a record of a fixed size field by field, in network order.
class RecordWriter
{
public:
    RecordWriter(quint32 type, qsizetype size) : m_data(size, '\0') { u32(0, type); }

    void u32(qsizetype offset, quint32 v)
    {
        qToBigEndian<quint32>(v, reinterpret_cast<uchar *>(m_data.data()) + offset);
    }
    void i32(qsizetype offset, qint32 v) { u32(offset, quint32(v)); }
    void u8(qsizetype offset, quint8 v) { m_data[offset] = char(v); }
    void bytes(qsizetype offset, const char *src, qsizetype n)
    {
        memcpy(m_data.data() + offset, src, size_t(n));
    }
    QByteArray take() { return std::move(m_data); }

private:
    QByteArray m_data;
};

} // namespace

QByteArray makeColor(qint32 id, quint8 red, quint8 green, quint8 blue)
{
    RecordWriter w(TYPE_COLOR, SIZE_COLOR);
    w.i32(4, id);
    w.u8(8, red);
    w.u8(9, green);
    w.u8(10, blue);
    return w.take();
}

QByteArray makeText(qint32 id, const QByteArray &text, quint32 flags)
{
    const qsizetype zero = text.indexOf('\0');
    const qsizetype chars = zero < 0 ? text.size() : zero;
    const qsizetype len = chars + 1; // with the terminating zero byte
    RecordWriter w(TYPE_TEXT, SIZE_TEXT_HEADER + len);
    w.i32(4, id);
    w.u32(8, flags);
    w.u32(12, quint32(len));
    w.bytes(16, text.constData(), chars);
    return w.take();
}

QByteArray makeImage(qint32 imageId, const QByteArray &data)
{
    RecordWriter w(TYPE_IMAGE, SIZE_IMAGE_HEADER + data.size());
    w.i32(4, imageId);
    w.u32(8, quint32(data.size()));
    w.bytes(12, data.constData(), data.size());
    return w.take();
}

QByteArray makeButtonImage(qint32 id, qint32 imageId)
{
    RecordWriter w(TYPE_BUTTON_IMAGE, SIZE_BUTTON_IMAGE);
    w.i32(4, id);
    w.i32(8, imageId);
    return w.take();
}

QByteArray makeReconfig()
{
    return RecordWriter(TYPE_RECONFIG, SIZE_RECONFIG).take();
}

QByteArray makeColor2(qint32 id, quint8 r1, quint8 g1, quint8 b1, quint32 ms1,
                      quint8 r2, quint8 g2, quint8 b2, quint32 ms2)
{
    RecordWriter w(TYPE_COLOR2, SIZE_COLOR2);
    w.i32(4, id);
    w.u8(8, r1);
    w.u8(9, g1);
    w.u8(10, b1);
    w.u32(12, ms1);
    w.u8(16, r2);
    w.u8(17, g2);
    w.u8(18, b2);
    w.u32(20, ms2);
    return w.take();
}

QByteArray makeSync()
{
    return RecordWriter(TYPE_SYNC, SIZE_SYNC).take();
}

QByteArray makeImageSeq(qint32 id, const std::vector<qint32> &imageIds, quint32 rate,
                        quint32 repeat)
{
    const qsizetype n = qsizetype(imageIds.size());
    RecordWriter w(TYPE_IMAGE_SEQ, SIZE_IMAGE_SEQ_HEADER + 4 * n);
    w.i32(4, id);
    w.u32(12, repeat);
    w.u32(16, rate);
    w.u32(20, quint32(n));
    for (qsizetype i = 0; i < n; ++i)
        w.i32(SIZE_IMAGE_SEQ_HEADER + 4 * i, imageIds[size_t(i)]);
    return w.take();
}

QByteArray makeForward(quint32 value1, quint32 value2)
{
    RecordWriter w(TYPE_FORWARD, SIZE_FORWARD);
    w.u32(4, value1);
    w.u32(8, value2);
    return w.take();
}

QByteArray makeVirtual(qint32 id)
{
    RecordWriter w(TYPE_VIRTUAL, SIZE_VIRTUAL);
    w.i32(4, id);
    return w.take();
}

QByteArray makeMapVirtual(qint32 virtualId, qint32 physicalId)
{
    RecordWriter w(TYPE_MAP_VIRTUAL, SIZE_MAP_VIRTUAL);
    w.i32(4, virtualId);
    w.i32(8, physicalId);
    return w.take();
}

} // namespace buttondriver

#include "collector_msg.h"

#include <QtEndian>
#include <cstdio>

namespace collector {

CollectorMsg::CollectorMsg() : type(TypeNone), id(-1), value(0), extra(0) {}

CollectorMsg::CollectorMsg(qint32 id_, qint32 pressed)
    : type(TypeKey), id(id_), value(pressed), extra(0)
{
}

CollectorMsg::CollectorMsg(ValueEventTag, qint32 id_, qint32 value_)
    : type(TypeValue), id(id_), value(0), extra(value_)
{
}

QByteArray CollectorMsg::pack() const
{
    QByteArray out(PackedSize, '\0');
    uchar *p = reinterpret_cast<uchar *>(out.data());
    qToBigEndian<qint32>(type, p);
    qToBigEndian<qint32>(id, p + 4);
    qToBigEndian<qint32>(value, p + 8);
    qToBigEndian<qint32>(extra, p + 12);
    return out;
}

bool CollectorMsg::unpack(const QByteArray &data)
{
    if (data.size() != PackedSize) {
        printf("collector: CollectorMsg::unpack wrong message size %d\n", int(data.size()));
        fflush(stdout);
        return false;
    }
    const uchar *p = reinterpret_cast<const uchar *>(data.constData());
    type = qFromBigEndian<qint32>(p);
    id = qFromBigEndian<qint32>(p + 4);
    value = qFromBigEndian<qint32>(p + 8);
    extra = qFromBigEndian<qint32>(p + 12);
    return true;
}

void registerMetaType()
{
    qRegisterMetaType<collector::CollectorMsg>("collector::CollectorMsg");
}

} // namespace collector

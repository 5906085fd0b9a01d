#ifndef COLLECTOR_MSG_H
#define COLLECTOR_MSG_H

#include <QByteArray>
#include <QMetaType>
#include <cstdint>

namespace collector {

// One panel event: four signed 32-bit fields. Type 1 is a key event
// {1, key id, 1 pressed / 0 released, 0}; type 2 carries a value for a
// channel {2, id, 0, value}. A default message is {0, -1, 0, 0}.
struct CollectorMsg
{
    enum { PackedSize = 16 };
    enum Type { TypeNone = 0, TypeKey = 1, TypeValue = 2 };

    qint32 type;
    qint32 id;
    qint32 value;
    qint32 extra;

    // Selects the type-2 constructor, which would otherwise read like a key event.
    struct ValueEventTag {};
    static constexpr ValueEventTag ValueEvent{};

    CollectorMsg();
    // A key event: pressed is 1 for a press, 0 for a release.
    CollectorMsg(qint32 id, qint32 pressed);
    // A type-2 event: field 3 is 0, field 4 carries the value.
    CollectorMsg(ValueEventTag, qint32 id, qint32 value);

    // 16 bytes, the four fields in order, each big-endian.
    QByteArray pack() const;
    // Fills the fields from exactly 16 bytes. Any other size leaves the
    // message unchanged, prints the size message and returns false.
    bool unpack(const QByteArray &data);

    bool operator==(const CollectorMsg &o) const
    {
        return type == o.type && id == o.id && value == o.value && extra == o.extra;
    }
    bool operator!=(const CollectorMsg &o) const { return !(*this == o); }
};

// Registers the message with the meta-type system under its full name so that
// it can travel through queued signals. Safe to call more than once.
void registerMetaType();

} // namespace collector

Q_DECLARE_METATYPE(collector::CollectorMsg)

#endif

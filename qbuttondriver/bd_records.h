#ifndef BD_RECORDS_H
#define BD_RECORDS_H

// Button-driver records: what a panel wants shown on its face (key colours,
// legends, pictures, animations, display-window text), one binary record per
// byte array. Every integer field is 32 bits, big-endian; the type sits at
// offset 0. The builders below are the only producers of records; each
// returns a record of its type's exact size, already in network order.

#include <QByteArray>
#include <QtGlobal>
#include <vector>

namespace buttondriver {

enum RecordType {
    TYPE_NULL_MESSAGE = 0,
    TYPE_COLOR = 4,
    TYPE_TEXT = 5,
    TYPE_IMAGE = 6,
    TYPE_BUTTON_IMAGE = 7,
    TYPE_CONTROL = 8,
    TYPE_RECONFIG = 10,
    TYPE_COLOR2 = 11,
    TYPE_SYNC = 12,
    TYPE_IMAGE_SEQ = 13,
    TYPE_FORWARD = 14,
    TYPE_VIRTUAL = 15,
    TYPE_MAP_VIRTUAL = 16
};

enum {
    ALL_BUTTONS = -1,       // types 4, 5, 7, 11, 13: every registered button
    COMMAND_ID = 65535,     // type 5: the text is a command
    DISPLAY_ID_BASE = 1000, // display windows 0..9 are ids 1000..1009
    IMAGE_DATA_SIZE = 120,  // one 36 x 24 face image, 5 bytes a row
    BUILTIN_IMAGE_COUNT = 23
};

// Legend flags of TYPE_TEXT.
enum TextFlag {
    TEXT_INVERT_ALL = 0x01,
    TEXT_INVERT_LINE1 = 0x02,
    TEXT_INVERT_LINE2 = 0x04,
    TEXT_INVERT_LINE3 = 0x08,
    TEXT_SCROLL = 0x10
};

// Record sizes (TYPE_TEXT and TYPE_IMAGE_SEQ: the fixed part).
enum {
    SIZE_COLOR = 12,
    SIZE_TEXT_HEADER = 16,
    SIZE_IMAGE_HEADER = 12,
    SIZE_IMAGE = SIZE_IMAGE_HEADER + IMAGE_DATA_SIZE,
    SIZE_BUTTON_IMAGE = 12,
    SIZE_CONTROL = 12,
    SIZE_RECONFIG = 8,
    SIZE_COLOR2 = 24,
    SIZE_SYNC = 4,
    SIZE_IMAGE_SEQ_HEADER = 24,
    SIZE_FORWARD = 12,
    SIZE_VIRTUAL = 8,
    SIZE_MAP_VIRTUAL = 12
};

// Type 4: colour of a button or LED.
QByteArray makeColor(qint32 id, quint8 red, quint8 green, quint8 blue);
// Type 5: legend (or display text, or a command with COMMAND_ID). The text is
// sent as given, up to its first zero byte, followed by a zero byte.
QByteArray makeText(qint32 id, const QByteArray &text, quint32 flags);
// Type 6: picture upload; carries data.size() bytes (IMAGE_DATA_SIZE for a
// valid picture).
QByteArray makeImage(qint32 imageId, const QByteArray &data);
// Type 7: show picture imageId on a button.
QByteArray makeButtonImage(qint32 id, qint32 imageId);
// Type 10: re-read the brightness levels.
QByteArray makeReconfig();
// Type 11: flash between two colours, each shown for its duration in ms.
QByteArray makeColor2(qint32 id, quint8 r1, quint8 g1, quint8 b1, quint32 ms1,
                      quint8 r2, quint8 g2, quint8 b2, quint32 ms2);
// Type 12: ask for a reply on the connection the batch came from.
QByteArray makeSync();
// Type 13: play pictures as an animation; repeat 0 loops endlessly.
QByteArray makeImageSeq(qint32 id, const std::vector<qint32> &imageIds, quint32 rate,
                        quint32 repeat);
// Type 14: two values for the setter's message handler.
QByteArray makeForward(quint32 value1, quint32 value2);
// Type 15: create a virtual button.
QByteArray makeVirtual(qint32 id);
// Type 16: map a virtual button onto a physical one.
QByteArray makeMapVirtual(qint32 virtualId, qint32 physicalId);

} // namespace buttondriver

#endif

#ifndef BD_DECODE_H
#define BD_DECODE_H

// Reading button-driver records: the one place where a received record's
// length and length fields are checked. A record is read by its layout: the
// fixed fields of its type and what its own length or count field says. One
// shorter than that is malformed; bytes after it are not looked at. Nothing
// is ever read past a record's end. The setter applies parsed records; tools print
// them with describeRecord().

#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace buttondriver {

// The fields of one record, out of network order. Which fields are set
// depends on the type (see bd_records.h for the layouts).
struct Record
{
    quint32 type = 0;
    qint32 id = 0;             // button id (4, 5, 7, 11, 13, 15), image id (6), virtual id (16)
    qint32 id2 = 0;            // image id (7), physical id (16)
    quint8 rgb1[3] = {0, 0, 0}; // colour (4), first colour (11)
    quint32 ms1 = 0;           // first duration (11)
    quint8 rgb2[3] = {0, 0, 0}; // second colour (11)
    quint32 ms2 = 0;           // second duration (11)
    quint32 flags = 0;         // 5
    QByteArray text;           // 5: the text up to its zero byte
    quint32 size = 0;          // 6: number of data bytes
    QByteArray data;           // 6: the data bytes
    quint32 repeat = 0;        // 13
    quint32 rate = 0;          // 13
    std::vector<qint32> imageIds; // 13
    quint32 value1 = 0;        // 14
    quint32 value2 = 0;        // 14
};

enum class ParseResult {
    Ok,        // a record of a type the driver acts on, fields filled in
    TooShort,  // fewer than 4 bytes: not even a type
    Malformed, // a known type whose record is shorter than its layout
    Unhandled  // a type nothing acts on (0 is Ok: it has a meaning of its own)
};

// Reads record bytes into out (only the type for Unhandled and Malformed).
ParseResult parseRecord(const QByteArray &bytes, Record *out);

// The expected size of a record of the given type whose header is complete:
// the fixed size, or for TYPE_TEXT / TYPE_IMAGE / TYPE_IMAGE_SEQ the size its
// length or count field implies (-1 when the header itself is incomplete or
// the type has no layout).
qint64 expectedRecordSize(const QByteArray &bytes);

// One line describing a record, for logs and tools:
//   color <id> <r> <g> <b>
//   color2 <id> <r1> <g1> <b1> <ms1> <r2> <g2> <b2> <ms2>
//   text <id> <flags> <text>   (\n, \r, \t, \\ and other control bytes escaped)
//   image <imageid> <size>
//   button_image <id> <imageid>
//   image_seq <id> <repeat> <rate> <ids...>
//   reconfig | sync | forward <v1> <v2> | virtual <id> | map_virtual <v> <p>
//   raw <hex bytes>            (any other type, and anything malformed)
QByteArray describeRecord(const QByteArray &bytes);

} // namespace buttondriver

#endif

#ifndef BD_TEXT_H
#define BD_TEXT_H

// Button-driver records written as text: the inverse of describeRecord()
// (bd_decode.h), so that records printed by a tool can be read back and
// applied to a face again.

#include <QByteArray>

namespace buttondriver {

// Builds the record a describeRecord() line stands for:
//   color <id> <r> <g> <b>
//   color2 <id> <r1> <g1> <b1> <ms1> <r2> <g2> <b2> <ms2>
//   text <id> <flags> <text>   (the rest of the line; \n \r \t \\ \xHH escapes)
//   button_image <id> <imageid>
//   image_seq <id> <repeat> <rate> <ids...>
//   reconfig | sync | forward <v1> <v2> | virtual <id> | map_virtual <v> <p>
//   raw <hex bytes>
// "image" lines carry no picture data and cannot be read back (write the
// upload as a raw line instead). False, with the reason in error, for
// anything else or a field out of range.
bool recordFromDescription(const QByteArray &line, QByteArray *record, QByteArray *error);

} // namespace buttondriver

#endif

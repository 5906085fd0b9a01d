#include "bd_decode.h"

#include "bd_records.h"

#include <QtEndian>

namespace buttondriver {

namespace {

// Field readers; every caller has checked the record's size first.
quint32 u32At(const QByteArray &b, qsizetype offset)
{
    return qFromBigEndian<quint32>(reinterpret_cast<const uchar *>(b.constData()) + offset);
}

qint32 i32At(const QByteArray &b, qsizetype offset)
{
    return qint32(u32At(b, offset));
}

quint8 u8At(const QByteArray &b, qsizetype offset)
{
    return quint8(b.at(offset));
}

} // namespace

qint64 expectedRecordSize(const QByteArray &bytes)
{
    if (bytes.size() < 4)
        return -1;
    switch (u32At(bytes, 0)) {
    case TYPE_NULL_MESSAGE: return 4;
    case TYPE_COLOR: return SIZE_COLOR;
    case TYPE_TEXT:
        if (bytes.size() < SIZE_TEXT_HEADER)
            return -1;
        return SIZE_TEXT_HEADER + qint64(u32At(bytes, 12));
    case TYPE_IMAGE:
        if (bytes.size() < SIZE_IMAGE_HEADER)
            return -1;
        return SIZE_IMAGE_HEADER + qint64(u32At(bytes, 8));
    case TYPE_BUTTON_IMAGE: return SIZE_BUTTON_IMAGE;
    case TYPE_RECONFIG: return SIZE_RECONFIG;
    case TYPE_COLOR2: return SIZE_COLOR2;
    case TYPE_SYNC: return SIZE_SYNC;
    case TYPE_IMAGE_SEQ:
        if (bytes.size() < SIZE_IMAGE_SEQ_HEADER)
            return -1;
        return SIZE_IMAGE_SEQ_HEADER + 4 * qint64(u32At(bytes, 20));
    case TYPE_FORWARD: return SIZE_FORWARD;
    case TYPE_VIRTUAL: return SIZE_VIRTUAL;
    case TYPE_MAP_VIRTUAL: return SIZE_MAP_VIRTUAL;
    default: return -1;
    }
}

ParseResult parseRecord(const QByteArray &b, Record *out)
{
    *out = Record();
    if (b.size() < 4)
        return ParseResult::TooShort;
    out->type = u32At(b, 0);
    switch (out->type) {
    case TYPE_NULL_MESSAGE:
    case TYPE_COLOR:
    case TYPE_TEXT:
    case TYPE_IMAGE:
    case TYPE_BUTTON_IMAGE:
    case TYPE_RECONFIG:
    case TYPE_COLOR2:
    case TYPE_SYNC:
    case TYPE_IMAGE_SEQ:
    case TYPE_FORWARD:
    case TYPE_VIRTUAL:
    case TYPE_MAP_VIRTUAL:
        break;
    default:
        return ParseResult::Unhandled; // reserved types, TYPE_CONTROL, > 16
    }
    // A null message is an error whatever follows its type; nothing more is
    // read from it.
    if (out->type == TYPE_NULL_MESSAGE)
        return ParseResult::Ok;
    // A record shorter than its layout (its fixed part and what its own
    // length or count field says) would be read past its end. A longer one
    // is read by its layout; the bytes after it are not looked at.
    const qint64 layout = expectedRecordSize(b); // -1: not even the header
    if (layout < 0 || layout > b.size())
        return ParseResult::Malformed;

    switch (out->type) {
    case TYPE_COLOR:
        out->id = i32At(b, 4);
        for (int i = 0; i < 3; ++i)
            out->rgb1[i] = u8At(b, 8 + i);
        break;
    case TYPE_TEXT: {
        out->id = i32At(b, 4);
        out->flags = u32At(b, 8);
        const QByteArray body = b.mid(SIZE_TEXT_HEADER, qsizetype(u32At(b, 12))); // len bytes
        // len counts the terminating zero, so a well-formed text has at
        // least that one byte.
        if (body.isEmpty())
            return ParseResult::Malformed;
        const qsizetype zero = body.indexOf('\0');
        out->text = zero < 0 ? body : body.left(zero);
        break;
    }
    case TYPE_IMAGE:
        out->id = i32At(b, 4);
        out->size = u32At(b, 8);
        out->data = b.mid(SIZE_IMAGE_HEADER, qsizetype(out->size));
        break;
    case TYPE_BUTTON_IMAGE:
        out->id = i32At(b, 4);
        out->id2 = i32At(b, 8);
        break;
    case TYPE_COLOR2:
        out->id = i32At(b, 4);
        for (int i = 0; i < 3; ++i) {
            out->rgb1[i] = u8At(b, 8 + i);
            out->rgb2[i] = u8At(b, 16 + i);
        }
        out->ms1 = u32At(b, 12);
        out->ms2 = u32At(b, 20);
        break;
    case TYPE_IMAGE_SEQ: {
        out->id = i32At(b, 4);
        out->repeat = u32At(b, 12);
        out->rate = u32At(b, 16);
        const quint32 n = u32At(b, 20); // within the record, checked above
        out->imageIds.reserve(n);
        for (quint32 i = 0; i < n; ++i)
            out->imageIds.push_back(i32At(b, SIZE_IMAGE_SEQ_HEADER + 4 * qsizetype(i)));
        break;
    }
    case TYPE_FORWARD:
        out->value1 = u32At(b, 4);
        out->value2 = u32At(b, 8);
        break;
    case TYPE_VIRTUAL:
        out->id = i32At(b, 4);
        break;
    case TYPE_MAP_VIRTUAL:
        out->id = i32At(b, 4);
        out->id2 = i32At(b, 8);
        break;
    default:
        break; // TYPE_RECONFIG, TYPE_SYNC: no fields
    }
    return ParseResult::Ok;
}

namespace {

QByteArray escapeText(const QByteArray &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        const uchar u = uchar(c);
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default:
            if (u < 0x20 || u >= 0x7f)
                out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out;
}

QByteArray raw(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QByteArray("raw") : "raw " + bytes.toHex(' ');
}

QByteArray num(qint64 v)
{
    return QByteArray::number(v);
}

QByteArray rgb(const quint8 (&c)[3])
{
    return num(c[0]) + ' ' + num(c[1]) + ' ' + num(c[2]);
}

} // namespace

QByteArray describeRecord(const QByteArray &bytes)
{
    Record r;
    if (parseRecord(bytes, &r) != ParseResult::Ok)
        return raw(bytes);
    switch (r.type) {
    case TYPE_COLOR:
        return "color " + num(r.id) + ' ' + rgb(r.rgb1);
    case TYPE_COLOR2:
        return "color2 " + num(r.id) + ' ' + rgb(r.rgb1) + ' ' + num(r.ms1) + ' ' + rgb(r.rgb2)
               + ' ' + num(r.ms2);
    case TYPE_TEXT:
        return "text " + num(r.id) + ' ' + num(r.flags) + ' ' + escapeText(r.text);
    case TYPE_IMAGE:
        return "image " + num(r.id) + ' ' + num(r.size);
    case TYPE_BUTTON_IMAGE:
        return "button_image " + num(r.id) + ' ' + num(r.id2);
    case TYPE_IMAGE_SEQ: {
        QByteArray s = "image_seq " + num(r.id) + ' ' + num(r.repeat) + ' ' + num(r.rate);
        for (const qint32 id : r.imageIds)
            s += ' ' + num(id);
        return s;
    }
    case TYPE_RECONFIG:
        return "reconfig";
    case TYPE_SYNC:
        return "sync";
    case TYPE_FORWARD:
        return "forward " + num(r.value1) + ' ' + num(r.value2);
    case TYPE_VIRTUAL:
        return "virtual " + num(r.id);
    case TYPE_MAP_VIRTUAL:
        return "map_virtual " + num(r.id) + ' ' + num(r.id2);
    default:
        return raw(bytes); // TYPE_NULL_MESSAGE
    }
}

} // namespace buttondriver

#include "bd_text.h"

#include "bd_records.h"

#include <QList>

#include <limits>

namespace buttondriver {

namespace {

bool toI32(const QByteArray &s, qint32 *out)
{
    bool ok = false;
    const qlonglong v = s.toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        return false;
    *out = qint32(v);
    return true;
}

bool toU32(const QByteArray &s, quint32 *out)
{
    bool ok = false;
    const qulonglong v = s.toULongLong(&ok, 10);
    if (!ok || s.startsWith('-') || v > std::numeric_limits<quint32>::max())
        return false;
    *out = quint32(v);
    return true;
}

bool toU8(const QByteArray &s, quint8 *out)
{
    quint32 v = 0;
    if (!toU32(s, &v) || v > 255)
        return false;
    *out = quint8(v);
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(const QByteArray &in, QByteArray *out)
{
    out->clear();
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c != '\\') {
            out->append(c);
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in.at(i)) {
        case 'n': out->append('\n'); break;
        case 'r': out->append('\r'); break;
        case 't': out->append('\t'); break;
        case '\\': out->append('\\'); break;
        case 'x': {
            if (i + 2 >= in.size())
                return false;
            const int hi = hexDigit(in.at(i + 1));
            const int lo = hexDigit(in.at(i + 2));
            if (hi < 0 || lo < 0)
                return false;
            out->append(char(hi * 16 + lo));
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

} // namespace

bool recordFromDescription(const QByteArray &line, QByteArray *record, QByteArray *error)
{
    auto fail = [error](const char *why) {
        if (error)
            *error = why;
        return false;
    };
    const qsizetype sp = line.indexOf(' ');
    const QByteArray word = sp < 0 ? line : line.left(sp);

    if (word == "text") {
        // text <id> <flags> <text>: the text is everything after the third
        // field's space, spaces included.
        const qsizetype a = sp;
        const qsizetype b = a < 0 ? -1 : line.indexOf(' ', a + 1);
        const qsizetype c = b < 0 ? -1 : line.indexOf(' ', b + 1);
        if (b < 0)
            return fail("text needs an id, flags and a text");
        qint32 id = 0;
        quint32 flags = 0;
        const QByteArray flagText = c < 0 ? line.mid(b + 1) : line.mid(b + 1, c - b - 1);
        if (!toI32(line.mid(a + 1, b - a - 1), &id) || !toU32(flagText, &flags))
            return fail("bad id or flags");
        QByteArray text;
        if (c >= 0 && !unescape(line.mid(c + 1), &text))
            return fail("bad escape in text");
        if (text.contains('\0'))
            return fail("text with a zero byte");
        *record = makeText(id, text, flags);
        return true;
    }

    const QList<QByteArray> f = line.split(' ');
    const qsizetype n = f.size();
    if (word == "raw") {
        QByteArray bytes;
        for (qsizetype i = 1; i < n; ++i) {
            if (f.at(i).isEmpty())
                continue;
            if (f.at(i).size() != 2 || hexDigit(f.at(i)[0]) < 0 || hexDigit(f.at(i)[1]) < 0)
                return fail("raw bytes must be two hex digits each");
            bytes.append(char(hexDigit(f.at(i)[0]) * 16 + hexDigit(f.at(i)[1])));
        }
        *record = bytes;
        return true;
    }
    if (word == "color") {
        qint32 id;
        quint8 rgb[3];
        if (n != 5 || !toI32(f[1], &id) || !toU8(f[2], &rgb[0]) || !toU8(f[3], &rgb[1])
            || !toU8(f[4], &rgb[2]))
            return fail("color needs an id and three components 0..255");
        *record = makeColor(id, rgb[0], rgb[1], rgb[2]);
        return true;
    }
    if (word == "color2") {
        qint32 id;
        quint8 c1[3], c2[3];
        quint32 ms1, ms2;
        if (n != 10 || !toI32(f[1], &id) || !toU8(f[2], &c1[0]) || !toU8(f[3], &c1[1])
            || !toU8(f[4], &c1[2]) || !toU32(f[5], &ms1) || !toU8(f[6], &c2[0])
            || !toU8(f[7], &c2[1]) || !toU8(f[8], &c2[2]) || !toU32(f[9], &ms2))
            return fail("color2 needs an id, two colours and two durations");
        *record = makeColor2(id, c1[0], c1[1], c1[2], ms1, c2[0], c2[1], c2[2], ms2);
        return true;
    }
    if (word == "button_image") {
        qint32 id, image;
        if (n != 3 || !toI32(f[1], &id) || !toI32(f[2], &image))
            return fail("button_image needs a button id and an image id");
        *record = makeButtonImage(id, image);
        return true;
    }
    if (word == "image_seq") {
        qint32 id;
        quint32 repeat, rate;
        if (n < 4 || !toI32(f[1], &id) || !toU32(f[2], &repeat) || !toU32(f[3], &rate))
            return fail("image_seq needs an id, a repeat count, a rate and image ids");
        std::vector<qint32> ids;
        for (qsizetype i = 4; i < n; ++i) {
            qint32 v;
            if (!toI32(f[i], &v))
                return fail("bad image id");
            ids.push_back(v);
        }
        *record = makeImageSeq(id, ids, rate, repeat);
        return true;
    }
    if (word == "reconfig" && n == 1) {
        *record = makeReconfig();
        return true;
    }
    if (word == "sync" && n == 1) {
        *record = makeSync();
        return true;
    }
    if (word == "forward") {
        quint32 v1, v2;
        if (n != 3 || !toU32(f[1], &v1) || !toU32(f[2], &v2))
            return fail("forward needs two values");
        *record = makeForward(v1, v2);
        return true;
    }
    if (word == "virtual") {
        qint32 id;
        if (n != 2 || !toI32(f[1], &id))
            return fail("virtual needs an id");
        *record = makeVirtual(id);
        return true;
    }
    if (word == "map_virtual") {
        qint32 v, p;
        if (n != 3 || !toI32(f[1], &v) || !toI32(f[2], &p))
            return fail("map_virtual needs two ids");
        *record = makeMapVirtual(v, p);
        return true;
    }
    if (word == "image")
        return fail("image lines carry no picture data; give the upload as a raw line");
    return fail("unknown record");
}

} // namespace buttondriver

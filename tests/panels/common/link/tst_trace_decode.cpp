// The protocol trace's decoder: headers, every router-link message kind,
// marks, malformed datagrams, and messages that cross datagrams the way
// the panel's stream parser sees them.

#include "link/trace.h"
#include "link/trace_decode.h"

#include <QTest>

#include <cstring>

namespace {

QByteArray msg(char cmd, const QByteArray &data = QByteArray())
{
    QByteArray m;
    m.append(cmd).append(char(data.size() >> 8)).append(char(data.size() & 0xff));
    return m + data;
}

QByteArray dgram(bool seq, quint8 id, quint8 ack, const QByteArray &payload, quint8 ext = 0)
{
    QByteArray d;
    d.append(char(seq ? 1 : 0)).append(char(id)).append(char(ack)).append(char(ext)).append('\0');
    return d + payload;
}

// The decoded text of one datagram (the stream carried by the caller).
QByteArray decode(const QByteArray &d, unsigned flags, TrdStream *s, int fullLen = -1, int cap = 4096)
{
    static char buf[8192];
    TrdText t;
    trd_text_init(&t, buf, cap);
    trd_datagram(&t, reinterpret_cast<const uint8_t *>(d.constData()), int(d.size()),
                 fullLen < 0 ? int(d.size()) : fullLen, flags, s);
    trd_text_finish(&t);
    return QByteArray(buf, t.len);
}

QByteArray decode(const QByteArray &d, unsigned flags = 0)
{
    static TrdStream s;
    trd_stream_reset(&s);
    return decode(d, flags, &s);
}

} // namespace

class TestTraceDecode : public QObject
{
    Q_OBJECT

private slots:
    void headersAndEveryMessageKind()
    {
        QCOMPARE(decode(dgram(true, 3, 2, msg('O'))), QByteArray("seq id 3 ack 2 ext 0 | O on poll"));
        QCOMPARE(decode(dgram(false, 0, 0, msg('N'))), QByteArray("unseq id 0 ack 0 ext 0 | N off poll"));
        QCOMPARE(decode(dgram(true, 4, 0, msg('P'))), QByteArray("seq id 4 ack 0 ext 0 | P query"));
        QCOMPARE(decode(dgram(true, 0, 9, QByteArray()), TRD_OUT),
                 QByteArray("seq id 0 ack 9 ext 0 (acknowledgement only)"));
        QCOMPARE(decode(dgram(true, 1, 1, msg('y')), TRD_OUT), QByteArray("seq id 1 ack 1 ext 0 | y accepted"));
        QCOMPARE(decode(dgram(true, 1, 1, msg('n')), TRD_OUT), QByteArray("seq id 1 ack 1 ext 0 | n REFUSED"));
        QCOMPARE(decode(dgram(true, 2, 1, msg('R', QByteArray("\xa4\x00\x01\x12\x34\x00", 6))), TRD_OUT),
                 QByteArray("seq id 2 ack 1 ext 0 | R query reply: product code 36, config crc 0x1234, "
                            "a4 00 01 12 34 00"));
        QCOMPARE(decode(dgram(true, 5, 4, msg('Q', ".SVA013,006\r")), TRD_OUT),
                 QByteArray("seq id 5 ack 4 ext 0 | Q \".SVA013,006\\r\" take levels VA dest 13 src 6"));
        QCOMPARE(decode(dgram(true, 5, 4, msg('Q', ".UVA013,006\r"))),
                 QByteArray("seq id 5 ack 4 ext 0 | Q \".UVA013,006\\r\" tally levels VA dest 13 src 6"));
        QCOMPARE(decode(dgram(true, 6, 4, msg('Q', ".AV013,006\r")), TRD_OUT),
                 QByteArray("seq id 6 ack 4 ext 0 | Q \".AV013,006\\r\" interrogation reply levels V dest 13 src 6"));
        QCOMPARE(decode(dgram(true, 6, 4, msg('Q', ".E\r")), TRD_OUT),
                 QByteArray("seq id 6 ack 4 ext 0 | Q \".E\\r\" error reply REFUSED"));
        QCOMPARE(decode(dgram(true, 6, 4, msg('Q', ".BA013,255\r"))),
                 QByteArray("seq id 6 ack 4 ext 0 | Q \".BA013,255\\r\" lock state"));
        // Control characters and the quoting characters are escaped.
        QCOMPARE(decode(dgram(true, 6, 4, msg('Q', QByteArray(".#1\n\t\"\\\x01\xff", 9)))),
                 QByteArray("seq id 6 ack 4 ext 0 | Q \".#1\\n\\t\\\"\\\\\\x01\\xff\" handshake"));
        const QByteArray block = QByteArray("\x00\x00\x01\x00\x00\xc3", 6) + QByteArray(250, 'x');
        QCOMPARE(decode(dgram(true, 7, 4, msg('B', block))),
                 QByteArray("seq id 7 ack 4 ext 0 | B config block 3 first last, kind 1 (file), 250 bytes"));
        // Several messages in one datagram, an extra header skipped.
        QCOMPARE(decode(dgram(true, 8, 4, QByteArray("XY") + msg('O') + msg('P'), 2)),
                 QByteArray("seq id 8 ack 4 ext 2 | O on poll | P query"));
        // Marks.
        QCOMPARE(decode(dgram(true, 5, 4, msg('Q', ".IV013\r")), TRD_OUT | TRD_RESEND),
                 QByteArray("seq id 5 ack 4 ext 0 RESEND | Q \".IV013\\r\" interrogate"));
        QCOMPARE(decode(dgram(false, 0, 0, msg('y')), TRD_OUT | TRD_NOT_SENT),
                 QByteArray("unseq id 0 ack 0 ext 0 NOT SENT | y accepted"));
        QCOMPARE(decode(dgram(true, 9, 4, msg('O')), TRD_REFUSED),
                 QByteArray("seq id 9 ack 4 ext 0 REFUSED: invalid sequence number | O on poll"));
    }

    void malformedDatagrams()
    {
        QCOMPARE(decode(QByteArray("\x01\x02\x03", 3)),
                 QByteArray("MALFORMED: 3 bytes, shorter than the 5-byte header: 01 02 03"));
        QCOMPARE(decode(QByteArray()), QByteArray("MALFORMED: 0 bytes, shorter than the 5-byte header:"));
        {
            // Fewer bytes kept than the header has: nothing is read beyond them.
            TrdStream s;
            trd_stream_reset(&s);
            QCOMPARE(decode(QByteArray("\x01\x02", 2), 0, &s, 40), QByteArray("40 bytes, header not traced"));
        }
        QCOMPARE(decode(dgram(true, 1, 0, "abc", 200)),
                 QByteArray("seq id 1 ack 0 ext 200 MALFORMED: extra header of 200 bytes runs past the end (8 bytes)"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('Z', QByteArray("\x00\x01", 2)))),
                 QByteArray("seq id 1 ack 0 ext 0 | unknown command 0x5a 'Z' (ignored), 2 data bytes: 00 01"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('B', QByteArray("\x00\x00\x03\x00\x00\x80x", 7)))),
                 QByteArray("seq id 1 ack 0 ext 0 | B MALFORMED: kind 3, 7 bytes"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('B', QByteArray("\x00\x00\x01\x00\x00\x80", 6)))),
                 QByteArray("seq id 1 ack 0 ext 0 | B MALFORMED: kind 1, no block data (6 bytes)"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('B', QByteArray("\x07\x00", 2)))),
                 QByteArray("seq id 1 ack 0 ext 0 | B ignored, 2 bytes: 07 00"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('R', "ab")), TRD_OUT),
                 QByteArray("seq id 1 ack 0 ext 0 | R MALFORMED: 2 bytes, a query reply has 6: 61 62"));
        QCOMPARE(decode(dgram(true, 1, 0, msg('P', "z"))),
                 QByteArray("seq id 1 ack 0 ext 0 | P query +1 data bytes: 7a"));
        // Longer than the parser holds: dropped with the 513th data byte,
        // and what follows is read as messages again, as the panel does.
        const QByteArray overlong = QByteArray("Q\x02\x58", 3) + QByteArray(512, 'x') + 'D' + msg('P');
        QCOMPARE(decode(dgram(true, 1, 0, overlong)),
                 QByteArray("seq id 1 ack 0 ext 0 | MALFORMED: Q message of 600 bytes, longer than 512: dropped"
                            " | P query"));
    }

    void messagesAcrossDatagrams()
    {
        TrdStream in;
        trd_stream_reset(&in);
        const QByteArray q = msg('Q', ".UVA013,006\r");
        QCOMPARE(decode(dgram(true, 0, 0, q.left(5)), 0, &in),
                 QByteArray("seq id 0 ack 0 ext 0 | Q 2 of 12 bytes, continues in the next datagram"));
        // A refused datagram never reaches the parser: the stream waits.
        QCOMPARE(decode(dgram(true, 5, 0, msg('O')), TRD_REFUSED, &in),
                 QByteArray("seq id 5 ack 0 ext 0 REFUSED: invalid sequence number | O on poll"));
        QCOMPARE(decode(dgram(true, 1, 0, q.mid(5) + msg('O')), 0, &in),
                 QByteArray("seq id 1 ack 0 ext 0 | (continued) Q \".UVA013,006\\r\" tally levels VA dest 13 src 6"
                            " | O on poll"));
        // A cut in the length bytes.
        QCOMPARE(decode(dgram(true, 2, 0, q.left(2)), 0, &in),
                 QByteArray("seq id 2 ack 0 ext 0 | 0x51 with its length cut, continues in the next datagram"));
        // An accepted id 0 is a new session: it starts on a message boundary.
        QCOMPARE(decode(dgram(true, 0, 0, msg('P')), 0, &in), QByteArray("seq id 0 ack 0 ext 0 | P query"));
        // Bytes the trace did not keep: said so, and the stream starts over.
        QCOMPARE(decode(dgram(true, 1, 0, q.left(6)), 0, &in, 600),
                 QByteArray("seq id 1 ack 0 ext 0 | Q 3 of 12 bytes, continues in the next datagram"
                            " (+589 bytes not traced)"));
        QCOMPARE(in.state, uint8_t(0));
    }

    // A line never leaves its buffer; one that does not fit ends in " ...".
    void cutLinesStayInTheirBuffer()
    {
        const QByteArray d = dgram(true, 1, 0, msg('Q', QByteArray(300, '\x01')));
        for (int cap = 1; cap < 200; ++cap) {
            TrdStream s;
            trd_stream_reset(&s);
            const QByteArray text = decode(d, 0, &s, -1, cap);
            QVERIFY(text.size() < cap || cap == 1);
            if (cap > 8)
                QVERIFY2(text.endsWith(" ..."), text.constData());
        }
    }

    void entryLines()
    {
        TraceEntry e;
        memset(&e, 0, sizeof e);
        TrdStream in, out;
        trd_stream_reset(&in);
        trd_stream_reset(&out);
        char buf[TRACE_LINE_MAX];
        e.us = 1520250;
        e.kind = TRACE_IN;
        const uint8_t addr[4] = {127, 0, 0, 2};
        memcpy(e.addr, addr, 4);
        e.port = 2001;
        const QByteArray d = dgram(true, 4, 3, msg('O'));
        memcpy(e.data, d.constData(), size_t(d.size()));
        e.kept = uint16_t(d.size());
        e.len = int(d.size());
        int n = trace_format(&e, &in, &out, buf, sizeof buf);
        QCOMPARE(QByteArray(buf, n), QByteArray("   1520.250 in  127.0.0.2:2001 seq id 4 ack 3 ext 0 | O on poll"));
        e.kind = TRACE_EVENT;
        e.len = TRACE_EV_NETERROR;
        e.arg = 3;
        n = trace_format(&e, &in, &out, buf, sizeof buf);
        QCOMPARE(QByteArray(buf, n),
                 QByteArray("   1520.250 --- NETERROR 3: no acknowledgement after the last resend, session reset"));
        e.len = TRACE_EV_KEY;
        e.arg = 'P' << 8 | 6;
        n = trace_format(&e, &in, &out, buf, sizeof buf);
        QCOMPARE(QByteArray(buf, n), QByteArray("   1520.250 --- key 7 pressed"));
    }
};

QTEST_GUILESS_MAIN(TestTraceDecode)
#include "tst_trace_decode.moc"

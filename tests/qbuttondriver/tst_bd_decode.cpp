// Reading button-driver records: one line per record for tools, and the
// length checks every received record goes through.

#include "bd_decode.h"
#include "bd_records.h"
#include "bd_test_support.h"

#include <QTest>
#include <QtEndian>

using namespace buttondriver;

namespace {

// One well-formed record of every type that has a builder.
std::vector<QByteArray> everyRecord()
{
    return {makeColor(7, 252, 12, 1),
            makeText(1003, "AB\nC", 0x06),
            makeImage(30, QByteArray(IMAGE_DATA_SIZE, '\x5a')),
            makeButtonImage(12, 30),
            makeReconfig(),
            makeColor2(9, 0, 255, 0, 300, 200, 200, 200, 300),
            makeSync(),
            makeImageSeq(4, {1, 2, -3}, 10, 2),
            makeForward(1, 0xdeadbeef),
            makeVirtual(500),
            makeMapVirtual(500, 3)};
}

QByteArray withU32(QByteArray record, qsizetype offset, quint32 value)
{
    qToBigEndian<quint32>(value, reinterpret_cast<uchar *>(record.data()) + offset);
    return record;
}

} // namespace

class TestBdDecode : public QObject
{
    Q_OBJECT

private slots:
    void describesEveryType()
    {
        const QList<QByteArray> expected = {
            "color 7 252 12 1",
            "text 1003 6 AB\\nC",
            "image 30 120",
            "button_image 12 30",
            "reconfig",
            "color2 9 0 255 0 300 200 200 200 300",
            "sync",
            "image_seq 4 2 10 1 2 -3",
            "forward 1 3735928559",
            "virtual 500",
            "map_virtual 500 3"};
        const std::vector<QByteArray> records = everyRecord();
        QCOMPARE(qsizetype(records.size()), expected.size());
        for (size_t i = 0; i < records.size(); ++i)
            QCOMPARE(describeRecord(records[i]), expected[qsizetype(i)]);

        QCOMPARE(describeRecord(makeColor(ALL_BUTTONS, 0, 0, 64)), QByteArray("color -1 0 0 64"));
        QCOMPARE(describeRecord(makeText(2, QByteArray(), 0)), QByteArray("text 2 0 "));
        QCOMPARE(describeRecord(makeText(2, "a\\b\tc\x01\xe9", 0x10)),
                 QByteArray("text 2 16 a\\\\b\\tc\\x01\\xe9"));
        QCOMPARE(describeRecord(makeImageSeq(-1, {}, 25, 0)), QByteArray("image_seq -1 0 25"));
        // A picture of the wrong size is still a well-formed record: the
        // setter refuses it, the line shows why.
        QCOMPARE(describeRecord(makeImage(5, QByteArray(100, 'x'))), QByteArray("image 5 100"));

        // Types without a line of their own.
        QCOMPARE(describeRecord(QByteArray::fromHex("00000000")), QByteArray("raw 00 00 00 00"));
        QCOMPARE(describeRecord(QByteArray::fromHex("00000008" "00000001" "00000002")),
                 QByteArray("raw 00 00 00 08 00 00 00 01 00 00 00 02"));
        QCOMPARE(describeRecord(QByteArray::fromHex("00000011")), QByteArray("raw 00 00 00 11"));
        QCOMPARE(describeRecord(QByteArray()), QByteArray("raw"));
    }

    void parsedFields()
    {
        Record r;
        QCOMPARE(parseRecord(makeColor2(-1, 1, 2, 3, 40, 4, 5, 6, 15), &r), ParseResult::Ok);
        QCOMPARE(r.type, quint32(TYPE_COLOR2));
        QCOMPARE(r.id, -1);
        QCOMPARE(r.rgb1[2], quint8(3));
        QCOMPARE(r.rgb2[0], quint8(4));
        QCOMPARE(r.ms1, 40u);
        QCOMPARE(r.ms2, 15u);

        // The text stops at its zero byte, within its length.
        const QByteArray text = QByteArray::fromHex("00000005" "00000001" "00000000" "00000005")
                                + QByteArray("AB\0CD", 5);
        QCOMPARE(parseRecord(text, &r), ParseResult::Ok);
        QCOMPARE(r.text, QByteArray("AB"));
        // Without a zero byte the text is its whole length, nothing more.
        QCOMPARE(parseRecord(text.left(18) + "C", &r), ParseResult::Malformed); // length says 5
        QCOMPARE(parseRecord(withU32(text.left(19), 12, 3), &r), ParseResult::Ok);
        QCOMPARE(r.text, QByteArray("AB"));
        QCOMPARE(parseRecord(withU32(QByteArray::fromHex("00000005" "00000001" "00000000" "00000000") + "ABC",
                                     12, 3), &r), ParseResult::Ok);
        QCOMPARE(r.text, QByteArray("ABC"));

        QCOMPARE(parseRecord(makeImageSeq(4, {7, -1}, 30, 0), &r), ParseResult::Ok);
        QCOMPARE(r.imageIds, (std::vector<qint32>{7, -1}));
        QCOMPARE(r.rate, 30u);

        QCOMPARE(parseRecord(QByteArray::fromHex("00000000" "ffff"), &r), ParseResult::Ok); // null: an error of its own
        QCOMPARE(r.type, 0u);
        for (const quint32 t : {1u, 2u, 3u, 8u, 9u, 17u, 0xffffffffu}) {
            QCOMPARE(parseRecord(withU32(QByteArray(12, '\0'), 0, t), &r), ParseResult::Unhandled);
            QCOMPARE(r.type, t);
        }
    }

    // Every record cut short at every length: rejected, and never read past
    // its end (the bytes sit in a block of exactly their size, so
    // AddressSanitizer sees any over-read). Every record with bytes after
    // its layout: read as if they were not there.
    void truncatedAndOverlongRecords()
    {
        for (const QByteArray &record : everyRecord()) {
            for (qsizetype len = 0; len < record.size(); ++len) {
                const bdtest::ExactBytes cut(record.left(len));
                Record r;
                const ParseResult result = parseRecord(cut.bytes(), &r);
                QVERIFY2(result == (len < 4 ? ParseResult::TooShort : ParseResult::Malformed),
                         qPrintable(describeRecord(record) + " cut to " + QByteArray::number(len)));
                QVERIFY(describeRecord(cut.bytes()).startsWith("raw"));
            }
            Record r;
            const ParseResult exact = parseRecord(record, &r);
            for (const QByteArray &tail : {QByteArray(1, '\0'), QByteArray("\xff\x01\x02\x03\x04\x05\x06\x07\x08")}) {
                const bdtest::ExactBytes longer(record + tail);
                QCOMPARE(parseRecord(longer.bytes(), &r), exact);
                QCOMPARE(describeRecord(longer.bytes()), describeRecord(record));
            }
        }
    }

    // Length and count fields that promise more than the record holds.
    void lengthFieldsBeyondTheRecord()
    {
        const QByteArray text = makeText(1, "ABC", 0);      // len 4 at offset 12
        const QByteArray image = makeImage(30, QByteArray(IMAGE_DATA_SIZE, '\1')); // size at 8
        const QByteArray seq = makeImageSeq(4, {1, 2}, 10, 0); // count at 20
        const QList<QByteArray> bad = {
            withU32(text, 12, 5),
            withU32(text, 12, 0x7fffffff),
            withU32(text, 12, 0xffffffff),
            withU32(text.left(16), 12, 0), // no room even for the zero byte
            withU32(image, 8, 121),
            withU32(image, 8, 0xffffffff),
            withU32(seq, 20, 3),
            withU32(seq, 20, 0x40000000), // 4 x count wraps in 32 bits
            withU32(seq, 20, 0xffffffff),
        };
        for (const QByteArray &b : bad) {
            const bdtest::ExactBytes exact(b);
            Record r;
            QCOMPARE(parseRecord(exact.bytes(), &r), ParseResult::Malformed);
            QVERIFY(r.text.isEmpty() && r.data.isEmpty() && r.imageIds.empty());
            QCOMPARE(describeRecord(exact.bytes()), "raw " + b.toHex(' '));
        }
        QCOMPARE(expectedRecordSize(withU32(seq, 20, 0x40000000)), 24 + 4 * qint64(0x40000000));

        // Fields that promise less than the record holds: read by the field.
        Record r;
        QCOMPARE(parseRecord(withU32(image, 8, 100), &r), ParseResult::Ok);
        QCOMPARE(r.size, 100u);
        QCOMPARE(r.data, QByteArray(100, '\1'));
        QCOMPARE(parseRecord(withU32(seq, 20, 1), &r), ParseResult::Ok);
        QCOMPARE(r.imageIds, std::vector<qint32>{1});
        QCOMPARE(parseRecord(withU32(text, 12, 2), &r), ParseResult::Ok);
        QCOMPARE(r.text, QByteArray("AB")); // no zero within its two bytes
        QCOMPARE(expectedRecordSize(text.left(15)), -1);
    }
};

QTEST_GUILESS_MAIN(TestBdDecode)
#include "tst_bd_decode.moc"

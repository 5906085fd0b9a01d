#include "bd_records.h"

#include <QTest>

using namespace buttondriver;

class TestBdRecords : public QObject
{
    Q_OBJECT

private slots:
    // Every builder gives its type's exact size, fields big-endian.
    void builderBytes()
    {
        QCOMPARE(makeColor(7, 0xFC, 0x0C, 0x01), QByteArray::fromHex("00000004" "00000007" "fc0c0100"));
        QCOMPARE(makeColor(ALL_BUTTONS, 1, 2, 3), QByteArray::fromHex("00000004" "ffffffff" "01020300"));
        QCOMPARE(makeText(1003, "AB\nC", 0x06),
                 QByteArray::fromHex("00000005" "000003eb" "00000006" "00000005" "41420a4300"));
        // Empty text still carries its zero byte; text stops at an inner zero.
        QCOMPARE(makeText(2, QByteArray(), 0), QByteArray::fromHex("00000005" "00000002" "00000000" "00000001" "00"));
        QCOMPARE(makeText(2, QByteArray("AB\0CD", 5), 0).size(), 16 + 3);

        const QByteArray pic(IMAGE_DATA_SIZE, '\x5a');
        const QByteArray img = makeImage(30, pic);
        QCOMPARE(img.size(), qsizetype(SIZE_IMAGE));
        QCOMPARE(img.left(12), QByteArray::fromHex("00000006" "0000001e" "00000078"));
        QCOMPARE(img.mid(12), pic);
        QCOMPARE(makeImage(5, QByteArray(100, 'x')).size(), 112); // carries what it was given

        QCOMPARE(makeButtonImage(12, 30), QByteArray::fromHex("00000007" "0000000c" "0000001e"));
        QCOMPARE(makeReconfig(), QByteArray::fromHex("0000000a" "00000000"));
        QCOMPARE(makeColor2(9, 0, 255, 0, 300, 200, 200, 200, 300),
                 QByteArray::fromHex("0000000b" "00000009" "00ff0000" "0000012c" "c8c8c800" "0000012c"));
        QCOMPARE(makeSync(), QByteArray::fromHex("0000000c"));
        QCOMPARE(makeImageSeq(4, {1, 2, -3}, 10, 2),
                 QByteArray::fromHex("0000000d" "00000004" "00000000" "00000002" "0000000a" "00000003"
                                     "00000001" "00000002" "fffffffd"));
        QCOMPARE(makeImageSeq(4, {}, 10, 0).size(), qsizetype(SIZE_IMAGE_SEQ_HEADER));
        QCOMPARE(makeForward(1, 0xdeadbeef), QByteArray::fromHex("0000000e" "00000001" "deadbeef"));
        QCOMPARE(makeVirtual(500), QByteArray::fromHex("0000000f" "000001f4"));
        QCOMPARE(makeMapVirtual(500, 3), QByteArray::fromHex("00000010" "000001f4" "00000003"));
    }
};

QTEST_GUILESS_MAIN(TestBdRecords)
#include "tst_bd_records.moc"

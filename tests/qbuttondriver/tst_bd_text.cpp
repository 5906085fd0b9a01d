// Records read back from the lines describeRecord() prints.

#include "bd_decode.h"
#include "bd_records.h"
#include "bd_text.h"

#include <QtTest>

using namespace buttondriver;

class TstBdText : public QObject
{
    Q_OBJECT

private slots:
    void everyTypeRoundTrips();
    void textKeepsSpacesAndEscapes();
    void badLinesAreRefused();
};

void TstBdText::everyTypeRoundTrips()
{
    QByteArray image(IMAGE_DATA_SIZE, '\x5a');
    const std::vector<QByteArray> records = {
        makeColor(7, 255, 0, 12),
        makeColor(ALL_BUTTONS, 1, 2, 3),
        makeColor2(1000, 1, 2, 3, 300, 250, 251, 252, 4000000000u),
        makeText(5, "CAM 1\nVTR", 0x12),
        makeText(-1, "", 0),
        makeButtonImage(3, 22),
        makeImageSeq(4, {1, -7, 30}, 60, 2),
        makeImageSeq(4, {}, 0, 0),
        makeReconfig(),
        makeSync(),
        makeForward(0xffffffffu, 1),
        makeVirtual(200),
        makeMapVirtual(200, 5),
        // Uploads and anything malformed travel as raw bytes.
        QByteArray::fromHex("00000004000000"),
        QByteArray(),
    };
    for (const QByteArray &r : records) {
        const QByteArray line = describeRecord(r);
        QByteArray back, why;
        QVERIFY2(recordFromDescription(line, &back, &why), line + ": " + why);
        QCOMPARE(back.toHex(), r.toHex());
    }
    // An upload given as a raw line is the upload.
    const QByteArray upload = makeImage(30, image);
    QByteArray back, why;
    QVERIFY(recordFromDescription("raw " + upload.toHex(' '), &back, &why));
    QCOMPARE(back, upload);
}

void TstBdText::textKeepsSpacesAndEscapes()
{
    QByteArray r, why;
    // The text is the rest of the line, trailing spaces included.
    QVERIFY(recordFromDescription("text 1000 0 AB  CD  ", &r, &why));
    QCOMPARE(r, makeText(1000, "AB  CD  ", 0));
    QVERIFY(recordFromDescription("text 3 4 a\\\\b\\tc\\x7f\\r", &r, &why));
    QCOMPARE(r, makeText(3, "a\\b\tc\x7f\r", 4));
    // Without anything after the flags the text is empty.
    QVERIFY(recordFromDescription("text 3 4", &r, &why));
    QCOMPARE(r, makeText(3, "", 4));
}

void TstBdText::badLinesAreRefused()
{
    const QByteArray bad[] = {
        "",
        "colour 1 2 3 4",
        "color 1 256 0 0",
        "color 1 -1 0 0",
        "color 1 0 0",
        "color 1 0 0 0 0",
        "color 99999999999 0 0 0",
        "color2 1 0 0 0 -5 0 0 0 5",
        "text 1",
        "text x 0 A",
        "text 1 -2 A",
        "text 1 0 bad\\q",
        "text 1 0 cut\\x4",
        "text 1 0 zero\\x00",
        "button_image 1",
        "image_seq 1 0 60 a",
        "image 30 120",
        "raw 0",
        "raw 0g",
        "reconfig 1",
        "forward 1",
        "virtual",
        "map_virtual 1 2 3",
    };
    for (const QByteArray &line : bad) {
        QByteArray r = "untouched", why;
        QVERIFY2(!recordFromDescription(line, &r, &why), line);
        QVERIFY(!why.isEmpty());
        QCOMPARE(r, QByteArray("untouched"));
    }
}

QTEST_APPLESS_MAIN(TstBdText)
#include "tst_bd_text.moc"

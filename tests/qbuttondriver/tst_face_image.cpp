// FaceImage, the legend fonts, legend drawing, display text and the built-in
// pictures.

#include "bd_records.h"
#include "bd_test_support.h"
#include "builtin_images.h"
#include "face_image.h"
#include "legend.h"
#include "legend_fonts.h"

#include <QBitmap>
#include <QImage>
#include <QTest>

using namespace buttondriver;

namespace {

// What renderLegend should produce for one line of glyphs, drawn by hand
// from the emboldened font.
FaceImage handDrawn(const char *line, int x, int y, bool large)
{
    FaceImage img;
    const LegendFont &font = large ? boldFontLarge() : boldFontSmall();
    for (int i = 0; line[i]; ++i)
        for (int k = 0; k < font.rows; ++k)
            img.setPixels(x + 7 * i, y + k, font.glyph(line[i])[k]);
    return img;
}

// Bounding box of the lit pixels inside the width.
QRect litBox(const FaceImage &img)
{
    QRect box;
    for (int r = 0; r < FaceImage::ROWS; ++r)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, r))
                box |= QRect(x, r, 1, 1);
    return box;
}

FaceImage builtin(int id)
{
    FaceImage img;
    img.setData(reinterpret_cast<const char *>(builtinImageData(id)), IMAGE_DATA_SIZE);
    return img;
}

} // namespace

class TestFaceImage : public QObject
{
    Q_OBJECT

private slots:
    void sizesAndData()
    {
        QCOMPARE(FaceImage().width(), 36);
        QCOMPARE(FaceImage().data().size(), 120);
        QCOMPARE(FaceImage(0).width(), 36);
        QCOMPARE(FaceImage(6).width(), 42);
        QCOMPARE(FaceImage(6).bytesPerLine(), 6);
        QCOMPARE(FaceImage(-5).width(), 36);
        QCOMPARE(FaceImage(1 << 30).width(), FaceImage::MAX_CHARACTERS * 7); // no overflow

        // Wrong sizes are refused with the message and change nothing.
        FaceImage img;
        img.setPixels(0, 0, 0x80);
        const FaceImage before = img;
        StdoutCapture out;
        QVERIFY(!img.setData(QByteArray(119, '\xff')));
        QVERIFY(!img.setData(QByteArray(121, '\xff')));
        QCOMPARE(img, before);
        QVERIFY(img.setData(QByteArray(120, '\x0f')));
        QCOMPARE(img.line(23), QByteArray(5, '\x0f'));
        QVERIFY(img.line(24).isEmpty());
        QVERIFY(img.line(-1).isEmpty());
        QCOMPARE(out.text(), QByteArray("invalid image data, size = 119\n"
                                        "invalid image data, size = 121\n"
                                        "invalid line specified 24\n"
                                        "invalid line specified -1\n"));
    }

    void setPixelsClipsAndNeverClears()
    {
        FaceImage img;
        img.setPixels(-3, 0, 0xff); // columns -3..4: only 0..4 land
        QCOMPARE(img.line(0), QByteArray::fromHex("f800000000"));
        img.setPixels(33, 1, 0xff); // columns 33..40: only 33..35, not the spare bits
        QCOMPARE(img.line(1), QByteArray::fromHex("0000000070"));
        img.setPixels(0, 24, 0xff);
        img.setPixels(0, -1, 0xff);
        QCOMPARE(litBox(img), QRect(0, 0, 36, 2));
        img.setPixels(0, 0, 0x00); // lights nothing, clears nothing
        QCOMPARE(img.line(0), QByteArray::fromHex("f800000000"));
        img.setPixels(2, 0, 0x40); // column 3, already lit
        QCOMPARE(img.line(0), QByteArray::fromHex("f800000000"));
    }

    void invertAndCopyWindow()
    {
        FaceImage img;
        img.invert();
        QCOMPARE(img.data(), QByteArray(120, '\xff'));

        FaceImage wide(6); // 42 pixels: windows at offsets 0..6
        wide.setPixels(6, 3, 0x80);
        wide.setPixels(40, 5, 0x80);
        for (int offset = 0; offset <= 6; ++offset) {
            FaceImage window;
            QVERIFY(wide.copyWindow(offset, window));
            QRect expected(6 - offset, 3, 1, 1);
            if (40 - offset < 36) // the right pixel enters at offset 5
                expected |= QRect(40 - offset, 5, 1, 1);
            QCOMPARE(litBox(window), expected);
        }
        FaceImage target;
        target.setPixels(0, 0, 0x80);
        const FaceImage before = target;
        bdtest::LogCapture log;
        QVERIFY(!wide.copyWindow(7, target));
        QVERIFY(!wide.copyWindow(-1, target));
        QCOMPARE(target, before);
        QCOMPARE(log.starting(QStringLiteral("critical invalid offset 7 42")).size(), 1);
        QCOMPARE(log.starting(QStringLiteral("critical invalid offset -1 42")).size(), 1);
    }

    void bitmaps()
    {
        // Nothing lit: no picture at all.
        QVERIFY(FaceImage().toImage(2, 2).isNull());
        QVERIFY(FaceImage().toBitmap(2, 2).isNull());

        FaceImage img;
        img.setPixels(0, 0, 0x80);
        img.setPixels(35, 23, 0x80);
        const QImage mono = img.toImage(2, 2);
        QCOMPARE(mono.size(), QSize(40, 28));
        QCOMPARE(mono.pixelIndex(2, 2), 1);
        QCOMPARE(mono.pixelIndex(37, 25), 1);
        QCOMPARE(mono.pixelIndex(0, 0), 0);
        int lit = 0;
        for (int y = 0; y < 28; ++y)
            for (int x = 0; x < 40; ++x)
                lit += mono.pixelIndex(x, y);
        QCOMPARE(lit, 2);

        const QBitmap bm = img.toBitmap(2, 2);
        QCOMPARE(bm.size(), QSize(40, 28));
        const QImage back = bm.toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(back.pixel(2, 2), qRgb(0, 0, 0));
        QCOMPARE(back.pixel(3, 2), qRgb(255, 255, 255));

        // An inverted face lights its 36 columns; the spare bits at the end
        // of each row are not drawn into the right margin.
        FaceImage inv;
        inv.invert();
        const QImage all = inv.toImage(2, 2);
        QCOMPARE(all.pixelIndex(37, 2), 1);
        QCOMPARE(all.pixelIndex(38, 2), 0);
        QCOMPARE(all.pixelIndex(39, 2), 0);
    }

    void fonts()
    {
        const LegendFont &small = boldFontSmall();
        const LegendFont &large = boldFontLarge();
        QCOMPARE(&boldFontSmall(), &small); // emboldened once, kept
        QCOMPARE(small.rows, 8);
        QCOMPARE(large.rows, 12);
        QVERIFY(!small.glyph(127));
        QVERIFY(!small.glyph(-1));

        const auto check = [](const LegendFont &bold, const quint8 *raw, int rows) {
            QSet<QByteArray> seen;
            for (int code = 0; code < FONT_GLYPHS; ++code) {
                const QByteArray g(reinterpret_cast<const char *>(bold.glyph(code)), rows);
                const QByteArray r(reinterpret_cast<const char *>(raw + code * rows), rows);
                const bool keep = code == 'm' || code == '@';
                bool blank = true;
                for (int k = 0; k < rows; ++k) {
                    const quint8 b = quint8(r[k]);
                    QCOMPARE(quint8(g[k]), keep ? b : quint8(b | (b << 1)));
                    // Drawn glyphs keep their eighth column clear: one pixel
                    // between neighbours at the 7-pixel pitch.
                    QVERIFY2(!(quint8(g[k]) & 0x01), qPrintable(QString::number(code)));
                    blank = blank && b == 0;
                }
                if (code < 33) {
                    QVERIFY(blank); // control codes and space
                } else {
                    QVERIFY2(!blank, qPrintable(QString(QChar(code))));
                    QVERIFY2(!seen.contains(g), qPrintable(QString(QChar(code)))); // no copy-paste twins
                    seen.insert(g);
                }
            }
        };
        check(small, &LegendFontSmall[0][0], 8);
        check(large, &LegendFontLarge[0][0], 12);
    }

    void legendPlacement()
    {
        // One line: large font on row 6, centred: (36 - 14) / 2 = 11.
        FaceImage ab;
        renderLegend(ab, QStringLiteral("AB"), 0);
        QCOMPARE(ab, handDrawn("AB", 11, 6, true));
        QVERIFY(litBox(ab).left() >= 11 && litBox(ab).top() >= 6);

        // Seven characters are wider than the face: from column 0, clipped.
        FaceImage seven;
        renderLegend(seven, QStringLiteral("ABCDEFG"), 0);
        QCOMPARE(seven, handDrawn("ABCDEFG", 0, 6, true));
        QCOMPARE(seven.data()[4] & 0x0f, 0); // nothing in the spare bits

        // Two lines, the first empty: "X" alone at row 12.
        FaceImage x;
        renderLegend(x, QStringLiteral("\nX"), 0);
        QCOMPARE(x, handDrawn("X", 14, 12, true));

        // Three lines: small font at rows 0, 8 and 16.
        FaceImage three;
        renderLegend(three, QStringLiteral("A\nBC\nD"), 0);
        FaceImage expected = handDrawn("A", 14, 0, false);
        const FaceImage bc = handDrawn("BC", 11, 8, false);
        const FaceImage d = handDrawn("D", 14, 16, false);
        QByteArray merged = expected.data();
        for (int i = 0; i < merged.size(); ++i)
            merged[i] = char(merged[i] | bc.data()[i] | d.data()[i]);
        expected.setData(merged);
        QCOMPARE(three, expected);

        // Four lines draw nothing; the 0x01 flag still inverts the face.
        FaceImage four;
        renderLegend(four, QStringLiteral("A\nB\nC\nD"), 0);
        QVERIFY(four.isBlank());
        renderLegend(four, QStringLiteral("A\nB\nC\nD"), 0x01);
        QCOMPARE(four.data(), QByteArray(120, '\xff'));

        // A code past 126 is skipped but keeps its place.
        FaceImage gap;
        renderLegend(gap, QStringLiteral("A") + QChar(0xe9) + QStringLiteral("B"), 0);
        FaceImage ab2 = handDrawn("A", 7, 6, true);
        const FaceImage b2 = handDrawn("B", 21, 6, true);
        QByteArray m = ab2.data();
        for (int i = 0; i < m.size(); ++i)
            m[i] = char(m[i] | b2.data()[i]);
        ab2.setData(m);
        QCOMPARE(gap, ab2);
    }

    void invertedLines()
    {
        // Line 1 inverted: an 8-pixel lit block per character, glyph dark.
        FaceImage one;
        renderLegend(one, QStringLiteral("AB"), 0x02);
        const quint8 *a = boldFontLarge().glyph('A');
        for (int k = 0; k < 12; ++k)
            for (int c = 0; c < 8; ++c)
                QCOMPARE(one.pixel(11 + c, 6 + k), !(a[k] & (0x80 >> c)) || c == 7);
        QVERIFY(!one.pixel(11, 5) && !one.pixel(11, 18)); // only the line's rows
        QVERIFY(!one.pixel(10, 6) && !one.pixel(11 + 15, 6));

        // Flags of lines that are not there change nothing.
        FaceImage plain;
        renderLegend(plain, QStringLiteral("AB"), 0);
        FaceImage extra;
        renderLegend(extra, QStringLiteral("AB"), 0x0c);
        QCOMPARE(extra, plain);

        // Two lines, the second inverted: the top half untouched.
        FaceImage two;
        renderLegend(two, QStringLiteral("AB\nCD"), 0x04);
        FaceImage twoPlain;
        renderLegend(twoPlain, QStringLiteral("AB\nCD"), 0);
        QCOMPARE(two.data().left(60), twoPlain.data().left(60));
        QVERIFY(two.data().mid(60) != twoPlain.data().mid(60));

        // Whole-face inversion after the lines: exactly the complement.
        FaceImage all;
        renderLegend(all, QStringLiteral("AB\nCD"), 0x05);
        QByteArray inv = two.data();
        for (char &c : inv)
            c = char(~c);
        QCOMPARE(all.data(), inv);
    }

    void displayText()
    {
        const QImage t = textImage(QStringLiteral("A") + QChar(0xe9));
        QCOMPARE(t.size(), QSize(16, 8));
        const quint8 *a = boldFontSmall().glyph('A');
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                QCOMPARE(t.pixelIndex(c, r), (a[r] & (0x80 >> c)) ? 1 : 0);
                QCOMPARE(t.pixelIndex(8 + c, r), 0); // codes past 126 are blank
            }
        QVERIFY(textImage(QString()).isNull());
        QCOMPARE(textBitmap(QStringLiteral("CAM 1   ")).size(), QSize(64, 8));
    }

    void builtinPictures()
    {
        QVERIFY(!builtinImageData(-1));
        QVERIFY(!builtinImageData(BUILTIN_IMAGE_COUNT));
        QSet<QByteArray> seen;
        for (int id = 0; id < BUILTIN_IMAGE_COUNT; ++id) {
            const FaceImage img = builtin(id);
            QVERIFY2(!img.isBlank(), qPrintable(QString::number(id)));
            QVERIFY(!seen.contains(img.data()));
            seen.insert(img.data());
            for (int r = 0; r < 24; ++r)
                QCOMPARE(img.line(r)[4] & 0x0f, 0); // spare bits clear
        }
        // The pairs the table describes by each other.
        const auto mirroredV = [](const FaceImage &a, const FaceImage &b) {
            for (int r = 0; r < 24; ++r)
                if (a.line(r) != b.line(23 - r))
                    return false;
            return true;
        };
        const auto mirroredH = [](const FaceImage &a, const FaceImage &b) {
            for (int r = 0; r < 24; ++r)
                for (int x = 0; x < 36; ++x)
                    if (a.pixel(x, r) != b.pixel(35 - x, r))
                        return false;
            return true;
        };
        QVERIFY(mirroredV(builtin(0), builtin(1)));  // arrows up and down
        QVERIFY(mirroredH(builtin(14), builtin(15))); // fast forward, rewind
        // 5 is 3 with a bar along the whole bottom row.
        FaceImage three = builtin(3);
        for (int x = 0; x < 36; x += 8)
            three.setPixels(x, 23, 0xff);
        QCOMPARE(builtin(5), three);
        QCOMPARE(builtin(5).line(23), QByteArray::fromHex("fffffffff0"));
        // 6 lights the full top two rows.
        QCOMPARE(builtin(6).line(0), QByteArray::fromHex("fffffffff0"));
        QCOMPARE(builtin(6).line(1), QByteArray::fromHex("fffffffff0"));
    }
};

QTEST_MAIN(TestFaceImage)
#include "tst_face_image.moc"

#include "legend.h"

#include "face_image.h"
#include "legend_fonts.h"

#include <QBitmap>
#include <QImage>
#include <QStringList>

#include <algorithm>

namespace buttondriver {

namespace {

// Start column of a line of n characters centred on the face; lines as wide
// as the face or wider start at column 0.
int startColumn(qsizetype n)
{
    const qint64 x = (FaceImage::FACE_WIDTH - 7 * qint64(n)) / 2;
    return x < 1 ? 0 : int(x);
}

} // namespace

void drawLegendLine(FaceImage &image, const QString &line, int x, int y, bool large,
                    bool inverted)
{
    const LegendFont &font = large ? boldFontLarge() : boldFontSmall();
    qint64 col = x;
    for (const QChar ch : line) {
        // Past the right edge nothing more can show.
        if (col >= image.width())
            break;
        if (const quint8 *glyph = font.glyph(ch.unicode())) {
            for (int k = 0; k < font.rows; ++k) {
                const quint8 bits = inverted ? quint8(~glyph[k]) : glyph[k];
                image.setPixels(int(col), y + k, bits);
            }
        }
        col += GLYPH_PITCH;
    }
}

void renderLegend(FaceImage &image, const QString &text, int flags)
{
    const QStringList lines = text.split(QLatin1Char('\n')); // keeps empty lines
    const auto draw = [&](int i, int row, bool large, int invertFlag) {
        drawLegendLine(image, lines[i], startColumn(lines[i].size()), row, large,
                       flags & invertFlag);
    };
    switch (lines.size()) {
    case 1:
        draw(0, 6, true, 0x02);
        break;
    case 2:
        draw(0, 0, true, 0x02);
        draw(1, 12, true, 0x04);
        break;
    case 3:
        draw(0, 0, false, 0x02);
        draw(1, 8, false, 0x04);
        draw(2, 16, false, 0x08);
        break;
    default:
        break; // more lines than a key can show: nothing is drawn
    }
    if (flags & 0x01)
        image.invert();
}

QImage textImage(const QString &text)
{
    if (text.isEmpty())
        return QImage();
    const LegendFont &font = boldFontSmall();
    // A display shows a few dozen characters; the cap only keeps a runaway
    // text from asking for a huge image.
    const int n = int(std::min<qsizetype>(text.size(), FaceImage::MAX_CHARACTERS));
    QImage img(n * 8, FONT_SMALL_ROWS, QImage::Format_Mono);
    img.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    img.fill(0);
    for (int c = 0; c < n; ++c) {
        const quint8 *glyph = font.glyph(text.at(c).unicode());
        if (!glyph)
            continue;
        for (int r = 0; r < FONT_SMALL_ROWS; ++r)
            for (int k = 0; k < 8; ++k)
                if (glyph[r] & (0x80 >> k))
                    img.setPixel(c * 8 + k, r, 1);
    }
    return img;
}

QBitmap textBitmap(const QString &text)
{
    const QImage img = textImage(text);
    if (img.isNull())
        return QBitmap();
    return QBitmap::fromImage(img, Qt::MonoOnly | Qt::ThresholdDither);
}

} // namespace buttondriver

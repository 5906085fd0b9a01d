#include "compose.h"

#include "draw_util.h"

#include "face_image.h"
#include "legend.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace facegen {

namespace {

const QColor DISPLAY_TEXT(150, 255, 50);
const QColor DISPLAY_GROUND(8, 12, 9);

QImage pick(const ImageSet &art, const QStringList &names, double p)
{
    if (names.isEmpty())
        return QImage();
    const int i = std::max(0, int(std::floor((names.size() - 1) * p)));
    return art.value(names.at(std::min(i, int(names.size()) - 1)));
}

QImage scaled(const QImage &img, const QSize &px)
{
    return img.scaled(px, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Dark colours are lifted so that an unlit key still reads as a key.
QColor faceColour(const QColor &c)
{
    const int r = c.red(), g = c.green(), b = c.blue();
    if (r * r + g * g + b * b < 4800)
        return QColor(std::min(255, r + 40), std::min(255, g + 40), std::min(255, b + 40));
    return c;
}

} // namespace

QImage legendImage(const QString &text, int flags)
{
    buttondriver::FaceImage face;
    buttondriver::renderLegend(face, text, flags);
    const QImage mono = face.toImage(2, 2);
    if (mono.isNull())
        return QImage();
    QImage out = transparentImage(mono.width(), mono.height());
    for (int y = 0; y < mono.height(); ++y)
        for (int x = 0; x < mono.width(); ++x)
            if (mono.pixelIndex(x, y) == 1)
                out.setPixel(x, y, qRgba(0, 0, 0, 255));
    return out;
}

QImage composeKey(const ImageSet &art, const Sequence &seq, const QSize &px, const QColor &colour,
                  const QImage &legend, double p, bool upDown)
{
    QImage img = transparentImage(px.width(), px.height());
    QPainter g(&img);
    const QImage mask = pick(art, seq.masks, p);
    if (!mask.isNull()) {
        if (colour.isValid()) {
            const QColor c = faceColour(colour);
            if (upDown) {
                const int half = px.height() / 2;
                g.fillRect(0, 0, px.width(), half,
                           QColor(c.red() & 0xF0, c.green() & 0xF0, c.blue() & 0xF0));
                g.fillRect(0, half, px.width(), px.height() - half,
                           QColor((c.red() * 16) & 0xFF, (c.green() * 16) & 0xFF,
                                  (c.blue() * 16) & 0xFF));
            } else {
                g.fillRect(img.rect(), c);
            }
        }
        const QImage cover = pick(art, seq.covers, p);
        if (!cover.isNull())
            g.drawImage(0, 0, scaled(cover, px));
        if (!legend.isNull())
            g.drawImage(0, 0, scaled(legend, px));
        g.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        g.drawImage(0, 0, scaled(mask, px));
        g.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    const QImage frame = pick(art, seq.frames, p);
    if (!frame.isNull())
        g.drawImage(0, 0, scaled(frame, px));
    return img;
}

QImage displayBackground(const QSize &px)
{
    QImage img = transparentImage(px.width(), px.height());
    QPainter g(&img);
    const int outlines = std::max(3, px.width() / 40);
    for (int i = 0; i < outlines; ++i) {
        g.setPen(QColor(0, 0, 0, 60 + 195 * (i + 1) / outlines));
        g.drawRect(QRect(i, i, px.width() - 1 - 2 * i, px.height() - 1 - 2 * i));
    }
    g.fillRect(QRect(outlines, outlines, px.width() - 2 * outlines, px.height() - 2 * outlines),
               QColor(12, 16, 14));
    return img;
}

QImage composeDisplay(const QSize &px, const QString &text, int chars)
{
    QImage img = displayBackground(px);
    const QString line = text.section(QLatin1Char('\n'), 0, 0).leftJustified(chars, QLatin1Char(' '));
    const QImage bits = buttondriver::textImage(line);
    if (bits.isNull())
        return img;
    QImage shown(bits.width(), bits.height(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(DISPLAY_GROUND);
    for (int y = 0; y < bits.height(); ++y)
        for (int x = 0; x < bits.width(); ++x)
            if (bits.pixelIndex(x, y) == 1)
                shown.setPixelColor(x, y, DISPLAY_TEXT);
    shown = shown.scaled(shown.size() * 2);
    const QImage fit = shown.scaled(px, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter g(&img);
    g.drawImage((px.width() - fit.width()) / 2, (px.height() - fit.height()) / 2, fit);
    return img;
}

} // namespace facegen

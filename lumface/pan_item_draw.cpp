// Drawing of a face item: its picture is composed whenever what it shows or
// its press progress changes, and set as the item's pixmap.
//
// Layers, bottom to top, all in the picture area (the item, or with
// keepaspect the centred part of it with the first picture's proportions):
//   sequence background;
//   the face (keys and LEDs with a display mask): face colour, colour cover
//   chosen by the progress, then the legend, picture or text inside the
//   legend window (the opaque bounding box of the first display mask), all
//   cut to the display mask chosen by the progress;
//   or, for text displays, their frame (the display's glass) and over it
//   the display picture or display text;
//   the frame chosen by the progress (rotated by the angle for shafts);
//   the drop highlight while a picture is dragged over the face.

#include "pan_displaytext.h"
#include "pan_item.h"
#include "pan_itemcallback.h"

#include <QPainter>

#include <cmath>

namespace {

// Face colours darker than this (squared length of the colour) are drawn
// lighter, so that an unlit key still shows as a key.
const int kDarkLimit = 4800;
const int kDarkLift = 40;

QColor lifted(const QColor &c)
{
    const int r = c.red(), g = c.green(), b = c.blue();
    if (r * r + g * g + b * b >= kDarkLimit)
        return QColor(r, g, b);
    return QColor(std::min(255, r + kDarkLift), std::min(255, g + kDarkLift),
                  std::min(255, b + kDarkLift));
}

QRect fitted(const QSize &picture, const QRect &into)
{
    if (picture.isEmpty() || into.isEmpty())
        return QRect();
    const QSize s = picture.scaled(into.size(), Qt::KeepAspectRatio);
    return QRect(into.x() + (into.width() - s.width()) / 2,
                 into.y() + (into.height() - s.height()) / 2, s.width(), s.height());
}

} // namespace

QColor PAN_Item::faceColor() const
{
    // A key that was never given a colour shows as black would.
    return lifted(m_color.isValid() ? m_color : QColor(0, 0, 0));
}

void PAN_Item::redraw()
{
    m_dirty = false;
    if (m_pixelSize.isEmpty()) {
        setPixmap(QPixmap());
        return;
    }
    QImage out(m_pixelSize, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        setPixmap(QPixmap());
        return;
    }
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect area = pictureArea();

    if (!m_background.isNull())
        p.drawPixmap(area.topLeft(), m_background);

    // A display's frame is its background (the dark glass): under the text,
    // which it would hide. Every other item's frame lies over its face.
    const bool display = m_setup.type == TypeVacuum;
    if (display)
        drawFrame(p, area);
    if (display)
        drawDisplay(p, area);
    else if (m_maskIndex >= 0)
        drawFace(p, area);
    if (!display)
        drawFrame(p, area);

    if (m_acceptsCustom && m_dropHighlight) {
        // A drop target: a glowing outline round the key.
        QPen pen(QColor(255, 214, 64, 220));
        pen.setWidthF(std::max(2.0, m_pixelSize.width() / 20.0));
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(pen);
        p.setBrush(QColor(255, 214, 64, 48));
        const qreal inset = pen.widthF() / 2;
        p.drawRoundedRect(QRectF(area).adjusted(inset, inset, -inset, -inset), 4, 4);
    }
    p.end();
    setPixmap(QPixmap::fromImage(std::move(out)));
}

// The frame picture at the current progress, turned by the item's angle
// (shafts).
void PAN_Item::drawFrame(QPainter &p, const QRect &area)
{
    if (m_frameIndex < 0 || m_frameIndex >= m_frames.size())
        return;
    const QPixmap &frame = m_frames.at(m_frameIndex);
    if (frame.isNull())
        return;
    if (std::fabs(m_angle) > 0.001) {
        p.save();
        const QPointF c = QRectF(area).center();
        p.translate(c);
        p.rotate(m_angle);
        p.translate(-c);
        p.drawPixmap(area.topLeft(), frame);
        p.restore();
    } else {
        p.drawPixmap(area.topLeft(), frame);
    }
}

// The lit part of a key or LED, cut to the display mask.
void PAN_Item::drawFace(QPainter &p, const QRect &area)
{
    if (area.isEmpty())
        return;
    QImage face(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (face.isNull())
        return;
    QPainter f(&face);
    const QColor c = faceColor();
    const bool split = (m_setup.type == TypeLED || m_setup.type == TypeLCD)
                       && m_setup.ledType == PAN_Layout::LedUpDownColors;
    if (split) {
        // Each colour byte carries the upper area's colour in its high
        // nibble and the lower area's in its low nibble.
        const QColor upper(c.red() & 0xF0, c.green() & 0xF0, c.blue() & 0xF0);
        const QColor lower((c.red() * 16) & 0xFF, (c.green() * 16) & 0xFF, (c.blue() * 16) & 0xFF);
        const int half = face.height() / 2;
        f.fillRect(QRect(0, 0, face.width(), half), upper);
        f.fillRect(QRect(0, half, face.width(), face.height() - half), lower);
    } else {
        f.fillRect(face.rect(), c);
    }
    if (m_coverIndex >= 0 && m_coverIndex < m_covers.size() && !m_covers.at(m_coverIndex).isNull())
        f.drawPixmap(0, 0, m_covers.at(m_coverIndex));

    const QRect window = legendWindow();
    if (!m_legend.isNull()) {
        const QRect to = fitted(m_legend.size(), window);
        if (!to.isEmpty())
            f.drawImage(to, m_legend.scaled(to.size(), Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation));
    } else if (!m_picture.isNull()) {
        const QRect to = fitted(m_picture.size(), window);
        if (!to.isEmpty())
            f.drawPixmap(to, m_picture.scaled(to.size(), Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation));
    } else if (!m_text.isEmpty()) {
        drawLegendText(f, window, c);
    }

    if (m_maskIndex < m_masks.size() && !m_masks.at(m_maskIndex).isNull()) {
        f.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        f.drawPixmap(0, 0, m_masks.at(m_maskIndex));
    }
    f.end();
    p.drawImage(area.topLeft(), face);
}

// A legend given as text (the face's item-text mode): up to three centred
// lines; flags 0x02/0x04/0x08 invert a line, 0x01 the whole legend.
void PAN_Item::drawLegendText(QPainter &p, const QRect &window, const QColor &face)
{
    const QStringList lines = m_text.split(QLatin1Char('\n'));
    const int n = int(lines.size());
    if (n < 1 || n > 3 || window.isEmpty())
        return;
    const bool invertAll = m_textFlags & 0x01;
    const QColor ink = invertAll ? face : QColor(0, 0, 0);
    const QColor paper = invertAll ? QColor(0, 0, 0) : face;
    if (invertAll)
        p.fillRect(window, paper);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(std::max(1, int(window.height() / (n == 3 ? 3.2 : 2.4))));
    if (n == 1)
        font.setPixelSize(std::max(1, int(window.height() / 2.0)));
    p.setFont(font);
    const int lineHeight = window.height() / n;
    for (int i = 0; i < n; ++i) {
        const QRect r(window.x(), window.y() + i * lineHeight, window.width(), lineHeight);
        const bool inverted = m_textFlags & (0x02 << i);
        if (inverted)
            p.fillRect(r, ink);
        p.setPen(inverted ? paper : ink);
        p.drawText(r, Qt::AlignCenter, lines.at(i));
    }
}

// A text display: its picture (rendered display text), or its text drawn
// with the display font for its cells.
void PAN_Item::drawDisplay(QPainter &p, const QRect &area)
{
    if (!m_picture.isNull()) {
        const QRect to = fitted(m_picture.size(), area);
        if (!to.isEmpty())
            p.drawPixmap(to, m_picture.scaled(to.size(), Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation));
        return;
    }
    if (m_text.isEmpty())
        return;
    const int lines = m_setup.vacuumLineCount;
    const int chars = m_setup.vacuumCharPerLine;
    if (!pan_display::checkCase(lines, chars)) {
        const QImage bad = pan_display::unhandledPicture();
        const QRect to = fitted(bad.size(), area);
        if (!to.isEmpty())
            p.drawImage(to, bad);
        return;
    }
    const int cellW = std::max(1, area.width() / chars);
    const int cellH = std::max(1, area.height() / lines);
    QFont font;
    if (m_callback)
        font = m_callback->displayFont(cellW, cellH);
    p.drawImage(area.topLeft(), pan_display::renderFontText(m_text, lines, chars, area.size(), font));
}

#include "fronts.h"

#include "draw_util.h"
#include "models.h"

#include <QLinearGradient>
#include <QPainter>

namespace facegen {

namespace {

// The brushed plate's edge: a chamfer lit along the top, in shadow along
// the bottom, rounded corners.
void plateEdges(QPainter &g, const QRectF &r)
{
    g.save();
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
    g.drawLine(QPointF(3, 0.5), QPointF(r.width() - 3, 0.5));
    g.setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    g.drawLine(QPointF(3, 1.5), QPointF(r.width() - 3, 1.5));
    g.setPen(QPen(QColor(0, 0, 0, 140), 1.0));
    g.drawLine(QPointF(3, r.height() - 0.5), QPointF(r.width() - 3, r.height() - 0.5));
    g.setPen(QPen(QColor(0, 0, 0, 60), 1.0));
    g.drawLine(QPointF(3, r.height() - 1.5), QPointF(r.width() - 3, r.height() - 1.5));
    g.setPen(QPen(QColor(255, 255, 255, 80), 1.0));
    g.drawLine(QPointF(0.5, 3), QPointF(0.5, r.height() - 3));
    g.setPen(QPen(QColor(0, 0, 0, 90), 1.0));
    g.drawLine(QPointF(r.width() - 0.5, 3), QPointF(r.width() - 0.5, r.height() - 3));
    g.restore();
}

// The key field: a matt black anodised inlay sitting a little below the
// brushed frame, whose lip throws a soft shadow onto its top edge.
void keyField(QPainter &g, const QRectF &field, uint32_t seed)
{
    const QPainterPath path = roundedRect(field, 4);
    g.save();
    g.setClipPath(path);
    g.drawImage(field.topLeft(), mattFinish(int(field.width()), int(field.height()),
                                            QColor(38, 40, 43), 2.6, seed));
    QLinearGradient lip(field.topLeft(), field.topLeft() + QPointF(0, 7));
    lip.setColorAt(0.0, QColor(0, 0, 0, 120));
    lip.setColorAt(1.0, QColor(0, 0, 0, 0));
    g.fillRect(QRectF(field.left(), field.top(), field.width(), 7), lip);
    QLinearGradient sheen(field.topLeft(), field.bottomLeft());
    sheen.setColorAt(0.0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.75, QColor(255, 255, 255, 6));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 14));
    g.fillRect(field, sheen);
    g.restore();
    recessedEdge(g, field.adjusted(-1, -1, 1, 1), 5, 1.6, QColor(0, 0, 0, 190),
                 QColor(255, 255, 255, 150));
}

// The grille of a blank plate: a row of pressed-in slots.
void ventSlots(QPainter &g, const QRectF &plate)
{
    const int count = 32;
    const double pitch = 12, w = 5, h = plate.height() * 0.46;
    const double x0 = plate.center().x() - (count - 1) * pitch / 2;
    const double y0 = plate.center().y() - h / 2;
    g.save();
    g.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QRectF slot(x0 + i * pitch - w / 2, y0, w, h);
        g.setBrush(QColor(14, 14, 16));
        g.drawPath(roundedRect(slot, w / 2));
        recessedEdge(g, slot.adjusted(-1, -1, 1, 1), w / 2 + 1, 1.2, QColor(0, 0, 0, 170),
                     QColor(255, 255, 255, 170));
    }
    g.restore();
}

} // namespace

QImage panelBackground(Plate plate)
{
    const int w = PANEL_W;
    const int h = plate == Plate::Large ? 240 : 120;
    const uint32_t seed = plate == Plate::Large ? 0x2u : plate == Plate::Small ? 0x1u : 0x3u;
    QImage img = brushedMetal(w, h, QColor(178, 181, 186), 3.0, seed * 7919u)
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        QPainter g(&img);
        g.setRenderHint(QPainter::Antialiasing);
        const QRectF all(0, 0, w, h);
        // Light from above: the plate is a little brighter at the top.
        QLinearGradient light(all.topLeft(), all.bottomLeft());
        light.setColorAt(0.0, QColor(255, 255, 255, 34));
        light.setColorAt(0.5, QColor(255, 255, 255, 0));
        light.setColorAt(1.0, QColor(0, 0, 0, 26));
        g.fillRect(all, light);
        if (plate == Plate::Blank)
            ventSlots(g, all);
        else
            keyField(g, QRectF(EAR_W, FIELD_INSET_Y, w - 2 * EAR_W, h - 2 * FIELD_INSET_Y),
                     seed * 104729u);
        // Ear screws in their slots, a hole pitch from the top and bottom
        // as on a rack rail.
        for (double x : {EAR_W / 2.0, w - EAR_W / 2.0})
            for (double y : {17.0, h - 17.0})
                rackScrew(g, QPointF(x, y), 13, 20, 14);
        plateEdges(g, all);
    }
    clipToPath(img, roundedRect(QRectF(0, 0, w, h), 3));
    return img;
}

QImage displayFrame(int n)
{
    const double w = displayFrameWidth(n), h = displayFrameHeight();
    QImage img = transparentImage(int(w * 2), int(h * 2));
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.scale(2, 2);

    // The moulding: black plastic, bevelled, lit from above.
    const QRectF outer(0, 0, w, h);
    raisedBevel(g, outer, 5, 2.2, QColor(104, 106, 112), QColor(6, 6, 7), QColor(40, 41, 45),
                QColor(22, 23, 25));

    // The glass, set into the moulding: very dark, faintly green, with the
    // light of the room on it.
    const QRectF glass = outer.adjusted(4, 4, -4, -4);
    const QPainterPath glassPath = roundedRect(glass, 2.5);
    QLinearGradient tint(glass.topLeft(), glass.bottomLeft());
    tint.setColorAt(0.0, QColor(18, 25, 27));
    tint.setColorAt(1.0, QColor(5, 8, 9));
    g.fillPath(glassPath, tint);
    g.save();
    g.setClipPath(glassPath);
    QLinearGradient top(glass.topLeft(), glass.topLeft() + QPointF(0, glass.height() * 0.4));
    top.setColorAt(0.0, QColor(255, 255, 255, 34));
    top.setColorAt(1.0, QColor(255, 255, 255, 0));
    g.fillRect(glass, top);
    // Diagonal reflections, one every few displays.
    g.setPen(Qt::NoPen);
    for (double x = glass.left() + 70; x < glass.right(); x += 320) {
        QPainterPath streak;
        streak.moveTo(x, glass.top());
        streak.lineTo(x + 26, glass.top());
        streak.lineTo(x + 10, glass.bottom());
        streak.lineTo(x - 16, glass.bottom());
        streak.closeSubpath();
        g.fillPath(streak, QColor(255, 255, 255, 13));
        QPainterPath thin;
        thin.moveTo(x + 34, glass.top());
        thin.lineTo(x + 40, glass.top());
        thin.lineTo(x + 24, glass.bottom());
        thin.lineTo(x + 18, glass.bottom());
        thin.closeSubpath();
        g.fillPath(thin, QColor(255, 255, 255, 10));
    }
    g.restore();
    recessedEdge(g, glass.adjusted(-0.6, -0.6, 0.6, 0.6), 3, 1.0, QColor(0, 0, 0, 230),
                 QColor(255, 255, 255, 70));
    return img;
}

} // namespace facegen

#include "icons.h"

#include "draw_util.h"
#include "keycaps.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

namespace facegen {

namespace {

// A glossy disc: radial body from light to dark, a darker rim and a
// highlight over the upper half.
void glossyDisc(QPainter &g, const QRectF &r, const QColor &light, const QColor &dark)
{
    g.save();
    g.setPen(Qt::NoPen);
    QRadialGradient body(r.center() - QPointF(0, r.height() * 0.2), r.width() * 0.7);
    body.setColorAt(0.0, light);
    body.setColorAt(1.0, dark);
    g.setBrush(body);
    g.drawEllipse(r);
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(dark.darker(160), 1.2));
    g.drawEllipse(r.adjusted(0.6, 0.6, -0.6, -0.6));
    QLinearGradient hl(r.topLeft(), QPointF(r.left(), r.center().y()));
    hl.setColorAt(0.0, QColor(255, 255, 255, 170));
    hl.setColorAt(1.0, QColor(255, 255, 255, 10));
    g.setPen(Qt::NoPen);
    g.setBrush(hl);
    g.drawEllipse(QRectF(r.left() + r.width() * 0.18, r.top() + r.height() * 0.06, r.width() * 0.64,
                         r.height() * 0.46));
    g.restore();
}

// A white symbol stroke with a thin dark shadow under it.
void symbolStroke(QPainter &g, const QPainterPath &path, double width)
{
    g.save();
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(QColor(0, 0, 0, 90), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.drawPath(path.translated(0.5, 0.9));
    g.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.drawPath(path);
    g.restore();
}

QPainterPath plusPath(const QPointF &c, double arm)
{
    QPainterPath p;
    p.moveTo(c + QPointF(-arm, 0));
    p.lineTo(c + QPointF(arm, 0));
    p.moveTo(c + QPointF(0, -arm));
    p.lineTo(c + QPointF(0, arm));
    return p;
}

QPainterPath crossPath(const QPointF &c, double arm)
{
    QPainterPath p;
    p.moveTo(c + QPointF(-arm, -arm));
    p.lineTo(c + QPointF(arm, arm));
    p.moveTo(c + QPointF(arm, -arm));
    p.lineTo(c + QPointF(-arm, arm));
    return p;
}

QImage icon32()
{
    return transparentImage(32, 32);
}

// A key composed with the face's own pictures.
QImage key(const ImageSet &art, const QSize &px, const QColor &c, const QString &legend, double p = 0)
{
    Sequence seq;
    for (int i = 1; i <= KEY_FRAMES; ++i) {
        seq.frames.append(QStringLiteral("b%1.png").arg(i));
        seq.masks.append(QStringLiteral("b_mask%1.png").arg(i));
        seq.covers.append(QStringLiteral("color_cover_up%1.png").arg(i));
    }
    return composeKey(art, seq, px, c, legendImage(legend), p, false);
}

// A small slice of front plate: brushed frame, matt black field.
void plateSlice(QPainter &g, const QRectF &r, double radius, double frame, uint32_t seed)
{
    g.save();
    const QPainterPath outer = roundedRect(r, radius);
    g.setClipPath(outer);
    g.drawImage(r.topLeft(), brushedMetal(int(r.width()) + 1, int(r.height()) + 1,
                                          QColor(182, 185, 190), 2.0, seed));
    const QRectF field = r.adjusted(frame, frame, -frame, -frame);
    g.setClipPath(roundedRect(field, radius * 0.5));
    g.drawImage(field.topLeft(), mattFinish(int(field.width()) + 1, int(field.height()) + 1,
                                            QColor(38, 40, 43), 2.5, seed + 1));
    g.setClipping(false);
    recessedEdge(g, field, radius * 0.5, 1.5, QColor(0, 0, 0, 190), QColor(255, 255, 255, 150));
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(QColor(0, 0, 0, 120), 1.5));
    g.drawPath(roundedRect(r.adjusted(0.75, 0.75, -0.75, -0.75), radius));
    g.restore();
}

} // namespace

QImage appIcon(const ImageSet &art)
{
    QImage img = transparentImage(256, 256);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::SmoothPixmapTransform);
    plateSlice(g, QRectF(8, 8, 240, 240), 34, 22, 0xA11CEu);
    for (double y : {18.0, 238.0})
        for (double x : {18.0, 238.0})
            rackScrew(g, QPointF(x, y), 11, 0, 0);
    const QColor colours[4] = {QColor(255, 40, 20), QColor(40, 220, 60), QColor(255, 160, 0),
                               QColor(60, 120, 255)};
    const char *legends[4] = {"1", "2", "3", "4"};
    const QSize keySize(91, 65);
    for (int i = 0; i < 4; ++i) {
        const int col = i % 2, row = i / 2;
        g.drawImage(QPointF(33 + col * (keySize.width() + 8), 53 + row * (keySize.height() + 20)),
                    key(art, keySize, colours[i], QString::fromLatin1(legends[i])));
    }
    return img;
}

QImage rackIcon()
{
    QImage img = transparentImage(64, 64);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    // Rails with their rows of holes.
    for (double x : {4.0, 54.0}) {
        QLinearGradient rail(QPointF(x, 0), QPointF(x + 6, 0));
        rail.setColorAt(0.0, QColor(70, 72, 78));
        rail.setColorAt(0.5, QColor(130, 133, 140));
        rail.setColorAt(1.0, QColor(50, 52, 56));
        g.fillRect(QRectF(x, 2, 6, 60), rail);
        for (double y = 5; y < 60; y += 4.5)
            g.fillRect(QRectF(x + 2, y, 2, 2), QColor(16, 16, 18));
    }
    // Three panels: two with keys, one blank.
    const QColor lit[5] = {QColor(255, 50, 30), QColor(60, 230, 70), QColor(255, 170, 0),
                           QColor(200, 200, 200), QColor(70, 130, 255)};
    const QRectF panels[3] = {QRectF(2, 6, 60, 14), QRectF(2, 22, 60, 24), QRectF(2, 48, 60, 12)};
    for (int i = 0; i < 3; ++i) {
        const QRectF r = panels[i];
        g.fillRect(r, QColor(176, 179, 184));
        g.setPen(QPen(QColor(255, 255, 255, 170), 1));
        g.drawLine(QPointF(r.left(), r.top() + 0.5), QPointF(r.right(), r.top() + 0.5));
        g.setPen(QPen(QColor(0, 0, 0, 130), 1));
        g.drawLine(QPointF(r.left(), r.bottom() - 0.5), QPointF(r.right(), r.bottom() - 0.5));
        g.setPen(Qt::NoPen);
        g.setBrush(QColor(120, 122, 128));
        g.drawEllipse(QPointF(r.left() + 3, r.center().y()), 1.3, 1.3);
        g.drawEllipse(QPointF(r.right() - 3, r.center().y()), 1.3, 1.3);
        if (i == 2) {
            for (double x = 20; x < 45; x += 3)
                g.fillRect(QRectF(x, r.top() + 3, 1.4, r.height() - 6), QColor(30, 30, 34));
            continue;
        }
        const QRectF field = r.adjusted(6, 2, -6, -2);
        g.fillRect(field, QColor(36, 38, 41));
        const int rows = i == 0 ? 1 : 2;
        for (int row = 0; row < rows; ++row)
            for (int k = 0; k < 8; ++k) {
                const QRectF keyRect(field.left() + 2 + k * 6.1, field.top() + 2 + row * 10, 4.6, 6);
                g.setBrush(QColor(20, 20, 22));
                g.drawRoundedRect(keyRect.adjusted(-0.6, -0.6, 0.6, 0.6), 1, 1);
                g.setBrush(lit[(k + row * 3 + i) % 5]);
                g.drawRoundedRect(keyRect, 0.8, 0.8);
            }
    }
    return img;
}

QImage splash(const ImageSet &art)
{
    QImage img = transparentImage(480, 300);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::TextAntialiasing);
    plateSlice(g, QRectF(0, 0, 480, 300), 6, 16, 0x5EEDu);
    for (double y : {8.0, 292.0})
        for (double x : {8.0, 472.0})
            rackScrew(g, QPointF(x, y), 9, 0, 0);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(52);
    title.setWeight(QFont::Bold);
    title.setLetterSpacing(QFont::PercentageSpacing, 104);
    g.setFont(title);
    g.setPen(QColor(0, 0, 0, 160));
    g.drawText(QRectF(2, 50, 480, 70), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Keystead"));
    g.setPen(QColor(232, 234, 238));
    g.drawText(QRectF(0, 48, 480, 70), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Keystead"));

    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(15);
    sub.setLetterSpacing(QFont::PercentageSpacing, 112);
    g.setFont(sub);
    g.setPen(QColor(150, 200, 120));
    g.drawText(QRectF(0, 114, 480, 24), Qt::AlignHCenter, QStringLiteral("ROUTER CONTROL PANELS"));

    const QColor colours[6] = {QColor(255, 30, 20), QColor(200, 200, 200), QColor(40, 220, 60),
                               QColor(255, 160, 0), QColor(200, 200, 200), QColor(60, 120, 255)};
    const char *legends[6] = {"SRC\n1", "SRC\n2", "DST\nVT1", "LVL\nVID", "MENU", "TAKE"};
    const QSize keySize(56, 40);
    const int x0 = (480 - (6 * keySize.width() + 5 * 10)) / 2;
    for (int i = 0; i < 6; ++i)
        g.drawImage(QPointF(x0 + i * (keySize.width() + 10), 170),
                    key(art, keySize, colours[i], QString::fromLatin1(legends[i]), i == 5 ? 1.0 : 0.0));

    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(11);
    g.setFont(small);
    g.setPen(QColor(160, 163, 170));
    g.drawText(QRectF(24, 248, 432, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Preparing panel faces ..."));
    g.drawText(QRectF(24, 248, 432, 20), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Tessaline"));
    return img;
}

QImage newIcon()
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    glossyDisc(g, QRectF(2, 2, 28, 28), QColor(150, 235, 110), QColor(30, 130, 35));
    symbolStroke(g, plusPath(QPointF(16, 16), 7.5), 3.6);
    return img;
}

QImage deleteIcon()
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    // A waste bin: tapered ribbed body, lid with a handle.
    QPainterPath body;
    body.moveTo(7, 10);
    body.lineTo(25, 10);
    body.lineTo(23, 29);
    body.lineTo(9, 29);
    body.closeSubpath();
    QLinearGradient metal(QPointF(7, 0), QPointF(25, 0));
    metal.setColorAt(0.0, QColor(110, 114, 122));
    metal.setColorAt(0.35, QColor(215, 218, 224));
    metal.setColorAt(1.0, QColor(90, 93, 100));
    g.setPen(QPen(QColor(50, 52, 58), 1.1));
    g.setBrush(metal);
    g.drawPath(body);
    g.setPen(QPen(QColor(70, 72, 80, 200), 1.2));
    for (double x : {12.0, 16.0, 20.0})
        g.drawLine(QPointF(x, 13), QPointF(x + (x - 16) * 0.08, 26.5));
    g.setPen(QPen(QColor(50, 52, 58), 1.1));
    g.setBrush(metal);
    g.drawRoundedRect(QRectF(5, 6.5, 22, 3.5), 1.2, 1.2);
    g.setBrush(Qt::NoBrush);
    g.drawRoundedRect(QRectF(12.5, 3.5, 7, 3.2), 1.2, 1.2);
    // A red cross on it: the action removes.
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);
    glossyDisc(g, QRectF(17, 17, 14, 14), QColor(255, 120, 100), QColor(170, 20, 10));
    symbolStroke(g, crossPath(QPointF(24, 24), 3.0), 2.0);
    return img;
}

QImage startIcon()
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    QPainterPath tri;
    tri.moveTo(7, 4);
    tri.lineTo(28, 16);
    tri.lineTo(7, 28);
    tri.closeSubpath();
    QLinearGradient fill(QPointF(0, 4), QPointF(0, 28));
    fill.setColorAt(0.0, QColor(150, 240, 110));
    fill.setColorAt(1.0, QColor(25, 135, 35));
    g.setPen(QPen(QColor(15, 85, 20), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    g.setBrush(fill);
    g.drawPath(tri);
    QPainterPath shine;
    shine.moveTo(9, 7);
    shine.lineTo(23, 15);
    shine.lineTo(9, 15);
    shine.closeSubpath();
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(255, 255, 255, 80));
    g.drawPath(shine);
    return img;
}

QImage stopIcon()
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(QPointF(0, 5), QPointF(0, 27));
    fill.setColorAt(0.0, QColor(255, 125, 100));
    fill.setColorAt(1.0, QColor(165, 18, 10));
    g.setPen(QPen(QColor(105, 10, 5), 1.6));
    g.setBrush(fill);
    g.drawRoundedRect(QRectF(5, 5, 22, 22), 4, 4);
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(255, 255, 255, 80));
    g.drawRoundedRect(QRectF(7.5, 7, 17, 8), 3, 3);
    return img;
}

QImage lampIcon(bool lit)
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);
    if (lit) {
        QRadialGradient glow(QPointF(16, 16), 16);
        glow.setColorAt(0.5, QColor(90, 255, 60, 120));
        glow.setColorAt(1.0, QColor(90, 255, 60, 0));
        g.setBrush(glow);
        g.drawEllipse(QPointF(16, 16), 16, 16);
    }
    // Bezel ring.
    QLinearGradient ring(QPointF(0, 5), QPointF(0, 27));
    ring.setColorAt(0.0, QColor(210, 212, 218));
    ring.setColorAt(1.0, QColor(70, 72, 78));
    g.setBrush(ring);
    g.drawEllipse(QPointF(16, 16), 11.5, 11.5);
    // Lens.
    QRadialGradient lens(QPointF(16, 17), 10);
    if (lit) {
        lens.setColorAt(0.0, QColor(225, 255, 200));
        lens.setColorAt(0.45, QColor(80, 235, 60));
        lens.setColorAt(1.0, QColor(15, 110, 15));
    } else {
        lens.setColorAt(0.0, QColor(80, 96, 80));
        lens.setColorAt(1.0, QColor(18, 26, 18));
    }
    g.setBrush(lens);
    g.drawEllipse(QPointF(16, 16), 9.5, 9.5);
    g.setBrush(QColor(255, 255, 255, lit ? 200 : 120));
    g.drawEllipse(QRectF(11, 9.5, 6, 4));
    return img;
}

QImage signIcon(bool ok)
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    if (ok) {
        glossyDisc(g, QRectF(2, 2, 28, 28), QColor(150, 235, 110), QColor(30, 130, 35));
        QPainterPath tick;
        tick.moveTo(9, 16.5);
        tick.lineTo(14, 21.5);
        tick.lineTo(23, 10.5);
        symbolStroke(g, tick, 3.6);
    } else {
        glossyDisc(g, QRectF(2, 2, 28, 28), QColor(255, 125, 100), QColor(170, 20, 10));
        symbolStroke(g, crossPath(QPointF(16, 16), 6), 3.6);
    }
    return img;
}

QImage commMask()
{
    QImage img = icon32();
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    // A lamp square with rounded corners and a clear margin, so that the two
    // squares of an indicator stand apart where they meet.
    g.fillPath(roundedRect(QRectF(2.5, 2.5, 27, 27), 6), Qt::white);
    return img;
}

} // namespace facegen

#include "keycaps.h"

#include "draw_util.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>

namespace facegen {

namespace {

constexpr double WINDOW_INSET = 8.0;
constexpr double WINDOW_RADIUS = 4.0;
constexpr double MAX_TRAVEL = 2.0; // how far the window moves down, pixels
constexpr double CAP_GAP = 2.5;    // recess showing around the cap at rest

QColor darker(const QColor &c, double f)
{
    return QColor::fromRgbF(c.redF() * f, c.greenF() * f, c.blueF() * f, c.alphaF());
}

// The cap: its outline moves down with the travel and shrinks a little as
// it goes away from the viewer.
QRectF capRect(double p)
{
    const double shrink = 0.7 * p;
    return QRectF(CAP_GAP + shrink, CAP_GAP + shrink + MAX_TRAVEL * p, KEY_W - 2 * (CAP_GAP + shrink),
                  KEY_H - 2 * (CAP_GAP + shrink) - 0.4 * p);
}

} // namespace

double frameProgress(int index)
{
    return double(index) / (KEY_FRAMES - 1);
}

QRectF keyWindow(double p)
{
    return QRectF(WINDOW_INSET, WINDOW_INSET + MAX_TRAVEL * p, KEY_W - 2 * WINDOW_INSET,
                  KEY_H - 2 * WINDOW_INSET);
}

QImage keyFrame(double p)
{
    QImage img = transparentImage(KEY_W, KEY_H);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    g.setPen(Qt::NoPen);

    // The cut-out in the panel: its upper wall in shadow, the lower one
    // catching the light.
    const QRectF all(0, 0, KEY_W, KEY_H);
    QLinearGradient recess(all.topLeft(), all.bottomLeft());
    recess.setColorAt(0.0, QColor(4, 4, 5));
    recess.setColorAt(0.7, QColor(12, 12, 14));
    recess.setColorAt(1.0, QColor(34, 34, 38));
    g.setBrush(recess);
    g.drawPath(roundedRect(all, 11));
    recessedEdge(g, all, 11, 1.2, QColor(0, 0, 0, 200), QColor(255, 255, 255, 60));

    // The cap's shadow on the floor of the recess, shorter as it goes down.
    const QRectF cap = capRect(p);
    for (int i = 4; i >= 1; --i) {
        const double spread = i * 1.1 * (1.0 - 0.7 * p);
        g.setBrush(QColor(0, 0, 0, 38));
        g.drawPath(roundedRect(cap.translated(0, 1.5 * (1.0 - p)).adjusted(-spread, -spread * 0.3,
                                                                            spread, spread),
                               9 + spread));
    }

    // The cap: dark grey plastic with a bevelled edge, lit from above; it
    // darkens as it sinks into the recess.
    const double lit = 1.0 - 0.22 * p;
    raisedBevel(g, cap, 9, 4.6, darker(QColor(158, 161, 166), lit * (1.0 - 0.2 * p)),
                darker(QColor(30, 31, 34), lit), darker(QColor(96, 99, 104), lit),
                darker(QColor(60, 62, 66), lit));
    // A crisp highlight along the top edge of the cap.
    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(QColor(235, 237, 240, int(170 * (1.0 - 0.65 * p))), 1.1));
    const QRectF hl = cap.adjusted(2.0, 0.9, -2.0, 0);
    QPainterPath top;
    top.moveTo(hl.left() + 8, hl.top());
    top.lineTo(hl.right() - 8, hl.top());
    g.drawPath(top);
    g.setPen(Qt::NoPen);

    // The window: cut through, then its lip and the shadow the cap casts
    // into it.
    const QRectF win = keyWindow(p);
    const QPainterPath winPath = roundedRect(win, WINDOW_RADIUS);
    g.setCompositionMode(QPainter::CompositionMode_Clear);
    g.fillPath(winPath, Qt::black);
    g.setCompositionMode(QPainter::CompositionMode_SourceOver);

    g.save();
    g.setClipPath(winPath);
    QLinearGradient shadowTop(win.topLeft(), win.topLeft() + QPointF(0, 9));
    shadowTop.setColorAt(0.0, QColor(0, 0, 0, 150));
    shadowTop.setColorAt(1.0, QColor(0, 0, 0, 0));
    g.fillRect(QRectF(win.left(), win.top(), win.width(), 9), shadowTop);
    QLinearGradient shadowLeft(win.topLeft(), win.topLeft() + QPointF(5, 0));
    shadowLeft.setColorAt(0.0, QColor(0, 0, 0, 90));
    shadowLeft.setColorAt(1.0, QColor(0, 0, 0, 0));
    g.fillRect(QRectF(win.left(), win.top(), 5, win.height()), shadowLeft);

    // Glass: a soft reflection over the upper part, with a curved lower
    // edge, and a faint bright line at the very top.
    const double gloss = 1.0 - 0.35 * p;
    QPainterPath sheen;
    sheen.moveTo(win.left(), win.top());
    sheen.lineTo(win.right(), win.top());
    sheen.lineTo(win.right(), win.top() + win.height() * 0.30);
    sheen.cubicTo(win.right() - win.width() * 0.3, win.top() + win.height() * 0.40,
                  win.left() + win.width() * 0.35, win.top() + win.height() * 0.52,
                  win.left(), win.top() + win.height() * 0.50);
    sheen.closeSubpath();
    QLinearGradient sheenFill(win.topLeft(), QPointF(win.left(), win.top() + win.height() * 0.5));
    sheenFill.setColorAt(0.0, QColor(255, 255, 255, int(46 * gloss)));
    sheenFill.setColorAt(1.0, QColor(255, 255, 255, int(8 * gloss)));
    g.fillPath(sheen, sheenFill);
    g.restore();

    g.setBrush(Qt::NoBrush);
    g.setPen(QPen(QColor(12, 12, 14), 1.6));
    g.drawPath(winPath);
    g.setPen(QPen(QColor(255, 255, 255, int(40 * gloss)), 0.8));
    g.drawLine(QPointF(win.left() + 5, win.top() + 2.2), QPointF(win.right() - 5, win.top() + 2.2));
    return img;
}

QImage keyMask(double p)
{
    QImage img = transparentImage(KEY_W, KEY_H);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    // Half a pixel wider than the window, so that the window's antialiased
    // edge never shows the panel through.
    g.fillPath(roundedRect(keyWindow(p).adjusted(-0.5, -0.5, 0.5, 0.5), WINDOW_RADIUS + 0.5),
               Qt::white);
    return img;
}

QImage colourCover(double p, bool upDown)
{
    QImage img = transparentImage(KEY_W, KEY_H);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    const QRectF win = keyWindow(p).adjusted(-1, -1, 1, 1);
    g.setClipRect(win);

    // Backlight: brighter at the top, falling off towards the bottom.
    QLinearGradient vertical(win.topLeft(), win.bottomLeft());
    vertical.setColorAt(0.0, QColor(255, 255, 255, 40));
    vertical.setColorAt(0.35, QColor(255, 255, 255, 0));
    vertical.setColorAt(0.6, QColor(0, 0, 0, 0));
    vertical.setColorAt(1.0, QColor(0, 0, 0, 56));
    g.fillRect(win, vertical);

    // Vignette: the diffuser is dimmer at the edges of the window.
    g.save();
    g.translate(win.center());
    g.scale(win.width() * 0.56, win.height() * 0.60);
    QRadialGradient vignette(QPointF(0, 0), 1.0);
    vignette.setColorAt(0.0, QColor(0, 0, 0, 0));
    vignette.setColorAt(0.6, QColor(0, 0, 0, 0));
    vignette.setColorAt(1.0, QColor(0, 0, 0, 84));
    vignette.setSpread(QGradient::PadSpread);
    g.fillRect(QRectF(-2, -2, 4, 4), vignette);
    g.restore();

    // The LCD's dot grid: faint lines between the legend's pixels (5 key
    // picture pixels each, starting at the legend bitmap's origin).
    g.setPen(QPen(QColor(0, 0, 0, 16), 1.0));
    for (double x = 10; x < KEY_W - 9; x += 5)
        g.drawLine(QPointF(x, win.top()), QPointF(x, win.bottom()));
    for (double y = 10; y < KEY_H - 9; y += 5)
        g.drawLine(QPointF(win.left(), y), QPointF(win.right(), y));

    if (upDown) {
        // The split between the two colour areas sits at half the item's
        // height, where the face's colours change.
        const double mid = KEY_H / 2.0;
        g.setPen(QPen(QColor(0, 0, 0, 150), 2.0));
        g.drawLine(QPointF(win.left(), mid), QPointF(win.right(), mid));
        g.setPen(QPen(QColor(255, 255, 255, 34), 1.0));
        g.drawLine(QPointF(win.left(), mid + 1.5), QPointF(win.right(), mid + 1.5));
    }

    // The key's own shadow as it goes down.
    if (p > 0)
        g.fillRect(win, QColor(0, 0, 0, int(std::lround(78 * p))));
    return img;
}

QImage ledMask(int kind, int index)
{
    const bool pressed = index == 2;
    if (kind == 1) {
        QImage img = transparentImage(64, 64);
        QPainter g(&img);
        g.setRenderHint(QPainter::Antialiasing);
        const double r = pressed ? 26.5 : 28.0;
        g.setPen(Qt::NoPen);
        g.setBrush(Qt::white);
        g.drawEllipse(QPointF(32, 32 + (pressed ? 0.8 : 0.0)), r, r);
        return img;
    }
    QImage img = transparentImage(96, 48);
    QPainter g(&img);
    g.setRenderHint(QPainter::Antialiasing);
    const QRectF lens = pressed ? QRectF(6.5, 7.3, 83, 35) : QRectF(5, 5, 86, 38);
    g.fillPath(roundedRect(lens, pressed ? 8.5 : 9.0), Qt::white);
    return img;
}

} // namespace facegen

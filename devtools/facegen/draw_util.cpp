#include "draw_util.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <vector>

namespace facegen {

namespace {

int clampByte(double v)
{
    return std::clamp(int(std::lround(v)), 0, 255);
}

// One pass of a running box average of half-width r over a row, wrapping
// around so that the streaks have no edge.
void boxBlur(std::vector<double> &row, int r)
{
    const int n = int(row.size());
    if (n == 0 || r <= 0)
        return;
    std::vector<double> out(n);
    double sum = 0;
    for (int k = -r; k <= r; ++k)
        sum += row[(k % n + n) % n];
    for (int x = 0; x < n; ++x) {
        out[x] = sum / (2 * r + 1);
        sum += row[(x + r + 1) % n] - row[((x - r) % n + n) % n];
    }
    row.swap(out);
}

} // namespace

QImage transparentImage(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QImage brushedMetal(int w, int h, const QColor &base, double amplitude, uint32_t seed)
{
    QImage img(w, h, QImage::Format_RGB32);
    Rng rng(seed);
    std::vector<double> streak(w);
    double rowDrift = 0;
    for (int y = 0; y < h; ++y) {
        for (double &v : streak)
            v = rng.symmetric();
        // Two box passes make long, soft streaks (their spread is then
        // about a fourteenth of the white noise's, scaled back below).
        boxBlur(streak, 24);
        boxBlur(streak, 24);
        // Neighbouring rows drift together a little, as the grain of a
        // brushed sheet does.
        rowDrift = rowDrift * 0.6 + rng.symmetric() * 0.4;
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const double d = amplitude * (streak[x] * 14.0 + rowDrift * 0.6 + rng.symmetric() * 0.35);
            line[x] = qRgb(clampByte(base.red() + d), clampByte(base.green() + d),
                           clampByte(base.blue() + d * 1.05));
        }
    }
    return img;
}

QImage mattFinish(int w, int h, const QColor &base, double amplitude, uint32_t seed)
{
    QImage img(w, h, QImage::Format_RGB32);
    Rng rng(seed);
    std::vector<double> prev(w, 0.0);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        double left = 0;
        for (int x = 0; x < w; ++x) {
            // Grain a little coarser than one pixel: each sample leans on its
            // left and upper neighbours.
            const double v = rng.symmetric() * 0.6 + left * 0.2 + prev[x] * 0.2;
            left = v;
            prev[x] = v;
            const double d = amplitude * v;
            line[x] = qRgb(clampByte(base.red() + d), clampByte(base.green() + d),
                           clampByte(base.blue() + d));
        }
    }
    return img;
}

QPainterPath roundedRect(const QRectF &r, double radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(std::clamp(alpha, 0, 255));
    return c;
}

QColor mix(const QColor &a, const QColor &b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return QColor(clampByte(a.red() + (b.red() - a.red()) * t),
                  clampByte(a.green() + (b.green() - a.green()) * t),
                  clampByte(a.blue() + (b.blue() - a.blue()) * t),
                  clampByte(a.alpha() + (b.alpha() - a.alpha()) * t));
}

void raisedBevel(QPainter &p, const QRectF &outer, double radius, double width,
                 const QColor &light, const QColor &dark, const QColor &faceTop,
                 const QColor &faceBottom)
{
    p.save();
    p.setPen(Qt::NoPen);
    QLinearGradient edge(outer.topLeft(), outer.bottomLeft());
    edge.setColorAt(0.0, light);
    edge.setColorAt(0.45, mix(light, dark, 0.55));
    edge.setColorAt(1.0, dark);
    p.setBrush(edge);
    p.drawPath(roundedRect(outer, radius));
    const QRectF face = outer.adjusted(width, width, -width, -width);
    QLinearGradient body(face.topLeft(), face.bottomLeft());
    body.setColorAt(0.0, faceTop);
    body.setColorAt(1.0, faceBottom);
    p.setBrush(body);
    p.drawPath(roundedRect(face, std::max(0.0, radius - width * 0.7)));
    p.restore();
}

void recessedEdge(QPainter &p, const QRectF &r, double radius, double lineWidth,
                  const QColor &dark, const QColor &light)
{
    p.save();
    p.setBrush(Qt::NoBrush);
    const QRectF half = r.adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, dark);
    g.setColorAt(0.5, mix(dark, light, 0.5));
    g.setColorAt(1.0, light);
    p.setPen(QPen(QBrush(g), lineWidth));
    p.drawPath(roundedRect(half, radius));
    p.restore();
}

void rackScrew(QPainter &p, const QPointF &c, double diameter, double holeWidth, double holeHeight)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    if (holeWidth > 0 && holeHeight > 0) {
        // The slot in the rack ear: dark, with its lower lip catching light.
        const QRectF hole(c.x() - holeWidth / 2, c.y() - holeHeight / 2, holeWidth, holeHeight);
        p.setBrush(QColor(10, 10, 12));
        p.drawPath(roundedRect(hole, holeHeight / 2));
        recessedEdge(p, hole.adjusted(-0.8, -0.8, 0.8, 0.8), holeHeight / 2 + 0.8, 1.2,
                     QColor(0, 0, 0, 200), QColor(255, 255, 255, 90));
    }
    const double r = diameter / 2;
    // Shadow under the head.
    QRadialGradient shadow(c + QPointF(0.6, 1.4), r * 1.25);
    shadow.setColorAt(0.75, QColor(0, 0, 0, 150));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setBrush(shadow);
    p.drawEllipse(c + QPointF(0.6, 1.4), r * 1.25, r * 1.25);
    // The domed head: light from the upper left.
    QRadialGradient head(c - QPointF(r * 0.35, r * 0.45), r * 1.6);
    head.setColorAt(0.0, QColor(236, 238, 240));
    head.setColorAt(0.35, QColor(170, 173, 178));
    head.setColorAt(0.8, QColor(88, 90, 96));
    head.setColorAt(1.0, QColor(52, 54, 58));
    p.setBrush(head);
    p.drawEllipse(c, r, r);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 30, 34, 200), std::max(0.6, r * 0.08)));
    p.drawEllipse(c, r, r);
    // Cross recess: a dark cross with a lighter lower edge.
    const double arm = r * 0.55;
    const double w = std::max(0.9, r * 0.22);
    p.setPen(QPen(QColor(235, 235, 238, 150), w, Qt::SolidLine, Qt::RoundCap));
    const QPointF lift(0.35, 0.45);
    p.drawLine(c + lift + QPointF(-arm, 0), c + lift + QPointF(arm, 0));
    p.drawLine(c + lift + QPointF(0, -arm), c + lift + QPointF(0, arm));
    p.setPen(QPen(QColor(28, 29, 33), w, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-arm, 0), c + QPointF(arm, 0));
    p.drawLine(c + QPointF(0, -arm), c + QPointF(0, arm));
    p.restore();
}

void clipToPath(QImage &img, const QPainterPath &path)
{
    QImage mask = transparentImage(img.width(), img.height());
    {
        QPainter m(&mask);
        m.setRenderHint(QPainter::Antialiasing);
        m.fillPath(path, Qt::white);
    }
    QPainter p(&img);
    p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    p.drawImage(0, 0, mask);
}

} // namespace facegen

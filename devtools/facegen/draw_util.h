#ifndef FACEGEN_DRAW_UTIL_H
#define FACEGEN_DRAW_UTIL_H

// Painting helpers shared by the asset painters: a deterministic noise
// source (the same pictures come out on every run), metal textures, rounded
// shapes, bevels and screws.

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

#include <cstdint>

class QPainter;

namespace facegen {

// xorshift32: the same sequence on every machine and compiler, unlike the
// standard distributions.
class Rng
{
public:
    explicit Rng(uint32_t seed) : m_state(seed ? seed : 0x9e3779b9u) {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // Uniform in [0, 1).
    double uniform() { return (next() >> 8) * (1.0 / 16777216.0); }
    // Uniform in [-1, 1).
    double symmetric() { return uniform() * 2.0 - 1.0; }

private:
    uint32_t m_state;
};

// A fresh ARGB picture, fully transparent.
QImage transparentImage(int w, int h);

// Brushed metal: long horizontal streaks around base, amplitude in grey
// levels. Opaque.
QImage brushedMetal(int w, int h, const QColor &base, double amplitude, uint32_t seed);

// Matt (powder-coated or bead-blasted anodised) finish: fine isotropic grain
// around base. Opaque.
QImage mattFinish(int w, int h, const QColor &base, double amplitude, uint32_t seed);

// Rounded rectangle path.
QPainterPath roundedRect(const QRectF &r, double radius);

// A colour with its alpha replaced.
QColor withAlpha(QColor c, int alpha);
// Linear mix a..b by t (0..1), alpha included.
QColor mix(const QColor &a, const QColor &b, double t);

// Paints a raised bevel: the outer shape filled with a gradient from light
// (top) to dark (bottom), then the face (the shape inset by width) with
// faceTop..faceBottom. Leaves the painter's state unchanged.
void raisedBevel(QPainter &p, const QRectF &outer, double radius, double width,
                 const QColor &light, const QColor &dark, const QColor &faceTop,
                 const QColor &faceBottom);

// A recessed edge: a dark line along the top and left inside r, a light one
// along the bottom and right (light falls from above).
void recessedEdge(QPainter &p, const QRectF &r, double radius, double lineWidth,
                  const QColor &dark, const QColor &light);

// A pan-head cross-recess screw of the given diameter centred on c, seated
// in a slotted hole of holeWidth x holeHeight (0: no hole).
void rackScrew(QPainter &p, const QPointF &c, double diameter, double holeWidth,
               double holeHeight);

// Cuts out everything outside path (alpha set to 0 there), antialiased.
void clipToPath(QImage &img, const QPainterPath &path);

} // namespace facegen

#endif

#ifndef FACEGEN_KEYCAPS_H
#define FACEGEN_KEYCAPS_H

// The pictures of an LCD key, in the order a face item composes them:
// the key's colour fills the item, the colour cover shades it into a backlit
// LCD, the legend bitmap (40 x 28: the 36 x 24 key face with a margin of 2)
// is drawn over the whole item, the display mask cuts the result to the
// LCD window, and the key frame (cap, bevel, glass) goes on top.
//
// Every key picture is KEY_W x KEY_H, the aspect of the legend bitmap, so
// that a legend stretched over the item lands its 36 x 24 face exactly
// inside the window: the window is inset 8 of 200 (the bitmap's margin is
// 2 of 40, i.e. 10 of 200), so no lit legend pixel is ever cut, and the
// window moves down by at most 2 as the key goes down.

#include <QImage>
#include <QRectF>

namespace facegen {

constexpr int KEY_W = 200;
constexpr int KEY_H = 140;
constexpr int KEY_FRAMES = 6; // b1 (up) .. b6 (fully down)

// Press progress of frame index i (0 .. KEY_FRAMES - 1): 0 up, 1 down.
double frameProgress(int index);

// The LCD window of the key at press progress p, in key picture pixels.
QRectF keyWindow(double p);

// Key frame: recess, cap with bevel, transparent window with its lip, inner
// shadow and glass reflection.
QImage keyFrame(double p);

// Display mask: opaque where the LCD shows (the window), transparent
// elsewhere.
QImage keyMask(double p);

// Colour cover: translucent shading over the key colour (light from above,
// edge vignette, the LCD's dot grid, darkening as the key goes down). With
// upDown, also the divider between the upper and the lower colour area at
// half the height.
QImage colourCover(double p, bool upDown);

// Masks of lamp lenses (LED items): kind 1 a round 5 mm lens (64 x 64),
// kind 2 a rectangular lamp lens (96 x 48); index 1 up, 2 pressed (the lens
// slightly smaller, as seen further away).
QImage ledMask(int kind, int index);

} // namespace facegen

#endif

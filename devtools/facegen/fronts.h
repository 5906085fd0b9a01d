#ifndef FACEGEN_FRONTS_H
#define FACEGEN_FRONTS_H

// Front plates and the frames behind the display windows.

#include <QImage>

namespace facegen {

enum class Plate {
    Small, // 1U: 1200 x 120
    Large, // 2U: 1200 x 240
    Blank  // 1U filler plate of a panel without a type
};

// A rack front: brushed aluminium with two slotted screw holes in each ear
// and, except on the blank plate, a matt black key field set into it. One
// picture pixel per layout unit.
QImage panelBackground(Plate plate);

// The moulded bezel with a pane of dark smoked glass behind a bank of n
// displays, at twice the layout size (displayFrameWidth(n) x
// displayFrameHeight()).
QImage displayFrame(int n);

} // namespace facegen

#endif

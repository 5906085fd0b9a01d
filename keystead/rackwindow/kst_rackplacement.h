#ifndef KST_RACKPLACEMENT_H
#define KST_RACKPLACEMENT_H

// Where rack windows that have no stored place open (a panel set written by
// a tool or by hand holds no window geometry).
//
// Every window gets the same width, about `width` (down to nine tenths of
// it when that fits one more column on the screen) and at most the
// screen's, and the height its faces want at that width (wanted), at most
// the screen's. Windows go in columns left to right, each column filled top
// to bottom in rack order, hgap pixels apart side by side and vgap pixels
// apart one under the other (room for a window manager's title bar). When the screen cannot hold every window
// at its wanted height, the heights in a column are shared out (a window
// wanting less than an even share keeps its height) but never below the
// window's minimum (one face at that width): what still does not fit goes
// into a further layer over the first, shifted down and right, so that the
// windows cover each other only where the screen is too small for them.

#include <QList>
#include <QRect>

QList<QRect> KST_placeRackWindows(const QRect &available, int width, const QList<int> &wanted,
                                  const QList<int> &minimum, int hgap, int vgap);

#endif

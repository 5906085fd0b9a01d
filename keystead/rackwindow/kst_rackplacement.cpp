#include "kst_rackplacement.h"

#include <algorithm>

namespace {

enum { LayerShift = 40 };

// Heights for the windows of one column that share `room` pixels (gaps
// already taken off): each window wanting no more than an even share of
// what is left keeps its wish, the others share the rest evenly; none
// below its minimum.
QList<int> shareColumn(const QList<int> &wanted, const QList<int> &minimum, int room)
{
    const int n = int(wanted.size());
    QList<int> height(n, -1);
    int left = room;
    int open = n;
    bool settled = false;
    while (!settled && open > 0) {
        settled = true;
        const int share = left / open;
        for (int i = 0; i < n; ++i) {
            if (height[i] >= 0 || wanted[i] > share)
                continue;
            height[i] = wanted[i];
            left -= wanted[i];
            --open;
            settled = false;
        }
    }
    const int share = open > 0 ? left / open : 0;
    for (int i = 0; i < n; ++i) {
        if (height[i] < 0)
            height[i] = share;
        height[i] = std::max(height[i], minimum[i]);
    }
    return height;
}

} // namespace

QList<QRect> KST_placeRackWindows(const QRect &available, int width, const QList<int> &wanted,
                                  const QList<int> &minimum, int hgap, int vgap)
{
    QList<QRect> out;
    const int count = int(std::min(wanted.size(), minimum.size()));
    if (count == 0 || available.isEmpty())
        return out;
    const int narrowest = std::max(1, width * 9 / 10);
    const int columns = std::max(1, (available.width() + hgap) / (narrowest + hgap));
    const int w = std::max(1, std::min({width, available.width(),
                                        (available.width() - hgap * (columns - 1)) / columns}));
    const int screenHeight = available.height();
    const int gap = vgap;

    // How many windows of the tallest minimum one column holds without
    // covering each other.
    int tallestMinimum = 1;
    for (int i = 0; i < count; ++i)
        tallestMinimum = std::max(tallestMinimum, std::min(minimum[i], screenHeight));
    const int perColumnMax = std::max(1, (screenHeight + gap) / (tallestMinimum + gap));
    const int perLayer = columns * perColumnMax;

    // The first layer: columns as evenly filled as the count allows.
    const int inFirst = std::min(perLayer, count);
    const int perColumn = (inFirst + columns - 1) / columns;
    for (int colStart = 0; colStart < inFirst; colStart += perColumn) {
        const int n = std::min(perColumn, inFirst - colStart);
        QList<int> want, least;
        for (int k = colStart; k < colStart + n; ++k) {
            least << std::min(std::max(1, minimum[k]), screenHeight);
            want << std::min(std::max(wanted[k], least.last()), screenHeight);
        }
        const QList<int> h = shareColumn(want, least, screenHeight - gap * (n - 1));
        const int x = available.left() + (colStart / perColumn) * (w + hgap);
        int y = available.top();
        for (int i = 0; i < n; ++i) {
            QRect r(x, y, w, h[i]);
            if (r.bottom() > available.bottom())
                r.moveBottom(available.bottom());
            out << r;
            y += h[i] + gap;
        }
    }
    // Further layers take the first layer's places again, shifted down and
    // right, so that each covers about one window of the layer below.
    for (int k = inFirst; k < count; ++k) {
        const int layer = k / perLayer;
        const int shift = (layer * LayerShift) % std::max(1, std::min(w, screenHeight) / 2);
        // Across the columns first, so that no column takes them all.
        const int j = k % perLayer;
        const int slot = std::min(inFirst - 1, (j % columns) * perColumn + (j / columns) % perColumn);
        QRect r = out[slot].translated(shift, shift);
        // Within the screen wherever the shift put it.
        if (r.right() > available.right())
            r.moveRight(available.right());
        if (r.bottom() > available.bottom())
            r.moveBottom(available.bottom());
        out << r;
    }
    return out;
}

#ifndef FACEGEN_COMPOSE_H
#define FACEGEN_COMPOSE_H

// Composes face items from the pictures the way a face draws them, for the
// previews, the application icon and the splash: colour, colour cover,
// legend, display mask, key frame; displays as text on their background.

#include "models.h"

#include <QColor>
#include <QImage>
#include <QMap>
#include <QSize>

namespace facegen {

using ImageSet = QMap<QString, QImage>;

// A legend as a face shows it: the 36 x 24 key face rendered with the
// panel's legend fonts, with a margin of 2, set pixels black on
// transparent (null for an empty legend).
QImage legendImage(const QString &text, int flags = 0);

// An LCD or LED item of size px at press progress p (0 up, 1 down).
// Missing pictures leave their layer out.
QImage composeKey(const ImageSet &art, const Sequence &seq, const QSize &px, const QColor &colour,
                  const QImage &legend, double p, bool upDown);

// The background a face generates for a display window of that size:
// a soft border of nested outlines and a dark interior.
QImage displayBackground(const QSize &px);

// A display window showing text (one line of chars characters) in the
// display colour, over its background.
QImage composeDisplay(const QSize &px, const QString &text, int chars);

} // namespace facegen

#endif

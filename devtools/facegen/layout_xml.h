#ifndef FACEGEN_LAYOUT_XML_H
#define FACEGEN_LAYOUT_XML_H

// Layout files: writing a face as a KTPPanel document (element content
// only, no attributes), and reading one back into placed items for the
// previews.

#include "models.h"

#include <QByteArray>
#include <QMap>
#include <QRectF>

namespace facegen {

QByteArray layoutXml(const FaceLayout &face);

// One item of a layout file, placed in layout units.
struct PlacedItem {
    QString name; // of the group that made it
    QString type;
    int id = -1;
    QRectF rect;
    QString sequence;
    bool upDown = false;
    int vacuumLines = 2;
    int vacuumChars = 20;
};

struct ReadLayout {
    QString background;
    QSize panel;
    QSize window;
    QMap<QString, Sequence> sequences;
    QList<PlacedItem> items; // document order
};

// Reads what layoutXml writes (the same element rules a face uses: unknown
// elements skipped, typed groups listed, offsets summed over the nesting).
// False with a message on malformed XML or a group naming an unknown size.
bool readLayout(const QByteArray &xml, ReadLayout &out, QString *error);

} // namespace facegen

#endif

#ifndef FACEGEN_ICONS_H
#define FACEGEN_ICONS_H

// The host's own pictures: application and rack window icons, tool bar
// actions, status icons of the panel list, the comm indicator's mask and
// the splash shown while a face is prepared.

#include "compose.h"

#include <QImage>

namespace facegen {

QImage appIcon(const ImageSet &art);  // 256 x 256
QImage rackIcon();                    // 64 x 64
QImage splash(const ImageSet &art);   // 480 x 300

// Tool bar actions, 32 x 32.
QImage newIcon();
QImage deleteIcon();
QImage startIcon();
QImage stopIcon();

// Status column icons, 32 x 32.
QImage lampIcon(bool lit);   // started_yes / started_no
QImage signIcon(bool ok);    // sign_ok / sign_notok

// The comm indicator's square: only its alpha channel is used.
QImage commMask();           // 32 x 32

} // namespace facegen

#endif

#ifndef FACEGEN_PREVIEW_H
#define FACEGEN_PREVIEW_H

// Previews to check the assets by eye: every face composed from its layout
// file and pictures as written (background, keys at their places with
// sample colours and legends, one key held down, display frames and
// display text), all faces stacked as in a rack, and a contact sheet of
// every picture.

#include <QString>

namespace facegen {

// Reads the layouts and pictures under resourceDir and writes
// face_<model>.png, rack.png and assets.png into outDir. False with a
// message on standard error when something cannot be read or written.
bool writePreviews(const QString &resourceDir, const QString &outDir);

} // namespace facegen

#endif

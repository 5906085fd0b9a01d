#ifndef BUILTIN_IMAGES_H
#define BUILTIN_IMAGES_H

// The pictures every face knows without an upload: image ids 0 to 22, each a
// standard 36 x 24 face (120 bytes in FaceImage layout).

#include <QtGlobal>

namespace buttondriver {

// The 120 bytes of built-in image id, or nullptr when id is not 0..22.
const quint8 *builtinImageData(int id);

} // namespace buttondriver

#endif

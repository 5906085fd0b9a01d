#ifndef RM_JSON_H
#define RM_JSON_H

// The JSON the remote API gives of panels and of the items of their faces.
// An item's state is read from the button the host's button driver applies
// records to (its ButtonShown) and from the driver's own flash and animation
// state, never from the firmware: both hosts give the same JSON for the
// same records.

#include "rm_host.h"

#include <QJsonObject>

namespace remote {

// "lcd", "led", "display", "shaft", "shaft_up", "shaft_down", "screen",
// "widget", "utility".
QString itemKindText(int type);

QJsonObject panelJson(const PanelSummary &p);
// One item: id, kind, place and size in layout units, and what it shows
// (for LEDs, LCD keys and display windows).
QJsonObject itemJson(const FaceView &face, const PAN_Item::Setup &item);
// The item of that id (the later one when two share it), or nullptr.
const PAN_Item::Setup *findItem(const FaceView &face, int id);
// {"width", "height", "items": [...]}
QJsonObject faceJson(const FaceView &face);
// "#rrggbb"
QString colorText(const quint8 (&rgb)[3]);
// Whether a key colour shows a lit lamp: bright and coloured, not the grey,
// white, black or dim colour of an unlit cap.
bool lampLit(const quint8 (&rgb)[3]);

} // namespace remote

#endif

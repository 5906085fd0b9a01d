#ifndef FACEGEN_MODELS_H
#define FACEGEN_MODELS_H

// The faces of the panel models: which keys, displays and frames each has
// and where they sit. A face is built from blocks of keys laid left to right
// across the key field of the front plate (a block is a few rows of keys of
// one function), display banks above them on the 2U models or in line with
// the keys on the 1U ones; each block and bank becomes a group of the
// layout file with one child group per row.

#include <QList>
#include <QSize>
#include <QString>

namespace facegen {

// Front plate geometry in layout units (the Panel size is 1200 wide).
constexpr int PANEL_W = 1200;
constexpr int EAR_W = 44;         // rack ear at each end, with its screws
constexpr int FIELD_INSET_Y = 6;  // the key field's edge below and above
constexpr int DISPLAY_W = 100;    // a text display window
constexpr int DISPLAY_H = 40;
constexpr int DISPLAY_PAD = 8;    // frame around the displays of a bank
constexpr int DISPLAY_GAP = 6;    // between displays of a bank

// Width of the frame behind a bank of n displays.
int displayFrameWidth(int n);
inline int displayFrameHeight() { return DISPLAY_H + 2 * DISPLAY_PAD; }

// One group of the layout file that creates items.
struct ItemGroup {
    QString name;
    int x = 0;        // offset within the parent group
    int y = 0;
    QString type;     // "LCD", "Vacuum", "Widget"
    QString size;
    QString sequence;
    QList<int> ids;   // item ids in order; -1 leaves a place empty
    bool range = false; // write ids as an item_range (contiguous, ascending)
    double spacing = 0;
    bool pushable = true;
    bool upDown = false; // led_type lbt_UpDownColors
    int vacuumLines = 0; // Vacuum items: lines and characters per line
    int vacuumChars = 0;
};

// A top-level group: positions its children.
struct PlacedGroup {
    QString name;
    int x = 0;
    int y = 0;
    QList<ItemGroup> children;
};

struct NamedSize {
    QString name;
    int width;
    int height;
};

struct Sequence {
    QString name;
    QStringList frames;
    QStringList masks;
    QStringList covers;
    int durationFw = 60;
    int durationRv = 200;
};

struct FaceLayout {
    QString model;            // "SK2000A", or "none"
    QSize panel;
    QSize window;
    QString background;
    QList<NamedSize> sizes;   // Panel and Window first
    QList<Sequence> sequences;
    QList<PlacedGroup> groups;
};

// Every face: the twelve models in type order, then "none". Each is checked
// for keys and displays inside the key field and not overlapping; a face
// that fails stops the generator with a message (a mistake in the tables
// here, never in input).
QList<FaceLayout> allFaces();

// The layout file name of a face ("layout_sk2000a.xml", "layout_none.xml").
QString layoutFileName(const FaceLayout &face);

// The display frame pictures the faces use, by number of displays.
QList<int> displayFrameSizes();
QString displayFrameName(int displays);

} // namespace facegen

#endif

#ifndef LEGEND_FONTS_H
#define LEGEND_FONTS_H

// The two pixel fonts of LCD key legends and text displays, for the character
// codes 0 to 126 (codes 0..31 are blank). One byte a glyph row, leftmost pixel
// in bit 7. Glyphs sit at a pitch of 7 pixels, so a glyph's eighth column
// overlaps the first column of the next one.
//
// LegendFontSmall / LegendFontLarge are the glyphs as designed (see
// legend_font_small.cpp / legend_font_large.cpp for how to edit them). Legends
// are drawn emboldened: every row byte b becomes b | (b << 1), except for "m"
// and "@", which are designed at their final weight. The emboldened copies
// are made once per process, on first use.

#include <QtGlobal>

namespace buttondriver {

enum {
    FONT_GLYPHS = 127,
    FONT_SMALL_ROWS = 8,
    FONT_LARGE_ROWS = 12,
    GLYPH_PITCH = 7
};

extern const quint8 (&LegendFontSmall)[FONT_GLYPHS][FONT_SMALL_ROWS];
extern const quint8 (&LegendFontLarge)[FONT_GLYPHS][FONT_LARGE_ROWS];

// A font ready to draw. glyph() gives the rows of a code 0..126 and nullptr
// for any other code.
struct LegendFont
{
    int rows;
    const quint8 *table; // FONT_GLYPHS * rows bytes

    const quint8 *glyph(int code) const
    {
        return code >= 0 && code < FONT_GLYPHS ? table + code * rows : nullptr;
    }
};

// The emboldened fonts (thread-safe; emboldened on the first call).
const LegendFont &boldFontSmall();
const LegendFont &boldFontLarge();

// One row byte emboldened the way legends are drawn.
constexpr quint8 emboldenRow(quint8 b)
{
    return quint8(b | (b << 1));
}

} // namespace buttondriver

#endif

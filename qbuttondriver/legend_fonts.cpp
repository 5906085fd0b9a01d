#include "legend_fonts.h"

#include <cstring>

namespace buttondriver {

namespace {

// "m" and "@" carry detail one pixel apart, which emboldening would fill in;
// they are designed at their final weight instead.
bool keepsWeight(int code)
{
    return code == 'm' || code == '@';
}

template <int Rows>
struct BoldTable
{
    quint8 glyph[FONT_GLYPHS][Rows];

    explicit BoldTable(const quint8 (&src)[FONT_GLYPHS][Rows])
    {
        std::memcpy(glyph, src, sizeof glyph);
        for (int code = 0; code < FONT_GLYPHS; ++code)
            if (!keepsWeight(code))
                for (int r = 0; r < Rows; ++r)
                    glyph[code][r] = emboldenRow(glyph[code][r]);
    }
};

} // namespace

// Function-local statics: built once, on first use, safely across threads.
const LegendFont &boldFontSmall()
{
    static const BoldTable<FONT_SMALL_ROWS> table(LegendFontSmall);
    static const LegendFont font{FONT_SMALL_ROWS, &table.glyph[0][0]};
    return font;
}

const LegendFont &boldFontLarge()
{
    static const BoldTable<FONT_LARGE_ROWS> table(LegendFontLarge);
    static const LegendFont font{FONT_LARGE_ROWS, &table.glyph[0][0]};
    return font;
}

} // namespace buttondriver

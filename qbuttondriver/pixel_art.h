#ifndef PIXEL_ART_H
#define PIXEL_ART_H

// Compile-time readers for the pixel art that the legend fonts and the
// built-in face images are written in: '#' is a lit pixel, '.' a clear one.
// The art is checked with static_assert where it is defined, so a typo in a
// glyph or picture stops the build instead of drawing garbage.

#include <QtGlobal>

namespace buttondriver {
namespace pixelart {

constexpr int length(const char *s)
{
    int n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

// Eight art characters to one row byte, leftmost pixel in bit 7.
constexpr quint8 rowBits(const char *s)
{
    quint8 b = 0;
    for (int i = 0; i < 8; ++i)
        if (s[i] == '#')
            b = quint8(b | (0x80 >> i));
    return b;
}

// ---- Fonts ---------------------------------------------------------------
// A font is drawn as blocks of Rows text lines; each block shows 8 glyphs side
// by side, 8 characters a glyph, one space between glyphs. Block k holds the
// codes 32 + 8k .. 39 + 8k, so 12 blocks cover 32..127; code 127 is not part
// of the table and stays blank. Codes 0..31 have no art and are blank.

constexpr int kFontGlyphs = 127;
constexpr int kArtFirstCode = 32;
constexpr int kArtBlocks = 12;
constexpr int kArtGlyphsPerLine = 8;
constexpr int kArtLineLength = kArtGlyphsPerLine * 9 - 1;

template <int Rows>
struct FontTable
{
    quint8 glyph[kFontGlyphs][Rows];
};

template <int Rows, int N>
constexpr bool fontArtValid(const char *const (&art)[N])
{
    if (N != kArtBlocks * Rows)
        return false;
    for (int l = 0; l < N; ++l) {
        if (length(art[l]) != kArtLineLength)
            return false;
        for (int i = 0; i < kArtLineLength; ++i) {
            const char c = art[l][i];
            if (i % 9 == 8) {
                if (c != ' ')
                    return false;
            } else if (c != '#' && c != '.') {
                return false;
            } else if (i % 9 == 0 && c == '#') {
                // The leftmost column is where emboldening grows into; a
                // glyph of more than 7 columns would run into its neighbours.
                return false;
            } else if (l >= N - Rows && i >= 7 * 9 && c == '#') {
                return false; // code 127 has no glyph
            }
        }
    }
    return true;
}

template <int Rows, int N>
constexpr FontTable<Rows> parseFontArt(const char *const (&art)[N])
{
    FontTable<Rows> t{};
    for (int block = 0; block < kArtBlocks; ++block) {
        for (int g = 0; g < kArtGlyphsPerLine; ++g) {
            const int code = kArtFirstCode + block * kArtGlyphsPerLine + g;
            if (code >= kFontGlyphs)
                continue;
            for (int r = 0; r < Rows; ++r)
                t.glyph[code][r] = rowBits(art[block * Rows + r] + g * 9);
        }
    }
    return t;
}

// ---- Face pictures -------------------------------------------------------
// A picture is 24 lines of 36 characters: one standard 36 x 24 face. It
// becomes 120 bytes, 5 a row; the 4 pixels past column 35 stay clear.

constexpr int kPictureWidth = 36;
constexpr int kPictureRows = 24;
constexpr int kPictureBytesPerLine = 5;
constexpr int kPictureBytes = kPictureBytesPerLine * kPictureRows;

struct Picture
{
    quint8 bytes[kPictureBytes];
};

constexpr bool pictureArtValid(const char *const (&art)[kPictureRows])
{
    for (int r = 0; r < kPictureRows; ++r) {
        if (length(art[r]) != kPictureWidth)
            return false;
        for (int x = 0; x < kPictureWidth; ++x)
            if (art[r][x] != '#' && art[r][x] != '.')
                return false;
    }
    return true;
}

constexpr Picture parsePicture(const char *const (&art)[kPictureRows])
{
    Picture p{};
    for (int r = 0; r < kPictureRows; ++r)
        for (int x = 0; x < kPictureWidth; ++x)
            if (art[r][x] == '#')
                p.bytes[r * kPictureBytesPerLine + x / 8] |= quint8(0x80 >> (x % 8));
    return p;
}

} // namespace pixelart
} // namespace buttondriver

#endif

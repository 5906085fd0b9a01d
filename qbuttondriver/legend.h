#ifndef LEGEND_H
#define LEGEND_H

// Legends of LCD keys and the text of text displays, drawn with the built-in
// pixel fonts (legend_fonts.h).

#include <QString>

class QBitmap;
class QImage;

namespace buttondriver {

class FaceImage;

// Draws a legend into image (normally a fresh face image; a wider image for
// scrolling legends). The text is split at "\n": one line is drawn with the
// large font at row 6, two lines with the large font at rows 0 and 12, three
// lines with the small font at rows 0, 8 and 16; any other number of lines
// draws nothing. Each line is centred on the 36-pixel face (at column 0 when
// it is wider). Flags (TextFlag): 0x02/0x04/0x08 draw line 1/2/3 inverted,
// 0x01 inverts the whole image at the end.
void renderLegend(FaceImage &image, const QString &text, int flags);

// Draws one line of text at (x, y) with the small (large == false) or large
// font, inverted when asked: an 8-pixel-wide lit block per character with the
// glyph dark. Codes 127 and above are skipped but still take their place.
void drawLegendLine(FaceImage &image, const QString &line, int x, int y, bool large,
                    bool inverted);

// Text display line: 8 rows, 8 pixels a character (one glyph byte a row, no
// overlap), from the small font; codes 127 and above are blank. Index 1 of the
// image is a set pixel; empty text gives a null image.
QImage textImage(const QString &text);
// The same as a bitmap (needs a QGuiApplication, as every pixmap does).
QBitmap textBitmap(const QString &text);

} // namespace buttondriver

#endif

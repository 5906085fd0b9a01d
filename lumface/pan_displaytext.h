#ifndef PAN_DISPLAYTEXT_H
#define PAN_DISPLAYTEXT_H

// The text of a text display (a face's Vacuum item): one line of any width,
// or two lines of 20 characters, each line padded with spaces to the
// display's width, lit in the display colour on the dark display glass.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

namespace pan_display {

// Displays are at most this many characters wide.
enum { MaxCharsPerLine = 256 };

QColor textColor();       // (150, 255, 50)
QColor backgroundColor(); // the glass behind the characters

// True for the layouts a display can show (1 line, or 2 lines of 20, at
// most MaxCharsPerLine wide); otherwise logs the critical line "unhandled
// vacuum line count case" and returns false.
bool checkCase(int lines, int chars);

// The display's lines of text: the first lines of the text (split at "\n"),
// each cut or padded with spaces to chars characters.
QStringList displayLines(const QString &text, int lines, int chars);

// With the built-in 8-row font: 8 pixels a character, 8 rows a line, then
// doubled in size. For an unhandled case the 100 x 100 magenta square.
QImage renderBitmapText(const QString &text, int lines, int chars);
// With a font, for a display of the given size: each line left-aligned and
// vertically centred in its row. For an unhandled case the magenta square.
QImage renderFontText(const QString &text, int lines, int chars, const QSize &size,
                      const QFont &font);

// The picture of a display the face cannot show: a 100 x 100 square of
// (255, 0, 255).
QImage unhandledPicture();

// The font for one character cell: bold, antialiased, fixed pitch, no
// kerning, the largest pixel size from height + 10 down whose "O" fits the
// cell's width and whose height fits the cell's height.
QFont fontForCell(int cellWidth, int cellHeight);

} // namespace pan_display

#endif

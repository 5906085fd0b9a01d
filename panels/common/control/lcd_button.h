#ifndef LCD_BUTTON_H
#define LCD_BUTTON_H

// The legend cache of the LCD keys: what each key shows (a blank face, a
// legend of up to three lines of five characters, or a built-in picture)
// and its colour, so that only changes reach the platform.
//
// Keys are numbered 1..lcd_keys_total() (the model's button count, at most
// LCD_MAX_KEYS). A key number out of range or a missing line is a
// programming error: the call is refused and the failed check is printed
// with this module's path and the line, as an assertion would; the panel
// carries on.

#include <cstdint>

enum {
    LCD_MAX_KEYS = 128,
    LCD_LINE = 5,                // characters per legend line
    LCD_FORCE = 0x8000,          // legend flag: send even when unchanged
    LCD_FLASH_MASK = 0x0007,     // legend flags: flash mode
    LCD_PERCENT = 0x0080,        // number legend: "  5%"
    LCD_NUMBER_WIDE = 0x0100,    // number legend: "%3.1d "
    LCD_GRAPHIC_UP = 0,          // scroll arrows
    LCD_GRAPHIC_DOWN = 1
};

// What a key last showed.
enum { LCD_KIND_NONE = 0, LCD_KIND_BLANK = 1, LCD_KIND_LEGEND = 2, LCD_KIND_GRAPHIC = 3 };

// Clears the cache, starts the platform's button output, reads the number
// of keys of the current model and blanks every key with colour 0.
void lcd_init();
int lcd_keys_total();

// A legend of two or three lines (line3 may be null); lines shorter than
// five characters are padded with blanks. Nothing is sent when the key
// already shows exactly this legend with these flags (unless LCD_FORCE).
void lcd_set_legend(const char *line1, const char *line2, const char *line3, int key, uint32_t flags);
// Ten characters (or fewer, terminated) as two lines of five.
void lcd_set_legend_text(const char *text, int key);
// line1 over "ONAIR" when on, over five blanks when off.
void lcd_set_legend_onair(const char *line1, int key, int on);
// The number replaces the last line given: as "A007E" (three digits, four
// from 1000, a leading '-' for negative numbers, the fifth character kept),
// with LCD_PERCENT as "A  5%" / "A 42%" / "A100%", with LCD_NUMBER_WIDE as
// the first character and "%3.1d ".
void lcd_set_number_legend(const char *line1, const char *line2, const char *line3, int key,
                           int number, uint32_t flags);
// line1 over a time of count units of 1/divisor (0 means 25): "QQ:RR"
// below 100, "MM:SS" above, "--:--" for 65535 (no time).
void lcd_set_time_legend(const char *line1, int key, uint32_t count, uint32_t divisor);
// "HH:MM" over "SS:FF" from four BCD bytes.
void lcd_set_timecode_legend(int key, const uint8_t bcd[4]);
// A built-in picture; sent when the key shows another one or none.
void lcd_set_graphic(int key, uint8_t graphic);
// The key's colour code (a palette index); sent when it changed.
void lcd_set_colour(int key, uint8_t code);
// Inverts the legend (flash mode bits) or stops; the next legend is sent
// again whatever it is.
void lcd_set_flash(int key, int on);
// Five blanks on each line, once until something else is drawn.
void lcd_blank_key(int key);
// Every key's colour, and no key flashing.
void lcd_all_keys_colour(uint8_t code);
// Every key blank with colour 0.
void lcd_reset_all();
// Forgets what every key shows: the next legend and colour of each key
// are passed on to the platform (which still drops what the face already
// shows).
void lcd_forget_all();

// The cache as it stands, for the panel logic and tests: kind, lines
// (terminated copies), colour (-1 when none was set) and extra flag bits.
struct LcdShown {
    uint8_t kind;
    char line[3][LCD_LINE + 1];
    uint8_t third_line;
    uint8_t graphic;
    int colour;
    uint32_t flags;
    uint32_t extra;
};
int lcd_shown(int key, LcdShown *out);

#endif

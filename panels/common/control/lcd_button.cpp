// The legend cache. Every operation compares with what the key shows and
// passes only a change on to the platform, so the key refresher can redraw
// every key over and over at no cost.

#include "control/lcd_button.h"

#include "plat.h"
#include "product.h"

#include <cstdio>
#include <cstring>

// The module path the refusals name, the same whatever tree it was built in.
static const char MODULE[] = "..\\panels\\common\\lcd_button";

struct LcdEntry {
    uint8_t kind;
    uint8_t third_line;            // a third line is in use
    uint8_t graphic;
    int16_t colour;                // -1: nothing sent yet
    uint32_t flags;                // of the last legend, LCD_FORCE while stale
    uint32_t extra;                // OR-ed into every legend sent
    char line[3][LCD_LINE];
};

static LcdEntry s_keys[LCD_MAX_KEYS + 1];   // index = key number
static int s_total;

// A failed programming check: printed as an assertion prints it, and the
// operation is refused. A host running hundreds of panels must not stop
// for one panel's mistake.
static void refuse(const char *check, int line)
{
    printf("Assertion failed: %s, file %s, line %d\n", check, MODULE, line);
}

// The entry of key, or null (refused) when key is out of range.
static LcdEntry *entry(int key, int line)
{
    if (key <= 0) {
        refuse("button > 0", line);
        return nullptr;
    }
    if (key > s_total) {
        refuse("button <= lcd_keysTotal", line);
        return nullptr;
    }
    return &s_keys[key];
}

#define ENTRY(key) entry((key), __LINE__)

// Five characters of text (fewer when terminated earlier), padded with
// blanks.
static void put_line(char out[LCD_LINE], const char *text)
{
    memset(out, ' ', LCD_LINE);
    if (!text)
        return;
    const size_t n = strnlen(text, LCD_LINE);
    memcpy(out, text, n);
}

int lcd_keys_total()
{
    return s_total;
}

// The legend as the platform takes it: terminated lines.
static void send_legend(int key, const LcdEntry *e)
{
    char l[3][LCD_LINE + 1];
    for (int i = 0; i < 3; ++i) {
        memcpy(l[i], e->line[i], LCD_LINE);
        l[i][LCD_LINE] = '\0';
    }
    // The platform sends only the style bits; keeping the force bit out of
    // what it compares lets it drop a forced legend the face already shows.
    plat_button_legend(key, l[0], l[1], e->third_line ? l[2] : nullptr,
                       (e->flags | e->extra) & ~uint32_t(LCD_FORCE));
}

void lcd_set_legend(const char *line1, const char *line2, const char *line3, int key, uint32_t flags)
{
    if (!line1) {
        refuse("legend1 != NULL", __LINE__);
        return;
    }
    if (!line2) {
        refuse("legend2 != NULL", __LINE__);
        return;
    }
    LcdEntry *e = ENTRY(key);
    if (!e)
        return;
    char l[3][LCD_LINE];
    put_line(l[0], line1);
    put_line(l[1], line2);
    put_line(l[2], line3);
    const uint8_t third = line3 ? 1 : 0;
    if (!(flags & LCD_FORCE) && e->kind == LCD_KIND_LEGEND && e->flags == flags && e->third_line == third
        && memcmp(e->line, l, third ? sizeof l : 2 * LCD_LINE) == 0)
        return;
    memcpy(e->line, l, sizeof l);
    e->third_line = third;
    e->kind = LCD_KIND_LEGEND;
    e->flags = flags;
    send_legend(key, e);
}

void lcd_set_legend_text(const char *text, int key)
{
    char l1[LCD_LINE + 1] = "", l2[LCD_LINE + 1] = "";
    if (text) {
        const size_t n = strnlen(text, 2 * LCD_LINE);
        const size_t first = n < size_t(LCD_LINE) ? n : size_t(LCD_LINE);
        memcpy(l1, text, first);
        l1[first] = '\0';
        if (n > LCD_LINE) {
            memcpy(l2, text + LCD_LINE, n - LCD_LINE);
            l2[n - LCD_LINE] = '\0';
        }
    }
    lcd_set_legend(l1, l2, nullptr, key, 0);
}

void lcd_set_legend_onair(const char *line1, int key, int on)
{
    lcd_set_legend(line1, on ? "ONAIR" : "     ", nullptr, key, 0);
}

// The number written over a five-character line, as the flags select.
static void format_number(char line[LCD_LINE], int number, uint32_t flags)
{
    char buf[16];
    if (flags & LCD_PERCENT) {
        // First character kept, then two places for the hundreds and tens,
        // the last digit and '%'.
        if (number < 0)
            number = 0;
        if (number > 199)
            number = 199;
        if (number < 10)
            snprintf(buf, sizeof buf, "  ");
        else if (number < 100)
            snprintf(buf, sizeof buf, " %d", number / 10);
        else
            snprintf(buf, sizeof buf, "1%d", (number / 10) % 10);
        snprintf(buf + 2, sizeof buf - 2, "%d%c", number % 10, '%');
        memcpy(line + 1, buf, 4);
    } else if (flags & LCD_NUMBER_WIDE) {
        snprintf(buf, sizeof buf, "%3.1d ", number);
        const size_t n = strlen(buf);
        memcpy(line + 1, buf, n < 4 ? n : 4);
    } else {
        // Three digits keep the fifth character; four fill the line. The
        // sign takes the first place.
        if (number > 9999)
            number = 9999;
        if (number < -9999)
            number = -9999;
        const int magnitude = number < 0 ? -number : number;
        if (number < 0)
            line[0] = '-';
        if (magnitude >= 1000) {
            snprintf(buf, sizeof buf, "%04d", magnitude);
            memcpy(line + 1, buf, 4);
        } else {
            snprintf(buf, sizeof buf, "%03d", magnitude);
            memcpy(line + 1, buf, 3);
        }
    }
}

void lcd_set_number_legend(const char *line1, const char *line2, const char *line3, int key,
                           int number, uint32_t flags)
{
    if (!line1) {
        refuse("legend1 != NULL", __LINE__);
        return;
    }
    if (!line2) {
        refuse("legend2 != NULL", __LINE__);
        return;
    }
    char l[3][LCD_LINE + 1];
    put_line(l[0], line1);
    put_line(l[1], line2);
    put_line(l[2], line3);
    format_number(l[line3 ? 2 : 1], number, flags);
    for (auto &line : l)
        line[LCD_LINE] = '\0';
    lcd_set_legend(l[0], l[1], line3 ? l[2] : nullptr, key, flags);
}

void lcd_set_time_legend(const char *line1, int key, uint32_t count, uint32_t divisor)
{
    if (divisor == 0)
        divisor = 25;
    char buf[32];
    const uint32_t q = count / divisor;
    const uint32_t r = count % divisor;
    if (count == 65535)
        snprintf(buf, sizeof buf, "--:--");
    else if (q < 100)
        snprintf(buf, sizeof buf, "%02u:%02u", unsigned(q), unsigned(r % 100));
    else
        snprintf(buf, sizeof buf, "%02u:%02u", unsigned((q / 60) % 100), unsigned(q % 60));
    buf[LCD_LINE] = '\0';
    lcd_set_legend(line1, buf, nullptr, key, 0);
}

// The two decimal digits of a BCD byte; a nibble that is no digit shows '-'.
static void bcd_digits(uint8_t b, char *out)
{
    const int hi = b >> 4, lo = b & 15;
    out[0] = hi <= 9 ? char('0' + hi) : '-';
    out[1] = lo <= 9 ? char('0' + lo) : '-';
}

void lcd_set_timecode_legend(int key, const uint8_t bcd[4])
{
    if (!bcd)
        return;
    char l1[LCD_LINE + 1] = "  :  ", l2[LCD_LINE + 1] = "  :  ";
    bcd_digits(bcd[0], l1);
    bcd_digits(bcd[1], l1 + 3);
    bcd_digits(bcd[2], l2);
    bcd_digits(bcd[3], l2 + 3);
    lcd_set_legend(l1, l2, nullptr, key, 0);
}

void lcd_set_graphic(int key, uint8_t graphic)
{
    LcdEntry *e = ENTRY(key);
    if (!e || (e->kind == LCD_KIND_GRAPHIC && e->graphic == graphic))
        return;
    e->kind = LCD_KIND_GRAPHIC;
    e->graphic = graphic;
    plat_button_image(key, graphic);
}

void lcd_set_colour(int key, uint8_t code)
{
    LcdEntry *e = ENTRY(key);
    if (!e || e->colour == code)
        return;
    e->colour = code;
    plat_button_colour(key, code);
}

void lcd_set_flash(int key, int on)
{
    LcdEntry *e = ENTRY(key);
    if (!e)
        return;
    if (on)
        e->extra |= LCD_FLASH_MASK;
    else
        e->extra &= ~uint32_t(LCD_FLASH_MASK);
    e->flags |= LCD_FORCE;
}

void lcd_blank_key(int key)
{
    LcdEntry *e = ENTRY(key);
    if (!e || e->kind == LCD_KIND_BLANK)
        return;
    memset(e->line, ' ', sizeof e->line);
    e->third_line = 1;
    e->kind = LCD_KIND_BLANK;
    e->flags = LCD_FORCE;
    send_legend(key, e);
}

void lcd_all_keys_colour(uint8_t code)
{
    for (int k = 1; k <= s_total; ++k) {
        lcd_set_colour(k, code);
        lcd_set_flash(k, 0);
    }
}

void lcd_reset_all()
{
    for (int k = 1; k <= s_total; ++k) {
        lcd_set_colour(k, 0);
        lcd_blank_key(k);
    }
}

void lcd_forget_all()
{
    for (int k = 1; k <= s_total; ++k) {
        LcdEntry *e = &s_keys[k];
        // Not blank, no picture, no colour: the next of each goes out.
        e->kind = LCD_KIND_NONE;
        e->colour = -1;
    }
}

void lcd_init()
{
    memset(s_keys, 0, sizeof s_keys);
    const int result = plat_buttons_start();
    if (result != 0)
        refuse("result == 0", __LINE__);
    for (LcdEntry &e : s_keys)
        e.colour = -1;
    int total = prod_button_count();
    if (total < 0)
        total = 0;
    s_total = total > LCD_MAX_KEYS ? int(LCD_MAX_KEYS) : total;
    lcd_reset_all();
}

int lcd_shown(int key, LcdShown *out)
{
    if (key <= 0 || key > s_total || !out)
        return 0;
    const LcdEntry *e = &s_keys[key];
    out->kind = e->kind;
    for (int i = 0; i < 3; ++i) {
        memcpy(out->line[i], e->line[i], LCD_LINE);
        out->line[i][LCD_LINE] = '\0';
    }
    out->third_line = e->third_line;
    out->graphic = e->graphic;
    out->colour = e->colour;
    out->flags = e->flags;
    out->extra = e->extra;
    return 1;
}

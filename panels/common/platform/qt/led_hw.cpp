// Lamps and LCD buttons of the emulated panel. Every call that changes what
// the face shows becomes one button-driver record to the host; unchanged
// values are not sent again.

#include "bd_records.h"
#include "plat.h"
#include "plat_host.h"
#include "product.h"

#include <QtDebug>
#include <cstring>

using namespace buttondriver;

enum { LAMP_FLASH_MS = 300, LEGEND_LINE = 5, BUTTON_COUNT = 256 };

struct Rgb {
    uint8_t r, g, b;
};

static const Rgb RED = {255, 0, 0};
static const Rgb GREEN = {0, 255, 0};
static const Rgb GREY = {200, 200, 200};
static const Rgb WHITE = {255, 255, 255};

// ---- lamps -------------------------------------------------------------------

static uint16_t s_lamp[PLAT_LAMP_COUNT];      // state byte | attribute byte << 8
static uint8_t s_extra[PLAT_LAMP_COUNT];      // extra lamp shown in lamp n
static uint8_t s_override[PLAT_LAMP_COUNT];   // lamp n forced on
static uint8_t s_lamp_unknown[PLAT_LAMP_COUNT]; // lamp n not sent since the output started

// Two lamps in one button with two colour areas: each colour byte carries
// the key lamp's intensity in its high nibble and the extra lamp's in its
// low nibble (each the top four bits of that lamp's colour byte).
static uint8_t nibbles(uint8_t key, uint8_t extra)
{
    return uint8_t((key & 0xf0) | (extra >> 4));
}

static Rgb mixed(bool keyOn, bool extraOn)
{
    const Rgb k = keyOn ? RED : GREY;
    const Rgb e = extraOn ? GREEN : GREY;
    return Rgb{nibbles(k.r, e.r), nibbles(k.g, e.g), nibbles(k.b, e.b)};
}

// Sends lamp n's colour for the current product.
static void lamp_show(int n)
{
    const uint8_t code = prod_code();
    const bool flashing = (s_lamp[n] >> 8) != 0;
    bool on = (s_lamp[n] & 0xff) != 0;
    if ((code == 34 && n < 12) || (code == 33 && n <= 20))
        on = on || s_override[n];

    Rgb c;
    switch (code) {
    case 34:
        c = n < 12 ? (on ? RED : GREY) : WHITE;
        break;
    case 33:
        c = n <= 8 ? mixed(on, s_extra[n]) : n <= 20 ? (on ? RED : GREY) : WHITE;
        break;
    case 36:
        c = n == 9 ? mixed(on, s_extra[n]) : n < 16 ? (on ? RED : GREY) : WHITE;
        break;
    default:
        if (on && flashing) {
            plat_send_record(makeColor2(n, GREEN.r, GREEN.g, GREEN.b, LAMP_FLASH_MS, GREY.r, GREY.g,
                                        GREY.b, LAMP_FLASH_MS));
            return;
        }
        c = on ? GREEN : GREY;
        break;
    }
    plat_send_record(makeColor(n, c.r, c.g, c.b));
}

void plat_led_set(int n, uint8_t state, uint8_t attr)
{
    if (n < 0 || n >= PLAT_LAMP_COUNT) {
        qCritical("led key out of range %d (%s,%d)", n, __FILE__, __LINE__);
        return;
    }
    const uint16_t v = uint16_t(state | (attr << 8));
    if (v == s_lamp[n] && !s_lamp_unknown[n])
        return;
    s_lamp[n] = v;
    s_lamp_unknown[n] = 0;
    lamp_show(n);
}

void plat_led_all_off()
{
    for (int n = 1; n < PLAT_LAMP_COUNT; ++n) {
        if (s_lamp[n]) {
            s_lamp[n] = 0;
            lamp_show(n);
        }
    }
}

void plat_led_set_extra(int index, int on)
{
    const int n = index + 1;
    if (n < 0 || n >= PLAT_LAMP_COUNT)
        return;
    const uint8_t v = on ? 1 : 0;
    if (s_extra[n] == v)
        return;
    s_extra[n] = v;
    lamp_show(n);
}

void plat_led_set_override(int lamp, int on)
{
    const int n = lamp + 1;
    if (n < 0 || n >= PLAT_LAMP_COUNT)
        return;
    s_override[n] = on ? 1 : 0;
    lamp_show(n);
}

// ---- palette -----------------------------------------------------------------

static uint8_t s_palette[256][3];
static bool s_palette_ready;

static void palette_init()
{
    static const struct {
        uint8_t index;
        uint8_t rgb[3];
    } defined[] = {
        {0, {0, 0, 0}},       {1, {0, 100, 0}},     {3, {0, 200, 0}},    {12, {200, 0, 0}},
        {15, {128, 70, 0}},   {51, {40, 255, 40}},  {63, {255, 255, 0}}, {133, {100, 50, 0}},
        {141, {255, 75, 0}},  {164, {128, 0, 0}},   {204, {255, 10, 10}}, {207, {255, 150, 0}},
        {255, {200, 120, 0}},
    };
    // Undefined entries show magenta, which no panel uses on purpose.
    for (auto &e : s_palette) {
        e[0] = 255;
        e[1] = 0;
        e[2] = 255;
    }
    for (const auto &d : defined)
        memcpy(s_palette[d.index], d.rgb, 3);
    s_palette_ready = true;
}

void plat_palette(uint8_t index, uint8_t rgb[3])
{
    if (!s_palette_ready)
        palette_init();
    memcpy(rgb, s_palette[index], 3);
}

// ---- buttons -----------------------------------------------------------------

struct ButtonCache {
    int16_t colour;        // palette index, -1 = none sent
    int16_t image;         // picture number, -1 = none sent
    uint8_t legend_sent;
    uint32_t attr;
    char text[3 * (LEGEND_LINE + 1)];  // joined legend as last sent
};

static ButtonCache s_button[BUTTON_COUNT];
static bool s_buttons_ready;

static void buttons_unknown()
{
    for (ButtonCache &c : s_button) {
        c.colour = -1;
        c.image = -1;
        c.legend_sent = 0;
    }
    s_buttons_ready = true;
}

int plat_buttons_start()
{
    buttons_unknown();
    // Every lamp off with no extra lamp or override, none of it sent yet.
    memset(s_lamp, 0, sizeof s_lamp);
    memset(s_extra, 0, sizeof s_extra);
    memset(s_override, 0, sizeof s_override);
    memset(s_lamp_unknown, 1, sizeof s_lamp_unknown);
    return 0;
}

void plat_buttons_forget()
{
    buttons_unknown();
    memset(s_lamp_unknown, 1, sizeof s_lamp_unknown);
}

static ButtonCache *button(int b)
{
    if (!s_buttons_ready)
        buttons_unknown();
    if (b < 0 || b >= BUTTON_COUNT) {
        qCritical("button out of range %d (%s,%d)", b, __FILE__, __LINE__);
        return nullptr;
    }
    return &s_button[b];
}

void plat_button_colour(int b, uint8_t palette_index)
{
    ButtonCache *c = button(b);
    if (!c || c->colour == palette_index)
        return;
    c->colour = palette_index;
    uint8_t rgb[3];
    plat_palette(palette_index, rgb);
    plat_send_record(makeColor(b, rgb[0], rgb[1], rgb[2]));
}

void plat_button_image(int b, int image)
{
    ButtonCache *c = button(b);
    if (!c || c->image == image)
        return;
    c->image = int16_t(image);
    // A picture replaces the legend: the next legend must be sent again.
    c->legend_sent = 0;
    plat_send_record(makeButtonImage(b, image));
}

// Appends one legend line without leading and trailing blanks.
static size_t put_trimmed(char *out, const char *line)
{
    if (!line)
        return 0;
    size_t n = strnlen(line, LEGEND_LINE);
    size_t start = 0;
    while (start < n && line[start] == ' ')
        ++start;
    while (n > start && line[n - 1] == ' ')
        --n;
    memcpy(out, line + start, n - start);
    return n - start;
}

void plat_button_legend(int b, const char *line1, const char *line2, const char *line3,
                        uint32_t attr)
{
    ButtonCache *c = button(b);
    if (!c)
        return;

    char l[3][LEGEND_LINE + 1];
    size_t len[3];
    const char *lines[3] = {line1, line2, line3};
    for (int i = 0; i < 3; ++i) {
        len[i] = put_trimmed(l[i], lines[i]);
        l[i][len[i]] = '\0';
    }
    // Lines joined by "\n"; an empty second line only stands before a third.
    char text[sizeof c->text];
    size_t n = 0;
    memcpy(text, l[0], len[0]);
    n += len[0];
    if (len[1] || len[2]) {
        text[n++] = '\n';
        memcpy(text + n, l[1], len[1]);
        n += len[1];
    }
    if (len[2]) {
        text[n++] = '\n';
        memcpy(text + n, l[2], len[2]);
        n += len[2];
    }
    text[n] = '\0';

    if (c->legend_sent && c->attr == attr && strcmp(c->text, text) == 0)
        return;
    memcpy(c->text, text, n + 1);
    c->attr = attr;
    c->legend_sent = 1;
    // A legend replaces the picture: the next picture must be sent again.
    c->image = -1;
    plat_send_record(makeText(b, QByteArray(text, int(n)), (attr & 7) * 2));
}

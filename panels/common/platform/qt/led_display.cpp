// The text display windows of the menu models: ten windows, shown on the
// face as items with ids 1000 to 1009.

#include "bd_records.h"
#include "plat.h"
#include "plat_host.h"

#include <cstdio>
#include <cstring>

using namespace buttondriver;

enum { WINDOW_CHARS = 8, ALL_WINDOWS = 255 };

// What each window shows (first eight characters), empty when clear.
static char s_window[PLAT_WINDOWS][WINDOW_CHARS + 1];

static void send_text(int window, const char *text)
{
    plat_send_record(makeText(DISPLAY_ID_BASE + window, QByteArray(text), 0));
}

void plat_display_text(int window, const char *text)
{
    if (!text)
        text = "";
    if (window == ALL_WINDOWS) {
        for (int w = 0; w < PLAT_WINDOWS; ++w)
            send_text(w, text);
        return;
    }
    if (window < 0 || window >= PLAT_WINDOWS) {
        format_msg("invalid window index %d (%s,%d)\n", window, __FILE__, __LINE__);
        return;
    }
    // A window holds eight characters; a longer text cannot equal what it
    // holds and is always sent.
    if (strlen(text) <= WINDOW_CHARS && strcmp(s_window[window], text) == 0)
        return;
    strncpy(s_window[window], text, WINDOW_CHARS);
    s_window[window][WINDOW_CHARS] = '\0';
    send_text(window, text);
}

void plat_display_clear(int window)
{
    if (window < 0 || window >= PLAT_WINDOWS) {
        printf("invalid window index %d\n", window);
        return;
    }
    if (!s_window[window][0])
        return;
    s_window[window][0] = '\0';
    send_text(window, "");
}

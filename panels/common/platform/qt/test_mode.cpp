// The key test of the setup menu: every key of the model shows its number,
// then all keys go red, green, blue and white, TEST_PHASE_MS each, so that
// a missing colour or a key that shows nothing stands out. It runs from the
// loop pass (the setup menu asks whether it still runs at each refresh
// step) and draws straight to the host, past the button caches, which are
// forgotten when it ends.

#include "bd_records.h"
#include "ms_clock.h"
#include "plat.h"
#include "plat_host.h"
#include "product.h"

#include <cstdio>

using namespace buttondriver;

enum { TEST_PHASE_MS = 600, TEST_PHASES = 4 };

static const uint8_t PHASE_RGB[TEST_PHASES][3] = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

static bool s_running;
static int s_phase;            // the phase drawn last
static uint32_t s_started;

static void draw_numbers()
{
    const int count = prod_button_count();
    for (int b = 1; b <= count; ++b) {
        char text[16];
        snprintf(text, sizeof text, "Key\n%d", b);
        plat_send_record(makeText(b, text, 0));
    }
}

static void draw_phase(int phase)
{
    s_phase = phase;
    const uint8_t *c = PHASE_RGB[phase];
    plat_send_record(makeColor(ALL_BUTTONS, c[0], c[1], c[2]));
}

static void finish()
{
    s_running = false;
    plat_buttons_forget();
    printf("test mode finished\n");
}

void plat_test_mode()
{
    printf("test mode\n");
    s_running = true;
    s_started = msc_now();
    draw_numbers();
    draw_phase(0);
}

int plat_test_mode_running()
{
    if (!s_running)
        return 0;
    const uint32_t elapsed = msc_now() - s_started;
    const int phase = int(elapsed / TEST_PHASE_MS);
    if (phase >= TEST_PHASES) {
        finish();
        return 0;
    }
    if (phase != s_phase)
        draw_phase(phase);
    return 1;
}

void plat_test_mode_stop()
{
    if (s_running)
        finish();
}

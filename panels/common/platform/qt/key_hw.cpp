// Key hardware of the emulated panel: the key state array that the host's
// key events fill in, and the key scan that turns its changes into press,
// repeat and release events for the panel logic.

#include "key_queue.h"
#include "panels_main.h"
#include "plat.h"

#include <cstring>

// Edge states.
enum { EDGE_IDLE = 0, EDGE_RELEASED = 1, EDGE_HELD = 2, EDGE_PRESSED = 3 };

// Function codes of keys that report no press, only hold and release, apart
// from these two which report presses too.
enum { FN_NONE = 0, FN_SOURCE_TOGGLE = 63, FN_SOURCE_CHOP = 64 };

enum {
    REPEAT_HOLD = 3,        // quarter-second steps before a key repeats
    NOFN_DIVIDER = 10,      // keys without a function code step 11 times slower
    PRESS_TIMER_START = 20
};

static uint8_t s_state[PLAT_KEY_COUNT];     // 1 = pressed (host key events)
static uint8_t s_edge[PLAT_KEY_COUNT];
static uint8_t s_function[PLAT_KEY_COUNT];
static uint8_t s_second[PLAT_KEY_COUNT];
static uint8_t s_lamp_capable[PLAT_KEY_COUNT];
static uint8_t s_hold[PLAT_KEY_COUNT];
static uint8_t s_repeat[PLAT_KEY_COUNT];
static uint8_t s_repeat_ticks;
static int s_nofn_divider;

uint8_t *plat_key_states()
{
    return s_state;
}

void plat_keys_clear()
{
    memset(s_state, 0, sizeof s_state);
    memset(s_edge, 0, sizeof s_edge);
    memset(s_function, 0, sizeof s_function);
    memset(s_second, 0, sizeof s_second);
    memset(s_lamp_capable, 0, sizeof s_lamp_capable);
    memset(s_hold, 0, sizeof s_hold);
    memset(s_repeat, 0, sizeof s_repeat);
    s_repeat_ticks = 0;
    s_nofn_divider = 0;
}

// No key pressed and none with an edge to report: the state of every key
// of an idle panel, on every tick. Both arrays are zero then (EDGE_IDLE is
// 0), which a few word loads tell, so the scans below are skipped.
static bool keys_quiet()
{
    uint64_t any = 0;
    for (int i = 0; i < PLAT_KEY_COUNT; i += 8) {
        uint64_t a, b;
        memcpy(&a, s_state + i, 8);
        memcpy(&b, s_edge + i, 8);
        any |= a | b;
    }
    return any == 0;
}

// Brings the edge states up to date with the key state array.
static void refresh_edges()
{
    if (keys_quiet())
        return;
    for (int k = 0; k < PLAT_KEY_COUNT; ++k) {
        if (!s_state[k]) {
            // A release stays pending until the scan reports it, so keys
            // released in the same tick are reported in turn.
            if (s_edge[k] != EDGE_RELEASED)
                s_edge[k] = (s_edge[k] == EDGE_HELD || s_edge[k] == EDGE_PRESSED) ? EDGE_RELEASED
                                                                                  : EDGE_IDLE;
        } else if (s_edge[k] != EDGE_HELD) {
            const uint8_t fn = s_function[k];
            s_edge[k] = (fn == FN_NONE || fn == FN_SOURCE_TOGGLE || fn == FN_SOURCE_CHOP) ? EDGE_PRESSED
                                                                                          : EDGE_HELD;
        }
    }
}

static uint8_t first_with_edge(uint8_t edge)
{
    if (keys_quiet())
        return PLAT_NO_KEY;
    refresh_edges();
    for (int k = 0; k < PLAT_KEY_COUNT; ++k)
        if (s_edge[k] == edge)
            return uint8_t(k);
    return PLAT_NO_KEY;
}

uint8_t plat_key_first_released() { return first_with_edge(EDGE_RELEASED); }
uint8_t plat_key_first_held() { return first_with_edge(EDGE_HELD); }
uint8_t plat_key_first_pressed() { return first_with_edge(EDGE_PRESSED); }

int plat_key_is_held(uint8_t key)
{
    if (key >= PLAT_KEY_COUNT)
        return 0;
    refresh_edges();
    return s_edge[key] == EDGE_HELD || s_edge[key] == EDGE_PRESSED;
}

int plat_key_press_waiting(uint8_t key)
{
    if (key >= PLAT_KEY_COUNT)
        return 0;
    refresh_edges();
    return s_edge[key] == EDGE_PRESSED;
}

void plat_key_set_function(uint8_t key, uint8_t code, uint8_t second)
{
    if (key >= PLAT_KEY_COUNT)
        return;
    s_function[key] = code;
    s_second[key] = second;
}

void plat_key_clear_function(uint8_t key)
{
    plat_key_set_function(key, FN_NONE, 0);
}

void plat_key_set_lamp_capable(uint8_t key)
{
    if (key < PLAT_KEY_COUNT)
        s_lamp_capable[key] = 1;
}

uint8_t plat_key_find_held(uint8_t code, uint8_t second)
{
    refresh_edges();
    for (int k = 0; k < PLAT_KEY_COUNT; ++k)
        if ((s_edge[k] == EDGE_HELD || s_edge[k] == EDGE_PRESSED) && s_function[k] == code
            && s_second[k] == second)
            return uint8_t(k);
    return PLAT_NO_KEY;
}

// Keys outside the key state array (hardware extension ports): none here.
static void scan_external_keys() {}

void plat_key_scan()
{
    // Nothing to release, hold or press.
    if (keys_quiet()) {
        scan_external_keys();
        return;
    }
    uint8_t k = plat_key_first_released();
    if (k != PLAT_NO_KEY) {
        s_edge[k] = EDGE_IDLE;
        s_hold[k] = 0;
        s_repeat[k] = 0;
        s_repeat_ticks = 0;
        kq_post(KEY_RELEASE, k);
    }

    k = plat_key_first_held();
    if (k != PLAT_NO_KEY) {
        if (s_hold[k] == REPEAT_HOLD) {
            // Repeating: an event every second tick.
            s_repeat[k] = 1;
            if (++s_repeat_ticks >= 254)
                s_repeat_ticks = 252;
            if (s_repeat_ticks & 1)
                kq_post(KEY_REPEAT, k);
        } else if (panels_quarter_flag()) {
            panels_set_quarter_flag(0);
            if (s_function[k] == FN_NONE) {
                // Keys without a function code count only every eleventh
                // quarter-second; the rest of this tick's scan waits.
                if (s_nofn_divider < NOFN_DIVIDER) {
                    ++s_nofn_divider;
                    return;
                }
                s_nofn_divider = 0;
            }
            ++s_hold[k];
        }
    }

    k = plat_key_first_pressed();
    if (k != PLAT_NO_KEY) {
        s_edge[k] = EDGE_HELD;
        panels_set_press_timer(PRESS_TIMER_START);
        panels_set_quarter_flag(0);
        kq_post(KEY_PRESS, k);
    }

    scan_external_keys();
}

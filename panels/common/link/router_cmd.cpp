#include "link/router_cmd.h"

#include "link/comms.h"
#include "config/names.h"
#include "link/reliable.h"
#include "link/rlink.h"

#include <cstdio>
#include <cstring>

static const char LEVEL_LETTERS[] = "VABCDEFGHIJKLMNOPQRSTUWXYZ";

static uint16_t s_xpt[RCMD_LEVELS][RCMD_DESTS];
static uint8_t s_lock[RCMD_DESTS];
static int s_sender_installed;

// Interrogations asked for before any router has spoken: there is nowhere
// to send them yet, and a message queued towards no address would hold up
// every message behind it until its resends ran out. Each destination is
// kept once, with the levels of every request for it merged, and asked
// for as soon as a router has been heard (the panel's own answer to that
// router goes first). Takes, locks, protects and salvos asked for then are
// dropped: carried out later, when nobody is looking, they would change
// the routing by surprise.
struct HeldInterrogation {
    uint16_t dest;
    uint32_t levels;
};
static HeldInterrogation s_held[RCMD_HELD_MAX];
static int s_held_count;

// ---- levels and numbers ----------------------------------------------------------

char rcmd_level_letter(int level)
{
    return (level >= 0 && level < RCMD_LEVELS) ? LEVEL_LETTERS[level] : '?';
}

void rcmd_levels_text(uint32_t mask, char *out)
{
    int n = 0;
    for (int l = 0; l < RCMD_LEVELS; ++l)
        if (mask & (1u << l))
            out[n++] = LEVEL_LETTERS[l];
    out[n] = '\0';
}

// Reads level letters at *p (at most 26); the first other character ends
// the set.
static uint32_t parse_levels(const char **p)
{
    uint32_t mask = 0;
    for (int n = 0; n < RCMD_LEVELS && **p; ++n) {
        const char *hit = strchr(LEVEL_LETTERS, **p);
        if (!hit)
            break;
        mask |= 1u << (hit - LEVEL_LETTERS);
        ++*p;
    }
    return mask;
}

// Reads at most five decimal digits at *p. Returns -1 when there is none.
static long parse_number(const char **p)
{
    long v = -1;
    for (int n = 0; n < 5 && **p >= '0' && **p <= '9'; ++n, ++*p)
        v = (v < 0 ? 0 : v * 10) + (**p - '0');
    return v;
}

static int lowest_level(uint32_t mask)
{
    for (int l = 0; l < 32; ++l)
        if (mask & (1u << l))
            return l;
    return -1;
}

// ---- state -------------------------------------------------------------------------

void rcmd_clear_state()
{
    for (auto &level : s_xpt)
        for (uint16_t &src : level)
            src = RCMD_UNKNOWN;
    memset(s_lock, 0, sizeof s_lock);
}

void rcmd_init()
{
    s_sender_installed = 1;
    s_held_count = 0;
    rcmd_clear_state();
}

uint16_t rcmd_source(int level, int dest)
{
    if (level < 0 || level >= RCMD_LEVELS || dest < 0 || dest >= RCMD_DESTS)
        return RCMD_UNKNOWN;
    return s_xpt[level][dest];
}

uint8_t rcmd_lock(int dest)
{
    return (dest >= 0 && dest < RCMD_DESTS) ? s_lock[dest] : 0;
}

// ---- sending -----------------------------------------------------------------------

static void send_text(const char *text)
{
    rlink_send('Q', reinterpret_cast<const uint8_t *>(text), int(strlen(text)), 1);
}

static void send_error()
{
    send_text(".E\r");
}

// A router has spoken: the destination record holds its address (an
// address whose first byte is 0 is no address).
static bool router_known()
{
    return rl_destination()[0] != 0;
}

static void hold_interrogation(int dest, uint32_t levels)
{
    for (int i = 0; i < s_held_count; ++i)
        if (s_held[i].dest == dest) {
            s_held[i].levels |= levels;
            return;
        }
    if (s_held_count == RCMD_HELD_MAX) {
        printf("No router yet: interrogate of destination %d dropped\n", dest + 1);
        return;
    }
    s_held[s_held_count].dest = uint16_t(dest);
    s_held[s_held_count].levels = levels;
    ++s_held_count;
}

void rcmd_send_held()
{
    if (!s_held_count || !router_known())
        return;
    const int n = s_held_count;
    s_held_count = 0;
    for (int i = 0; i < n; ++i)
        rcmd_request(RREQ_INTERROGATE, s_held[i].dest, int(s_held[i].levels), 0);
}

int rcmd_held_count()
{
    return s_held_count;
}

void rcmd_request(int type, int a, int b, int c)
{
    if (!s_sender_installed) {
        if (type == RREQ_ROUTE)
            printf("pellam_common sendFunct NULL\n");
        return;
    }
    if (!router_known()) {
        if (type == RREQ_INTERROGATE && a >= 0 && a < RCMD_DESTS)
            hold_interrogation(a, uint32_t(b));
        else
            printf("No router yet: request %d dropped\n", type);
        return;
    }
    char levels[RCMD_LEVELS + 1];
    char cmd[64];
    switch (type) {
    case RREQ_ROUTE: // source a, destination b, levels c
        rcmd_levels_text(uint32_t(c), levels);
        snprintf(cmd, sizeof cmd, ".S%s%.3d,%.3d\r", levels, b + 1, a + 1);
        send_text(cmd);
        break;
    case RREQ_LOCK:
    case RREQ_PROTECT: // destination a, on/off b
        snprintf(cmd, sizeof cmd, ".B%c%.3d\r", b ? (type == RREQ_LOCK ? 'L' : 'P') : 'U', a + 1);
        send_text(cmd);
        snprintf(cmd, sizeof cmd, ".BI%.3d\r", a + 1);
        send_text(cmd);
        break;
    case RREQ_SALVO: // salvo number a, sent as given
        snprintf(cmd, sizeof cmd, ".F%.3d\r", a);
        send_text(cmd);
        break;
    case RREQ_INTERROGATE: // destination a, levels b
        rcmd_levels_text(uint32_t(b), levels);
        snprintf(cmd, sizeof cmd, ".I%s%.3d\r", levels, a + 1);
        send_text(cmd);
        snprintf(cmd, sizeof cmd, ".BI%.3d\r", a + 1);
        send_text(cmd);
        break;
    default:
        break;
    }
}

// ---- receiving ---------------------------------------------------------------------

// ".A"/".U" levels destination "," source: a tally.
static void on_update(const char *p)
{
    const uint32_t mask = parse_levels(&p);
    const long dest = parse_number(&p);
    if (dest < 1 || *p != ',')
        return;
    ++p;
    const long src = parse_number(&p);
    // Sources 1..10000 on the wire; 10000 is "unknown".
    if (src < 1 || src > RCMD_UNKNOWN + 1 || dest > RCMD_DESTS)
        return;
    bool changed = false;
    for (int l = 0; l < RCMD_LEVELS; ++l) {
        if (!(mask & (1u << l)) || s_xpt[l][dest - 1] == uint16_t(src - 1))
            continue;
        s_xpt[l][dest - 1] = uint16_t(src - 1);
        changed = true;
    }
    if (changed)
        comms_request_redraw();
}

static void set_lock(long dest, uint8_t flags)
{
    if (dest < 1 || dest > RCMD_DESTS || s_lock[dest - 1] == flags)
        return;
    s_lock[dest - 1] = flags;
    comms_request_redraw();
}

void rcmd_set_lock(int dest, uint8_t flags)
{
    if (dest >= 0 && dest < RCMD_DESTS)
        set_lock(dest + 1, uint8_t(flags & (RCMD_LOCKED | RCMD_PROTECTED)));
}

static void on_lock(const char *text, int len)
{
    if (len < 4) {
        send_error();
        return;
    }
    const char kind = text[2];
    const char *p = text + 3;
    const long dest = parse_number(&p);
    const uint8_t cur = (dest >= 1 && dest <= RCMD_DESTS) ? s_lock[dest - 1] : 0;
    char reply[32];
    switch (kind) {
    case 'U':
        set_lock(dest, uint8_t(cur & ~RCMD_LOCKED));
        break;
    case 'L':
        set_lock(dest, uint8_t(cur | RCMD_LOCKED));
        break;
    case 'A': {
        if (*p != ',')
            return;
        ++p;
        const long v = parse_number(&p);
        if (v < 0)
            return;
        if (v == 255)
            set_lock(dest, uint8_t(cur | RCMD_LOCKED));
        else if (v == 1)
            set_lock(dest, uint8_t(cur | RCMD_PROTECTED));
        else
            set_lock(dest, uint8_t(cur & ~(RCMD_LOCKED | RCMD_PROTECTED)));
        break;
    }
    case 'I':
        if (dest < 0) {
            send_error();
            return;
        }
        snprintf(reply, sizeof reply, ".BA%03ld,%d\r", dest, (cur & RCMD_LOCKED) ? 255 : 0);
        send_text(reply);
        break;
    default:
        send_error();
        break;
    }
}

static void on_interrogate(const char *p)
{
    const uint32_t mask = parse_levels(&p);
    const long dest = parse_number(&p);
    if (dest < 0 || *p != '\r') {
        send_error();
        return;
    }
    const int level = lowest_level(mask);
    // Unknown (or out of range) answers 10000: the unknown source plus one.
    const long src = (level >= 0 && dest >= 1) ? rcmd_source(level, int(dest - 1)) : long(RCMD_UNKNOWN);
    char levels[RCMD_LEVELS + 1];
    rcmd_levels_text(mask, levels);
    char reply[64];
    snprintf(reply, sizeof reply, ".A%s%.3ld,%.3ld\r", levels, dest, src + 1);
    send_text(reply);
}

static void on_name_request(const char *text)
{
    const char kind = text[2];
    const char *p = text + 3;
    char reply[32];
    if (kind == 'D' || kind == 'S') {
        const long n = parse_number(&p);
        const char *name = n >= 1 ? names_get(kind == 'D' ? NAME_DEST : NAME_SOURCE, int(n - 1)) : nullptr;
        if (!name) {
            send_error();
            return;
        }
        snprintf(reply, sizeof reply, ".RA%c%8.8s\r", kind, name);
        send_text(reply);
    } else if (kind == 'L') {
        const int level = lowest_level(parse_levels(&p));
        const char *name = level >= 0 ? names_get(NAME_LEVEL, level) : nullptr;
        if (!name) {
            send_error();
            return;
        }
        snprintf(reply, sizeof reply, ".RAL%8.8s\r", name);
        send_text(reply);
    }
    // Other ".R" forms are not answered.
}

void rcmd_receive(const uint8_t *data, int len)
{
    if (!data || len < 3)
        return;
    // The text ends after its length; a zero byte inside ends it earlier.
    char text[RCMD_TEXT_MAX + 1];
    if (len > RCMD_TEXT_MAX)
        len = RCMD_TEXT_MAX;
    memcpy(text, data, size_t(len));
    text[len] = '\0';
    len = int(strlen(text));
    if (len < 3)
        return;
    if (text[0] != '.') {
        send_error();
        return;
    }
    switch (text[1]) {
    case '#': {
        unsigned long v = 0;
        const char *p = text + 2;
        int digits = 0;
        for (; *p; ++p, ++digits) {
            const char c = *p;
            const int d = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                   : -1;
            if (d < 0)
                break;
            if (digits < 8)
                v = v * 16 + unsigned(d);
            else
                v = ~0ul; // more digits than a 32-bit value holds: not 1
        }
        if (v == 1)
            send_text(".A\r");
        break;
    }
    case 'A':
    case 'U':
        on_update(text + 2);
        break;
    case 'F':
    case 'S':
    case 'E':
        break;
    case 'B':
        on_lock(text, len);
        break;
    case 'I':
        on_interrogate(text + 2);
        break;
    case 'R':
        on_name_request(text);
        break;
    default:
        send_error();
        break;
    }
}

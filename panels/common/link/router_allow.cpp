#include "link/router_allow.h"

#include "plat.h"

#include <cstdio>
#include <cstring>

static uint8_t s_addr[RA_MAX][4];
static int s_count;
static int s_active;

static char s_text[RA_FILE_MAX];

static bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',';
}

// Dotted decimal: four numbers of 1 to 3 digits, 0 to 255, nothing else.
static bool parse_address(const char *s, int n, uint8_t out[4])
{
    int at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= n || s[at] != '.')
                return false;
            ++at;
        }
        int digits = 0;
        unsigned v = 0;
        while (at < n && s[at] >= '0' && s[at] <= '9' && digits < 4) {
            v = v * 10 + unsigned(s[at] - '0');
            ++at;
            ++digits;
        }
        if (digits == 0 || digits > 3 || v > 255)
            return false;
        out[part] = uint8_t(v);
    }
    return at == n;
}

// A bad entry as printable text, cut short.
static void show(char *buf, int cap, const char *s, int n)
{
    int k = 0;
    for (int i = 0; i < n && k < cap - 4; ++i)
        buf[k++] = (s[i] >= 0x20 && s[i] < 0x7f) ? s[i] : '?';
    if (n > cap - 4 && k >= 3) {
        buf[k - 3] = '.';
        buf[k - 2] = '.';
        buf[k - 1] = '.';
    }
    buf[k] = '\0';
}

static void problem(const char *fmt, const char *arg)
{
    char line[160];
    snprintf(line, sizeof line, fmt, arg);
    printf("allowed routers: %s\n", line);
    format_msg("allowed routers: %s", line);
}

int ra_set_text(const char *text, int len)
{
    s_count = 0;
    s_active = 0;
    if (!text || len <= 0)
        return 0;
    int i = 0;
    while (i < len) {
        const char c = text[i];
        if (c == '#') {
            while (i < len && text[i] != '\n')
                ++i;
            continue;
        }
        if (is_separator(c)) {
            ++i;
            continue;
        }
        const int start = i;
        while (i < len && !is_separator(text[i]) && text[i] != '#')
            ++i;
        s_active = 1;
        uint8_t a[4];
        char shown[48];
        show(shown, int(sizeof shown), text + start, i - start);
        if (!parse_address(text + start, i - start, a) || a[0] == 0) {
            problem("\"%s\" is no router address, skipped", shown);
            continue;
        }
        if (s_count >= RA_MAX) {
            char limit[8];
            snprintf(limit, sizeof limit, "%d", int(RA_MAX));
            problem("more than %s addresses, the rest skipped", limit);
            break;
        }
        bool known = false;
        for (int k = 0; k < s_count; ++k)
            known = known || memcmp(s_addr[k], a, 4) == 0;
        if (!known)
            memcpy(s_addr[s_count++], a, 4);
    }
    if (s_active && s_count == 0)
        problem("%s", "no valid address listed: no router is accepted");
    return s_count;
}

void ra_load()
{
    const int n = plat_allowed_routers_read(s_text, int(sizeof s_text));
    ra_set_text(n > 0 ? s_text : nullptr, n > 0 ? n : 0);
    if (!s_active)
        return;
    // Said in the host's log too: a panel that ignores a router says why.
    char line[RA_MAX * 16 + 32];
    int len = snprintf(line, sizeof line, "allowed routers:");
    for (int i = 0; i < s_count; ++i)
        len += snprintf(line + len, sizeof line - size_t(len), " %u.%u.%u.%u", s_addr[i][0], s_addr[i][1],
                        s_addr[i][2], s_addr[i][3]);
    if (!s_count)
        snprintf(line + len, sizeof line - size_t(len), " none");
    printf("%s\n", line);
    format_msg("%s", line);
}

int ra_active() { return s_active; }
int ra_count() { return s_count; }

const uint8_t *ra_address(int i)
{
    return i >= 0 && i < s_count ? s_addr[i] : nullptr;
}

int ra_allows(const uint8_t addr[4])
{
    if (!s_active)
        return 1;
    for (int i = 0; i < s_count; ++i)
        if (memcmp(s_addr[i], addr, 4) == 0)
            return 1;
    return 0;
}

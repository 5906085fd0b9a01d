#include "control/name_search.h"

#include "config/panel_tables.h"
#include "control/ctl_state.h"

#include <cstring>

// Compares a display name with a typed text, skipping spaces on both sides.
static bool matches(const char *name, const char *text, int prefix)
{
    for (;;) {
        while (*name == ' ')
            ++name;
        while (*text == ' ')
            ++text;
        if (!*text)
            return prefix || !*name;
        if (*name != *text)
            return false;
        ++name;
        ++text;
    }
}

int ns_search(const char *text, int table, int prefix, int forward, int start)
{
    const PtRouteTable *t = table == NS_DESTS ? &panel_tables()->dests : &panel_tables()->sources;
    const int count = t->count < PT_NAMES ? t->count : int(PT_NAMES);
    if (!text || count == 0)
        return NS_NOT_FOUND;
    if (start < 0)
        start = 0;
    if (start >= count) {
        if (forward)
            return NS_NOT_FOUND;
        start = count - 1;
    }
    const int step = forward ? 1 : -1;
    for (int i = start; i >= 0 && i < count; i += step) {
        // Names fill at most 15 of their 16 bytes; the last one stays 0.
        char name[PT_DISPLAY_NAME + 1];
        memcpy(name, t->name[i], PT_DISPLAY_NAME);
        name[PT_DISPLAY_NAME] = '\0';
        if (matches(name, text, prefix))
            return i;
    }
    return NS_NOT_FOUND;
}

bool ns_names(const char *text, int table, int index)
{
    return index >= 0 && index < PT_NAMES && ns_search(text, table, 0, 1, index) == index;
}

void ns_copy(char *out, const char *in)
{
    out[0] = '\0';
    ns_append(out, in);
}

void ns_append(char *out, const char *in)
{
    size_t n = strlen(out);
    for (; in && *in && n < CTL_TEXT_MAX; ++in)
        if (*in != ' ')
            out[n++] = *in;
    out[n] = '\0';
}

void ns_copy_field(char *out, const char *field, int field_len)
{
    char text[CTL_TEXT_LEN];
    const int n = field_len < CTL_TEXT_MAX ? field_len : int(CTL_TEXT_MAX);
    int i = 0;
    for (; i < n && field[i]; ++i)
        text[i] = field[i];
    text[i] = '\0';
    ns_copy(out, text);
}

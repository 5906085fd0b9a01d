// Text displays. A display has a type, a field D (for most types a
// subpanel index; 8 or more blanks the display) and a level mask L from
// the runtime tables.

#include "control/displays.h"

#include "config/panel_tables.h"
#include "control/ctl_state.h"
#include "control/key_view.h"
#include "plat.h"

#include <cstdio>
#include <cstring>

static const char NAME_FAILED[] = "Name???";

static char s_own_text[PT_DISPLAYS][DSP_ROUTER_TEXT + 1];

void dsp_fit(const char *in, char *out)
{
    char squeezed[256];
    size_t n = 0;
    if (!in)
        in = "";
    // Leading blanks go; a run of blanks inside counts as one.
    while (*in == ' ')
        ++in;
    for (; *in && n + 1 < sizeof squeezed; ++in) {
        if (*in == ' ' && n > 0 && squeezed[n - 1] == ' ')
            continue;
        squeezed[n++] = *in;
    }
    squeezed[n] = '\0';
    if (n > DSP_WIDTH) {
        size_t m = 0;
        for (size_t i = 0; i < n; ++i)
            if (squeezed[i] != ' ')
                squeezed[m++] = squeezed[i];
        squeezed[m] = '\0';
        n = m;
    }
    memset(out, ' ', DSP_WIDTH);
    memcpy(out, squeezed, n < DSP_WIDTH ? n : size_t(DSP_WIDTH));
    out[DSP_WIDTH] = '\0';
}

void dsp_set_own_text(int i, const char *text)
{
    if (i < 0 || i >= PT_DISPLAYS)
        return;
    snprintf(s_own_text[i], sizeof s_own_text[i], "%s", text ? text : "");
}

// Texts a display shows, into out (at least 32 bytes); empty for blank.

static void source_name(char *out, int source)
{
    kv_name(out, source == KV_NONE ? nullptr : pt_source_name(source));
}

static void selected_dest(char *out, PtDisplay *d, const SubpanelState *s)
{
    // Takes through the Take key under this display go to this
    // destination.
    d->fixed_dest = s->dest;
    if (s->dest >= panel_tables()->dests.count)
        return;
    if (ctl_flags()->number_mode)
        snprintf(out, 32, "O/PUT %-3.3d ", s->dest + 1);
    else
        kv_name(out, pt_dest_name(s->dest));
}

static void dest_text(char *out, const SubpanelState *s)
{
    if (ctl_flags()->dest_error)
        snprintf(out, 32, "%s", NAME_FAILED);
    else
        snprintf(out, 32, "%s", s->dest_entry.text);
}

static void preset_text(char *out, const SubpanelState *s)
{
    if (ctl_flags()->take_error)
        snprintf(out, 32, "%s", NAME_FAILED);
    else
        snprintf(out, 32, "%s", s->preset_entry.text);
}

static void display_text(char *out, int i)
{
    PtDisplay *d = &panel_tables()->displays[i];
    const PanelFlags *f = ctl_flags();
    out[0] = '\0';
    if (d->type == DSP_OWN_TEXT) {
        snprintf(out, 32, "%s", s_own_text[i]);
        return;
    }
    if (d->type == DSP_DEST_SOURCE) {
        // D is a destination; the levels are those of L the first subpanel
        // has selected.
        const SubpanelState *first = ctl_subpanel(0);
        source_name(out, kv_routed(d->dest, d->level & first->level_mask));
        return;
    }
    const SubpanelState *s = ctl_subpanel(d->dest);
    if (!s)
        return;
    switch (d->type) {
    case DSP_SELECTED_DEST: selected_dest(out, d, s); break;
    case DSP_DEST_TEXT: dest_text(out, s); break;
    case DSP_ROUTED_SOURCE: source_name(out, kv_routed(s->dest, s->level_mask)); break;
    case DSP_PRESET_TEXT: preset_text(out, s); break;
    case DSP_PRESET_SOURCE:
        source_name(out, s->preset < panel_tables()->sources.count ? int(s->preset) : int(KV_NONE));
        break;
    case DSP_SOURCE_ON_LEVELS: source_name(out, kv_routed(s->dest, d->level)); break;
    case DSP_PRESET_OR_SOURCE:
        if (s->preset_entry.in_progress)
            preset_text(out, s);
        else if (f->take_error)
            snprintf(out, 32, "%s", NAME_FAILED);
        else
            source_name(out, kv_routed(s->dest, s->level_mask));
        break;
    case DSP_DEST_OR_SELECTED:
        if (s->dest_entry.in_progress)
            dest_text(out, s);
        else if (f->dest_error)
            snprintf(out, 32, "%s", NAME_FAILED);
        else
            selected_dest(out, d, s);
        break;
    case DSP_DEST_OR_PRESET:
        if (f->dest_mode)
            dest_text(out, s);
        else if (f->dest_error)
            snprintf(out, 32, "%s", NAME_FAILED);
        else
            preset_text(out, s);
        break;
    default: break;
    }
}

void dsp_redraw(int i)
{
    const PanelTables *pt = panel_tables();
    if (i < 0 || i >= PT_DISPLAYS || i >= pt->display_count)
        return;
    char text[32];
    display_text(text, i);
    char fitted[DSP_WIDTH + 1];
    dsp_fit(text, fitted);
    if (fitted[0] == ' ')
        plat_display_clear(i);     // nothing to show: the fitted text is all blanks
    else
        plat_display_text(i, fitted);
}

void dsp_redraw_all()
{
    const int count = panel_tables()->display_count;
    for (int i = 0; i < count && i < PT_DISPLAYS; ++i)
        dsp_redraw(i);
}

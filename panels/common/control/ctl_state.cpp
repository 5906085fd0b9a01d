#include "control/ctl_state.h"

#include "config/panel_tables.h"
#include "control/key_view.h"
#include "control/menus.h"
#include "control/pages.h"
#include "control/refresh.h"
#include "plat.h"
#include "product.h"

#include <cstring>

static SubpanelState s_subpanels[CTL_SUBPANELS];
static PanelFlags s_flags;
static MenuPages s_pages;

SubpanelState *ctl_subpanel(int sp)
{
    return (sp >= 0 && sp < CTL_SUBPANELS) ? &s_subpanels[sp] : nullptr;
}

PanelFlags *ctl_flags()
{
    return &s_flags;
}

MenuPages *ctl_pages()
{
    return &s_pages;
}

void ctl_entry_clear(NameEntry *e)
{
    memset(e, 0, sizeof *e);
}

// Nothing selected, preset, typed or recorded; page records are left to
// the page evaluation.
static void clear_subpanel(SubpanelState *s)
{
    const PageOffsets pages[2] = {s->pages[0], s->pages[1]};
    memset(s, 0, sizeof *s);
    s->pages[0] = pages[0];
    s->pages[1] = pages[1];
    s->preset = CTL_NONE;
    s->last_preset = CTL_NONE;
    s->take_dest = CTL_NONE;
    s->category_key = CTL_NO_CATEGORY;
}

void ctl_init()
{
    memset(s_subpanels, 0, sizeof s_subpanels);
    for (SubpanelState &s : s_subpanels)
        clear_subpanel(&s);
    memset(&s_flags, 0, sizeof s_flags);
    memset(&s_pages, 0, sizeof s_pages);
    kv_clear_presses();
    menu_init();
}

void ctl_reset_working_state()
{
    const PanelTables *pt = panel_tables();
    for (int sp = 0; sp < CTL_SUBPANELS; ++sp) {
        SubpanelState *s = &s_subpanels[sp];
        clear_subpanel(s);
        // Default destinations are numbered from 1 as written; default
        // levels are a mask.
        const int def = pt->subpanels[sp].def_dest;
        s->dest = uint16_t(def > 0 ? def - 1 : 0);
        s->level_mask = pt->subpanels[sp].def_level & CTL_LEVEL_MASK;
    }
    s_flags.dest_mode = 0;
    s_flags.take_error = 0;
    s_flags.dest_error = 0;
}

void ctl_panel_setup()
{
    pt_panel_setup();
    // A new configuration may have fewer pages than the one shown.
    const PanelTables *pt = panel_tables();
    if (s_pages.primary >= uint8_t(pt->page_limit[0]) || s_pages.secondary >= uint8_t(pt->page_limit[1]))
        memset(&s_pages, 0, sizeof s_pages);
    ctl_reset_working_state();
    pg_evaluate();
    menu_panel_setup();
    rf_panel_setup();
}

void ctl_beep()
{
    plat_buzzer(1);
}

int ctl_name_entry_model()
{
    return prod_current() != PROD_NONE && prod_menu_model();
}

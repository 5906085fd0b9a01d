// The binary configuration reader over arbitrary images: read whole and
// read in pieces (the first input byte sets the piece size) it must give
// the same tables, and the tables stay within their bounds.

#include "config/config_binary.h"
#include "fuzz_common.h"
#include "config/panel_tables.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

static PanelTables *s_start;
static PanelTables *s_whole;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    pt_init();
    s_start = new PanelTables;
    s_whole = new PanelTables;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = size_t(data[0]) + 1;
    std::vector<uint8_t> img(data + 1, data + size);
    const uint8_t *p = img.empty() ? nullptr : img.data();

    memcpy(s_start, panel_tables(), sizeof(PanelTables));
    const int r = readBinaryConfig(p, img.size());
    FUZZ_CHECK(r == (img.empty() ? 0 : 1));
    memcpy(s_whole, panel_tables(), sizeof(PanelTables));

    memcpy(panel_tables(), s_start, sizeof(PanelTables));
    CfgBinReader reader;
    cfgbin_begin(&reader);
    for (size_t i = 0; i < img.size(); i += piece)
        cfgbin_feed(&reader, p + i, std::min(piece, img.size() - i));
    cfgbin_finish(&reader);
    FUZZ_CHECK(memcmp(s_whole, panel_tables(), sizeof(PanelTables)) == 0);

    const PanelTables *pt = panel_tables();
    FUZZ_CHECK(pt->dests.count <= PT_NAMES && pt->sources.count <= PT_NAMES);
    FUZZ_CHECK(pt->levels.count <= PT_LEVELS);
    FUZZ_CHECK(pt->legend_count <= PT_LEGENDS);
    FUZZ_CHECK(pt->display_count <= PT_DISPLAYS);
    FUZZ_CHECK(pt->menu_legends <= PT_LEGENDS && pt->all_menu_legends <= PT_LEGENDS);
    pt_panel_setup();
    for (int k = 0; k < PT_KEYS; ++k)
        FUZZ_CHECK(pt_key_slot(k, 255, 255) <= PT_SLOTS);
    return 0;
}

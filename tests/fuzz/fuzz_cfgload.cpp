// The configuration loader over arbitrary bytes: configuration files (the
// container as given, or a valid container around the bytes so that plain,
// compressed and binary payloads are reached) and network configuration
// bodies with every flag combination. Checks that the runtime tables stay
// within their bounds.
//
// First input byte: mode (low 2 bits: 0 file as given, 1 payload in a
// container, 2 text after the "#" line in a container, 3 network body) and, for network bodies, the flags
// (bit 2 compressed, bit 3 multi-part).

#include "link/comms.h"
#include "config/config_load.h"
#include "fuzz_common.h"
#include "config/panel_tables.h"
#include "product.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    prod_select(prod_find("SK2000A"));
    pt_init();
    comms_init();
    return 0;
}

static void check_tables()
{
    const PanelTables *pt = panel_tables();
    FUZZ_CHECK(pt->dests.count <= PT_NAMES);
    FUZZ_CHECK(pt->sources.count <= PT_NAMES);
    FUZZ_CHECK(pt->levels.count <= PT_LEVELS);
    FUZZ_CHECK(pt->legend_count <= PT_LEGENDS);
    FUZZ_CHECK(pt->display_count <= PT_DISPLAYS);
    FUZZ_CHECK(pt->menu_legends <= PT_LEGENDS && pt->all_menu_legends <= PT_LEGENDS);
    for (int i = 0; i < PT_NAMES; ++i) {
        FUZZ_CHECK(pt->dests.name[i][PT_DISPLAY_NAME - 1] == '\0');
        FUZZ_CHECK(pt->sources.name[i][PT_DISPLAY_NAME - 1] == '\0');
    }
    for (int i = 0; i < PT_LEVELS; ++i)
        FUZZ_CHECK(pt->levels.name[i][PT_LEVEL_NAME] == '\0');
    for (int k = 0; k < PT_KEYS; ++k)
        FUZZ_CHECK(pt_key_slot(k, 255, 255) <= PT_SLOTS);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    // An exact copy, so that reading past the input is caught.
    std::vector<uint8_t> rest(data + 1, data + size);
    const uint8_t *p = rest.empty() ? nullptr : rest.data();
    switch (mode & 3) {
    case 0:
        cfgload_file_data(p, rest.size());
        break;
    case 1:
    case 2: {
        // Mode 2 puts the bytes after the "#" line of a plain text.
        if ((mode & 3) == 2)
            rest.insert(rest.begin(), {'#', '#', '#', '#', '#', '\n'});
        std::vector<uint8_t> file(10 + rest.size());
        memcpy(file.data(), "CONFIG", 6);
        const uint32_t n = uint32_t(file.size());
        file[6] = uint8_t(n >> 24);
        file[7] = uint8_t(n >> 16);
        file[8] = uint8_t(n >> 8);
        file[9] = uint8_t(n);
        if (!rest.empty())
            memcpy(file.data() + 10, rest.data(), rest.size());
        const bool ok = cfgload_file_data(file.data(), file.size());
        if (n > 0x1FFFF)
            FUZZ_CHECK(!ok);
        else if (rest.empty())
            FUZZ_CHECK(ok); // an empty payload loads nothing, successfully
        break;
    }
    default:
        cfgload_network(p, rest.size(), (mode & 4) != 0, (mode & 8) != 0);
        break;
    }
    check_tables();
    return 0;
}

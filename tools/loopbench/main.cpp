// loopbench: how long one pass of the firmware loop takes on an idle panel.
//
//   loopbench [--passes N] [--type NAME] [--config PATH]
//
// Initialises a panel (no host attached, so nothing is sent anywhere), runs
// N loop passes (default 10000) with the quarter-second flag raised every
// 25th pass as the firmware thread would, and prints the median and the
// worst pass in microseconds. With a configuration file the panel is online
// and every pass redraws 25 of its keys (legends, colours or lamps, all
// unchanged after the first round).

#include "panels_main.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    int passes = 10000;
    const char *type = "SK2000A";
    const char *config = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--passes") && i + 1 < argc)
            passes = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--type") && i + 1 < argc)
            type = argv[++i];
        else if (!strcmp(argv[i], "--config") && i + 1 < argc)
            config = argv[++i];
        else {
            fprintf(stderr, "usage: loopbench [--passes N] [--type NAME] [--config PATH]\n");
            return 2;
        }
    }
    if (passes <= 0)
        passes = 1;

    StartParams p;
    memset(&p, 0, sizeof p);
    strncpy(p.product_name, type, SP_NAME_LEN);
    p.version_major = 1;
    if (config)
        strncpy(p.config_path, config, SP_PATH_LEN - 1);
    panels_loop_init(p);

    using clock = std::chrono::steady_clock;
    std::vector<double> us(static_cast<size_t>(passes));
    for (int i = 0; i < passes; ++i) {
        if (i % 25 == 0)
            panels_set_quarter_flag(1);
        const auto t0 = clock::now();
        panels_loop();
        const auto t1 = clock::now();
        us[size_t(i)] = std::chrono::duration<double, std::micro>(t1 - t0).count();
    }
    std::vector<double> sorted = us;
    std::sort(sorted.begin(), sorted.end());
    printf("loop pass of an idle %s panel%s over %d passes: median %.3f us, worst %.3f us\n", type,
           config ? " (online)" : "", passes, sorted[sorted.size() / 2], sorted.back());
    return 0;
}

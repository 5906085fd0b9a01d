#include "ms_clock.h"

#include <chrono>

static const uint32_t *s_test_ms;

uint32_t msc_now()
{
    if (s_test_ms)
        return *s_test_ms;
    using clock = std::chrono::steady_clock;
    static const clock::time_point start = clock::now();
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - start).count());
}

void msc_set_test_source(const uint32_t *ms)
{
    s_test_ms = ms;
}

#include "ms_clock.h"

#include <atomic>
#include <chrono>
#include <thread>

using Clock = std::chrono::steady_clock;

static const uint32_t *s_test_ms;
// The thread inside a tick (none outside one) and the tick's time, which
// only that thread reads.
static std::atomic<std::thread::id> s_tick_thread;
static uint32_t s_tick_ms;

static int64_t start_ns()
{
    static const int64_t start =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    return start;
}

// A time read before the clock's start (a tick that woke just before the
// first call) counts as the start.
static uint32_t ms_since_start(int64_t ns)
{
    const int64_t start = start_ns();
    return ns > start ? uint32_t((ns - start) / 1000000) : 0;
}

uint32_t msc_now()
{
    if (s_test_ms)
        return *s_test_ms;
    if (s_tick_thread.load(std::memory_order_relaxed) == std::this_thread::get_id())
        return s_tick_ms;
    return ms_since_start(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

void msc_set_test_source(const uint32_t *ms)
{
    s_test_ms = ms;
}

void msc_tick_begin(int64_t steady_ns)
{
    s_tick_ms = ms_since_start(steady_ns);
    s_tick_thread.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void msc_tick_end()
{
    s_tick_thread.store(std::thread::id(), std::memory_order_relaxed);
}

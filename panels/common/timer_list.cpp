#include "timer_list.h"

#include "ms_clock.h"

enum { KIND_CALL = 1, KIND_EVENT = 2, KIND_FLAG = 3 };

struct TlAction {
    uint8_t kind;
    tl_fn fn;
    int arg;
    int *flag;
};

struct TlEntry {
    int next;            // index of the next entry, -1 at the end
    uint32_t delay;      // ms after the entry before it (the head: after s_measured)
    int id;
    int nactions;
    TlAction actions[TL_MAX_ACTIONS];
    bool used;
};

static TlEntry s_pool[TL_POOL];
static int s_head = -1;
static uint32_t s_measured;  // when the head's delay was last brought up to date
static int s_next_id;

void tl_init()
{
    for (TlEntry &e : s_pool)
        e.used = false;
    s_head = -1;
    s_next_id = 0;
    s_measured = msc_now();
}

// Brings the head's delay up to now.
static void tl_measure()
{
    const uint32_t now = msc_now();
    const uint32_t elapsed = now - s_measured;
    s_measured = now;
    if (s_head < 0)
        return;
    TlEntry &h = s_pool[s_head];
    h.delay = elapsed >= h.delay ? 0 : h.delay - elapsed;
}

static int tl_insert(uint32_t delay, const TlAction &action)
{
    int slot = -1;
    for (int i = 0; i < TL_POOL; ++i)
        if (!s_pool[i].used) {
            slot = i;
            break;
        }
    if (slot < 0)
        return -1;

    tl_measure();
    TlEntry &e = s_pool[slot];
    e.used = true;
    e.id = s_next_id++;
    if (s_next_id < 0)
        s_next_id = 0;
    e.nactions = 1;
    e.actions[0] = action;

    // Walk to the first entry due strictly after the new one (ties behind).
    int prev = -1;
    int cur = s_head;
    uint32_t remaining = delay;
    while (cur >= 0 && s_pool[cur].delay <= remaining) {
        remaining -= s_pool[cur].delay;
        prev = cur;
        cur = s_pool[cur].next;
    }
    e.delay = remaining;
    e.next = cur;
    if (cur >= 0)
        s_pool[cur].delay -= remaining;
    if (prev < 0)
        s_head = slot;
    else
        s_pool[prev].next = slot;
    return e.id;
}

int tl_start_flag(uint32_t delay_ms, int *flag)
{
    return tl_insert(delay_ms, TlAction{KIND_FLAG, nullptr, 0, flag});
}

int tl_start_call(uint32_t delay_ms, tl_fn fn, int arg)
{
    return tl_insert(delay_ms, TlAction{KIND_CALL, fn, arg, nullptr});
}

bool tl_cancel(int id)
{
    int prev = -1;
    for (int cur = s_head; cur >= 0; prev = cur, cur = s_pool[cur].next) {
        TlEntry &e = s_pool[cur];
        if (e.id != id)
            continue;
        if (e.next >= 0)
            s_pool[e.next].delay += e.delay;
        if (prev < 0)
            s_head = e.next;
        else
            s_pool[prev].next = e.next;
        e.used = false;
        return true;
    }
    return false;
}

static void tl_run(const TlEntry &e)
{
    for (int i = 0; i < e.nactions; ++i) {
        const TlAction &a = e.actions[i];
        if (a.kind == KIND_FLAG && a.flag)
            *a.flag = 1;
        else if (a.kind == KIND_CALL && a.fn)
            a.fn(a.arg);
    }
}

void tl_expire()
{
    tl_measure();
    // The head is due once its delay has run out; entries behind it with a
    // delay of 0 are due with it.
    while (s_head >= 0 && s_pool[s_head].delay == 0) {
        const int idx = s_head;
        s_head = s_pool[idx].next;
        s_pool[idx].used = false;
        // Actions may start timers that take this slot again.
        const TlEntry due = s_pool[idx];
        tl_run(due);
    }
}

int tl_count()
{
    int n = 0;
    for (int cur = s_head; cur >= 0; cur = s_pool[cur].next)
        ++n;
    return n;
}

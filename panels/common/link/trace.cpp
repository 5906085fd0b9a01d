// The recording half of the protocol trace: the hooks the router link calls
// on its receive and send paths, and the ring they fill. Copying a datagram
// into a free entry is all they do; decoding and writing wait for the
// tick's flush (trace_flush.cpp).

#include "link/trace.h"

#include "link/trace_decode.h"

#include <chrono>
#include <cstring>

static int s_on;
static TraceEntry s_ring[TRACE_ENTRIES];
static int s_first;          // oldest entry
static int s_count;          // entries held
static int s_lost;           // datagrams that found the ring full
static int s_last_in = -1;   // entry of the last datagram received, while held
static int s_resend_next;    // the next datagram sent is a resend

using Clock = std::chrono::steady_clock;
static Clock::time_point s_start = Clock::now();

void trace_ring_enable(int on)
{
    s_on = on ? 1 : 0;
}

int trace_is_on()
{
    return s_on;
}

void trace_ring_clear()
{
    s_first = 0;
    s_count = 0;
    s_lost = 0;
    s_last_in = -1;
    s_resend_next = 0;
}

// Time since the panel started counts from the loop initialisation.
void trace_clock_start()
{
    s_start = Clock::now();
}

static uint64_t now_us()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - s_start).count());
}

// The next free entry, or null (then the datagram is counted as lost).
static TraceEntry *take_entry(int *index)
{
    if (s_count >= TRACE_ENTRIES) {
        ++s_lost;
        return nullptr;
    }
    const int i = (s_first + s_count) % TRACE_ENTRIES;
    ++s_count;
    *index = i;
    TraceEntry *e = &s_ring[i];
    e->us = now_us();
    e->flags = 0;
    e->kept = 0;
    e->len = 0;
    e->arg = 0;
    e->port = 0;
    memset(e->addr, 0, 4);
    return e;
}

static int record(uint8_t kind, const uint8_t *d, int len, const uint8_t addr[4], int port)
{
    int i = -1;
    TraceEntry *e = take_entry(&i);
    if (!e)
        return -1;
    e->kind = kind;
    if (addr)
        memcpy(e->addr, addr, 4);
    e->port = uint16_t(port);
    e->len = d && len > 0 ? len : 0;
    e->kept = uint16_t(e->len < TRACE_KEEP ? e->len : TRACE_KEEP);
    if (e->kept)
        memcpy(e->data, d, e->kept);
    return i;
}

void trace_in(const uint8_t *d, int len, const uint8_t addr[4], int port)
{
    if (!s_on)
        return;
    s_last_in = record(TRACE_IN, d, len, addr, port);
}

void trace_out(const uint8_t *d, int len, const uint8_t addr[4], int port, int sent)
{
    if (!s_on)
        return;
    const int i = record(TRACE_OUT, d, len, addr, port);
    if (i >= 0 && s_resend_next)
        s_ring[i].flags |= TRD_RESEND;
    if (i >= 0 && !sent)
        s_ring[i].flags |= TRD_NOT_SENT;
    s_resend_next = 0;
}

void trace_mark_resend()
{
    if (s_on)
        s_resend_next = 1;
}

void trace_mark_refused()
{
    if (s_on && s_last_in >= 0)
        s_ring[s_last_in].flags |= TRD_REFUSED;
}

void trace_mark_in(unsigned flags)
{
    if (s_on && s_last_in >= 0)
        s_ring[s_last_in].flags = uint8_t(s_ring[s_last_in].flags | flags);
}

void trace_dropped(int count, const uint8_t addr[4], int port)
{
    if (!s_on)
        return;
    int i = -1;
    TraceEntry *e = take_entry(&i);
    if (!e)
        return;
    e->kind = TRACE_EVENT;
    e->len = TRACE_EV_DROPPED;
    e->arg = count;
    memcpy(e->addr, addr, 4);
    e->port = uint16_t(port);
}

void trace_event(int code, int arg)
{
    int i = -1;
    TraceEntry *e = take_entry(&i);
    if (!e)
        return;
    e->kind = TRACE_EVENT;
    e->len = code;
    e->arg = arg;
}

void trace_neterror(int code)
{
    if (s_on)
        trace_event(TRACE_EV_NETERROR, code);
}

void trace_key(uint8_t kind, uint8_t key)
{
    // Repeats of a held key would bury the datagrams.
    if (s_on && (kind == 'P' || kind == 'R'))
        trace_event(TRACE_EV_KEY, kind << 8 | key);
}

const TraceEntry *trace_ring_peek()
{
    return s_count ? &s_ring[s_first] : nullptr;
}

void trace_ring_pop()
{
    if (!s_count)
        return;
    if (s_last_in == s_first)
        s_last_in = -1;
    s_first = (s_first + 1) % TRACE_ENTRIES;
    --s_count;
}

int trace_ring_take_lost()
{
    const int n = s_lost;
    s_lost = 0;
    return n;
}

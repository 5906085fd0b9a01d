// The writing half of the protocol trace: switching it on and off with the
// marker file, and the tick's flush that decodes the ring's entries into
// lines and hands them to the platform in large pieces.

#include "link/trace.h"

#include "link/trace_decode.h"
#include "plat.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

enum { OUT_BUFFER = 32768 };

static char s_out[OUT_BUFFER];
static int s_out_len;
static char s_line[TRACE_LINE_MAX];
// Decoding state of the two directions, from the moment the trace started.
static TrdStream s_in_stream, s_out_stream;

static void reset_streams()
{
    trd_stream_reset(&s_in_stream);
    trd_stream_reset(&s_out_stream);
}

static void write_out()
{
    if (s_out_len > 0)
        plat_trace_write(s_out, s_out_len);
    s_out_len = 0;
}

// Adds a line; the buffer goes out first when the line would not fit, so
// the platform only ever gets whole lines.
static void add_line(const char *line, int n)
{
    if (s_out_len + n + 1 > OUT_BUFFER)
        write_out();
    memcpy(s_out + s_out_len, line, size_t(n));
    s_out_len += n;
    s_out[s_out_len++] = '\n';
}

void trace_flush()
{
    const TraceEntry *e = trace_ring_peek();
    const int lost = trace_ring_take_lost();
    if (!e && !lost)
        return;
    for (; e; e = trace_ring_peek()) {
        add_line(s_line, trace_format(e, &s_in_stream, &s_out_stream, s_line, sizeof s_line));
        trace_ring_pop();
    }
    if (lost) {
        TraceEntry ev;
        memset(&ev, 0, offsetof(TraceEntry, data));
        ev.kind = TRACE_EVENT;
        ev.len = TRACE_EV_LOST;
        ev.arg = lost;
        add_line(s_line, trace_format(&ev, &s_in_stream, &s_out_stream, s_line, sizeof s_line));
    }
    write_out();
}

void trace_set_on(int on)
{
    on = on ? 1 : 0;
    if (on == trace_is_on())
        return;
    if (on) {
        trace_ring_clear();
        reset_streams();
        trace_ring_enable(1);
        trace_event(TRACE_EV_ON, 0);
        return;
    }
    trace_event(TRACE_EV_OFF, 0);
    trace_flush();
    trace_ring_enable(0);
    trace_ring_clear();
    plat_trace_close();
}

void trace_init()
{
    // A fresh start: whatever an earlier run left is dropped, and the
    // marker decides.
    trace_ring_enable(0);
    trace_ring_clear();
    plat_trace_close();
    trace_clock_start();
    reset_streams();
    trace_set_on(plat_trace_marker());
}

void trace_quarter_tick()
{
    trace_set_on(plat_trace_marker());
}

void trace_shutdown()
{
    if (trace_is_on())
        trace_flush();
    trace_ring_enable(0);
    trace_ring_clear();
    plat_trace_close();
}

void trace_abandon()
{
    trace_ring_enable(0);
    trace_ring_clear();
    plat_trace_close();
}

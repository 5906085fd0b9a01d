#ifndef TRACE_H
#define TRACE_H

// The protocol trace of the router link: every datagram the panel receives
// or sends, decoded into one line of "trace.txt" in the panel's directory.
// It is switched on and off while the panel runs by the marker file "TRACE"
// in that directory, looked for every quarter second.
//
// The receive and send paths only copy the datagram into a fixed ring of
// entries (nothing is decoded, written or allocated there); once per loop
// tick the firmware thread decodes what the ring holds and hands the lines
// to the platform, which appends them to the file (10 MiB at most, then it
// becomes "trace.txt.1" and a new file starts). While the trace is off the
// hooks return at once.
//
// A line: milliseconds since the panel started (3 decimals), "in" or "out",
// the peer's address and port, the header, then each message:
//
//     1520.250 in  127.0.0.2:2001 seq id 4 ack 3 ext 0 | Q ".UVA013,006\r" tally levels VA dest 13 src 6
//
// Resends are marked RESEND, payloads the reliable layer drops for their
// sequence id REFUSED, datagrams the panel cannot read MALFORMED; lines
// starting "---" are events: the trace switched, the reliable layer reset,
// a key pressed or released (what the panel then sends follows from it).

#include <cstdint>

enum {
    TRACE_ENTRIES = 64,     // datagrams held between two flushes
    TRACE_KEEP = 1024,      // bytes kept of one datagram (a "B" block is 520)
    TRACE_LINE_MAX = 8192
};

enum TraceKind { TRACE_IN = 0, TRACE_OUT = 1, TRACE_EVENT = 2 };

// Events that are not datagrams.
enum TraceEvent {
    TRACE_EV_ON = 1,          // the trace started
    TRACE_EV_OFF = 2,         // the trace stops
    TRACE_EV_NETERROR = 3,    // the reliable layer reset itself (code in arg)
    TRACE_EV_LOST = 4,        // datagrams found the ring full (count in arg)
    TRACE_EV_KEY = 5,         // a key event for the panel logic (kind << 8 | key index)
    TRACE_EV_DROPPED = 6      // datagrams from addresses not allowed (count in arg,
                              // the last sender in addr and port)
};

struct TraceEntry {
    uint64_t us;              // since the panel started
    uint8_t kind;             // TraceKind
    uint8_t flags;            // TRD_RESEND, TRD_REFUSED (trace_decode.h)
    uint8_t addr[4];
    uint16_t port;
    uint16_t kept;            // bytes in data
    int len;                  // datagram length, or the event code
    int arg;                  // event argument
    uint8_t data[TRACE_KEEP];
};

// ---- the hooks of the router link (cheap while off) -------------------------------

// A datagram received from addr:port, before the reliable layer sees it.
void trace_in(const uint8_t *d, int len, const uint8_t addr[4], int port);
// A datagram handed to the socket for addr:port; sent is what the socket
// layer answered (0: not sent, marked so).
void trace_out(const uint8_t *d, int len, const uint8_t addr[4], int port, int sent);
// The next datagram sent is a resend of the message in flight.
void trace_mark_resend();
// The reliable layer dropped the payload of the last datagram received.
void trace_mark_refused();
// Marks the last datagram received (TRD_RESTARTED, TRD_BLOCK_REFUSED of
// trace_decode.h).
void trace_mark_in(unsigned flags);
// Datagrams dropped for their sender (router_allow.h) since the last
// report, and the last sender.
void trace_dropped(int count, const uint8_t addr[4], int port);
// The reliable layer reset itself after "NETERROR code".
void trace_neterror(int code);
// A key press or release reaches the panel logic (kind 'P' or 'R', key
// index): what the router link does next follows from it.
void trace_key(uint8_t kind, uint8_t key);

// ---- control, on the firmware thread -------------------------------------------------

// At loop initialisation: time starts, the ring is emptied, and the marker
// file is looked at so that a panel started with it traces from its first
// datagram.
void trace_init();
// The quarter-second check: follows the marker file.
void trace_quarter_tick();
// Switches the trace on or off directly (the marker does it in a running
// panel). Switching on starts a fresh decoding of both streams.
void trace_set_on(int on);
int trace_is_on();
// Once per loop tick: decodes what the ring holds and writes it out.
void trace_flush();
// Stop sequence: flushes, switches the trace off and closes the file. After
// a fault: the same without decoding anything more.
void trace_shutdown();
void trace_abandon();

// ---- the ring, for the flush -------------------------------------------------------------

// The oldest entry not yet flushed, or null; trace_ring_pop() drops it.
const TraceEntry *trace_ring_peek();
void trace_ring_pop();
// Datagrams that found the ring full since the last call (and resets it).
int trace_ring_take_lost();
// Empties the ring.
void trace_ring_clear();
// Lets the hooks record (on) or return at once (off).
void trace_ring_enable(int on);
// Entries are timed from now on (the loop initialisation).
void trace_clock_start();
// Adds an event entry (flags unused).
void trace_event(int code, int arg);

// The line of one entry, decoded, without a line end. in and out are the
// streams of the two directions.
struct TrdStream;
int trace_format(const TraceEntry *e, TrdStream *in, TrdStream *out, char *buf, int cap);

#endif

// One trace entry as its line: the time since the panel started, the
// direction and peer, and the datagram decoded (trace_decode.h), or the
// event's text.

#include "link/trace.h"

#include "link/trace_decode.h"

static void event_text(TrdText *t, const TraceEntry *e)
{
    switch (e->len) {
    case TRACE_EV_ON:
        trd_put(t, "trace on");
        break;
    case TRACE_EV_OFF:
        trd_put(t, "trace off");
        break;
    case TRACE_EV_NETERROR:
        trd_putf(t, "NETERROR %d: ", e->arg);
        switch (e->arg) {
        case 1: trd_put(t, "no free message slot, session reset, message lost"); break;
        case 2: trd_put(t, "the peer restarted its sequence, messages in flight dropped"); break;
        case 3: trd_put(t, "no acknowledgement after the last resend, session reset"); break;
        default: trd_put(t, "session reset"); break;
        }
        break;
    case TRACE_EV_KEY:
        trd_putf(t, "key %d %s", (e->arg & 0xff) + 1, (e->arg >> 8) == 'P' ? "pressed" : "released");
        break;
    case TRACE_EV_DROPPED:
        trd_putf(t, "%d datagrams dropped: sender not an allowed router (last %u.%u.%u.%u:%u)", e->arg,
                 e->addr[0], e->addr[1], e->addr[2], e->addr[3], e->port);
        break;
    case TRACE_EV_LOST:
        trd_putf(t, "%d datagrams not traced (trace buffer full)", e->arg);
        break;
    default:
        trd_putf(t, "event %d", e->len);
        break;
    }
}

int trace_format(const TraceEntry *e, TrdStream *in, TrdStream *out, char *buf, int cap)
{
    TrdText t;
    trd_text_init(&t, buf, cap);
    trd_putf(&t, "%7llu.%03u ", (unsigned long long)(e->us / 1000), unsigned(e->us % 1000));
    if (e->kind == TRACE_EVENT) {
        trd_put(&t, "--- ");
        event_text(&t, e);
    } else {
        const bool sent = e->kind == TRACE_OUT;
        trd_putf(&t, "%s %u.%u.%u.%u:%u ", sent ? "out" : "in ", e->addr[0], e->addr[1], e->addr[2],
                 e->addr[3], e->port);
        trd_datagram(&t, e->data, e->kept, e->len, e->flags | (sent ? unsigned(TRD_OUT) : 0u), sent ? out : in);
    }
    trd_text_finish(&t);
    return t.len;
}

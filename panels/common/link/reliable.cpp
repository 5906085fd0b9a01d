#include "link/reliable.h"

#include "link/trace.h"
#include "timer_list.h"

#include <cstdio>
#include <cstring>

struct RlSlot {
    int next;              // queue link, -1 at the tail / end of the free list
    uint8_t in_use;
    uint8_t buf[RL_HEADER + RL_MAX_PAYLOAD];
    uint8_t dest[4];
    int len;               // payload length
    uint8_t sends;
    uint8_t id;
    int timeout;
    int max_resends;
    int expired;           // set by the resend timer
    int timer;             // timer-list id, -1 when none
};

static RlSlot s_slot[RL_SLOTS];
static int s_head = -1, s_tail = -1;  // pending queue; only the head is on the wire
static int s_free = -1;               // free list

static uint8_t s_next_id;
static uint8_t s_last_accepted;
static int s_not_synchronised;
static int s_ack_sent;
static uint8_t s_destination[4];

static rl_send_fn s_send;
static rl_deliver_fn s_deliver;
static rl_error_fn s_error;
static rl_query_fn s_query;
static rl_restart_fn s_restart;

void rl_set_destination(const uint8_t addr[4])
{
    memcpy(s_destination, addr, 4);
}

const uint8_t *rl_destination()
{
    return s_destination;
}

void rl_reset()
{
    for (int i = 0; i < RL_SLOTS; ++i) {
        if (s_slot[i].in_use && s_slot[i].timer >= 0)
            tl_cancel(s_slot[i].timer);
        s_slot[i].in_use = 0;
        s_slot[i].timer = -1;
        s_slot[i].next = i + 1 < RL_SLOTS ? i + 1 : -1;
    }
    s_free = 0;
    s_head = s_tail = -1;
    s_next_id = 0;
    s_last_accepted = 255;
    s_not_synchronised = 1;
}

void rl_init(rl_send_fn send, rl_deliver_fn deliver, rl_error_fn error, rl_query_fn query,
             rl_restart_fn restart)
{
    s_restart = restart;
    s_send = send;
    s_deliver = deliver;
    s_error = error;
    s_query = query;
    s_ack_sent = 0;
    rl_reset();
}

rl_send_fn rl_set_send(rl_send_fn send)
{
    const rl_send_fn old = s_send;
    s_send = send;
    return old;
}

static void rl_neterror(int code)
{
    printf("NETERROR %d\n", code);
    trace_neterror(code);
    if (s_error)
        s_error(code);
}

static void rl_transmit(const uint8_t *data, int len, const uint8_t addr[4])
{
    if (s_send)
        s_send(data, len, addr);
}

// Unlinks and frees the head of the queue.
static void rl_pop_head()
{
    const int h = s_head;
    if (h < 0)
        return;
    if (s_slot[h].timer >= 0)
        tl_cancel(s_slot[h].timer);
    s_slot[h].timer = -1;
    s_head = s_slot[h].next;
    if (s_head < 0)
        s_tail = -1;
    s_slot[h].in_use = 0;
    s_slot[h].next = s_free;
    s_free = h;
}

int rl_try_transmit()
{
    if (s_head < 0)
        return 0;
    RlSlot &m = s_slot[s_head];
    if (m.sends) {
        if (!m.expired)
            return 0;
        if (m.sends > m.max_resends && !(s_query && s_query() == 1)) {
            printf("Max resends reached %d\n", m.id);
            rl_reset();
            rl_neterror(3);
            return 0;
        }
        printf("Message resend %d\n", m.id);
        trace_mark_resend();
    }
    m.buf[0] = 1;
    m.buf[1] = m.id;
    m.buf[2] = s_not_synchronised ? 0 : s_last_accepted;
    m.buf[3] = 0;
    m.buf[4] = 0;
    rl_transmit(m.buf, RL_HEADER + m.len, m.dest);
    s_ack_sent = 1;
    if (m.sends < 255)
        ++m.sends;
    m.expired = 0;
    m.timer = tl_start_flag(uint32_t(m.timeout), &m.expired);
    return 1;
}

int rl_send(int sequenced, const uint8_t *payload, int len, int timeout_ms, int max_resends)
{
    if (!payload || len <= 0)
        return 0;
    if (len > RL_MAX_PAYLOAD) {
        printf("rl_send: message of %d bytes too long\n", len);
        return 0;
    }
    if (!sequenced) {
        uint8_t d[RL_HEADER + RL_MAX_PAYLOAD] = {0, 0, 0, 0, 0};
        memcpy(d + RL_HEADER, payload, size_t(len));
        rl_transmit(d, RL_HEADER + len, s_destination);
        return 1;
    }

    // No peer has spoken yet: a message queued now could only go to an
    // address that is none, and would hold up every message behind it
    // until its resends ran out.
    if (s_destination[0] == 0) {
        printf("rl_send: no peer yet, message dropped\n");
        return 0;
    }
    if (s_free < 0) {
        rl_reset();
        rl_neterror(1);
        rl_try_transmit();
        return 0;
    }
    const int i = s_free;
    RlSlot &m = s_slot[i];
    s_free = m.next;
    m.in_use = 1;
    m.next = -1;
    m.id = s_next_id;
    s_next_id = s_next_id == 255 ? 1 : uint8_t(s_next_id + 1);
    m.sends = 0;
    m.expired = 0;
    m.timer = -1;
    m.timeout = timeout_ms;
    m.max_resends = max_resends;
    memcpy(m.dest, s_destination, 4);
    memcpy(m.buf + RL_HEADER, payload, size_t(len));
    m.len = len;
    if (s_tail < 0)
        s_head = i;
    else
        s_slot[s_tail].next = i;
    s_tail = i;

    rl_try_transmit();
    return 1;
}

// Ack a covers id i when a is i or lies after it, within 128, modulo 256.
static bool rl_acks(uint8_t a, uint8_t i)
{
    return a == i || (i < a && a - i < 128) || (i > a && i - a > 128);
}

static void rl_process_ack(uint8_t a)
{
    if (s_head < 0)
        return;
    const RlSlot &m = s_slot[s_head];
    if (m.sends && rl_acks(a, m.id))
        rl_pop_head();
}

static bool rl_accept(uint8_t s)
{
    if (s != 0) {
        const uint8_t l = s_last_accepted;
        if (s != l && (s == uint8_t(l + 1) || (s == 1 && l == 255))) {
            s_last_accepted = s;
            return true;
        }
        return false;
    }
    // The peer restarted its sequence.
    if (s_last_accepted == 0)
        return false;
    if (!s_not_synchronised) {
        rl_reset();
        rl_neterror(2);
    }
    s_not_synchronised = 0;
    s_last_accepted = 0;
    s_ack_sent = 0;
    if (s_restart)
        s_restart();
    return true;
}

void rl_receive(const uint8_t *data, int len, const uint8_t addr[4])
{
    if (!data || len < RL_HEADER)
        return;
    const int offset = RL_HEADER + data[3];
    // An extra header running past the datagram leaves no payload.
    const int payload_len = len > offset ? len - offset : 0;
    if (!(data[0] & 1)) {
        if (s_deliver && payload_len > 0)
            s_deliver(data + offset, payload_len, addr, 0);
        return;
    }

    rl_process_ack(data[2]);

    // A datagram whose extra header runs past its end carries nothing.
    const bool has_payload = payload_len > 0;
    if (has_payload) {
        s_ack_sent = 0;
        if (rl_accept(data[1])) {
            if (s_deliver && payload_len > 0)
                s_deliver(data + offset, payload_len, addr, 1);
        } else {
            printf("Dropping data, invalid sequence number %d\n", data[1]);
            trace_mark_refused();
        }
    }

    if (!rl_try_transmit() && has_payload && !s_ack_sent) {
        const uint8_t ack[RL_HEADER] = {1, 0, s_not_synchronised ? uint8_t(0) : s_last_accepted, 0, 0};
        rl_transmit(ack, RL_HEADER, addr);
    }
}

int rl_pending()
{
    int n = 0;
    for (int i = s_head; i >= 0; i = s_slot[i].next)
        ++n;
    return n;
}

uint8_t rl_next_id() { return s_next_id; }
uint8_t rl_last_accepted() { return s_last_accepted; }
int rl_synchronised() { return !s_not_synchronised; }

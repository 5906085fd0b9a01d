#ifndef RELIABLE_H
#define RELIABLE_H

// The reliable datagram layer of the router link: sequenced messages with
// acknowledgements, one message in flight, retransmission on a timer, and a
// session reset when either side restarts. Every datagram starts with a
// 5-byte header: flags (bit 0 = sequenced), sequence id, acknowledgement,
// extra header length, 0.

#include <cstdint>

enum {
    RL_HEADER = 5,
    RL_SLOTS = 2048,          // pending-message table
    RL_MAX_PAYLOAD = 128,     // outgoing router-link messages are short
    RL_RESEND_MS = 50,
    RL_MAX_RESENDS = 10
};

// Hands a datagram to the socket layer, for the given destination address.
typedef int (*rl_send_fn)(const uint8_t *data, int len, const uint8_t addr[4]);
// Hands a received payload, with its sender, to the stream parser.
// sequenced: it came in a sequenced datagram whose id was accepted (else in
// an unsequenced one, which belongs to no session).
typedef void (*rl_deliver_fn)(const uint8_t *data, int len, const uint8_t addr[4], int sequenced);
// Called after every "NETERROR" line.
typedef void (*rl_error_fn)(int code);
// True while the resend limit is lifted (the router asked a QUERY).
typedef int (*rl_query_fn)();
// The peer started a new session (its sequence id 0 was accepted): what it
// sends from now on starts on a message boundary.
typedef void (*rl_restart_fn)();

void rl_init(rl_send_fn send, rl_deliver_fn deliver, rl_error_fn error, rl_query_fn query,
             rl_restart_fn restart = nullptr);
// Replaces the send hook (tests put a recorder on the wire); returns the
// previous one.
rl_send_fn rl_set_send(rl_send_fn send);
// Frees every pending message; the next message carries id 0.
void rl_reset();
// Queues a sequenced message (or sends an unsequenced one at once) to the
// current destination. Returns 1 on success, 0 on failure or empty input,
// and for a sequenced message while no peer has spoken (the destination's
// first byte is 0): nothing is queued towards no address.
int rl_send(int sequenced, const uint8_t *payload, int len, int timeout_ms, int max_resends);
// One received datagram.
void rl_receive(const uint8_t *data, int len, const uint8_t addr[4]);
// Sends the head message if it is due; 1 when something was sent.
int rl_try_transmit();

// The destination record: the peer that spoke last.
void rl_set_destination(const uint8_t addr[4]);
const uint8_t *rl_destination();

// State, for the comms code and tests.
int rl_pending();            // messages queued
uint8_t rl_next_id();
uint8_t rl_last_accepted();
int rl_synchronised();

#endif

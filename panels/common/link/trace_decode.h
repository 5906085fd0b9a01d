#ifndef TRACE_DECODE_H
#define TRACE_DECODE_H

// Router-link datagrams as text for the protocol trace: the 5-byte header
// (sequenced or not, sequence id, acknowledgement, extra header length),
// then every router-link message it carries ("Q" texts with their control
// characters escaped, "B" configuration blocks with number and size, the
// polls, acknowledgements and the QUERY reply). A message split across
// datagrams is followed the way the panel's stream parser follows it, one
// stream per direction. Everything a peer can send decodes to one line of
// printable ASCII, whatever its bytes; nothing is allocated.

#include <cstdint>

enum { TRD_STREAM_MAX = 512 };

// One direction's router-link stream between datagrams (the same rules as
// the panel's stream parser).
struct TrdStream {
    uint8_t state;      // 0 command, 1 length high, 2 length low, 3 data
    uint8_t cmd;
    uint16_t length;
    uint16_t count;
    uint8_t data[TRD_STREAM_MAX];
};

// A bounded text under construction. Output that does not fit is cut and
// the text ends in " ..." instead.
struct TrdText {
    char *buf;
    int cap;     // bytes of buf, terminator included
    int len;
    int cut;     // something did not fit
};

// What is known of a datagram besides its bytes.
enum {
    TRD_OUT = 0x01,      // sent by the panel (else received)
    TRD_RESEND = 0x02,   // the reliable layer sends it again
    TRD_REFUSED = 0x04,  // the reliable layer dropped its payload (sequence id)
    TRD_NOT_SENT = 0x08, // the socket layer could not send it
    TRD_RESTARTED = 0x10,     // the panel dropped another sender's unfinished
                              // message before reading this datagram
    TRD_BLOCK_REFUSED = 0x20  // the panel refused its configuration blocks:
                              // not in the session of the router it follows
};

void trd_text_init(TrdText *t, char *buf, int cap);
void trd_put(TrdText *t, const char *s);
void trd_putf(TrdText *t, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Ends the text: " ..." when something was cut.
void trd_text_finish(TrdText *t);

void trd_stream_reset(TrdStream *s);

// Decodes one datagram of len bytes (full_len: its length on the wire; more
// than len when only the first len bytes were kept) into t. The stream of
// the datagram's direction advances as the panel's parser would: not for a
// refused payload, from a fresh start for an accepted sequence id 0 or
// after another sender's unfinished message was dropped (TRD_RESTARTED),
// and never for an unsequenced datagram, whose messages are read on their
// own (one cut at its end is dropped).
void trd_datagram(TrdText *t, const uint8_t *d, int len, int full_len, unsigned flags, TrdStream *stream);

// A router command text with control characters escaped (\r, \n, \t, \\,
// \", \xNN), inside double quotes.
void trd_escaped(TrdText *t, const uint8_t *s, int len);

#endif

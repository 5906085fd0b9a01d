#ifndef RLINK_H
#define RLINK_H

// Router-link messages: a command byte, a 16-bit big-endian length and that
// many data bytes, carried in the reliable layer's payloads. The stream
// parser reassembles them across datagrams and dispatches each complete
// message to its handler.

#include <cstdint>

enum { RLP_MAX_DATA = 512 };

struct RlinkParser {
    uint8_t state;     // 0 command, 1 length high, 2 length low, 3 data
    uint8_t command;   // of the message being parsed
    uint16_t length;
    uint16_t count;
    uint8_t data[RLP_MAX_DATA];
};

typedef void (*rlp_dispatch_fn)(uint8_t cmd, const uint8_t *data, int len);

void rlp_reset(RlinkParser *p);
// Feeds received bytes; each complete message goes to dispatch as it ends.
// A parser holds the part of a message it has read so far, command byte
// included, so two parsers never mix their messages.
void rlp_feed(RlinkParser *p, const uint8_t *bytes, int len, rlp_dispatch_fn dispatch);

// Dispatches one complete message to the router-link command table.
void rlink_dispatch(uint8_t cmd, const uint8_t *data, int len);

// Sends a router-link message, sequenced (queued, acknowledged) or not.
int rlink_send(uint8_t cmd, const uint8_t *data, int len, int sequenced);

#endif

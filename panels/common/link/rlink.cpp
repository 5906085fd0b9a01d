#include "link/rlink.h"

#include "link/comms.h"
#include "link/eth.h"
#include "link/trace.h"
#include "link/trace_decode.h"
#include "link/netcfg.h"
#include "link/reliable.h"
#include "link/router_cmd.h"

#include <cstdio>
#include <cstring>

void rlp_reset(RlinkParser *p)
{
    p->state = 0;
    p->command = 0;
    p->length = 0;
    p->count = 0;
}

void rlp_feed(RlinkParser *p, const uint8_t *bytes, int len, rlp_dispatch_fn dispatch)
{
    for (int i = 0; i < len; ++i) {
        const uint8_t b = bytes[i];
        switch (p->state) {
        case 0:
            p->command = b;
            p->state = 1;
            break;
        case 1:
            p->length = uint16_t(b << 8);
            p->state = 2;
            break;
        case 2:
            p->length = uint16_t(p->length | b);
            p->count = 0;
            if (p->length == 0) {
                p->state = 0;
                dispatch(p->command, p->data, 0);
            } else {
                p->state = 3;
            }
            break;
        default:
            if (p->count >= RLP_MAX_DATA) {
                // Longer than any message may be: the message is dropped
                // with the byte that found the buffer full, and what
                // follows is read as new messages.
                p->state = 0;
                break;
            }
            p->data[p->count++] = b;
            if (p->count == p->length) {
                p->state = 0;
                dispatch(p->command, p->data, p->count);
            }
            break;
        }
    }
}

void rlink_dispatch(uint8_t cmd, const uint8_t *data, int len)
{
    switch (cmd) {
    case 'N':
        comms_off_poll();
        break;
    case 'O':
        comms_on_poll();
        return; // an ON POLL refreshes the traffic times itself
    case 'P':
        comms_query();
        break;
    case 'Q':
        rcmd_receive(data, len);
        break;
    case 'B':
        // A stored configuration is rewritten only by the router the panel
        // follows, inside its session: never by a stray or unsequenced
        // datagram from anywhere.
        if (!eth_router_in_session()) {
            printf("config block refused: not in the session of the router the panel follows\n");
            trace_mark_in(TRD_BLOCK_REFUSED);
            return;
        }
        netcfg_block(data, len);
        break;
    default:
        return; // unknown commands are not handled
    }
    comms_note_traffic();
}

int rlink_send(uint8_t cmd, const uint8_t *data, int len, int sequenced)
{
    if (len < 0 || len + 3 > RL_MAX_PAYLOAD)
        return 0;
    uint8_t msg[RL_MAX_PAYLOAD];
    msg[0] = cmd;
    msg[1] = uint8_t(len >> 8);
    msg[2] = uint8_t(len);
    if (len)
        memcpy(msg + 3, data, size_t(len));
    return rl_send(sequenced, msg, len + 3, RL_RESEND_MS, RL_MAX_RESENDS);
}

#include "control/router_request.h"

#include "link/router_cmd.h"

static RouterProtocol s_protocol = rreq_ethernet;

void routerRequest(int op, uint32_t a, uint32_t b, uint32_t c, int priority)
{
    s_protocol(op, a, b, c, priority);
}

RouterProtocol rreq_set_protocol(RouterProtocol protocol)
{
    const RouterProtocol old = s_protocol;
    s_protocol = protocol ? protocol : rreq_ethernet;
    return old;
}

// Every command goes out as its own sequenced message, in order, so the
// priority changes nothing on Ethernet.
void rreq_ethernet(int op, uint32_t a, uint32_t b, uint32_t c, int)
{
    switch (op) {
    case ROP_ROUTE:
    case ROP_LOCK:
    case ROP_SALVO:
    case ROP_INTERROGATE:
    case ROP_PROTECT:
        rcmd_request(op, int(a), int(b), int(c));
        break;
    default:
        break;
    }
}

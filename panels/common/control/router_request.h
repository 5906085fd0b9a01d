#ifndef ROUTER_REQUEST_H
#define ROUTER_REQUEST_H

// What the panel logic asks of the router: one entry, an operation and up
// to three numbers with a priority, handed to the active router protocol.
// The Ethernet protocol (the router command set) encodes operations 1, 2,
// 3, 4 and 6 and ignores the others: selecting a destination on a shared
// panel link (5) and key reports (7) have no form on Ethernet.

#include <cstdint>

enum {
    ROP_ROUTE = 1,          // source, destination, level mask
    ROP_LOCK = 2,           // destination, 1 lock / 0 unlock
    ROP_SALVO = 3,          // salvo number
    ROP_INTERROGATE = 4,    // destination, level mask
    ROP_SHARED_SELECT = 5,  // destination, level mask
    ROP_PROTECT = 6,        // destination, 1 protect / 0 unprotect
    ROP_KEY_REPORT = 7      // 1 press / 2 release, key code + 1
};

enum { RPRIO_LOW = 1, RPRIO_NORMAL = 2, RPRIO_REPORT = 3 };

typedef void (*RouterProtocol)(int op, uint32_t a, uint32_t b, uint32_t c, int priority);

void routerRequest(int op, uint32_t a, uint32_t b, uint32_t c, int priority);

// Installs the protocol requests go to and returns the one it replaces;
// null puts the Ethernet protocol back.
RouterProtocol rreq_set_protocol(RouterProtocol protocol);
// The Ethernet protocol.
void rreq_ethernet(int op, uint32_t a, uint32_t b, uint32_t c, int priority);

#endif

#ifndef DEST_STATUS_H
#define DEST_STATUS_H

// Each destination's status byte as key handling sees it: bit 0 locked by
// this panel ("LOCK DEST", kept here), bit 1 locked at the router ("LOCK
// SYS") and bit 2 protected ("LOCK PROT"), both kept from the router's
// replies by the router command set. Also the list of destinations that
// carry the preset source, for the destination list display.

#include <cstdint>

enum {
    DS_LOCAL_LOCK = 1,
    DS_ROUTER_LOCK = 2,
    DS_PROTECT = 4,
    DS_DESTS = 2048
};

uint8_t ds_status(int dest);
// Sets or clears this panel's own lock of a destination.
void ds_set_local_lock(int dest, int on);
// A take or a source route to the destination is refused: locked here or
// at the router. Protection refuses source routes only.
int ds_refuses_take(int dest);
int ds_refuses_route(int dest);
// Forgets this panel's locks and the destination list (the router state is
// unknown again).
void ds_clear();

// The destination list: destinations (below the destination count) whose
// source on level is source. Returns the number listed.
int ds_list_build(int level, int source);
int ds_list_count();
const uint16_t *ds_list();

#endif

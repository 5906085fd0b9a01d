#ifndef SELECTION_H
#define SELECTION_H

// Selections of a subpanel: its destination, its levels, routes made at
// once by Source keys, stepping through destinations and through the
// sources routed, destination mode (a typed name selects the destination)
// and the Enable check. Key handling calls these; so do menus.
//
// v is a key's value (0-based); group is the paging group of the physical
// key (1 or 2 add that group's page offset, 0 adds nothing).

#include <cstdint>

// Selects destination v and, with levels selected, asks the router for its
// routing: op is ROP_INTERROGATE, or ROP_SHARED_SELECT for a shared panel
// link. Beeps on a locked subpanel; values out of range are ignored.
void sel_destination(int v, int sp, int group, int op);
// Routes source v to the selected destination at once. Beeps on a locked
// subpanel or destination (protection too) or a failed enable check.
void sel_source_route(int v, int sp, int group);
// Flips level v (0-based) and asks for the routing on it when now selected.
void sel_level_toggle(int v, int sp);
// Flips the levels of the mask v - 1.
void sel_level_xor(int v, int sp);
// Previous/next destination within the configured bounds, wrapping.
void sel_step_destination(int sp, int forward);
// Routes the source before/after the one now routed to the destination.
void sel_route_step(int sp, int forward);
// Destination mode: leaving it selects the destination whose name starts
// with the typed text.
void sel_dest_mode_toggle(int sp);
// The typed preset text taken as a destination name.
void sel_destination_take(int sp);
// Non-zero when the subpanel has no Enable key on the page or its Enable
// key is held; otherwise beeps and returns 0.
int sel_enable_check(int sp);

// Lowest level of a mask, or -1.
int sel_first_level(uint32_t mask);

#endif

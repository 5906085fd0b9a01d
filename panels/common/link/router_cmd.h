#ifndef ROUTER_CMD_H
#define ROUTER_CMD_H

// The router's ASCII command set, carried in "Q" router-link messages: the
// panel's requests (takes, locks, protects, interrogations, salvos) and the
// router's commands (tallies, lock states, name requests, interrogations),
// with the panel's copy of the router state they keep up to date.
//
// Destinations and sources are 0-based in the panel, 1-based on the wire.
// Levels 0..25 are written as one letter each from "VABCDEFGHIJKLMNOPQRSTUWXYZ".

#include <cstdint>

enum {
    RCMD_LEVELS = 26,
    RCMD_DESTS = 2048,
    RCMD_UNKNOWN = 9999,      // no source known
    RCMD_LOCKED = 2,          // lock table flags
    RCMD_PROTECTED = 4,
    RCMD_TEXT_MAX = 512,
    RCMD_HELD_MAX = 256       // interrogations held until a router speaks
};

// Request types of the panel logic's router requests.
enum { RREQ_ROUTE = 1, RREQ_LOCK = 2, RREQ_SALVO = 3, RREQ_INTERROGATE = 4, RREQ_PROTECT = 6 };

// Called when the router link initialises: installs the command sender and
// marks every crosspoint and lock unknown.
void rcmd_init();
// Marks every crosspoint unknown and every destination unlocked.
void rcmd_clear_state();

// A request of the panel logic: type, then its numbers (see RREQ_*).
// Until a router has spoken nothing is sent: interrogations are held, one
// per destination, the other requests dropped.
void rcmd_request(int type, int a, int b, int c);
// Run every loop pass: once a router has spoken, the held interrogations
// go out.
void rcmd_send_held();
int rcmd_held_count();

// A "Q" message: router command text.
void rcmd_receive(const uint8_t *text, int len);

// The panel's copy of the router state.
uint16_t rcmd_source(int level, int dest);
uint8_t rcmd_lock(int dest);
// The panel's own change of a destination's lock flags, ahead of the
// router's answer (a lock or protect key); dest 0-based.
void rcmd_set_lock(int dest, uint8_t flags);

// Level letters: the letter of a level, and a mask as letters (buffer of at
// least 27 bytes).
char rcmd_level_letter(int level);
void rcmd_levels_text(uint32_t mask, char *out);

#endif

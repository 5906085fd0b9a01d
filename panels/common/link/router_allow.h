#ifndef ROUTER_ALLOW_H
#define ROUTER_ALLOW_H

// The router controller addresses a panel accepts on its router link. The
// link has no authentication: a panel answers the router that spoke last,
// which is how a standby controller takes over. A site that wants to lock
// a panel to its controllers lists their addresses in the file
// "allowed_routers" in the panel's directory (written by the host from the
// panel's settings); datagrams from any other address are then dropped.
// Without the file, or with a file that lists nothing, every address is
// accepted.
//
// File: IPv4 addresses in dotted decimal, separated by blanks, commas or
// line ends; "#" starts a comment that runs to the end of its line. An
// entry that is no address (or one starting with 0) is reported and
// skipped; the list is still in force with the entries that are good, so
// a typing error never opens a locked panel to everyone. At most RA_MAX
// addresses; more are reported and skipped.

#include <cstdint>

enum {
    RA_MAX = 16,
    RA_FILE_MAX = 4096   // bytes of the file read
};

// Reads the file through the platform and makes its list the one in force
// (loop initialisation, before the router link opens its socket).
void ra_load();
// Makes the list in text (the file's content) the one in force; len 0 or a
// null text: none, every address accepted. Returns the number of addresses
// taken. Problems go to standard output and the host's panel log.
int ra_set_text(const char *text, int len);
// Non-zero while a list is in force (the file named at least one entry).
int ra_active();
// Addresses taken from the list.
int ra_count();
const uint8_t *ra_address(int i);
// Whether a datagram from addr (most significant byte first) is accepted.
int ra_allows(const uint8_t addr[4]);

#endif

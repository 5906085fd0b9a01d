#ifndef NAME_SEARCH_H
#define NAME_SEARCH_H

// Typed names against the router's names: the search through the source or
// destination table, and the copies of names into typed texts. Spaces never
// count: "CAM 1" is typed, stored and matched as "CAM1".

enum { NS_SOURCES = 0, NS_DESTS = 1, NS_NOT_FOUND = 9999 };

// Walks the table (NS_SOURCES or NS_DESTS) from index start forward or
// backward and returns the first entry whose display name matches text, or
// NS_NOT_FOUND. An exact match consumes the whole name, a prefix match only
// the whole text.
int ns_search(const char *text, int table, int prefix, int forward, int start);
// Whether entry index of the table has text as its whole display name.
bool ns_names(const char *text, int table, int index);

// Copies in into out (CTL_TEXT_LEN bytes) without its spaces, at most
// CTL_TEXT_MAX characters, terminated.
void ns_copy(char *out, const char *in);
// Appends in without its spaces while out has room for it.
void ns_append(char *out, const char *in);
// A ten-character field (terminated only when shorter) as text for ns_copy.
void ns_copy_field(char *out, const char *field, int field_len);

#endif

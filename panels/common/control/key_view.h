#ifndef KEY_VIEW_H
#define KEY_VIEW_H

// What the legend, lamp and display code reads about a key and the panel:
// a physical key's definition on the current pages with its configured
// legend, the routed source of a destination, names cut to what a key
// shows, when keys were last pressed and released, and what the router
// asked its report keys (ButtonType 199) to show.

#include <cstdint>

enum {
    KV_NAME = 10,               // characters of a name on a key
    KV_NONE = 9999
};

struct KeyView {
    int key;                    // physical key 0..127
    int button;                 // its button (and lamp) number: key + 1
    int slot;                   // PT_SLOTS when the page has no slot for it
    int type;                   // ButtonType
    int value;
    int value2;
    int sp;                     // subpanel index
    int group;                  // paging group of the physical key
    const char *legend;         // configured legend (ten characters, not
                                // always terminated), null when none
};

// Reads physical key k on the current pages; a key beyond the slots reads
// as type 0 without a legend.
void kv_read(int key, KeyView *v);

// The page offset of the key's paging group on the source or destination
// side (0 for fixed keys).
int kv_offset(const KeyView *v, int source_side);

// The source routed to dest on the lowest level of mask, KV_NONE when
// that is unknown, when mask is empty or dest does not exist.
int kv_routed(int dest, uint32_t mask);

// A name (a table's display name, terminated) cut to ten characters into
// out (KV_NAME + 1 bytes); empty for null.
void kv_name(char *out, const char *name);

// Key handling reports every press and release of a key it handles.
void kv_note_key(uint8_t kind, int key);
// Non-zero while key is held and until ms after it was released.
int kv_pressed_within(int key, uint32_t ms);
// Forgets every press (start-up).
void kv_clear_presses();

// A report key as the router set it: legend, colour code, lamp state.
struct RouterKey {
    char legend[KV_NAME + 1];
    uint8_t colour;
    uint8_t lamp;               // 0 off, 1 on
    uint8_t flashing;
};
void kv_set_router_key(int key, const char *legend, uint8_t colour, int lamp, int flashing);
const RouterKey *kv_router_key(int key);

#endif

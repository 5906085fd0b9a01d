#ifndef TAKE_H
#define TAKE_H

// Takes: the preset source routed to a destination on the subpanel's
// levels, with the typed source name resolved first on name-entry models,
// a held lock key applied instead of routing, and the records the preset
// toggle and chop keep.

enum TakeResult {
    TAKE_ROUTED = 0,       // the route request went out
    TAKE_NOTHING,          // nothing to take (no destination, no preset, no level)
    TAKE_REFUSED,          // refused with the error beep
    TAKE_NAME_FAILED       // the typed name matched nothing (or was empty)
};

// Take (sp, level-take flag, level v, physical key, mode; modes in
// preset.h). A level take routes only level v.
int take(int sp, int level_take, int v, int key, int mode);
// Dest Src Take: the preset source to destination dest.
void take_dest_src(int dest, int sp, int key);
// The mode a Take key gives: the key's display destination on the models
// whose Take keys sit under destination displays, else the selected one.
int take_key_mode(int key);

#endif

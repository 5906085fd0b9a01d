#ifndef DISPLAYS_H
#define DISPLAYS_H

// The small text displays of the menu models: each of the model's
// displays (up to ten, by model) shows an eight-character text chosen by
// its type from the panel state, or is blank.

enum {
    DSP_WIDTH = 8,
    DSP_ROUTER_TEXT = 15        // characters of a display's own text line
};

// Display types.
enum {
    DSP_SELECTED_DEST = 1,      // subpanel D's selected destination
    DSP_DEST_TEXT = 2,          // subpanel D's destination text
    DSP_ROUTED_SOURCE = 3,      // the source routed to subpanel D's destination
    DSP_PRESET_TEXT = 4,        // subpanel D's preset text
    DSP_PRESET_SOURCE = 5,      // subpanel D's preset source
    DSP_DEST_SOURCE = 6,        // the source routed to destination D on L
    DSP_SOURCE_ON_LEVELS = 7,   // the source routed to subpanel D's destination on L
    DSP_PRESET_OR_SOURCE = 8,
    DSP_DEST_OR_SELECTED = 9,
    DSP_DEST_OR_PRESET = 10,
    DSP_OWN_TEXT = 12           // the line the router set for the display
};

// Redraws every display of the model.
void dsp_redraw_all();
// Redraws display i (0..9).
void dsp_redraw(int i);

// Fits a text into the display's eight characters: leading blanks dropped,
// every run of blanks inside one blank; still too long, no blanks at all;
// cut to eight and padded with blanks. out holds DSP_WIDTH + 1 bytes.
void dsp_fit(const char *in, char *out);

// The display's own text line (type 12), at most 15 characters.
void dsp_set_own_text(int i, const char *text);

#endif

#ifndef REFRESH_H
#define REFRESH_H

// What the panel shows is redrawn on request. Key handling asks for a
// refresh after every key it handled; the legend, lamp and display code
// takes the request and starts a full refresh. The comms state's refresh
// scheduler redraws one button per step through rf_redraw_button, with the
// redraw-all flag raised while every button is drawn again.
//
// Until the legends, lamps and displays are drawn, the drawing entries have
// nothing to draw; the requests are kept so that the drawing code finds
// them.

#include <cstdint>

// Key handling: something changed, redraw.
void rf_request();
// The drawing code: non-zero when a refresh was requested since the last
// call (the request is taken).
int rf_take_request();
// Non-zero while a request is waiting.
int rf_requested();

// Set while every button is redrawn: drawing then sends even unchanged
// legends and colours.
void rf_set_redraw_all(uint8_t on);
uint8_t rf_redraw_all();

// Recomputes every key's legend; redraws button b (0-based); redraws
// whatever the panel shows after a panel setup.
void rf_refresh_legends();
void rf_redraw_button(int b);
void rf_refresh_outputs();

#endif

#include "control/refresh.h"

static uint8_t s_request;
static uint8_t s_redraw_all;

void rf_request()
{
    s_request = 1;
}

int rf_take_request()
{
    const int was = s_request;
    s_request = 0;
    return was;
}

int rf_requested()
{
    return s_request;
}

void rf_set_redraw_all(uint8_t on)
{
    s_redraw_all = on;
}

uint8_t rf_redraw_all()
{
    return s_redraw_all;
}

// Drawing entries of the legend, lamp and display code; there is nothing
// to draw yet.
void rf_refresh_legends() {}
void rf_redraw_button(int) {}
void rf_refresh_outputs() {}

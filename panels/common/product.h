#ifndef PRODUCT_H
#define PRODUCT_H

// The panel models this firmware knows, and the one it runs as. The product
// is chosen once, at loop initialisation, from the start block's product
// name; until then (or when the name matches no model) every query answers
// as for "no product": name "NONAME", code, button count and menu flag 0,
// every other number -1.

#include <cstdint>

enum { PROD_COUNT = 12, PROD_NAME_LEN = 20, PROD_NONE = -1 };

struct ProductInfo {
    const char *name;
    uint8_t code;          // product code reported to the router (QUERY reply)
    int base_buttons;      // keys on the face before model extras
    int status_pos;        // comms display: button (LCD) or window (menu model)
    int version_pos;
    int comms_pos;
    int ip_pos;
    int setup_button;      // opens the setup menu while the panel is not online
    int reset_key1;        // default reset keys of the configuration
    int reset_key2;
    uint8_t menu_model;    // 1: texts on display windows, 0: LCD buttons
    int extra_lamps;       // indicator lamps driven after the keys
};

// The model table entry i (0..PROD_COUNT-1), or null.
const ProductInfo *prod_entry(int i);

// Finds the model for a product name (at most PROD_NAME_LEN bytes are read,
// dashes are ignored, and a model matches when its name starts with what is
// left). Returns the entry index or PROD_NONE.
int prod_find(const char *name);

// Makes entry i (or PROD_NONE) the current product.
void prod_select(int i);
int prod_current();

const char *prod_name();
uint8_t prod_code();
int prod_button_count();
uint8_t prod_menu_model();
int prod_extra_lamps();
int prod_reset_key1();
int prod_reset_key2();
uint8_t prod_status_pos();   // single byte: 255 = none
int prod_version_pos();
uint8_t prod_comms_pos();    // single byte: 255 = none
int prod_ip_pos();
int prod_setup_button();

#endif

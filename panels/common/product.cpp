#include "product.h"

#include <cstring>

// Searched in this order; the first match wins.
static const ProductInfo s_products[PROD_COUNT] = {
    // name      code base stat ver comms ip  setup reset    menu extra
    {"SK1100A", 24, 16, 1, 4, 15, -1, 16, 1, 16, 0, 0},
    {"SK1400A", 25, 32, 1, 4, 31, -1, 32, 17, 32, 0, 0},
    {"SK1500A", 26, 48, 1, 4, 47, -1, 48, 33, 48, 0, 0},
    {"SK1600A", 28, 29, 0, -1, 1, -1, -1, 5, 29, 1, 0},
    {"SK1200A", 29, 20, -1, -1, -1, -1, -1, 1, 20, 1, 0},
    {"SK1800A", 30, 40, -1, -1, -1, -1, -1, 21, 40, 1, 0},
    {"SK2100A", 31, 80, -1, -1, -1, -1, -1, 61, 80, 1, 0},
    {"SK1900A", 32, 40, 0, 3, 4, 6, -1, 25, 40, 1, 0},
    {"SK2200A", 33, 44, 0, 1, 4, 5, -1, 4, 44, 1, 8},
    {"SK1700A", 34, 36, 0, 3, 4, 5, -1, 12, 36, 1, 0},
    {"SK1300A", 35, 32, 1, 4, 46, -1, 48, 33, 48, 0, 0},
    {"SK2000A", 36, 47, 0, 1, 2, -1, -1, 5, 47, 1, 1},
};

static int s_current = PROD_NONE;

const ProductInfo *prod_entry(int i)
{
    return (i >= 0 && i < PROD_COUNT) ? &s_products[i] : nullptr;
}

int prod_find(const char *name)
{
    // The name may fill all 20 bytes without a terminator.
    char key[PROD_NAME_LEN + 1];
    size_t n = 0;
    for (size_t i = 0; i < PROD_NAME_LEN && name[i]; ++i)
        if (name[i] != '-')
            key[n++] = name[i];
    key[n] = '\0';

    for (int i = 0; i < PROD_COUNT; ++i)
        if (strncmp(s_products[i].name, key, n) == 0)
            return i;
    return PROD_NONE;
}

void prod_select(int i)
{
    s_current = prod_entry(i) ? i : PROD_NONE;
}

int prod_current()
{
    return s_current;
}

static const ProductInfo *cur()
{
    return prod_entry(s_current);
}

const char *prod_name() { return cur() ? cur()->name : "NONAME"; }
uint8_t prod_code() { return cur() ? cur()->code : 0; }
uint8_t prod_menu_model() { return cur() ? cur()->menu_model : 0; }
int prod_extra_lamps() { return cur() ? cur()->extra_lamps : -1; }
int prod_reset_key1() { return cur() ? cur()->reset_key1 : -1; }
int prod_reset_key2() { return cur() ? cur()->reset_key2 : -1; }
uint8_t prod_status_pos() { return uint8_t(cur() ? cur()->status_pos : -1); }
int prod_version_pos() { return cur() ? cur()->version_pos : -1; }
uint8_t prod_comms_pos() { return uint8_t(cur() ? cur()->comms_pos : -1); }
int prod_ip_pos() { return cur() ? cur()->ip_pos : -1; }
int prod_setup_button() { return cur() ? cur()->setup_button : -1; }

int prod_button_count()
{
    const ProductInfo *p = cur();
    if (!p)
        return 0;
    // Two models carry extra keys beyond their base set.
    if (p->code == 34)
        return p->base_buttons + 28;
    if (p->code == 35)
        return p->base_buttons + 16;
    return p->base_buttons;
}

// The legend cache is not built yet; until the panel logic draws legends
// there is nothing to cache.

#include "control/lcd_button.h"

void lcd_init() {}

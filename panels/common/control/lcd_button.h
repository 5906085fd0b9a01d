#ifndef LCD_BUTTON_H
#define LCD_BUTTON_H

// The legend cache of the LCD keys: what each key shows, so that only
// changes reach the platform.

// Clears the cache and blanks every key of the current model.
void lcd_init();

#endif

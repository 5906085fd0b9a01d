#ifndef MENU_INT_H
#define MENU_INT_H

// Start-up of the menu modules, run by menu_init: each module puts its own
// state back to how a freshly started panel has it.

void mlock_init();
void msnap_init();
void mmem_init();
void mtog_init();
void msetup_init();

#endif

#ifndef PAN_ITEMCALLBACK_H
#define PAN_ITEMCALLBACK_H

// What face items report to (the face widget). The operations keep this
// order; the destructor comes last.

#include <QFont>

class PAN_Item;

class PAN_ItemCallback
{
public:
    // A press (down) or release of a key, LED, shaft or step button.
    virtual void itemPressed(PAN_Item *item, bool down) = 0;
    // A shaft turned by value steps (negative: backwards).
    virtual void shaftTurned(PAN_Item *item, int value) = 0;
    // The font for one character cell of a text display.
    virtual QFont displayFont(int cellWidth, int cellHeight) = 0;
    virtual ~PAN_ItemCallback() = default;
};

#endif

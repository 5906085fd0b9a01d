#ifndef KEY_QUEUE_H
#define KEY_QUEUE_H

// Key events on their way from the key scan to the panel logic. The key scan
// produces at most one event of each kind per tick; the loop pass hands them
// to the key handler one at a time.

#include <cstdint>

enum KeyEventKind : uint8_t {
    KEY_PRESS = 'P',   // 80
    KEY_REPEAT = 'A',  // 65, while a key stays held
    KEY_RELEASE = 'R'  // 82
};

struct KeyEvent {
    uint8_t kind;
    uint8_t key;  // physical key index, 0..127
};

enum { KQ_SIZE = 16 };

void kq_clear();
// Queues an event; a full queue drops it (and says so).
void kq_post(uint8_t kind, uint8_t key);
// Takes the oldest event; false when the queue is empty.
bool kq_get(KeyEvent *ev);

#endif

#include "key_queue.h"

#include <cstdio>

static KeyEvent s_queue[KQ_SIZE];
static unsigned s_head; // next to read
static unsigned s_count;

void kq_clear()
{
    s_head = 0;
    s_count = 0;
}

void kq_post(uint8_t kind, uint8_t key)
{
    if (s_count == KQ_SIZE) {
        // The loop drains the queue every tick and the scan adds at most
        // three events per tick, so this only happens if nobody drains it.
        printf("key queue full, dropped %c %d\n", kind, key);
        return;
    }
    s_queue[(s_head + s_count) % KQ_SIZE] = KeyEvent{kind, key};
    ++s_count;
}

bool kq_get(KeyEvent *ev)
{
    if (s_count == 0)
        return false;
    *ev = s_queue[s_head];
    s_head = (s_head + 1) % KQ_SIZE;
    --s_count;
    return true;
}

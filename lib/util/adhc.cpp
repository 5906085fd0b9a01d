#include "adhc.h"
#include "util_assert.h"

#include <cstring>

#define ADHC_MODULE "lib\\util\\adhc"

// Short names used by the consistency checks.
enum { MAX = ADHC_MAX, NYT = ADHC_NYT, INTERNAL_NODE = ADHC_INTERNAL };

// ---------------------------------------------------------------------
// Blocks. Cells are recycled as weights change.

static int16_t adhc_new_cell(AdhcState *h, int16_t leader)
{
    int16_t c;
    if (h->free_cell != -1) {
        c = h->free_cell;
        h->free_cell = h->cell[c].next_free;
    } else {
        UTIL_ASSERT(h->next_allocation_ppnode < (MAX +2) *2, ADHC_MODULE);
        c = h->next_allocation_ppnode++;
    }
    h->cell[c].leader = leader;
    h->cell[c].count = 1;
    h->cell[c].next_free = -1;
    return c;
}

static void adhc_free_cell(AdhcState *h, int16_t c)
{
    h->cell[c].count = 0;
    h->cell[c].leader = -1;
    h->cell[c].next_free = h->free_cell;
    h->free_cell = c;
}

// Takes rank k out of its block before its weight changes. k is the
// block's leader, or its last node (a child passing its parent).
static inline void adhc_leave_block(AdhcState *h, int k)
{
    int16_t c = h->block[k];
    if (--h->cell[c].count == 0)
        adhc_free_cell(h, c);
    else if (h->cell[c].leader == k)
        h->cell[c].leader = int16_t(k + 1);
}

// Puts rank k into the block of its weight: the block of the rank above
// when that has the same weight, else a new block led by k. A rank below
// of the same weight that sits in a block of its own (a child raised
// just before its parent) is taken in as well, so that one weight is
// never split over two blocks.
static inline void adhc_join_block(AdhcState *h, int k)
{
    int16_t c;
    if (k > 0 && h->weight[k - 1] == h->weight[k]) {
        c = h->block[k - 1];
        h->cell[c].count++;
    } else {
        c = adhc_new_cell(h, int16_t(k));
    }
    h->block[k] = c;
    const int n = h->next_allocation_node;
    for (int j = k + 1; j < n && h->weight[j] == h->weight[k] && h->block[j] != c; ++j) {
        int16_t old = h->block[j];
        if (--h->cell[old].count == 0)
            adhc_free_cell(h, old);
        else if (h->cell[old].leader == j)
            h->cell[old].leader = int16_t(j + 1);
        h->block[j] = c;
        h->cell[c].count++;
    }
}

// ---------------------------------------------------------------------
// Tree update.

static inline bool adhc_internal(const AdhcState *h, int k) { return h->link[k] >= 0; }
static inline int adhc_symbol(const AdhcState *h, int k)
{
    return h->link[k] >= 0 ? INTERNAL_NODE : ~h->link[k];
}

// Tells the children of rank k (or its symbol) where k now is.
static inline void adhc_relink(AdhcState *h, int k)
{
    int v = h->link[k];
    if (v >= 0) {
        h->parent[v] = int16_t(k);
        h->parent[v + 1] = int16_t(k);
    } else {
        h->leaf[~v] = int16_t(k);
    }
}

// Exchanges the subtrees at rank node and at its block leader lnode. Both
// weigh the same, so the ranks keep their weights and blocks; what moves is
// what hangs below them.
static void adhc_swap_nodes(AdhcState *h, int node, int lnode)
{
    UTIL_ASSERT(lnode != node, ADHC_MODULE);
    UTIL_ASSERT(h->parent[node] != lnode, ADHC_MODULE);
    UTIL_ASSERT(h->weight[lnode] == h->weight[node], ADHC_MODULE);
    UTIL_ASSERT(adhc_symbol(h, node) != NYT && adhc_symbol(h, lnode) != NYT, ADHC_MODULE);
    int16_t t = h->link[node];
    h->link[node] = h->link[lnode];
    h->link[lnode] = t;
    adhc_relink(h, node);
    adhc_relink(h, lnode);
}

// Splits the NYT node: it becomes an internal node of weight 1 whose right
// child is a new leaf for ch and whose left child is the new NYT. Returns
// the internal node's rank.
static int adhc_add_symbol(AdhcState *h, int ch)
{
    UTIL_ASSERT(ch < INTERNAL_NODE, ADHC_MODULE);
    UTIL_ASSERT(h->next_allocation_node < (MAX +2) *2 - 1, ADHC_MODULE);
    const int inner = h->nyt;
    const int leaf = h->next_allocation_node;
    const int nyt = leaf + 1;
    h->next_allocation_node = int16_t(nyt + 1);

    // Weight 0 to 1 keeps the ranks ordered: every other node weighs at
    // least 1, and NYT is the last rank.
    adhc_leave_block(h, inner);
    h->link[inner] = int16_t(leaf);
    h->weight[inner] = 1;
    adhc_join_block(h, inner);

    h->weight[leaf] = 1;
    h->link[leaf] = int16_t(~ch);
    h->parent[leaf] = int16_t(inner);
    adhc_join_block(h, leaf);

    h->weight[nyt] = 0;
    h->link[nyt] = int16_t(~NYT);
    h->parent[nyt] = int16_t(inner);
    adhc_join_block(h, nyt);

    h->nyt = int16_t(nyt);
    h->leaf[ch] = int16_t(leaf);
    h->leaf[NYT] = int16_t(nyt);
    return inner;
}

// Raises the weight of rank k and of its ancestors by one, keeping the
// ranks ordered by weight (the sibling property). This runs for every
// symbol coded; the neighbours' weights tell whether a node shares its
// weight with another, so the common case, a node alone in its block
// before and after, touches no block cell at all.
static void adhc_increment_path(AdhcState *h, int k)
{
    const int n = h->next_allocation_node;
    while (k > 0) {
        uint32_t w = h->weight[k];
        if (k > 0 && h->weight[k - 1] == w) {
            // Not the highest-ordered of its weight: change places with
            // the block's leader, unless that is the parent.
            int leader = h->cell[h->block[k]].leader;
            if (leader != h->parent[k]) {
                adhc_swap_nodes(h, k, leader);
                k = leader;
            }
        }
        const bool alone_before = !(k > 0 && h->weight[k - 1] == w) && !(k + 1 < n && h->weight[k + 1] == w);
        h->weight[k] = ++w;
        const bool alone_after = !(k > 0 && h->weight[k - 1] == w) && !(k + 1 < n && h->weight[k + 1] == w);
        if (!alone_before || !alone_after) {
            adhc_leave_block(h, k);
            adhc_join_block(h, k);
        }
        k = h->parent[k];
    }
    if (k == 0) {
        // The root: the first rank, so always its block's leader.
        uint32_t w = h->weight[0];
        const bool shared = n > 1 && (h->weight[1] == w || h->weight[1] == w + 1);
        h->weight[0] = w + 1;
        if (shared) {
            adhc_leave_block(h, 0);
            adhc_join_block(h, 0);
        }
    }
}

static void adhc_update(AdhcState *h, int ch)
{
    UTIL_ASSERT(ch <= MAX+1, ADHC_MODULE);
    if (h->leaf[ch] == -1) {
        int inner = adhc_add_symbol(h, ch);
        adhc_increment_path(h, h->parent[inner]);
    } else {
        adhc_increment_path(h, h->leaf[ch]);
    }
}

void adhc_start(AdhcState *h, bool encode)
{
    memset(h, 0, sizeof *h);
    for (int i = 0; i < ADHC_MAX + 2; ++i)
        h->leaf[i] = -1;
    h->free_cell = -1;
    // The tree starts as the NYT node alone, at rank 0.
    h->next_allocation_node = 1;
    h->weight[0] = 0;
    h->link[0] = int16_t(~NYT);
    h->parent[0] = -1;
    h->nyt = 0;
    h->leaf[NYT] = 0;
    adhc_join_block(h, 0);
    // The end symbol is in the tree from the start, as if coded once.
    adhc_update(h, ADHC_EOD);
    h->encoding = encode ? 1 : 0;
    h->zeros_left = ADHC_LEADING_ZEROS;
    h->walk = 0;
}

// ---------------------------------------------------------------------
// Encoder.

static void adhc_queue_bit(AdhcState *h, int bit)
{
    UTIL_ASSERT(bit == 0 || bit == 1, ADHC_MODULE);
    unsigned pos = h->queue_bits++;
    if ((pos & 7) == 0)
        h->queue[pos >> 3] = 0;
    if (bit)
        h->queue[pos >> 3] |= uint8_t(0x80 >> (pos & 7));
}

// Queues the code of rank k: the path from the root, 1 for a right child.
static void adhc_queue_code(AdhcState *h, int k)
{
    uint8_t path[ADHC_NODES];
    int depth = 0;
    while (h->parent[k] != -1) {
        int p = h->parent[k];
        path[depth++] = h->link[p] == k ? 1 : 0;
        k = p;
    }
    while (depth > 0)
        adhc_queue_bit(h, path[--depth]);
}

static void adhc_encode_symbol(AdhcState *h, int ch)
{
    if (h->leaf[ch] != -1) {
        adhc_queue_code(h, h->leaf[ch]);
    } else {
        adhc_queue_code(h, h->nyt);
        for (int b = 7; b >= 0; --b)
            adhc_queue_bit(h, (ch >> b) & 1);
    }
    adhc_update(h, ch);
}

// Hands out the leading zero bytes and the complete bytes of the queue.
// Returns true when nothing complete is left pending.
static bool adhc_drain(AdhcState *h, uint8_t *out, size_t room, size_t *produced)
{
    while (h->zeros_left > 0) {
        if (*produced == room)
            return false;
        out[(*produced)++] = 0;
        h->zeros_left--;
    }
    unsigned whole = h->queue_bits >> 3;
    unsigned n = 0;
    while (n < whole && *produced < room)
        out[(*produced)++] = h->queue[n++];
    if (n > 0) {
        unsigned left_bytes = (h->queue_bits + 7) / 8 - n;
        memmove(h->queue, h->queue + n, left_bytes);
        h->queue_bits = uint16_t(h->queue_bits - n * 8);
    }
    return h->queue_bits < 8;
}

int adhc_encode(AdhcState *h, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count)
{
    size_t avail = *in_count, room = *out_count;
    size_t consumed = 0, produced = 0;
    *in_count = *out_count = 0;
    if (!h->encoding || h->finished)
        return -1;
    // A symbol is taken only when the previous one is out, so the queue
    // never holds more than one symbol and a partial byte.
    while (adhc_drain(h, out, room, &produced) && consumed < avail)
        adhc_encode_symbol(h, in[consumed++]);
    *in_count = consumed;
    *out_count = produced;
    return 0;
}

int adhc_finish(AdhcState *h, uint8_t *out, size_t *out_count)
{
    size_t room = *out_count, produced = 0;
    *out_count = 0;
    if (!h->encoding)
        return -1;
    if (!h->finished) {
        if (!adhc_drain(h, out, room, &produced)) {
            *out_count = produced;
            return 0;
        }
        adhc_queue_code(h, h->leaf[ADHC_EOD]);
        while (h->queue_bits & 7)
            adhc_queue_bit(h, 0);
        h->finished = 1;
    }
    bool done = adhc_drain(h, out, room, &produced) && h->queue_bits == 0;
    *out_count = produced;
    return done ? 1 : 0;
}

// ---------------------------------------------------------------------
// Decoder.

int adhc_decode(AdhcState *h, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count)
{
    size_t avail = *in_count, room = *out_count;
    size_t consumed = 0, produced = 0;
    int result = 0;
    *in_count = *out_count = 0;
    if (h->encoding)
        return -1;
    if (h->finished)
        return 1;
    while (h->zeros_left > 0) {
        if (consumed == avail) {
            *in_count = consumed;
            return 0;
        }
        if (in[consumed++] != 0) {
            *in_count = consumed;
            return -1;
        }
        h->zeros_left--;
    }
    // The bit reader and the position in the tree live in locals while
    // the loop runs; cur is the link of the node reached so far.
    unsigned bitbuf = h->bitbuf, bitcount = h->bitcount;
    int walk = h->walk;
    int cur = h->link[walk];
    for (;;) {
        if (bitcount == 0) {
            if (consumed == avail)
                break;
            bitbuf = in[consumed++];
            bitcount = 8;
        }
        // Any bit may complete a byte: take one only with room for it.
        if (produced == room)
            break;
        if (h->raw_left > 0) {
            unsigned bit = (bitbuf >> --bitcount) & 1;
            h->raw_value = uint16_t((h->raw_value << 1) | bit);
            if (--h->raw_left == 0) {
                out[produced++] = uint8_t(h->raw_value);
                adhc_update(h, h->raw_value & 0xFF);
                cur = h->link[0];
            }
            continue;
        }
        // Down the tree through the bits of this byte: right child for 1,
        // left (the next rank) for 0; one load and no branch on the bit.
        do {
            unsigned b = (bitbuf >> --bitcount) & 1;
            walk = cur + int(b ^ 1);
            cur = h->link[walk];
        } while (cur >= 0 && bitcount > 0);
        if (cur >= 0)
            continue;
        int sym = ~cur;
        walk = 0;
        if (sym == NYT) {
            h->raw_left = 8;
            h->raw_value = 0;
            cur = h->link[0];
        } else if (sym == ADHC_EOD) {
            h->finished = 1;
            result = 1;
            break;
        } else {
            out[produced++] = uint8_t(sym);
            adhc_update(h, sym);
            cur = h->link[0];
        }
    }
    h->bitbuf = uint8_t(bitbuf);
    h->bitcount = uint8_t(bitcount);
    h->walk = int16_t(walk);
    *in_count = consumed;
    *out_count = produced;
    return result;
}

// ---------------------------------------------------------------------
// Invariants.

bool adhc_check(const AdhcState *h)
{
    const int n = h->next_allocation_node;
    if (n < 3 || n > ADHC_NODES || h->nyt != n - 1 || adhc_symbol(h, n - 1) != NYT || h->parent[0] != -1)
        return false;
    int cells_counted[ADHC_NODES] = {};
    for (int k = 0; k < n; ++k) {
        if (k > 0 && h->weight[k - 1] < h->weight[k])
            return false;
        int16_t c = h->block[k];
        if (c < 0 || c >= ADHC_NODES || h->cell[c].count <= 0)
            return false;
        cells_counted[c]++;
        // The leader is the first rank of this weight; equal weights share
        // one block.
        bool first = k == 0 || h->weight[k - 1] != h->weight[k];
        if (first != (h->cell[c].leader == k))
            return false;
        if (!first && h->block[k - 1] != c)
            return false;
        if (adhc_internal(h, k)) {
            int r = h->link[k];
            if (r <= k || r + 1 >= n || h->parent[r] != k || h->parent[r + 1] != k)
                return false;
            if (h->weight[k] != h->weight[r] + h->weight[r + 1])
                return false;
        } else if (adhc_symbol(h, k) > ADHC_EOD || h->leaf[adhc_symbol(h, k)] != k) {
            return false;
        }
    }
    for (int c = 0; c < ADHC_NODES; ++c)
        if (h->cell[c].count > 0 && h->cell[c].count != cells_counted[c])
            return false;
    // Every rank but the root is some internal node's child.
    for (int k = 1; k < n; ++k) {
        int p = h->parent[k];
        if (p < 0 || p >= k || !adhc_internal(h, p) || (h->link[p] != k && h->link[p] + 1 != k))
            return false;
    }
    return true;
}

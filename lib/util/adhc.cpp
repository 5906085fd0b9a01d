#include "adhc.h"
#include "util_assert.h"

#include <cstring>

#define ADHC_MODULE "lib\\util\\adhc"

// Short names used by the consistency checks.
enum { MAX = ADHC_MAX, NYT = ADHC_NYT, INTERNAL_NODE = ADHC_INTERNAL };

// ---------------------------------------------------------------------
// Tree update.

static inline bool adhc_internal(const AdhcState *h, int k) { return h->link[k] >= 0; }
static inline int adhc_symbol(const AdhcState *h, int k)
{
    return h->link[k] >= 0 ? INTERNAL_NODE : ~h->link[k];
}

// The leader of the block of rank k, which weighs w as rank k - 1 does:
// the lowest rank of that weight. The ranks above k are in weight order
// whenever a leader is looked for (the update only ever reorders ranks
// below the node it is at), so the search gallops up from k and then
// halves the last step: a few probes for the usual small block, a
// logarithmic number for a large one.
static int adhc_leader(const AdhcState *h, int k, uint32_t w)
{
    const uint32_t *const weight = h->weight;
    int hi = k - 1;     // weighs w
    int lo = -1;        // weighs more than w, or before rank 0
    for (int step = 1;; step <<= 1) {
        const int probe = hi - step;
        if (probe < 0)
            break;
        if (weight[probe] != w) {
            lo = probe;
            break;
        }
        hi = probe;
    }
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        if (weight[mid] == w)
            hi = mid;
        else
            lo = mid;
    }
    return hi;
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
// weigh the same, so the ranks keep their weights; what moves is what
// hangs below them.
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
    h->link[inner] = int16_t(leaf);
    h->weight[inner] = 1;

    h->weight[leaf] = 1;
    h->link[leaf] = int16_t(~ch);
    h->parent[leaf] = int16_t(inner);

    h->weight[nyt] = 0;
    h->link[nyt] = int16_t(~NYT);
    h->parent[nyt] = int16_t(inner);

    h->nyt = int16_t(nyt);
    h->leaf[ch] = int16_t(leaf);
    h->leaf[NYT] = int16_t(nyt);
    return inner;
}

// One step of the climb at rank k of weight w, when rank k - 1 weighs w
// too, so that k is not the leader of its block: k changes places with
// the leader, unless that is k's parent (k is then the sibling of NYT and
// passes its parent for a moment, until the parent's own step restores
// the order). Raises the node and returns the rank it is at now.
static int adhc_step_tied(AdhcState *h, int k, uint32_t w)
{
    const int leader = adhc_leader(h, k, w);
    if (leader != h->parent[k]) {
        adhc_swap_nodes(h, k, leader);
        k = leader;
    }
    h->weight[k] = w + 1;
    return k;
}

// Raises the weight of rank k and of its ancestors by one, keeping the
// ranks ordered by weight (the sibling property). A node that leads its
// weight just gets heavier: the rank above weighs more, so the order
// holds; any other node first changes places with its leader.
static void adhc_increment_path(AdhcState *h, int k)
{
    uint32_t *const weight = h->weight;
    while (k > 0) {
        const uint32_t w = weight[k];
        if (weight[k - 1] == w)
            k = adhc_step_tied(h, k, w);
        else
            weight[k] = w + 1;
        k = h->parent[k];
    }
    if (k == 0)
        weight[0]++;    // the root leads whatever weight it has
}

// The same climb for the decoder, which knows the ranks above the node
// from its way down: path[0..i) runs from the root's child to the node.
// Those ranks stay the node's ancestors until a swap moves the node
// elsewhere; from there on the climb follows parent links. With tied
// false no rank on the path shared its weight with the rank above it when
// it was passed (and none of those ranks has changed since), so no step
// can swap and the climb is one increment per rank.
static void adhc_increment_along(AdhcState *h, const int16_t *path, int i, bool tied)
{
    uint32_t *const weight = h->weight;
    if (!tied) {
        while (i > 0)
            weight[path[--i]]++;
        weight[0]++;
        return;
    }
    while (i > 0) {
        const int k = path[i - 1];
        const uint32_t w = weight[k];
        if (weight[k - 1] == w) {
            const int at = adhc_step_tied(h, k, w);
            if (at != k) {
                adhc_increment_path(h, h->parent[at]);
                return;
            }
        } else {
            weight[k] = w + 1;
        }
        --i;
    }
    weight[0]++;
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
    // The tree starts as the NYT node alone, at rank 0.
    h->next_allocation_node = 1;
    h->weight[0] = 0;
    h->link[0] = int16_t(~NYT);
    h->parent[0] = -1;
    h->nyt = 0;
    h->leaf[NYT] = 0;
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

// Adds delta to the root and to the ranks path[0..depth).
static void adhc_tentative(uint32_t *weight, const int16_t *path, int depth, int delta)
{
    weight[0] += uint32_t(delta);
    for (int i = 0; i < depth; ++i)
        weight[path[i]] += uint32_t(delta);
}

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
    // the loop runs: bb holds the unread bits from its top down, cur is
    // the link of the node reached so far, path the ranks passed.
    uint64_t bb = h->bitbuf;
    unsigned nb = h->bitcount;
    int walk = h->walk;
    int depth = h->depth;
    bool tied = h->tied != 0;
    int16_t *const path = h->path;
    const int16_t *const link = h->link;
    uint32_t *const weight = h->weight;
    // Inside a code the ranks passed so far (and the root) carry their
    // tentative increment while this call runs; between calls the tree
    // holds its true weights.
    bool raised = depth > 0 && h->raw_left == 0;
    if (raised)
        adhc_tentative(weight, path, depth, 1);
    int cur = link[walk];
    for (;;) {
        // Whole bytes into the bit reader while they fit: one refill
        // serves several codes.
        while (nb <= 56 && consumed < avail) {
            bb |= uint64_t(in[consumed++]) << (56 - nb);
            nb += 8;
        }
        if (nb == 0)
            break;
        // Any bit may complete a byte: go on only with room for it.
        if (produced == room)
            break;
        if (h->raw_left > 0) {
            // The byte after NYT, possibly split over calls.
            unsigned take = h->raw_left < nb ? h->raw_left : nb;
            h->raw_value = uint16_t((h->raw_value << take) | unsigned(bb >> (64 - take)));
            bb <<= take;
            nb -= take;
            h->raw_left = uint8_t(h->raw_left - take);
            if (h->raw_left == 0) {
                const int sym = h->raw_value & 0xFF;
                out[produced++] = uint8_t(sym);
                if (h->leaf[sym] == -1) {
                    // NYT, the end of the path, splits; its parent and
                    // the ranks above are still on the path.
                    adhc_add_symbol(h, sym);
                    adhc_increment_along(h, path, depth - 1, tied);
                } else {
                    // A byte sent raw although it was known: foreign
                    // data, decoded all the same.
                    adhc_update(h, sym);
                }
                depth = 0;
                tied = false;
                cur = link[0];
            }
            continue;
        }
        // Down the tree: right child for 1, left (the next rank) for 0;
        // one load and no branch on the bit. Whether a rank passed shares
        // its weight with the rank above is noted on the way, off the
        // chain of loads, so that the update knows whether it may swap.
        if (!raised) {
            weight[0]++;
            raised = true;
        }
        int prev = depth > 0 ? path[depth - 1] : 0;
        do {
            const unsigned b = unsigned(bb >> 63);
            bb <<= 1;
            --nb;
            walk = cur + int(b ^ 1);
            path[depth++] = int16_t(walk);
            const uint32_t w = weight[walk];
            // Only the parent can sit just above a rank among the ranks
            // raised already; compare with its weight before the raise.
            tied |= weight[walk - 1] - (walk - 1 == prev ? 1u : 0u) == w;
            weight[walk] = w + 1;
            prev = walk;
            cur = link[walk];
        } while (cur >= 0 && nb > 0);
        if (cur >= 0)
            continue;
        const int sym = ~cur;
        walk = 0;
        if (sym == NYT || sym == ADHC_EOD || tied) {
            adhc_tentative(weight, path, depth, -1);
        }
        raised = false;
        if (sym == NYT) {
            h->raw_left = 8;
            h->raw_value = 0;
            cur = link[0];
        } else if (sym == ADHC_EOD) {
            h->finished = 1;
            result = 1;
            break;
        } else {
            out[produced++] = uint8_t(sym);
            if (tied)
                adhc_increment_along(h, path, depth, true);
            depth = 0;
            tied = false;
            cur = link[0];
        }
    }
    if (raised)
        adhc_tentative(weight, path, depth, -1);
    h->bitbuf = bb;
    h->bitcount = uint8_t(nb);
    h->walk = int16_t(walk);
    h->depth = int16_t(depth);
    h->tied = tied ? 1 : 0;
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
    for (int k = 0; k < n; ++k) {
        if (k > 0 && h->weight[k - 1] < h->weight[k])
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
    // Every rank but the root is some internal node's child.
    for (int k = 1; k < n; ++k) {
        int p = h->parent[k];
        if (p < 0 || p >= k || !adhc_internal(h, p) || (h->link[p] != k && h->link[p] + 1 != k))
            return false;
    }
    return true;
}

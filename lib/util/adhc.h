#ifndef ADHC_H
#define ADHC_H

#include <cstddef>
#include <cstdint>

// Adaptive Huffman coder (FGK). Encoder and decoder grow the same code tree
// from the symbols they have coded, so no table is transmitted.
//
// Stream format: four zero bytes, then a bit stream, most significant bit
// of each byte first. Symbols 0..255 are bytes; a byte not yet in the tree
// is sent as the code of NYT ("not yet transmitted") followed by its eight
// bits, most significant first. The code of symbol 257 ends the data; the
// last byte is padded with zero bits.

enum {
    ADHC_MAX = 256,
    ADHC_NYT = 256,
    ADHC_EOD = 257,
    ADHC_INTERNAL = 258,
    ADHC_NODES = (ADHC_MAX + 2) * 2,
    ADHC_LEADING_ZEROS = 4,
    // Bits one symbol can take: a path through every internal node, plus
    // eight raw bits, plus a partly filled byte.
    ADHC_QUEUE_BYTES = (ADHC_NODES + 8 + 7) / 8 + 2,
};

// The tree is kept in implicit numbering: nodes are stored by rank, rank 0
// the root and higher ranks lower in the weight order, so the weight-ordered
// node list is the array itself and weights never increase with the rank.
// Siblings sit at neighbouring ranks, the right child (code bit 1) first.
// Nodes of one weight form a block, a run of neighbouring ranks; its leader
// is the lowest-ranked (highest-ordered) of them, found in the ordered
// weights themselves, so no block needs bookkeeping when a weight changes.
// Moving a node means exchanging what two ranks hold; the ranks' places in
// the tree stay.
struct AdhcState
{
    int16_t leaf[ADHC_MAX + 2];     // rank of each symbol's leaf, -1 when absent
    uint32_t weight[ADHC_NODES];
    // Internal node: rank of its right child (the left child is the next
    // rank). Leaf: ~symbol, so negative. One array, so that a step down
    // the tree is one load.
    int16_t link[ADHC_NODES];
    int16_t parent[ADHC_NODES];     // -1 for the root
    int16_t next_allocation_node;   // ranks in use; NYT is the last of them
    int16_t nyt;

    uint8_t encoding;               // 1 encoder, 0 decoder
    uint8_t finished;               // decoder met 257 / encoder wrote it
    uint8_t zeros_left;             // leading zero bytes to write or check
    uint8_t bitcount;               // decoder: bits left in bitbuf
    uint8_t raw_left;               // decoder: raw bits still to read after NYT
    uint8_t tied;                   // decoder: a node on path shares its weight
    uint16_t raw_value;
    int16_t walk;                   // decoder: position inside a code
    int16_t depth;                  // decoder: ranks in path
    uint64_t bitbuf;                // decoder: unread bits, the next one highest
    // Decoder: the ranks passed below the root on the way down to the
    // current code's leaf, so that the update can climb back without
    // following parent links. Every step down goes to a higher rank, so a
    // path never holds more than ADHC_NODES ranks.
    int16_t path[ADHC_NODES];

    // Encoder: bits produced but not yet handed out.
    uint8_t queue[ADHC_QUEUE_BYTES];
    uint16_t queue_bits;
};

// Resets the state for encoding (encode = true) or decoding.
void adhc_start(AdhcState *h, bool encode);

// Encodes in[0..*in_count) into out[0..*out_count); on return the counts
// hold what was consumed and produced. Returns 0, or -1 for a decoder state.
int adhc_encode(AdhcState *h, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count);

// Adds the end symbol and the padding, then hands out what is pending.
// Returns 1 when everything has been handed out, 0 when more output room
// is needed, -1 for a decoder state.
int adhc_finish(AdhcState *h, uint8_t *out, size_t *out_count);

// Decodes as adhc_encode encodes. Returns 1 once the end symbol was
// decoded (now or before), 0 for more, -1 for a stream that does not start
// with four zero bytes or an encoder state.
int adhc_decode(AdhcState *h, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count);

// Checks the tree against the coder's invariants (weights add up, ranks
// are ordered by weight, siblings are neighbours below their parent). Returns true when all hold. For tests and fuzzing.
bool adhc_check(const AdhcState *h);

#endif

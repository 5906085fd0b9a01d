#include "lz77.h"

#include <cstring>

static uint8_t *lz77_align(uint8_t *p, size_t align)
{
    uintptr_t a = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<uint8_t *>((a + align - 1) & ~static_cast<uintptr_t>(align - 1));
}

Lz77State *lz77_init(void *buf, size_t size, int mode)
{
    if (buf == nullptr)
        return nullptr;
    uint8_t *base = static_cast<uint8_t *>(buf);
    uint8_t *p = lz77_align(base, alignof(Lz77State));
    if (p + sizeof(Lz77State) >= base + size)
        return nullptr;
    Lz77State *s = reinterpret_cast<Lz77State *>(p);
    memset(s, 0, sizeof *s);
    uint8_t *rest = p + sizeof(Lz77State);
    size_t rest_size = static_cast<size_t>(base + size - rest);

    s->mode = mode;
    if (mode == LZ77_MODE_DECODE) {
        s->window_start = rest;
        s->window_size = rest_size > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(rest_size);
    } else {
        // Hash heads first, then the largest power-of-two history whose
        // ring and chain fit in what is left (4 + 1 bytes per position).
        uint8_t *tables = lz77_align(rest, alignof(uint32_t));
        size_t table_room = static_cast<size_t>(base + size - tables);
        size_t hist = LZ77_MAX_HISTORY;
        if (table_room >= LZ77_HASH_SIZE * 4) {
            size_t left = table_room - LZ77_HASH_SIZE * 4;
            while (hist > 16 && hist * 5 > left)
                hist >>= 1;
        }
        if (table_room < LZ77_HASH_SIZE * 4 || hist * 5 > table_room - LZ77_HASH_SIZE * 4) {
            // Too small for a match search: a history-less encoder that
            // sends literals only is still a valid encoder.
            s->window_start = rest;
            s->window_size = 0;
        } else {
            s->hash_head = reinterpret_cast<uint32_t *>(tables);
            s->hash_prev = s->hash_head + LZ77_HASH_SIZE;
            s->window_start = reinterpret_cast<uint8_t *>(s->hash_prev + hist);
            s->window_size = static_cast<uint32_t>(hist);
            memset(s->hash_head, 0, LZ77_HASH_SIZE * 4);
        }
    }
    if (mode == LZ77_MODE_DECODE && s->window_size == 0)
        return nullptr;
    s->self = s;
    return s;
}

// ---------------------------------------------------------------------
// Decoder.

// Appends n bytes of output to the window ring.
static void lz77_window_put(Lz77State *s, const uint8_t *p, size_t n)
{
    if (n >= s->window_size) {
        p += n - s->window_size;
        n = s->window_size;
    }
    s->window_fill = s->window_fill + n < s->window_size ? uint32_t(s->window_fill + n) : s->window_size;
    while (n > 0) {
        size_t k = s->window_size - s->window_pos;
        if (k > n)
            k = n;
        memcpy(s->window_start + s->window_pos, p, k);
        s->window_pos += uint32_t(k);
        if (s->window_pos == s->window_size)
            s->window_pos = 0;
        p += k;
        n -= k;
    }
}

// o[0..have) holds a copy's first bytes, as many as its distance (or the
// whole copy); fills o[have..n) so that each byte repeats the one a
// distance before, as a byte-by-byte copy would. Each block copies what
// is already there, so the blocks double and never overlap.
static void lz77_repeat(uint8_t *o, size_t have, size_t n)
{
    while (have < n) {
        size_t k = n - have < have ? n - have : have;
        memcpy(o + have, o, k);
        have += k;
    }
}

int lz77_decode(Lz77State *s, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count)
{
    size_t avail = *in_count, room = *out_count;
    size_t consumed = 0, produced = 0;
    *in_count = *out_count = 0;
    if (s == nullptr || s->self != s)
        return -1;
    if (s->mode != LZ77_MODE_DECODE)
        return -2;
    int result = 0;
    while (produced < room) {
        if (s->pending_header > 0) {
            // Literals: straight from the input.
            size_t n = static_cast<size_t>(s->pending_header);
            if (n > avail - consumed) n = avail - consumed;
            if (n > room - produced) n = room - produced;
            if (n == 0)
                break;
            memcpy(out + produced, in + consumed, n);
            lz77_window_put(s, in + consumed, n);
            consumed += n;
            produced += n;
            s->pending_header -= static_cast<int32_t>(n);
            continue;
        }
        if (s->pending_copy > 0) {
            // A copy out of the history; one longer than its distance
            // repeats the pattern, as a byte-by-byte copy would.
            uint32_t dist = static_cast<uint32_t>(-s->pending_header);
            size_t n = s->pending_copy;
            if (n > room - produced) n = room - produced;
            // The output so far ends with the window's newest bytes, so
            // out itself serves as the source while it reaches back far
            // enough. The first min(n, dist) bytes come from history; a
            // copy longer than its distance then repeats those, which
            // lz77_repeat does in growing blocks.
            uint8_t *o = out + produced;
            const size_t head = n < dist ? n : dist;
            if (produced >= dist) {
                memcpy(o, o - dist, head);
            } else {
                uint32_t src = s->window_pos >= dist ? s->window_pos - dist
                                                     : s->window_pos + s->window_size - dist;
                size_t first = s->window_size - src;
                if (first > head)
                    first = head;
                memcpy(o, s->window_start + src, first);
                memcpy(o + first, s->window_start, head - first);
            }
            lz77_repeat(o, head, n);
            lz77_window_put(s, o, n);
            produced += n;
            s->pending_copy -= static_cast<uint32_t>(n);
            if (s->pending_copy == 0)
                s->pending_header = 0;
            continue;
        }
        // A new record: the header, and for a copy its length.
        if (avail - consumed < 2)
            break;
        int16_t h = static_cast<int16_t>((in[consumed] << 8) | in[consumed + 1]);
        if (h == 0) {
            result = -3;
            break;
        }
        if (h > 0) {
            s->pending_header = h;
            consumed += 2;
            continue;
        }
        if (avail - consumed < 4)
            break;
        uint32_t dist = static_cast<uint32_t>(-static_cast<int32_t>(h));
        uint32_t len = (static_cast<uint32_t>(in[consumed + 2]) << 8) | in[consumed + 3];
        if (len == 0 || dist > LZ77_MAX_DISTANCE || dist > s->window_fill) {
            result = -3;
            break;
        }
        s->pending_header = -static_cast<int32_t>(dist);
        s->pending_copy = len;
        consumed += 4;
    }
    *in_count = consumed;
    *out_count = produced;
    if (result == 0 && consumed == 0 && produced == 0 && room > 0)
        result = 1;
    return result;
}

// ---------------------------------------------------------------------
// Encoder.

static inline uint32_t lz77_hash(const uint8_t *p)
{
    uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    return (v * 2654435761u) >> (32 - LZ77_HASH_BITS);
}

// Takes input byte i (absolute position s->total) into the history, and
// its 4-byte prefix into the hash chains when those bytes are at hand.
static void lz77_pass(Lz77State *s, const uint8_t *in, size_t i, size_t avail)
{
    if (s->window_size > 0) {
        uint32_t mask = s->window_size - 1;
        s->window_start[s->total & mask] = in[i];
        if (i + LZ77_MIN_MATCH <= avail) {
            uint32_t h = lz77_hash(in + i);
            s->hash_prev[s->total & mask] = s->hash_head[h];
            s->hash_head[h] = s->total + 1;
        } else {
            s->hash_prev[s->total & mask] = 0;
        }
        if (s->window_fill < s->window_size)
            s->window_fill++;
    }
    s->total++;
}

// Longest match for in[i..limit) in the history (nearest wins a tie).
// Returns its length (0 when none of LZ77_MIN_MATCH bytes) and distance.
static size_t lz77_find(const Lz77State *s, const uint8_t *in, size_t i, size_t limit, uint32_t *dist)
{
    if (s->window_size == 0 || i + LZ77_MIN_MATCH > limit)
        return 0;
    const uint32_t mask = s->window_size - 1;
    const uint32_t p = s->total;
    const uint32_t dist_limit = LZ77_MAX_DISTANCE;
    const size_t len_limit = LZ77_MAX_COPY;
    uint32_t max_dist = s->window_fill < dist_limit ? s->window_fill : dist_limit;
    size_t max_len = limit - i < len_limit ? limit - i : len_limit;
    size_t best = 0;
    uint32_t cand = s->hash_head[lz77_hash(in + i)];
    uint32_t last_dist = 0;
    for (int tries = 0; cand != 0 && tries < 128; ++tries) {
        uint32_t c = cand - 1;
        uint32_t d = p - c;
        // Chains run to older positions; a newer or too distant one means
        // the rest of the chain was overwritten.
        if (d <= last_dist || d > max_dist)
            break;
        last_dist = d;
        size_t k = 0;
        while (k < max_len) {
            uint8_t b = k < d ? s->window_start[(c + k) & mask] : in[i + k - d];
            if (b != in[i + k])
                break;
            ++k;
        }
        if (k > best) {
            best = k;
            *dist = d;
            if (k == max_len)
                break;
        }
        cand = s->hash_prev[c & mask];
    }
    return best >= LZ77_MIN_MATCH ? best : 0;
}

static void lz77_put16(uint8_t *out, size_t *o, uint32_t v)
{
    out[(*o)++] = uint8_t(v >> 8);
    out[(*o)++] = uint8_t(v);
}

// Writes the literal record for in[start..end).
static void lz77_flush_literals(const uint8_t *in, size_t start, size_t end, uint8_t *out, size_t *o)
{
    if (end == start)
        return;
    lz77_put16(out, o, static_cast<uint32_t>(end - start));
    memcpy(out + *o, in + start, end - start);
    *o += end - start;
}

int lz77_encode(Lz77State *s, const uint8_t *in, size_t *in_count, uint8_t *out, size_t *out_count)
{
    size_t avail = *in_count, room = *out_count;
    *in_count = *out_count = 0;
    if (s == nullptr || s->self != s)
        return -1;
    if (s->mode != LZ77_MODE_ENCODE)
        return -2;
    // Until the end is known no record starts in the last LZ77_TAIL bytes
    // and none ends one byte short of the input, so that whatever is left
    // for the final call is none or at least two bytes, and the last record
    // can be four bytes or more.
    size_t limit = s->final ? avail : (avail > LZ77_TAIL ? avail - LZ77_TAIL : 0);
    size_t i = 0, lit = 0, o = 0;
    while (i < limit) {
        size_t run = i - lit;
        // Room for the pending literals, one more, and a copy after them.
        if (o + 2 + run + 1 + 4 > room) {
            if (run == 0)
                break;
            lz77_flush_literals(in, lit, i, out, &o);
            lit = i;
            continue;
        }
        uint32_t dist = 0;
        size_t len = lz77_find(s, in, i, avail, &dist);
        if (len > 0) {
            // A copy never leaves a single byte behind: were it the data's
            // last, it would stand alone in a 3-byte record.
            if (i + len == avail - 1)
                --len;
            lz77_flush_literals(in, lit, i, out, &o);
            lz77_put16(out, &o, static_cast<uint32_t>(-static_cast<int32_t>(dist)) & 0xFFFF);
            lz77_put16(out, &o, static_cast<uint32_t>(len));
            for (size_t k = 0; k < len; ++k)
                lz77_pass(s, in, i + k, avail);
            i += len;
            lit = i;
            continue;
        }
        lz77_pass(s, in, i, avail);
        ++i;
        run = i - lit;
        bool full = run == LZ77_MAX_LITERALS ||
                    (s->final && run == LZ77_MAX_LITERALS - 1 && avail - i == 2);
        if (full) {
            lz77_flush_literals(in, lit, i, out, &o);
            lit = i;
        }
    }
    lz77_flush_literals(in, lit, i, out, &o);
    *in_count = i;
    *out_count = o;
    return 0;
}

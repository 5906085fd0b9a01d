#include "link/trace_decode.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

enum {
    HEADER = 5,
    TAIL_RESERVE = 4,   // room for " ..." once the text is cut
    HEX_SHOWN = 32      // bytes of a hex dump before it is cut short
};

// ---- bounded text -------------------------------------------------------------------

void trd_text_init(TrdText *t, char *buf, int cap)
{
    t->buf = buf;
    t->cap = cap;
    t->len = 0;
    t->cut = 0;
    if (cap > 0)
        buf[0] = '\0';
}

// Appends n bytes, or marks the text cut when they do not all fit: a line
// that ends early says so rather than ending mid-number.
static void put_n(TrdText *t, const char *s, int n)
{
    if (t->cut || n <= 0)
        return;
    if (t->len + n > t->cap - 1 - TAIL_RESERVE) {
        t->cut = 1;
        return;
    }
    memcpy(t->buf + t->len, s, size_t(n));
    t->len += n;
    t->buf[t->len] = '\0';
}

void trd_put(TrdText *t, const char *s)
{
    put_n(t, s, int(strlen(s)));
}

void trd_putf(TrdText *t, const char *fmt, ...)
{
    char tmp[160];
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(tmp, sizeof tmp, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    put_n(t, tmp, n < int(sizeof tmp) ? n : int(sizeof tmp) - 1);
}

void trd_text_finish(TrdText *t)
{
    if (!t->cut || t->cap <= TAIL_RESERVE)
        return;
    memcpy(t->buf + t->len, " ...", TAIL_RESERVE);
    t->len += TAIL_RESERVE;
    t->buf[t->len] = '\0';
}

static void put_hex(TrdText *t, const uint8_t *d, int n)
{
    const int shown = n < HEX_SHOWN ? n : HEX_SHOWN;
    for (int i = 0; i < shown; ++i)
        trd_putf(t, " %02x", d[i]);
    if (shown < n)
        trd_putf(t, " ... (%d more)", n - shown);
}

void trd_escaped(TrdText *t, const uint8_t *s, int len)
{
    trd_put(t, "\"");
    for (int i = 0; i < len; ++i) {
        const uint8_t c = s[i];
        switch (c) {
        case '\r': trd_put(t, "\\r"); break;
        case '\n': trd_put(t, "\\n"); break;
        case '\t': trd_put(t, "\\t"); break;
        case '\\': trd_put(t, "\\\\"); break;
        case '"': trd_put(t, "\\\""); break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                const char ch = char(c);
                put_n(t, &ch, 1);
            } else {
                trd_putf(t, "\\x%02x", c);
            }
        }
    }
    trd_put(t, "\"");
}

// ---- router command texts ---------------------------------------------------------

static const char kLevels[] = "VABCDEFGHIJKLMNOPQRSTUWXYZ";

static bool is_level(uint8_t c)
{
    return c != 0 && strchr(kLevels, c) != nullptr;
}

// Reads decimal digits at *at (at most 5, as the panel does); -1 when none.
static long read_number(const uint8_t *s, int len, int *at)
{
    long v = 0;
    int n = 0;
    while (*at < len && n < 5 && s[*at] >= '0' && s[*at] <= '9') {
        v = v * 10 + (s[*at] - '0');
        ++*at;
        ++n;
    }
    return n ? v : -1;
}

// "levels VA dest 13 src 6" of a take or tally: levels, destination ","
// source, numbers as written (1-based).
static void gloss_route(TrdText *t, const uint8_t *s, int len)
{
    int at = 2;
    trd_put(t, " levels ");
    const int first = at;
    while (at < len && is_level(s[at]))
        put_n(t, reinterpret_cast<const char *>(s + at++), 1);
    if (at == first)
        trd_put(t, "none");
    const long dest = read_number(s, len, &at);
    long src = -1;
    if (at < len && s[at] == ',') {
        ++at;
        src = read_number(s, len, &at);
    }
    if (dest < 0 || src < 0) {
        trd_put(t, " (incomplete)");
        return;
    }
    trd_putf(t, " dest %ld src %ld", dest, src);
}

// What a router command text means, in a few words.
static void gloss_command(TrdText *t, const uint8_t *s, int len, unsigned flags)
{
    if (len < 2 || s[0] != '.')
        return;
    const uint8_t c3 = len > 2 ? s[2] : 0;
    switch (s[1]) {
    case 'S':
        trd_put(t, " take");
        gloss_route(t, s, len);
        break;
    case 'A':
        if (c3 == '\r' || len == 2) {
            trd_put(t, " handshake reply");
            break;
        }
        trd_put(t, (flags & TRD_OUT) ? " interrogation reply" : " tally");
        gloss_route(t, s, len);
        break;
    case 'U':
        trd_put(t, " tally");
        gloss_route(t, s, len);
        break;
    case '#': trd_put(t, " handshake"); break;
    case 'F': trd_put(t, " salvo"); break;
    case 'I': trd_put(t, " interrogate"); break;
    case 'E':
        // From the panel: the router's last command was not understood.
        trd_put(t, (flags & TRD_OUT) ? " error reply REFUSED" : " error notice");
        break;
    case 'B':
        switch (c3) {
        case 'L': trd_put(t, " lock"); break;
        case 'U': trd_put(t, " unlock"); break;
        case 'P': trd_put(t, " protect"); break;
        case 'I': trd_put(t, " lock interrogate"); break;
        case 'A': trd_put(t, " lock state"); break;
        default: break;
        }
        break;
    case 'R':
        switch (c3) {
        case 'A': trd_put(t, " name reply"); break;
        case 'D': trd_put(t, " destination name request"); break;
        case 'S': trd_put(t, " source name request"); break;
        case 'L': trd_put(t, " level name request"); break;
        default: break;
        }
        break;
    default:
        break;
    }
}

// ---- router-link messages ----------------------------------------------------------

// Data a message of its kind should not have.
static void put_extra(TrdText *t, const uint8_t *d, int len)
{
    if (len > 0) {
        trd_putf(t, " +%d data bytes:", len);
        put_hex(t, d, len);
    }
}

static void put_block(TrdText *t, const uint8_t *d, int len)
{
    // The panel's rules: fewer than 5 bytes or a first byte above 1 is
    // ignored; a kind other than 1 or 2, or no data after the 6 bytes of
    // block header, is refused.
    if (len < 5 || d[0] > 1) {
        trd_putf(t, "B ignored, %d bytes:", len);
        put_hex(t, d, len);
        return;
    }
    const int kind = (d[1] << 8) | d[2];
    if (kind != 1 && kind != 2) {
        trd_putf(t, "B MALFORMED: kind %d, %d bytes", kind, len);
        return;
    }
    if (len <= 6) {
        trd_putf(t, "B MALFORMED: kind %d, no block data (%d bytes)", kind, len);
        return;
    }
    const uint8_t control = d[5];
    trd_putf(t, "B config block %u%s%s, kind %d (%s), %d bytes", control & 0x3f,
             (control & 0x80) ? " first" : "", (control & 0x40) ? " last" : "", kind,
             kind == 1 ? "file" : "image", len - 6);
}

static void put_message(TrdText *t, uint8_t cmd, const uint8_t *d, int len, unsigned flags)
{
    switch (cmd) {
    case 'N': trd_put(t, "N off poll"); put_extra(t, d, len); break;
    case 'O': trd_put(t, "O on poll"); put_extra(t, d, len); break;
    case 'P': trd_put(t, "P query"); put_extra(t, d, len); break;
    case 'y': trd_put(t, "y accepted"); put_extra(t, d, len); break;
    case 'n': trd_put(t, "n REFUSED"); put_extra(t, d, len); break;
    case 'R':
        if (len == 6) {
            trd_putf(t, "R query reply: product code %u, config crc 0x%04x,", d[0] & 0x7fu,
                     unsigned(d[3] << 8 | d[4]));
            put_hex(t, d, len);
        } else {
            trd_putf(t, "R MALFORMED: %d bytes, a query reply has 6:", len);
            put_hex(t, d, len);
        }
        break;
    case 'Q':
        trd_put(t, "Q ");
        trd_escaped(t, d, len);
        gloss_command(t, d, len, flags);
        break;
    case 'B':
        put_block(t, d, len);
        if (flags & TRD_BLOCK_REFUSED)
            trd_put(t, " REFUSED: not in the session of the router the panel follows");
        break;
    default:
        trd_putf(t, "unknown command 0x%02x", cmd);
        if (cmd >= 0x20 && cmd < 0x7f)
            trd_putf(t, " '%c'", cmd);
        trd_putf(t, " (ignored), %d data bytes", len);
        if (len > 0) {
            trd_put(t, ":");
            put_hex(t, d, len);
        }
        break;
    }
}

// Feeds a payload through the stream, byte by byte as the panel's parser
// does, writing each message as it completes. A message that began in an
// earlier datagram is marked as continued, one that goes on in the next
// one as continuing; in an unsequenced datagram (alone) one cut at the end
// is dropped.
static void feed(TrdText *t, TrdStream *s, const uint8_t *p, int n, unsigned flags, bool alone)
{
    bool began_here = s->state == 0;
    bool any = false;
    auto sep = [&] {
        trd_put(t, any ? " | " : " ");
        any = true;
    };
    for (int i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        switch (s->state) {
        case 0:
            s->cmd = b;
            s->state = 1;
            began_here = true;
            break;
        case 1:
            s->length = uint16_t(b << 8);
            s->state = 2;
            break;
        case 2:
            s->length = uint16_t(s->length | b);
            s->count = 0;
            if (s->length == 0) {
                s->state = 0;
                sep();
                put_message(t, s->cmd, s->data, 0, flags);
            } else {
                s->state = 3;
            }
            break;
        default:
            if (s->count >= TRD_STREAM_MAX) {
                // The panel drops the message with this byte and reads
                // what follows as new messages.
                sep();
                trd_putf(t, "MALFORMED: %c message of %u bytes, longer than %d: dropped",
                         (s->cmd >= 0x20 && s->cmd < 0x7f) ? s->cmd : '?', s->length, TRD_STREAM_MAX);
                s->state = 0;
                break;
            }
            s->data[s->count++] = b;
            if (s->count == s->length) {
                s->state = 0;
                sep();
                if (!began_here)
                    trd_put(t, "(continued) ");
                put_message(t, s->cmd, s->data, s->count, flags);
            }
            break;
        }
    }
    if (s->state != 0 && alone) {
        sep();
        if (s->state < 3)
            trd_putf(t, "0x%02x with its length cut at the end of an unsequenced datagram: dropped", s->cmd);
        else
            trd_putf(t, "%c %u of %u bytes at the end of an unsequenced datagram: dropped",
                     (s->cmd >= 0x20 && s->cmd < 0x7f) ? s->cmd : '?', s->count, s->length);
    } else if (s->state != 0) {
        sep();
        if (s->state < 3)
            trd_putf(t, "0x%02x with its length cut, continues in the next datagram", s->cmd);
        else
            trd_putf(t, "%c %u of %u bytes, continues in the next datagram",
                     (s->cmd >= 0x20 && s->cmd < 0x7f) ? s->cmd : '?', s->count, s->length);
    }
}

void trd_stream_reset(TrdStream *s)
{
    s->state = 0;
    s->cmd = 0;
    s->length = 0;
    s->count = 0;
}

void trd_datagram(TrdText *t, const uint8_t *d, int len, int full_len, unsigned flags, TrdStream *stream)
{
    if (!d || len < 0)
        len = 0;
    if (full_len < len)
        full_len = len;
    if (full_len < HEADER) {
        trd_putf(t, "MALFORMED: %d bytes, shorter than the 5-byte header:", full_len);
        put_hex(t, d, len);
        return;
    }
    if (len < HEADER) {
        // Only the bytes kept can be read.
        trd_putf(t, "%d bytes, header not traced", full_len);
        return;
    }
    const bool sequenced = d[0] & 1;
    trd_putf(t, "%s id %u ack %u ext %u", sequenced ? "seq" : "unseq", d[1], d[2], d[3]);
    if (d[0] & ~1u)
        trd_putf(t, " flags 0x%02x", d[0]);
    if (d[4])
        trd_putf(t, " byte4 0x%02x", d[4]);
    if (flags & TRD_RESEND)
        trd_put(t, " RESEND");
    if (flags & TRD_NOT_SENT)
        trd_put(t, " NOT SENT");
    const int offset = HEADER + d[3];
    if (offset > full_len) {
        trd_putf(t, " MALFORMED: extra header of %u bytes runs past the end (%d bytes)", d[3], full_len);
        return;
    }
    if (offset == full_len) {
        trd_put(t, sequenced ? " (acknowledgement only)" : " (no payload)");
        return;
    }
    if (flags & TRD_REFUSED)
        trd_put(t, " REFUSED: invalid sequence number |");
    else
        trd_put(t, " |");

    const uint8_t *payload = d + (offset < len ? offset : len);
    const int kept = offset < len ? len - offset : 0;
    if ((flags & TRD_REFUSED) || !sequenced) {
        // Never reached the stream: a refused payload is shown on its own,
        // and an unsequenced datagram's messages are read alone.
        static TrdStream scratch;
        trd_stream_reset(&scratch);
        feed(t, &scratch, payload, kept, flags, !sequenced);
        if (full_len > len)
            trd_putf(t, " (+%d bytes not traced)", full_len - len);
        return;
    }
    // An accepted id 0 starts a new session, which starts on a message
    // boundary; so does a datagram before which the panel dropped another
    // sender's unfinished message.
    if (d[1] == 0)
        trd_stream_reset(stream);
    if (flags & TRD_RESTARTED) {
        trd_stream_reset(stream);
        trd_put(t, " (an unfinished message of another sender dropped) |");
    }
    feed(t, stream, payload, kept, flags, false);
    if (full_len > len) {
        trd_putf(t, " (+%d bytes not traced)", full_len - len);
        // Where the stream stands after the missing bytes is unknown.
        trd_stream_reset(stream);
    }
}

#include "lexer.h"

#include "estreambuf.h"

#include <cstdio>
#include <cstring>

static const char *const s_token_names[PCSL_TOKEN_COUNT] = {
    "begin", "end", "object", "cmd", "[", "]", "{", "}", "(", ")",
    "identifier", "numeric literal", "string", "=", ",",
    "hexidecimal literal", "script argument", "global var",
    "End of file", "Unknown token", "Num tokens",
};

const char *pcsl_token_name(int type)
{
    if (type < 0 || type >= PCSL_TOKEN_COUNT)
        return s_token_names[PCSL_UNKNOWN];
    return s_token_names[type];
}

// Character classes are ASCII only: bytes above 127 are never letters,
// whatever the process locale says.
static bool is_letter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
static bool is_digit(int c) { return c >= '0' && c <= '9'; }
static bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

#define LEX_INLINE inline __attribute__((always_inline))

// The lexer's state while it reads one token. The stream's get area is
// read through a local cursor kept in registers (every helper is inlined
// into pcsl_lex_next), so that a character costs a compare and a load;
// the stream learns how far the token went when a refill is due and when
// the token is done.
struct LexWork
{
    EStreamBuf *sb;
    const char *p, *e;  // unread part of the stream's get area
    int ch;
    int line;

    LEX_INLINE int next()
    {
        if (p < e)
            return static_cast<unsigned char>(*p++);
        return refill();
    }
    int refill()
    {
        sync();
        const int c = sb->take();
        p = sb->gptr();
        e = sb->egptr();
        return c;
    }
    void sync() { sb->gbump(static_cast<size_t>(p - sb->gptr())); }
};

static LEX_INLINE void lex_advance(LexWork *lx)
{
    lx->ch = lx->next();
}

void pcsl_lex_start(PcslLexer *lx, EStreamBuf *sb)
{
    memset(lx, 0, sizeof *lx);
    lx->sb = sb;
    lx->line = 1;
    lx->ch = sb->take();
}

// Skips white space and comments. Returns false when the text ends inside
// them.
static LEX_INLINE bool lex_skip(LexWork *lx)
{
    for (;;) {
        while (is_space(lx->ch)) {
            if (lx->ch == '\n')
                lx->line++;
            lex_advance(lx);
        }
        if (lx->ch != '#')
            return lx->ch != -1;
        lex_advance(lx);
        if (lx->ch == '!') {
            // Block comment "#! ... !#"; its line feeds still count.
            lex_advance(lx);
            for (;;) {
                if (lx->ch == -1)
                    return false;
                if (lx->ch == '\n')
                    lx->line++;
                if (lx->ch == '!') {
                    lex_advance(lx);
                    if (lx->ch == '#') {
                        lex_advance(lx);
                        break;
                    }
                    continue;
                }
                lex_advance(lx);
            }
        } else {
            // Line comment: up to the line feed, which the loop counts.
            while (lx->ch != -1 && lx->ch != '\n')
                lex_advance(lx);
        }
    }
}

struct LexText
{
    char *buf;
    int len;
};

// Appends c; false when the lexeme would be longer than allowed.
static LEX_INLINE bool lex_put(LexText *t, int c)
{
    if (t->len >= PCSL_MAX_LEXEME)
        return false;
    t->buf[t->len++] = static_cast<char>(c);
    t->buf[t->len] = '\0';
    return true;
}

// Appends characters while they are letters, digits or (with underscore)
// "_". False when the lexeme got too long.
static LEX_INLINE bool lex_word(LexWork *lx, LexText *t, bool underscore)
{
    while (is_letter(lx->ch) || is_digit(lx->ch) || (underscore && lx->ch == '_')) {
        if (!lex_put(t, lx->ch))
            return false;
        lex_advance(lx);
    }
    return true;
}

// Keywords are matched exactly, after the identifier was read; its length
// rules out most identifiers without a comparison.
static LEX_INLINE int lex_keyword(const char *s, int len)
{
    switch (len) {
    case 3:
        if (memcmp(s, "obj", 3) == 0)
            return PCSL_OBJECT;
        if (memcmp(s, "end", 3) == 0)
            return PCSL_END;
        return memcmp(s, "cmd", 3) == 0 ? PCSL_CMD : PCSL_IDENTIFIER;
    case 4:
        return memcmp(s, "data", 4) == 0 ? PCSL_OBJECT : PCSL_IDENTIFIER;
    case 5:
        return memcmp(s, "begin", 5) == 0 ? PCSL_BEGIN : PCSL_IDENTIFIER;
    case 6:
        return memcmp(s, "object", 6) == 0 ? PCSL_OBJECT : PCSL_IDENTIFIER;
    default:
        return PCSL_IDENTIFIER;
    }
}

// Reads the lexeme starting at the current character. Returns its token
// number, or PCSL_EOF when the text ends here.
static LEX_INLINE int lex_scan(LexWork *lx, LexText *t)
{
    int c = lx->ch;
    if (is_letter(c))
        return lex_word(lx, t, true) ? lex_keyword(t->buf, t->len) : -2;
    if (is_digit(c) || c == '-') {
        lex_put(t, c);
        lex_advance(lx);
        if (c == '0' && (lx->ch == 'x' || lx->ch == 'X')) {
            // "0x1F" is the same literal as "&1F", and reads as that.
            t->len = 0;
            lex_put(t, '&');
            lex_advance(lx);
            return lex_word(lx, t, false) ? PCSL_HEX : -2;
        }
        while (is_digit(lx->ch)) {
            if (!lex_put(t, lx->ch))
                return -2;
            lex_advance(lx);
        }
        return PCSL_NUMBER;
    }
    switch (c) {
    case '"':
        // No escapes; line feeds are kept and not counted.
        lex_advance(lx);
        while (lx->ch != '"') {
            if (lx->ch == -1)
                return PCSL_EOF;
            if (!lex_put(t, lx->ch))
                return -2;
            lex_advance(lx);
        }
        lex_advance(lx);
        return PCSL_STRING;
    case '&':
        lex_put(t, '&');
        lex_advance(lx);
        return lex_word(lx, t, false) ? PCSL_HEX : -2;
    case '$':
        lex_advance(lx);
        return lex_word(lx, t, false) ? PCSL_SCRIPT_ARG : -2;
    case '@':
        lex_put(t, '@');
        lex_advance(lx);
        return lex_word(lx, t, true) ? PCSL_GLOBAL_VAR : -2;
    case '[': case ']': case '=': case ',': case '{': case '}': case '(': case ')':
        lex_put(t, c);
        lex_advance(lx);
        switch (c) {
        case '[': return PCSL_LBRACKET;
        case ']': return PCSL_RBRACKET;
        case '=': return PCSL_ASSIGN;
        case ',': return PCSL_COMMA;
        case '{': return PCSL_LBRACE;
        case '}': return PCSL_RBRACE;
        case '(': return PCSL_LPAREN;
        default: return PCSL_RPAREN;
        }
    default:
        printf("Line %d: Unexpected character '%c(%02x)'\n", lx->line, c, c);
        return PCSL_EOF;
    }
}

void pcsl_lex_next(PcslLexer *lx, PcslToken *tok)
{
    char *buf = lx->text[lx->which];
    lx->which ^= 1;
    buf[0] = '\0';
    tok->text = buf;
    tok->type = PCSL_EOF;
    tok->line = lx->line;
    if (lx->ended)
        return;
    LexWork w = {lx->sb, lx->sb->gptr(), lx->sb->egptr(), lx->ch, lx->line};
    const bool more = lex_skip(&w);
    int type = PCSL_EOF;
    if (more) {
        tok->line = w.line;
        LexText t = {buf, 0};
        type = lex_scan(&w, &t);
    }
    w.sync();
    lx->ch = w.ch;
    lx->line = w.line;
    if (!more) {
        lx->ended = 1;
        tok->line = lx->line;
        return;
    }
    if (type == -2) {
        printf("Line %d: Token too long\n", lx->line);
        type = PCSL_EOF;
    }
    if (type == PCSL_EOF) {
        // Whatever stops the lexer ends the text for good.
        buf[0] = '\0';
        lx->ended = 1;
    }
    tok->type = type;
}
